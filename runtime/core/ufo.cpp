// SPDX-License-Identifier: GPL-3.0-or-later
// The dynamic-value classes: the base answers (run-time error 410), comparison and assignment
// between any two values, memory images, and each class's moves to and from the value stacks.
//
// Divisions: base class; shared rules; memory images; numbers; strings and groups; arrays and
// references; free-standing values; pictures and computed values; construction.
#include "core/ufo.h"

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

#include "core/evaluator.h"
#include "core/string_stack.h"
#include "core/ufo_types.h"
#include "tarvex/frame.h"
#include "tarvex/pictures.h"

// ---- Base class: every operation unsupported -----------------------------------------------------

void Ufo::Assign(int32_t) { tarvex::UnsupportedOperation(); }
void Ufo::Assign(double) { tarvex::UnsupportedOperation(); }
void Ufo::Assign(Ufo*) { tarvex::UnsupportedOperation(); }
int Ufo::Distincts(Ufo*) { return tarvex::UnsupportedOperation(), 0; }
int Ufo::Distincts(int32_t) { return tarvex::UnsupportedOperation(), 0; }
int Ufo::Type() { return tarvex::UnsupportedOperation(), 0; }
void Ufo::ToMem(VrnVmem*) { tarvex::UnsupportedOperation(); }
void Ufo::FromMem(VrnVmem*) { tarvex::UnsupportedOperation(); }
void Ufo::OldFromMem(VrnVmem*) { tarvex::UnsupportedOperation(); }
void Ufo::Pop() { tarvex::UnsupportedOperation(); }
void Ufo::Push() { tarvex::UnsupportedOperation(); }
void Ufo::DPop() { tarvex::UnsupportedOperation(); }
void Ufo::DPush() { tarvex::UnsupportedOperation(); }
double Ufo::Real() { return tarvex::UnsupportedOperation(), 0.0; }
int32_t Ufo::Long() { return tarvex::UnsupportedOperation(), 0; }
void Ufo::Free() { tarvex::UnsupportedOperation(); }
void Ufo::Clear(int32_t) { tarvex::UnsupportedOperation(); }
void* Ufo::Address() { return tarvex::UnsupportedOperation(), nullptr; }
Ufo* Ufo::AClone() { return tarvex::UnsupportedOperation(), nullptr; }
Ufo* Ufo::Select(int32_t) { return tarvex::UnsupportedOperation(), nullptr; }
Ufo* Ufo::Select(int32_t, int32_t) { return tarvex::UnsupportedOperation(), nullptr; }
Ufo* Ufo::Designate() { return tarvex::UnsupportedOperation(), nullptr; }
int32_t Ufo::Max() { return tarvex::UnsupportedOperation(), 0; }
uint32_t Ufo::Size() { return tarvex::UnsupportedOperation(), 0; }
int Ufo::BaseType() { return tarvex::UnsupportedOperation(), 0; }
bool Ufo::Cleared() { return tarvex::UnsupportedOperation(), false; }
bool Ufo::Null() { return tarvex::UnsupportedOperation(), false; }
void Ufo::OemToAnsi() { tarvex::UnsupportedOperation(); }
void Ufo::AnsiToOem() { tarvex::UnsupportedOperation(); }
void Ufo::Bind() { tarvex::UnsupportedOperation(); }
void Ufo::Add(Ufo*) { tarvex::UnsupportedOperation(); }
void Ufo::Divide(Ufo*) { tarvex::UnsupportedOperation(); }
void Ufo::SetAddress(void*) { tarvex::UnsupportedOperation(); }

namespace tarvex {

void UnsupportedOperation() { Vrn$rterr(410, nullptr); }

// ---- Shared rules ----------------------------------------------------------------------------------

namespace {

constexpr double kHighestReal = 1.7976931348623101e+308;

int Sign(int64_t value) { return value < 0 ? -1 : (value > 0 ? 1 : 0); }

bool IsIntegerType(int type) { return Vrn$TypeClass(type) == VRN_CLASS_INTEGER; }

// REAL comparison with the tolerance of compiled = and <>.
int CompareReals(double a, double b) {
    if (!Vrn$realdistinct(a, b)) return 0;
    return a < b ? -1 : 1;
}

// A double to an integer, truncated towards zero and taken modulo 2^64; NaN, infinities and values
// beyond 2^63 give 0 instead of undefined behaviour.
int64_t TruncateReal(double value) {
    if (!std::isfinite(value) || std::fabs(value) >= 9.2e18) return 0;
    return static_cast<int64_t>(value);
}

}  // namespace

bool IsDecimalType(int type) { return type == VRN_TYPE_DECIMAL || type == VRN_TYPE_PDECIMAL; }

bool IsStringType(int type) { return Vrn$TypeClass(type) == VRN_CLASS_STRING && type != VRN_TYPE_ARRAY; }

int CompareUfos(Ufo* a, Ufo* b) {
    int ta = a->BaseType(), tb = b->BaseType();
    if (IsStringType(ta) && IsStringType(tb)) {
        a->Push();
        b->Push();
        return Sign(Vrn$StackCompare());
    }
    if (IsDecimalType(ta) || IsDecimalType(tb)) {
        a->DPush();
        b->DPush();
        return Vrn$DecDistinct();
    }
    if (IsIntegerType(ta) && IsIntegerType(tb)) return Sign(static_cast<int64_t>(a->Long()) - b->Long());
    return CompareReals(a->Real(), b->Real());
}

void AssignUfoValue(Ufo* destination, Ufo* source) {
    int td = destination->BaseType(), ts = source->BaseType();
    if (IsStringType(td) || IsStringType(ts)) {
        source->Push();
        destination->Pop();
    } else if (IsDecimalType(td) || IsDecimalType(ts)) {
        source->DPush();
        destination->DPop();
    } else if (IsIntegerType(ts)) {
        destination->Assign(source->Long());
    } else {
        destination->Assign(source->Real());
    }
}

// ---- Memory images ---------------------------------------------------------------------------------

void VmemWrite(VrnVmem* image, const void* bytes, uint32_t length) {
    if (!image || length == 0) return;
    uint64_t needed = static_cast<uint64_t>(image->length) + length;
    if (needed > UINT32_MAX) {
        Vrn$seterror(8);
        return;
    }
    if (needed > image->capacity) {
        uint64_t capacity = std::max<uint64_t>(needed, static_cast<uint64_t>(image->capacity) * 2 + 64);
        capacity = std::min<uint64_t>(capacity, UINT32_MAX);
        void* grown = std::realloc(image->data, capacity);
        if (!grown) {
            Vrn$seterror(8);
            return;
        }
        image->data = static_cast<uint8_t*>(grown);
        image->capacity = static_cast<uint32_t>(capacity);
    }
    std::memcpy(image->data + image->length, bytes, length);
    image->length += length;
}

bool VmemRead(VrnVmem* image, void* bytes, uint32_t length) {
    if (!image || static_cast<uint64_t>(image->position) + length > image->length) return false;
    if (length) std::memcpy(bytes, image->data + image->position, length);
    image->position += length;
    return true;
}

namespace {

// Header of one value: type, places, size (little-endian).
void WriteHeader(VrnVmem* image, int type, uint8_t places, uint32_t size) {
    uint8_t header[6] = {static_cast<uint8_t>(type), places, static_cast<uint8_t>(size), static_cast<uint8_t>(size >> 8),
                         static_cast<uint8_t>(size >> 16), static_cast<uint8_t>(size >> 24)};
    VmemWrite(image, header, sizeof header);
}

struct Header {
    int type;
    uint8_t places;
    uint32_t size;
};

bool ReadHeader(VrnVmem* image, Header& header) {
    uint8_t bytes[6];
    if (!VmemRead(image, bytes, sizeof bytes)) return false;
    header.type = bytes[0];
    header.places = bytes[1];
    header.size = bytes[2] | (bytes[3] << 8) | (bytes[4] << 16) | (static_cast<uint32_t>(bytes[5]) << 24);
    return true;
}

// Reads a value of any type from the image and assigns it to `target`. A truncated image or a type
// without a class leaves the target cleared.
void AssignFromImage(Ufo* target, VrnVmem* image, const Header& header) {
    std::vector<uint8_t> bytes(header.size);
    std::unique_ptr<Ufo> source;
    if (VmemRead(image, bytes.data(), header.size)) {
        source.reset(NewMemoryUfo(bytes.data(), header.type, header.places, header.size));
    } else if (image) {
        image->position = image->length;
    }
    if (source) {
        AssignUfoValue(target, source.get());
    } else {
        target->Clear(0);
    }
}

}  // namespace

void VarUfo::ToMem(VrnVmem* image) {
    WriteHeader(image, Type(), places_, size_);
    VmemWrite(image, address_, size_);
}

void VarUfo::FromMem(VrnVmem* image) {
    Header header;
    if (!ReadHeader(image, header)) {
        Clear(0);
        return;
    }
    if (header.type == Type() && header.size == size_ && header.places == places_) {
        if (!VmemRead(image, address_, size_)) {
            image->position = image->length;
            Clear(0);
        }
        return;
    }
    AssignFromImage(this, image, header);
}

void VarUfo::OldFromMem(VrnVmem* image) {
    if (!VmemRead(image, address_, size_)) {
        if (image) image->position = image->length;
        Clear(0);
    }
}

void VarUfo::Clear(int32_t how) { ClearValue(address_, static_cast<uint8_t>(Type()), size_, places_, how); }

// ---- Numbers ------------------------------------------------------------------------------------------

int NumberUfo::Distincts(int32_t value) {
    int type = Type();
    if (IsDecimalType(type)) {
        DPush();
        Vrn$DPushLong(value);
        return Vrn$DecDistinct();
    }
    if (IsIntegerType(type)) return Sign(static_cast<int64_t>(Long()) - value);
    return CompareReals(Real(), value);
}

void NumberUfo::Add(Ufo* other) {
    int type = Type(), other_type = other->BaseType();
    if (IsDecimalType(type) || IsDecimalType(other_type)) {
        DPush();
        other->DPush();
        Vrn$DecAdd();
        DPop();
    } else if (IsIntegerType(type) && IsIntegerType(other_type)) {
        Assign(static_cast<int32_t>(static_cast<uint32_t>(Long()) + static_cast<uint32_t>(other->Long())));
    } else {
        Assign(Real() + other->Real());
    }
}

// A zero divisor gives 0, as on the decimal stack.
void NumberUfo::Divide(Ufo* other) {
    if (IsDecimalType(Type()) || IsDecimalType(other->BaseType())) {
        DPush();
        other->DPush();
        Vrn$DecDivide();
        DPop();
        return;
    }
    double divisor = other->Real();
    Assign(divisor == 0 ? 0.0 : Real() / divisor);
}

template <class T, uint8_t Code>
T IntegerUfo<T, Code>::Value() const {
    T value;
    std::memcpy(&value, address_, sizeof value);
    return value;
}

template <class T, uint8_t Code>
void IntegerUfo<T, Code>::Store(T value) {
    std::memcpy(address_, &value, sizeof value);
}

template <class T, uint8_t Code>
void IntegerUfo<T, Code>::Assign(double value) {
    Store(static_cast<T>(static_cast<uint64_t>(TruncateReal(value))));
}

template <class T, uint8_t Code>
void IntegerUfo<T, Code>::Push() {
    if constexpr (Code == VRN_TYPE_ULONG) {
        uint32_t value = Value();
        if (value > static_cast<uint32_t>(INT32_MAX)) {
            Vrn$PushReal(value);
            return;
        }
    }
    Vrn$PushLong(static_cast<int32_t>(Value()));
}

template <class T, uint8_t Code>
void IntegerUfo<T, Code>::Pop() {
    if constexpr (Code == VRN_TYPE_ULONG) {
        Assign(Vrn$PopReal());
    } else {
        Store(static_cast<T>(Vrn$PopLong()));
    }
}

template <class T, uint8_t Code>
void IntegerUfo<T, Code>::DPush() {
    if constexpr (Code == VRN_TYPE_ULONG) {
        Vrn$DPushULong(Value());
    } else {
        Vrn$DPushLong(static_cast<int32_t>(Value()));
    }
}

template <class T, uint8_t Code>
void IntegerUfo<T, Code>::DPop() {
    Store(static_cast<T>(Vrn$DPopLong()));
}

template class IntegerUfo<uint8_t, VRN_TYPE_BYTE>;
template class IntegerUfo<int16_t, VRN_TYPE_SHORT>;
template class IntegerUfo<uint16_t, VRN_TYPE_USHORT>;
template class IntegerUfo<int32_t, VRN_TYPE_DATE>;
template class IntegerUfo<int32_t, VRN_TYPE_TIME>;
template class IntegerUfo<int32_t, VRN_TYPE_LONG>;
template class IntegerUfo<uint32_t, VRN_TYPE_ULONG>;

template <uint8_t Code>
FloatingUfo<Code>::FloatingUfo(void* address) : NumberUfo(address, Vrn$TypeSize(Code)) {}

template <uint8_t Code>
double FloatingUfo<Code>::Real() {
    if constexpr (Code == VRN_TYPE_SREAL) {
        float value;
        std::memcpy(&value, address_, sizeof value);
        return value;
    } else if constexpr (Code == VRN_TYPE_REAL) {
        double value;
        std::memcpy(&value, address_, sizeof value);
        return value;
    } else if constexpr (Code == VRN_TYPE_BFLOAT4) {
        return Vrn$bloadfloat4(address_);
    } else {
        return Vrn$bloadfloat(address_);
    }
}

template <uint8_t Code>
void FloatingUfo<Code>::Assign(double value) {
    if constexpr (Code == VRN_TYPE_SREAL) {
        // Beyond the range of a float: infinity, as the hardware does (the plain cast is undefined).
        float narrow = std::fabs(value) > std::numeric_limits<float>::max() && std::isfinite(value)
                           ? std::copysign(std::numeric_limits<float>::infinity(), static_cast<float>(value > 0 ? 1 : -1))
                           : static_cast<float>(value);
        std::memcpy(address_, &narrow, sizeof narrow);
    } else if constexpr (Code == VRN_TYPE_REAL) {
        std::memcpy(address_, &value, sizeof value);
    } else if constexpr (Code == VRN_TYPE_BFLOAT4) {
        Vrn$bstorefloat4(address_, value);
    } else {
        Vrn$bstorefloat(address_, value);
    }
}

template <uint8_t Code>
int32_t FloatingUfo<Code>::Long() {
    return static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(TruncateReal(Real()))));
}

template class FloatingUfo<VRN_TYPE_SREAL>;
template class FloatingUfo<VRN_TYPE_REAL>;
template class FloatingUfo<VRN_TYPE_BFLOAT4>;
template class FloatingUfo<VRN_TYPE_BFLOAT8>;

template <uint8_t Code>
void PackedUfo<Code>::DPush() {
    if constexpr (Code == VRN_TYPE_DECIMAL) {
        Vrn$DPushDec(address_, size_, places_);
    } else {
        Vrn$DPushPdec(address_, size_, places_);
    }
}

template <uint8_t Code>
void PackedUfo<Code>::DPop() {
    if constexpr (Code == VRN_TYPE_DECIMAL) {
        Vrn$DPopDec(address_, size_, places_);
    } else {
        Vrn$DPopPdec(address_, size_, places_);
    }
}

template class PackedUfo<VRN_TYPE_DECIMAL>;
template class PackedUfo<VRN_TYPE_PDECIMAL>;

// ---- Strings and groups ------------------------------------------------------------------------------

namespace {

// Code page 437 (OEM) and 1252 (ANSI) for the characters 0x80-0xFF; characters without a
// counterpart become their base letter or "?".
constexpr uint8_t kOemToAnsi[128] = {
    0xC7, 0xFC, 0xE9, 0xE2, 0xE4, 0xE0, 0xE5, 0xE7, 0xEA, 0xEB, 0xE8, 0xEF, 0xEE, 0xEC, 0xC4, 0xC5,
    0xC9, 0xE6, 0xC6, 0xF4, 0xF6, 0xF2, 0xFB, 0xF9, 0xFF, 0xD6, 0xDC, 0xA2, 0xA3, 0xA5, 0x3F, 0x83,
    0xE1, 0xED, 0xF3, 0xFA, 0xF1, 0xD1, 0xAA, 0xBA, 0xBF, 0x3F, 0xAC, 0xBD, 0xBC, 0xA1, 0xAB, 0xBB,
    0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F,
    0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F,
    0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F,
    0x3F, 0xDF, 0x3F, 0x3F, 0x3F, 0x3F, 0xB5, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F,
    0x3F, 0xB1, 0x3F, 0x3F, 0x3F, 0x3F, 0xF7, 0x3F, 0xB0, 0x3F, 0xB7, 0x3F, 0x6E, 0xB2, 0x3F, 0xA0,
};
constexpr uint8_t kAnsiToOem[128] = {
    0x3F, 0x3F, 0x3F, 0x9F, 0x3F, 0x2E, 0x3F, 0x3F, 0x3F, 0x3F, 0x53, 0x3F, 0x3F, 0x3F, 0x5A, 0x3F,
    0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x3F, 0x20, 0x54, 0x73, 0x3F, 0x3F, 0x3F, 0x7A, 0x59,
    0xFF, 0xAD, 0x9B, 0x9C, 0x3F, 0x9D, 0x3F, 0x3F, 0x20, 0x3F, 0xA6, 0xAE, 0xAA, 0x3F, 0x3F, 0x20,
    0xF8, 0xF1, 0xFD, 0x33, 0x20, 0xE6, 0x3F, 0xFA, 0x20, 0x31, 0xA7, 0xAF, 0xAC, 0xAB, 0x33, 0xA8,
    0x41, 0x41, 0x41, 0x41, 0x8E, 0x8F, 0x92, 0x80, 0x45, 0x90, 0x45, 0x45, 0x49, 0x49, 0x49, 0x49,
    0x3F, 0xA5, 0x4F, 0x4F, 0x4F, 0x4F, 0x99, 0x3F, 0x3F, 0x55, 0x55, 0x55, 0x9A, 0x59, 0x3F, 0xE1,
    0x85, 0xA0, 0x83, 0x61, 0x84, 0x86, 0x91, 0x87, 0x8A, 0x82, 0x88, 0x89, 0x8D, 0xA1, 0x8C, 0x8B,
    0x3F, 0xA4, 0x95, 0xA2, 0x93, 0x6F, 0x94, 0xF6, 0x3F, 0x97, 0xA3, 0x96, 0x81, 0x79, 0x3F, 0x98,
};

}  // namespace

uint8_t* StringUfo::Text() const { return type_ == VRN_TYPE_PSTRING ? address_ + 1 : address_; }

uint32_t StringUfo::TextLength() const {
    switch (type_) {
        case VRN_TYPE_CSTRING: {
            const void* end = std::memchr(address_, 0, size_);
            return end ? static_cast<uint32_t>(static_cast<const uint8_t*>(end) - address_) : size_;
        }
        case VRN_TYPE_PSTRING:
            return size_ == 0 ? 0 : std::min<uint32_t>(address_[0], size_ - 1);
        default:
            return size_;
    }
}

void StringUfo::Push() { Vrn$PushString(reinterpret_cast<const char*>(Text()), TextLength()); }

void StringUfo::Pop() {
    switch (type_) {
        case VRN_TYPE_CSTRING:
            Vrn$PopCString(reinterpret_cast<char*>(address_), size_);
            break;
        case VRN_TYPE_PSTRING:
            Vrn$PopPString(address_, size_);
            break;
        default:
            Vrn$PopString(reinterpret_cast<char*>(address_), size_);
            break;
    }
}

int StringUfo::Distincts(int32_t value) { return CompareReals(Real(), value); }

bool StringUfo::Cleared() {
    const uint8_t* text = Text();
    uint32_t length = TextLength();
    for (uint32_t i = 0; i < length; i++) {
        if (text[i] != ' ') return false;
    }
    return true;
}

// A slice is a STRING on the selected characters; bounds are kept inside the text.
Ufo* StringUfo::Select(int32_t from, int32_t to) {
    int64_t length = TextLength();
    int64_t first = std::max<int64_t>(from, 1);
    int64_t last = std::min<int64_t>(to, length);
    if (first > length + 1) first = length + 1;
    uint32_t count = last >= first ? static_cast<uint32_t>(last - first + 1) : 0;
    return new StringUfo(Text() + (first - 1), count);
}

void StringUfo::OemToAnsi() {
    uint8_t* text = Text();
    for (uint32_t i = 0, n = TextLength(); i < n; i++) {
        if (text[i] >= 0x80) text[i] = kOemToAnsi[text[i] - 0x80];
    }
}

void StringUfo::AnsiToOem() {
    uint8_t* text = Text();
    for (uint32_t i = 0, n = TextLength(); i < n; i++) {
        if (text[i] >= 0x80) text[i] = kAnsiToOem[text[i] - 0x80];
    }
}

void GroupUfo::Bind() {
    for (uint32_t i = 0; i < count_; i++) {
        const char* label = fields_[i].label;
        if (!label) continue;
        std::string_view name = eval::CutName(label);
        if (name.empty()) continue;
        eval::BindVariable(name, Select(static_cast<int32_t>(i) + 1));
    }
}

Ufo* GroupUfo::Select(int32_t index) {
    if (index < 1 || static_cast<uint32_t>(index) > count_) return nullptr;
    return FieldUfo(address_, size_, base_offset_, fields_, count_, static_cast<uint32_t>(index) - 1);
}

void GroupUfo::Clear(int32_t how) {
    if (!fields_ || count_ == 0) {
        ClearValue(address_, VRN_TYPE_STRING, size_, 0, how);
        return;
    }
    for (uint32_t i = 0; i < count_; i++) {
        const VrnFieldDesc& field = fields_[i];
        if (field.type == VRN_TYPE_GROUP && field.member_count != 0) continue;
        uint32_t width = FieldWidth(field), dimension = FieldDimension(field);
        if (field.offset < base_offset_ ||
            field.offset - base_offset_ + static_cast<uint64_t>(width) * dimension > size_) {
            continue;
        }
        uint8_t* at = address_ + (field.offset - base_offset_);
        for (uint32_t e = 0; e < dimension; e++) ClearValue(at + static_cast<size_t>(e) * width, field.type, width, field.places, how);
    }
}

// ---- Arrays and references -----------------------------------------------------------------------

ArrayUfo::ArrayUfo(Ufo* element, uint32_t count)
    : VarUfo(element->Address(), element->Size() * count), element_(element), element_size_(element->Size()), count_(count) {}

Ufo* ArrayUfo::Select(int32_t index) {
    if (index < 1 || static_cast<uint32_t>(index) > count_) {
        __e_index();
        return nullptr;
    }
    Ufo* element = element_->AClone();
    element->SetAddress(address_ + static_cast<size_t>(index - 1) * element_size_);
    return element;
}

void ArrayUfo::Clear(int32_t how) {
    for (uint32_t i = 0; i < count_; i++) {
        element_->SetAddress(address_ + static_cast<size_t>(i) * element_size_);
        element_->Clear(how);
    }
    element_->SetAddress(address_);
}

bool ArrayUfo::Cleared() {
    bool cleared = true;
    for (uint32_t i = 0; i < count_ && cleared; i++) {
        element_->SetAddress(address_ + static_cast<size_t>(i) * element_size_);
        cleared = element_->Cleared();
    }
    element_->SetAddress(address_);
    return cleared;
}

void ArrayUfo::SetAddress(void* address) {
    VarUfo::SetAddress(address);
    element_->SetAddress(address);
}

Ufo* RefUfo::Target() const {
    Ufo* target;
    std::memcpy(&target, address_, sizeof target);
    return target;
}

Ufo* RefUfo::TargetOrNew(bool real) {
    Ufo* target = Target();
    if (!target) {
        target = real ? static_cast<Ufo*>(new ValueUfo(0.0)) : new ValueUfo(0);
        std::memcpy(address_, &target, sizeof target);
    }
    return target;
}

void RefUfo::Assign(Ufo* other) {
    if (!Target()) {
        // An empty reference takes a free-standing value of the source's kind.
        Ufo* created = IsStringType(other->BaseType()) ? static_cast<Ufo*>(new StrValueUfo(std::string()))
                       : IsIntegerType(other->BaseType()) ? static_cast<Ufo*>(new ValueUfo(0))
                                                           : new ValueUfo(0.0);
        std::memcpy(address_, &created, sizeof created);
    }
    AssignUfoValue(Target(), other);
}

int RefUfo::BaseType() {
    Ufo* target = Target();
    return target ? target->BaseType() : type_;
}

int RefUfo::Distincts(int32_t value) {
    Ufo* target = Target();
    return target ? target->Distincts(value) : Sign(-static_cast<int64_t>(value));
}

void RefUfo::Push() {
    Ufo* target = Target();
    if (target) {
        target->Push();
    } else {
        Vrn$PushString("", 0);
    }
}

void RefUfo::DPush() {
    Ufo* target = Target();
    if (target) {
        target->DPush();
    } else {
        Vrn$DPushLong(0);
    }
}

double RefUfo::Real() {
    Ufo* target = Target();
    return target ? target->Real() : 0.0;
}

int32_t RefUfo::Long() {
    Ufo* target = Target();
    return target ? target->Long() : 0;
}

void RefUfo::Clear(int32_t how) {
    if (Ufo* target = Target()) target->Clear(how);
}

bool RefUfo::Cleared() {
    Ufo* target = Target();
    return target ? target->Cleared() : true;
}

uint32_t RefUfo::Size() {
    Ufo* target = Target();
    return target ? target->Size() : 0;
}

// ---- Free-standing values ------------------------------------------------------------------------------

void ValueUfo::Assign(int32_t value) {
    is_real_ = false;
    long_ = value;
}

void ValueUfo::Assign(double value) {
    is_real_ = true;
    real_ = value;
}

int ValueUfo::Distincts(int32_t value) {
    return is_real_ ? CompareReals(real_, value) : Sign(static_cast<int64_t>(long_) - value);
}

void ValueUfo::Push() {
    if (is_real_) {
        Vrn$PushReal(real_);
    } else {
        Vrn$PushLong(long_);
    }
}

void ValueUfo::DPush() {
    if (is_real_) {
        Vrn$DPushReal(real_);
    } else {
        Vrn$DPushLong(long_);
    }
}

int32_t ValueUfo::Long() {
    return is_real_ ? static_cast<int32_t>(static_cast<uint32_t>(static_cast<uint64_t>(TruncateReal(real_)))) : long_;
}

void ValueUfo::Clear(int32_t how) {
    if (is_real_) {
        real_ = how > 0 ? kHighestReal : how < 0 ? -kHighestReal : 0.0;
    } else {
        long_ = how > 0 ? INT32_MAX : how < 0 ? INT32_MIN : 0;
    }
}

void ValueUfo::ToMem(VrnVmem* image) {
    WriteHeader(image, Type(), 0, Size());
    if (is_real_) {
        VmemWrite(image, &real_, sizeof real_);
    } else {
        VmemWrite(image, &long_, sizeof long_);
    }
}

void ValueUfo::FromMem(VrnVmem* image) {
    Header header;
    if (!ReadHeader(image, header)) {
        Clear(0);
        return;
    }
    AssignFromImage(this, image, header);
}

void ValueUfo::Add(Ufo* other) {
    if (!is_real_ && IsIntegerType(other->BaseType())) {
        long_ = static_cast<int32_t>(static_cast<uint32_t>(long_) + static_cast<uint32_t>(other->Long()));
    } else {
        Assign(Real() + other->Real());
    }
}

void ValueUfo::Divide(Ufo* other) {
    double divisor = other->Real();
    Assign(divisor == 0 ? 0.0 : Real() / divisor);
}

int StrValueUfo::Distincts(int32_t value) { return CompareReals(Real(), value); }

void StrValueUfo::Push() { PushCopy(text_); }

void StrValueUfo::Pop() { text_ = PopStdString(); }

void StrValueUfo::Clear(int32_t how) { std::fill(text_.begin(), text_.end(), how > 0 ? '\xFF' : how < 0 ? '\0' : ' '); }

bool StrValueUfo::Cleared() { return text_.find_first_not_of(' ') == std::string::npos; }

Ufo* StrValueUfo::Select(int32_t from, int32_t to) {
    int64_t length = static_cast<int64_t>(text_.size());
    int64_t first = std::min<int64_t>(std::max<int64_t>(from, 1), length + 1);
    int64_t last = std::min<int64_t>(to, length);
    return new StrValueUfo(last >= first ? text_.substr(first - 1, last - first + 1) : std::string());
}

void StrValueUfo::ToMem(VrnVmem* image) {
    WriteHeader(image, VRN_TYPE_STRING, 0, Size());
    VmemWrite(image, text_.data(), Size());
}

void StrValueUfo::FromMem(VrnVmem* image) {
    Header header;
    if (!ReadHeader(image, header)) {
        text_.clear();
        return;
    }
    if (header.type == VRN_TYPE_STRING) {
        std::string text(header.size, ' ');
        if (VmemRead(image, text.data(), header.size)) {
            text_ = std::move(text);
        } else {
            image->position = image->length;
            text_.clear();
        }
        return;
    }
    AssignFromImage(this, image, header);
}

// ---- Pictures and computed values ---------------------------------------------------------------------

PictureUfo::PictureUfo(Ufo* inner, const char* picture)
    : VarUfo(inner->Address(), inner->Size()), inner_(inner), picture_(picture ? picture : "") {}

void PictureUfo::SetAddress(void* address) {
    VarUfo::SetAddress(address);
    inner_->SetAddress(address);
}

void PictureUfoS::Push() {
    inner_->Push();
    Vrn$StackFORMAT(picture_.c_str());
}

void PictureUfoS::Pop() {
    Vrn$StackDEFORMAT(picture_.c_str());
    inner_->Pop();
}

void PictureUfoR::Push() { Vrn$PushPictReal(inner_->Real(), picture_.c_str()); }
void PictureUfoR::Pop() { inner_->Assign(Vrn$PopPictReal(picture_.c_str())); }

void PictureUfoD::Push() {
    inner_->DPush();
    Vrn$PushPictDec(picture_.c_str());
}

void PictureUfoD::Pop() {
    Vrn$DPushStringStackP(picture_.c_str());
    inner_->DPop();
}

void PictureUfoL::Push() { Vrn$PushPictLong(inner_->Long(), picture_.c_str()); }
void PictureUfoL::Pop() { inner_->Assign(Vrn$PopPictLong(picture_.c_str())); }

void ComputedUfo::Push() {
    if (push_) {
        push_(node_);
    } else {
        Vrn$PushString("", 0);
    }
}

// ---- Construction ----------------------------------------------------------------------------------------

Ufo* NewMemoryUfo(void* address, int type, uint32_t places, uint32_t size) {
    switch (type) {
        case VRN_TYPE_BYTE:
            return new ByteUfo(address);
        case VRN_TYPE_SHORT:
            return new ShortUfo(address);
        case VRN_TYPE_USHORT:
            return new UshortUfo(address);
        case VRN_TYPE_DATE:
            return new DateUfo(address);
        case VRN_TYPE_TIME:
            return new TimeUfo(address);
        case VRN_TYPE_LONG:
            return new LongUfo(address);
        case VRN_TYPE_ULONG:
            return new UlongUfo(address);
        case VRN_TYPE_SREAL:
            return new FloatUfo(address);
        case VRN_TYPE_REAL:
            return new RealUfo(address);
        case VRN_TYPE_BFLOAT4:
            return new Bfloat4Ufo(address);
        case VRN_TYPE_BFLOAT8:
            return new Bfloat8Ufo(address);
        case VRN_TYPE_DECIMAL:
            return new DecimalUfo(address, size, places);
        case VRN_TYPE_PDECIMAL:
            return new PdecimalUfo(address, size, places);
        case VRN_TYPE_STRING:
        case VRN_TYPE_STRING_CONSTANT:
            return new StringUfo(address, size);
        case VRN_TYPE_CSTRING:
            return new CstringUfo(address, size);
        case VRN_TYPE_PSTRING:
            return new PstringUfo(address, size);
        case VRN_TYPE_GROUP:
            return new GroupUfo(address, size, nullptr, 0, 0);
        case VRN_TYPE_ANY:
        case VRN_TYPE_REFERENCE:
            return new RefUfo(address, type);
        default:
            return nullptr;
    }
}

Ufo* FieldUfo(uint8_t* address, uint32_t size, uint32_t base_offset, const VrnFieldDesc* fields, uint32_t count,
              uint32_t index) {
    if (!address || !fields || index >= count) return nullptr;
    const VrnFieldDesc& field = fields[index];
    uint32_t width = FieldWidth(field), dimension = FieldDimension(field);
    if (field.offset < base_offset || field.offset - base_offset + static_cast<uint64_t>(width) * dimension > size) {
        return nullptr;
    }
    uint8_t* at = address + (field.offset - base_offset);
    Ufo* element;
    if (field.type == VRN_TYPE_GROUP) {
        uint32_t members = std::min(field.member_count, count - index - 1);
        element = new GroupUfo(at, width, fields + index + 1, members, field.offset);
    } else {
        element = NewMemoryUfo(at, field.type, field.places, width);
    }
    if (!element || dimension == 1) return element;
    return new ArrayUfo(element, dimension);
}

}  // namespace tarvex
