// SPDX-License-Identifier: GPL-3.0-or-later
// The queue instance behind a QueueDecl: the entry array with its size classes, the compiled key
// and the searches. The exported operations (queue.cpp) drive it; tests reach it for the capacity.
#pragma once

#include <cstdint>
#include <string_view>

#include "tarvex/queue.h"

namespace tarvex {

// Capacities the entry array steps through; growth is one step at a time.
constexpr uint32_t kQueueSizeClasses[] = {0,    2,     4,     8,     16,     32,     64,
                                          128,  256,   1024,  2048,  4096,   8192,   16000,
                                          32000, 65000, 130000, 250000, 500000, 1000000};

// One key field as the comparison reads it.
struct QueueKeyField {
    uint32_t offset;
    uint32_t width;       // one element
    uint32_t dimension;
    uint8_t type;
    uint8_t places;
    bool descending;
};

struct QueueKey {
    QueueKeyField fields[VRN_QUEUE_MAX_KEY_FIELDS];
    uint32_t count = 0;
};

class QueueEntries {
public:
    QueueEntries() = default;
    ~QueueEntries();
    QueueEntries(const QueueEntries&) = delete;
    QueueEntries& operator=(const QueueEntries&) = delete;

    uint32_t Count() const { return count_; }
    uint32_t Capacity() const { return kQueueSizeClasses[size_class_]; }
    uint8_t* At(uint32_t index) const { return items_[index]; }
    uint8_t** Items() { return items_; }
    // Room for one more entry: false when the largest class is full or memory runs out.
    bool Reserve();
    void Insert(uint32_t index, uint8_t* record);   // after Reserve()
    uint8_t* Remove(uint32_t index);                // the record, now the caller's

private:
    uint8_t** items_ = nullptr;
    uint32_t count_ = 0;
    uint32_t size_class_ = 0;
};

}  // namespace tarvex

// The instance a QueueDecl points at (declared in the exported header, so outside the namespace).
struct QueueInstance {
    tarvex::QueueEntries entries;
    uint32_t pointer = 0;       // POINTER, 1-based; 0 = none
    uint32_t changes = 0;
};

namespace tarvex {

// -1, 0 or 1: the record `a` against `b` by the key (descending fields negated).
int CompareByKey(const QueueKey& key, const uint8_t* a, const uint8_t* b);

// Builds a key from field numbers (0-terminated) or from text; false (and ERRORCODE 75) when a
// field is out of range or unknown, or when there are more than 16.
bool BuildKey(const QueueDecl& queue, const int32_t* numbers, QueueKey& key);
bool BuildKeyFromText(const QueueDecl& queue, std::string_view text, QueueKey& key);

// The entry array's capacity, or 0 for a queue not created; for tests.
uint32_t QueueCapacity(const QueueDecl* queue);

}  // namespace tarvex
