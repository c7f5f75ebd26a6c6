// SPDX-License-Identifier: GPL-3.0-or-later
// Queues: the entry array with its size classes, keys by field number and by text, the binary
// searches that keep equal keys in arrival order, the stable merge sort, and the exported QUEUE
// operations.
//
// Divisions: entry array; keys; comparison; searches; sort; exported operations.
#include "core/queue.h"

#include <cstdlib>
#include <cstring>
#include <mutex>
#include <new>
#include <string>
#include <unordered_set>

#include "core/char_tables.h"
#include "core/decimal.h"
#include "core/string_stack.h"
#include "core/ufo_types.h"
#include "tarvex/dates.h"
#include "tarvex/frame.h"

namespace tarvex {

// ---- Entry array -------------------------------------------------------------------------------------

QueueEntries::~QueueEntries() {
    for (uint32_t i = 0; i < count_; i++) std::free(items_[i]);
    std::free(items_);
}

bool QueueEntries::Reserve() {
    if (count_ < Capacity()) return true;
    constexpr uint32_t kLastClass = sizeof(kQueueSizeClasses) / sizeof(kQueueSizeClasses[0]) - 1;
    if (size_class_ == kLastClass) return false;
    uint32_t capacity = kQueueSizeClasses[size_class_ + 1];
    void* grown = std::realloc(items_, sizeof(uint8_t*) * capacity);
    if (!grown) return false;
    items_ = static_cast<uint8_t**>(grown);
    size_class_++;
    return true;
}

void QueueEntries::Insert(uint32_t index, uint8_t* record) {
    std::memmove(items_ + index + 1, items_ + index, sizeof(uint8_t*) * (count_ - index));
    items_[index] = record;
    count_++;
}

uint8_t* QueueEntries::Remove(uint32_t index) {
    uint8_t* record = items_[index];
    std::memmove(items_ + index, items_ + index + 1, sizeof(uint8_t*) * (count_ - index - 1));
    count_--;
    return record;
}

// ---- Keys ----------------------------------------------------------------------------------------------

namespace {

uint32_t FieldCount(const QueueDecl& queue) {
    return queue.type && queue.type->fields ? queue.type->field_count : 0;
}

// Adds field `number` (1-based) to the key; false when it is out of range or does not lie in the
// record.
bool AddKeyField(const QueueDecl& queue, int64_t number, bool descending, QueueKey& key) {
    if (number < 1 || number > FieldCount(queue)) return false;
    const VrnFieldDesc& field = queue.type->fields[number - 1];
    uint64_t end = field.offset + static_cast<uint64_t>(FieldWidth(field)) * FieldDimension(field);
    if (end > queue.record_length) return false;
    if (key.count == VRN_QUEUE_MAX_KEY_FIELDS) return false;
    QueueKeyField& out = key.fields[key.count++];
    out.offset = field.offset;
    out.width = FieldWidth(field);
    out.dimension = FieldDimension(field);
    out.type = field.type;
    out.places = field.places;
    out.descending = descending;
    return true;
}

bool IsSeparator(char c) { return c == ',' || c == ' ' || c == '\t' || c == '\r' || c == '\n'; }

}  // namespace

bool BuildKey(const QueueDecl& queue, const int32_t* numbers, QueueKey& key) {
    key.count = 0;
    bool valid = true;
    // Every number is read, also after a bad one.
    for (const int32_t* number = numbers; number && *number != 0; number++) {
        int64_t value = *number;
        bool descending = value < 0;
        if (!AddKeyField(queue, descending ? -value : value, descending, key)) valid = false;
    }
    if (!valid) {
        key.count = 0;
        Vrn$seterror(75);
    }
    return valid;
}

bool BuildKeyFromText(const QueueDecl& queue, std::string_view text, QueueKey& key) {
    key.count = 0;
    if (text.size() > VRN_QUEUE_MAX_KEY_TEXT) text = text.substr(0, VRN_QUEUE_MAX_KEY_TEXT);
    size_t at = 0;
    bool valid = true;
    while (true) {
        while (at < text.size() && IsSeparator(text[at])) at++;
        if (at == text.size()) break;
        size_t start = at;
        while (at < text.size() && !IsSeparator(text[at])) at++;
        std::string_view label = text.substr(start, at - start);
        bool descending = false;
        if (label.front() == '+' || label.front() == '-') {
            descending = label.front() == '-';
            label.remove_prefix(1);
        }
        uint32_t number = label.empty() ? 0
                                        : Vrn$FieldByLabel(queue.type, label.data(), static_cast<uint32_t>(label.size()));
        if (number == 0 || !AddKeyField(queue, number, descending, key)) valid = false;
    }
    if (!valid) {
        key.count = 0;
        Vrn$seterror(75);
    }
    return valid;
}

// ---- Comparison ----------------------------------------------------------------------------------------

namespace {

template <class T>
int CompareAs(const uint8_t* a, const uint8_t* b) {
    T x, y;
    std::memcpy(&x, a, sizeof x);
    std::memcpy(&y, b, sizeof y);
    return x < y ? -1 : (y < x ? 1 : 0);
}

int CompareDoubles(double x, double y) { return x < y ? -1 : (y < x ? 1 : 0); }

int Sign(int32_t value) { return value < 0 ? -1 : (value > 0 ? 1 : 0); }

uint32_t CStringLength(const uint8_t* text, uint32_t width) {
    const void* end = std::memchr(text, 0, width);
    return end ? static_cast<uint32_t>(static_cast<const uint8_t*>(end) - text) : width;
}

int CompareDecimal(const uint8_t* a, const uint8_t* b, uint32_t width, uint32_t places) {
    // Two positive images of one declaration order as their digits do.
    if ((a[0] & 0xF0) == 0 && (b[0] & 0xF0) == 0) {
        int result = std::memcmp(a, b, width);
        return result < 0 ? -1 : (result > 0 ? 1 : 0);
    }
    return Compare(LoadDecimal(a, width, places), LoadDecimal(b, width, places));
}

int CompareElement(const QueueKeyField& field, const uint8_t* a, const uint8_t* b) {
    switch (field.type) {
        case VRN_TYPE_BYTE:
            return CompareAs<uint8_t>(a, b);
        case VRN_TYPE_SHORT:
            return CompareAs<int16_t>(a, b);
        case VRN_TYPE_USHORT:
            return CompareAs<uint16_t>(a, b);
        case VRN_TYPE_DATE:
        case VRN_TYPE_TIME:
        case VRN_TYPE_LONG:
            return CompareAs<int32_t>(a, b);
        case VRN_TYPE_ULONG:
            return CompareAs<uint32_t>(a, b);
        case VRN_TYPE_SREAL:
            return CompareAs<float>(a, b);
        case VRN_TYPE_REAL:
            return CompareAs<double>(a, b);
        case VRN_TYPE_BFLOAT4:
            return CompareDoubles(Vrn$bloadfloat4(a), Vrn$bloadfloat4(b));
        case VRN_TYPE_BFLOAT8:
            return CompareDoubles(Vrn$bloadfloat(a), Vrn$bloadfloat(b));
        case VRN_TYPE_DECIMAL:
            return CompareDecimal(a, b, field.width, field.places);
        case VRN_TYPE_PDECIMAL:
            return Compare(LoadPdecimal(a, field.width, field.places), LoadPdecimal(b, field.width, field.places));
        case VRN_TYPE_STRING:
        case VRN_TYPE_STRING_CONSTANT:
        case VRN_TYPE_GROUP:
            return Sign(CompareStrings(reinterpret_cast<const char*>(a), field.width,
                                       reinterpret_cast<const char*>(b), field.width));
        case VRN_TYPE_CSTRING:
            return Sign(CompareStrings(reinterpret_cast<const char*>(a), CStringLength(a, field.width),
                                       reinterpret_cast<const char*>(b), CStringLength(b, field.width)));
        case VRN_TYPE_PSTRING: {
            if (field.width == 0) return 0;
            uint32_t limit = field.width - 1;
            uint32_t length_a = a[0] < limit ? a[0] : limit;
            uint32_t length_b = b[0] < limit ? b[0] : limit;
            return Sign(CompareStrings(reinterpret_cast<const char*>(a + 1), length_a,
                                       reinterpret_cast<const char*>(b + 1), length_b));
        }
        default: {
            int result = std::memcmp(a, b, field.width);
            return result < 0 ? -1 : (result > 0 ? 1 : 0);
        }
    }
}

}  // namespace

int CompareByKey(const QueueKey& key, const uint8_t* a, const uint8_t* b) {
    for (uint32_t k = 0; k < key.count; k++) {
        const QueueKeyField& field = key.fields[k];
        const uint8_t* x = a + field.offset;
        const uint8_t* y = b + field.offset;
        for (uint32_t e = 0; e < field.dimension; e++) {
            int result = CompareElement(field, x, y);
            if (result != 0) return field.descending ? -result : result;
            x += field.width;
            y += field.width;
        }
    }
    return 0;
}

// ---- Searches ----------------------------------------------------------------------------------------

namespace {

// Where the halving search over entries 1..count stops: the range [lo, hi] it ended with, the
// entry it compared last, and how the buffer compared with that entry.
struct Probe {
    uint32_t lo;
    uint32_t hi;
    uint32_t mid;
    int last;
};

Probe Halve(uint8_t** items, uint32_t count, const QueueKey& key, const uint8_t* buffer) {
    Probe probe{1, count, 0, 0};
    while (true) {
        probe.mid = (probe.lo + probe.hi + 1) / 2;
        probe.last = CompareByKey(key, buffer, items[probe.mid - 1]);
        if (probe.last == 0 || probe.lo == probe.hi) return probe;
        if (probe.last > 0) {
            probe.lo = probe.mid;
        } else {
            probe.hi = probe.hi == probe.mid ? probe.mid - 1 : probe.mid;
        }
    }
}

// How many neighbours the searches step over one by one before they halve the rest: equal keys
// are usually few, and a step costs one comparison where halving costs a dozen.
constexpr uint32_t kLinearSteps = 4;

// The 0-based index at which the buffer is inserted: before the first entry greater than it, so
// after every equal entry. Entries past `hi` are all greater, so the step past equal entries stays
// inside (mid, hi]; after a few single steps the rest of that range is halved.
uint32_t InsertionIndex(uint8_t** items, uint32_t count, const QueueKey& key, const uint8_t* buffer) {
    if (count == 0) return 0;
    Probe probe = Halve(items, count, key, buffer);
    if (probe.last < 0) return probe.mid - 1;
    uint32_t first = probe.mid + 1, last = probe.hi + 1;   // 1-based, answer in [first, last]
    for (uint32_t step = 0; step < kLinearSteps && first < last; step++, first++) {
        if (CompareByKey(key, buffer, items[first - 1]) < 0) return first - 1;
    }
    while (first < last) {
        uint32_t middle = first + (last - first) / 2;
        if (CompareByKey(key, buffer, items[middle - 1]) < 0) {
            last = middle;
        } else {
            first = middle + 1;
        }
    }
    return first - 1;
}

// The 0-based index of the first entry equal to the buffer, or -1: from the equal entry found,
// back over the equal entries before it (not below lo).
int64_t LookupIndex(uint8_t** items, uint32_t count, const QueueKey& key, const uint8_t* buffer) {
    if (count == 0) return -1;
    Probe probe = Halve(items, count, key, buffer);
    if (probe.last != 0) return -1;
    uint32_t first = probe.lo, last = probe.mid;   // 1-based, answer in [first, last]
    for (uint32_t step = 0; step < kLinearSteps && first < last; step++, last--) {
        if (CompareByKey(key, buffer, items[last - 2]) != 0) return static_cast<int64_t>(last) - 1;
    }
    while (first < last) {
        uint32_t middle = first + (last - first) / 2;
        if (CompareByKey(key, buffer, items[middle - 1]) > 0) {
            first = middle + 1;
        } else {
            last = middle;
        }
    }
    return static_cast<int64_t>(first) - 1;
}

// ---- Sort ------------------------------------------------------------------------------------------------

constexpr uint32_t kInsertionRun = 12;

// Top-down merge sort of items[begin, end). Before merging, the first entry of the right half is
// placed in the left half by the insertion search: left entries before that point stay, and halves
// already in order are not touched. A right entry is taken only when the left one is greater, so
// equal keys keep their order.
void MergeSort(const QueueKey& key, uint8_t** items, uint8_t** temp, uint32_t begin, uint32_t end) {
    uint32_t length = end - begin;
    if (length <= kInsertionRun) {
        for (uint32_t i = begin + 1; i < end; i++) {
            uint8_t* moving = items[i];
            uint32_t j = i;
            while (j > begin && CompareByKey(key, items[j - 1], moving) > 0) {
                items[j] = items[j - 1];
                j--;
            }
            items[j] = moving;
        }
        return;
    }
    uint32_t middle = begin + length / 2;
    MergeSort(key, items, temp, begin, middle);
    MergeSort(key, items, temp, middle, end);
    uint32_t split = InsertionIndex(items + begin, middle - begin, key, items[middle]) + begin;
    if (split == middle) return;
    uint32_t left_count = middle - split;
    std::memcpy(temp, items + split, sizeof(uint8_t*) * left_count);
    uint32_t i = 0, j = middle, out = split;
    while (i < left_count && j < end) {
        if (CompareByKey(key, temp[i], items[j]) > 0) {
            items[out++] = items[j++];
        } else {
            items[out++] = temp[i++];
        }
    }
    while (i < left_count) items[out++] = temp[i++];
}

// ---- Exported operations: shared steps ---------------------------------------------------------------

// Checks the declaration, clears a pending error and creates the instance when missing.
QueueInstance* Begin(QueueDecl* queue) {
    if (!queue || (!queue->buffer && queue->record_length != 0)) {
        Vrn$seterror(7);
        return nullptr;
    }
    Vrn$clearerror();
    if (!queue->instance) {
        auto* instance = new (std::nothrow) QueueInstance;
        if (!instance) {
            Vrn$seterror(8);
            return nullptr;
        }
        instance->changes = static_cast<uint32_t>(Vrn$CLOCK()) * 25781083u;
        queue->instance = instance;
    }
    return queue->instance;
}

// A heap copy of the buffer, with room in the entry array for it; null and ERRORCODE 8 when
// either fails.
uint8_t* CopyForInsertion(QueueDecl& queue, QueueInstance& instance) {
    auto* record = static_cast<uint8_t*>(std::malloc(queue.record_length ? queue.record_length : 1));
    if (!record || !instance.entries.Reserve()) {
        std::free(record);
        Vrn$seterror(8);
        return nullptr;
    }
    if (queue.record_length) std::memcpy(record, queue.buffer, queue.record_length);
    return record;
}

void InsertAt(QueueInstance& instance, uint32_t index, uint8_t* record) {
    instance.entries.Insert(index, record);
    instance.pointer = index + 1;
    instance.changes++;
}

void AddByKey(QueueDecl* queue, const QueueKey& key) {
    QueueInstance& instance = *queue->instance;
    uint8_t* record = CopyForInsertion(*queue, instance);
    if (!record) return;
    auto* buffer = static_cast<const uint8_t*>(queue->buffer);
    InsertAt(instance, InsertionIndex(instance.entries.Items(), instance.entries.Count(), key, buffer), record);
}

void GetByKey(QueueDecl* queue, const QueueKey& key) {
    QueueInstance& instance = *queue->instance;
    auto* buffer = static_cast<uint8_t*>(queue->buffer);
    int64_t index = key.count == 0 ? -1 : LookupIndex(instance.entries.Items(), instance.entries.Count(), key, buffer);
    if (index < 0) {
        Vrn$seterror(30);
        return;
    }
    if (queue->record_length) std::memcpy(buffer, instance.entries.At(static_cast<uint32_t>(index)), queue->record_length);
    instance.pointer = static_cast<uint32_t>(index) + 1;
}

bool PointerValid(const QueueInstance& instance) {
    if (instance.pointer == 0 || instance.pointer > instance.entries.Count()) {
        Vrn$seterror(30);
        return false;
    }
    return true;
}

void PutByKey(QueueDecl* queue, const QueueKey& key) {
    QueueInstance& instance = *queue->instance;
    if (!PointerValid(instance)) return;
    // The entry's own copy is reused: taking it out leaves room to put it back, so nothing can fail.
    uint8_t* record = instance.entries.Remove(instance.pointer - 1);
    if (queue->record_length) std::memcpy(record, queue->buffer, queue->record_length);
    InsertAt(instance, InsertionIndex(instance.entries.Items(), instance.entries.Count(), key, record), record);
}

void SortByKey(QueueDecl* queue, const QueueKey& key) {
    QueueInstance& instance = *queue->instance;
    uint32_t count = instance.entries.Count();
    if (count > 1 && key.count != 0) {
        // Per call, so different queues can be sorted on different threads at once.
        auto* temp = static_cast<uint8_t**>(std::malloc(sizeof(uint8_t*) * (count / 2 + 1)));
        if (!temp) {
            Vrn$seterror(8);
            return;
        }
        MergeSort(key, instance.entries.Items(), temp, 0, count);
        std::free(temp);
    }
    instance.changes++;
}

// Blocks made by Vrn$NEWqueue, so DISPOSE never frees a declaration the program owns.
std::mutex new_queues_lock;
std::unordered_set<QueueDecl*>& NewQueues() {
    static auto* blocks = new std::unordered_set<QueueDecl*>;
    return *blocks;
}

}  // namespace

uint32_t QueueCapacity(const QueueDecl* queue) {
    return queue && queue->instance ? queue->instance->entries.Capacity() : 0;
}

}  // namespace tarvex

// ---- Exported operations -------------------------------------------------------------------------------

using namespace tarvex;

extern "C" {

TARVEX_API void Vrn$ADDqueue(QueueDecl* queue) {
    QueueInstance* instance = Begin(queue);
    if (!instance) return;
    uint8_t* record = CopyForInsertion(*queue, *instance);
    if (record) InsertAt(*instance, instance->entries.Count(), record);
}

TARVEX_API void Vrn$ADDqueueptr(QueueDecl* queue, int32_t position) {
    QueueInstance* instance = Begin(queue);
    if (!instance) return;
    uint32_t count = instance->entries.Count();
    uint8_t* record = CopyForInsertion(*queue, *instance);
    if (!record) return;
    bool appends = position <= 0 || static_cast<uint32_t>(position) > count;
    InsertAt(*instance, appends ? count : static_cast<uint32_t>(position) - 1, record);
}

TARVEX_API void Vrn$ADDqueuekey(QueueDecl* queue, const int32_t* key) {
    if (!Begin(queue)) return;
    QueueKey compiled;
    if (BuildKey(*queue, key, compiled)) AddByKey(queue, compiled);
}

TARVEX_API void Vrn$ADDqueueskey(QueueDecl* queue) {
    std::string text = PopStdString();
    if (!Begin(queue)) return;
    QueueKey compiled;
    if (BuildKeyFromText(*queue, text, compiled)) AddByKey(queue, compiled);
}

TARVEX_API void Vrn$GETqueueptr(QueueDecl* queue, int32_t position) {
    QueueInstance* instance = Begin(queue);
    if (!instance) return;
    if (position == 0) {
        instance->pointer = 0;
        Vrn$seterror(30);
        return;
    }
    if (position < 0 || static_cast<uint32_t>(position) > instance->entries.Count()) {
        Vrn$seterror(30);
        return;
    }
    if (queue->record_length) {
        std::memcpy(queue->buffer, instance->entries.At(static_cast<uint32_t>(position) - 1), queue->record_length);
    }
    instance->pointer = static_cast<uint32_t>(position);
}

TARVEX_API void Vrn$GETqueuekey(QueueDecl* queue, const int32_t* key) {
    if (!Begin(queue)) return;
    QueueKey compiled;
    if (BuildKey(*queue, key, compiled)) GetByKey(queue, compiled);
}

TARVEX_API void Vrn$GETqueueskey(QueueDecl* queue) {
    std::string text = PopStdString();
    if (!Begin(queue)) return;
    QueueKey compiled;
    if (BuildKeyFromText(*queue, text, compiled)) GetByKey(queue, compiled);
}

TARVEX_API void Vrn$PUTqueue(QueueDecl* queue) {
    QueueInstance* instance = Begin(queue);
    if (!instance || !PointerValid(*instance)) return;
    if (queue->record_length) std::memcpy(instance->entries.At(instance->pointer - 1), queue->buffer, queue->record_length);
    instance->changes++;
}

TARVEX_API void Vrn$PUTqueuekey(QueueDecl* queue, const int32_t* key) {
    if (!Begin(queue)) return;
    QueueKey compiled;
    if (BuildKey(*queue, key, compiled)) PutByKey(queue, compiled);
}

TARVEX_API void Vrn$PUTqueueskey(QueueDecl* queue) {
    std::string text = PopStdString();
    if (!Begin(queue)) return;
    QueueKey compiled;
    if (BuildKeyFromText(*queue, text, compiled)) PutByKey(queue, compiled);
}

TARVEX_API void Vrn$DELETEqueue(QueueDecl* queue) {
    QueueInstance* instance = Begin(queue);
    if (!instance || !PointerValid(*instance)) return;
    std::free(instance->entries.Remove(instance->pointer - 1));
    instance->changes++;
}

TARVEX_API void Vrn$SORTqueuekey(QueueDecl* queue, const int32_t* key) {
    if (!Begin(queue)) return;
    QueueKey compiled;
    if (BuildKey(*queue, key, compiled)) SortByKey(queue, compiled);
}

TARVEX_API void Vrn$SORTqueueskey(QueueDecl* queue) {
    std::string text = PopStdString();
    if (!Begin(queue)) return;
    QueueKey compiled;
    if (BuildKeyFromText(*queue, text, compiled)) SortByKey(queue, compiled);
}

TARVEX_API int32_t Vrn$RECORDSqueue(QueueDecl* queue) {
    QueueInstance* instance = Begin(queue);
    return instance ? static_cast<int32_t>(instance->entries.Count()) : 0;
}

TARVEX_API int32_t Vrn$POINTERqueue(QueueDecl* queue) {
    QueueInstance* instance = Begin(queue);
    return instance ? static_cast<int32_t>(instance->pointer) : 0;
}

TARVEX_API uint32_t Vrn$NUMCHANGESqueue(QueueDecl* queue) {
    QueueInstance* instance = Begin(queue);
    return instance ? instance->changes : 0;
}

TARVEX_API void Vrn$FREEqueue(QueueDecl* queue) {
    if (!queue) return;
    Vrn$clearerror();
    delete queue->instance;
    queue->instance = nullptr;
}

TARVEX_API QueueDecl* Vrn$NEWqueue(const VrnTypeDesc* type) {
    Vrn$clearerror();
    if (!type) {
        Vrn$seterror(75);
        return nullptr;
    }
    auto* block = static_cast<QueueDecl*>(std::calloc(1, sizeof(QueueDecl) + type->size));
    if (!block) {
        Vrn$seterror(8);
        return nullptr;
    }
    try {
        std::lock_guard<std::mutex> hold(new_queues_lock);
        NewQueues().insert(block);
    } catch (...) {
        std::free(block);
        Vrn$seterror(8);
        return nullptr;
    }
    block->buffer = reinterpret_cast<uint8_t*>(block) + sizeof(QueueDecl);
    block->type = type;
    block->instance = nullptr;
    block->record_length = type->size;
    Vrn$CLEAR(block->buffer, type, 0);
    return block;
}

TARVEX_API void Vrn$DISPOSEqueue(QueueDecl* queue) {
    if (!queue) return;
    Vrn$FREEqueue(queue);
    bool made_here;
    {
        std::lock_guard<std::mutex> hold(new_queues_lock);
        made_here = NewQueues().erase(queue) != 0;
    }
    if (made_here) std::free(queue);
}

TARVEX_API int32_t Vrn$WHEREqueue(QueueDecl* queue, const void* field) {
    if (!Begin(queue)) return 0;
    return Vrn$WHERE(queue->buffer, queue->type, field);
}

}  // extern "C"
