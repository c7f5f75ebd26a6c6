// SPDX-License-Identifier: GPL-3.0-or-later
// Value types: the widths and classes of the type codes, the tolerant comparison of REAL values,
// the BFLOAT4/BFLOAT8 images, CLEAR of variables, records and groups through their type
// descriptors, and finding fields by label or by address.
#include "core/ufo_types.h"

#include <algorithm>
#include <cfloat>
#include <climits>
#include <cstring>

#include "core/decimal.h"
#include "tarvex/string_stack.h"

namespace tarvex {
namespace {

constexpr double kHighestReal = 1.7976931348623101e+308;

int BiasedExponent(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    int exponent = static_cast<int>((bits >> 52) & 0x7FF);
    return exponent == 0 ? 1023 : exponent;   // zero and subnormals count as 1.0 does
}

template <class T>
void StoreNumber(void* address, T value) {
    std::memcpy(address, &value, sizeof value);
}

bool IsReferenceType(int32_t type) {
    return type == VRN_TYPE_ANY || (type >= VRN_TYPE_STRING_REFERENCE && type <= VRN_TYPE_PSTRING_REFERENCE) ||
           (type >= VRN_TYPE_REFERENCE && type <= VRN_TYPE_WINDOW_REFERENCE);
}

char UpperAscii(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

bool SameLabel(const char* label, size_t label_length, const char* text, size_t length) {
    if (label_length != length) return false;
    for (size_t i = 0; i < length; i++) {
        if (UpperAscii(label[i]) != UpperAscii(text[i])) return false;
    }
    return true;
}

}  // namespace

void ClearValue(void* address, uint8_t type, uint32_t size, uint8_t places, int32_t value) {
    (void)places;
    if (!address) return;
    int direction = value > 0 ? 1 : value < 0 ? -1 : 0;
    switch (type) {
        case VRN_TYPE_BYTE:
            StoreNumber<uint8_t>(address, direction > 0 ? UINT8_MAX : 0);
            break;
        case VRN_TYPE_SHORT:
            StoreNumber<int16_t>(address, direction > 0 ? INT16_MAX : direction < 0 ? INT16_MIN : 0);
            break;
        case VRN_TYPE_USHORT:
            StoreNumber<uint16_t>(address, direction > 0 ? UINT16_MAX : 0);
            break;
        case VRN_TYPE_DATE:
        case VRN_TYPE_TIME:
        case VRN_TYPE_LONG:
            StoreNumber<int32_t>(address, direction > 0 ? INT32_MAX : direction < 0 ? INT32_MIN : 0);
            break;
        case VRN_TYPE_ULONG:
            StoreNumber<uint32_t>(address, direction > 0 ? UINT32_MAX : 0);
            break;
        case VRN_TYPE_SREAL:
            StoreNumber<float>(address, direction > 0 ? FLT_MAX : direction < 0 ? -FLT_MAX : 0.0f);
            break;
        case VRN_TYPE_REAL:
            StoreNumber<double>(address, direction * kHighestReal);
            break;
        case VRN_TYPE_BFLOAT4:
            Vrn$bstorefloat4(address, direction * kHighestReal);
            break;
        case VRN_TYPE_BFLOAT8:
            Vrn$bstorefloat(address, direction * kHighestReal);
            break;
        case VRN_TYPE_DECIMAL: {
            if (size == 0) break;
            auto* bytes = static_cast<uint8_t*>(address);
            if (direction == 0) {
                std::memset(bytes, 0, size);
            } else {
                std::memset(bytes, 0x99, size);
                bytes[0] = direction > 0 ? 0x09 : 0x89;
            }
            break;
        }
        case VRN_TYPE_PDECIMAL: {
            if (size == 0) break;
            auto* bytes = static_cast<uint8_t*>(address);
            std::memset(bytes, direction == 0 ? 0x00 : 0x99, size);
            bytes[size - 1] = static_cast<uint8_t>((bytes[size - 1] & 0xF0) | (direction < 0 ? 0x0D : 0x0F));
            break;
        }
        case VRN_TYPE_STRING:
        case VRN_TYPE_STRING_CONSTANT:
        case VRN_TYPE_GROUP:
            Vrn$storestr(static_cast<char*>(address), size, nullptr, direction);
            break;
        case VRN_TYPE_CSTRING:
            Vrn$storecstr(static_cast<char*>(address), size, nullptr, direction);
            break;
        case VRN_TYPE_PSTRING:
            Vrn$storepstr(static_cast<unsigned char*>(address), size, nullptr, direction);
            break;
        default:
            if (IsReferenceType(type)) std::memset(address, 0, sizeof(void*));
            break;
    }
}

uint32_t FieldWidth(const VrnFieldDesc& field) {
    uint32_t size = field.size ? field.size : Vrn$TypeSize(field.type);
    return size;
}

uint32_t FieldDimension(const VrnFieldDesc& field) { return field.dimension ? field.dimension : 1; }

bool FieldFits(const VrnTypeDesc& type, const VrnFieldDesc& field) {
    uint64_t end = static_cast<uint64_t>(field.offset) +
                   static_cast<uint64_t>(FieldWidth(field)) * FieldDimension(field);
    return end <= type.size;
}

void ClearFieldElements(void* record, const VrnFieldDesc& field, int32_t value) {
    auto* base = static_cast<uint8_t*>(record) + field.offset;
    uint32_t width = FieldWidth(field);
    uint32_t count = FieldDimension(field);
    for (uint32_t i = 0; i < count; i++) {
        ClearValue(base + static_cast<size_t>(i) * width, field.type, width, field.places, value);
    }
}

}  // namespace tarvex

using namespace tarvex;

extern "C" {

TARVEX_API uint32_t Vrn$TypeSize(int32_t type) {
    switch (type) {
        case VRN_TYPE_BYTE:
            return 1;
        case VRN_TYPE_SHORT:
        case VRN_TYPE_USHORT:
            return 2;
        case VRN_TYPE_DATE:
        case VRN_TYPE_TIME:
        case VRN_TYPE_LONG:
        case VRN_TYPE_ULONG:
        case VRN_TYPE_SREAL:
        case VRN_TYPE_BFLOAT4:
            return 4;
        case VRN_TYPE_REAL:
        case VRN_TYPE_BFLOAT8:
            return 8;
        default:
            return IsReferenceType(type) && type != VRN_TYPE_STRING_REFERENCE && type != VRN_TYPE_CSTRING_REFERENCE &&
                           type != VRN_TYPE_PSTRING_REFERENCE
                       ? static_cast<uint32_t>(sizeof(void*))
                       : 0;
    }
}

TARVEX_API int32_t Vrn$TypeClass(int32_t type) {
    if (type <= VRN_TYPE_LONG) return VRN_CLASS_INTEGER;
    if (type <= 17) return VRN_CLASS_REAL;
    return VRN_CLASS_STRING;
}

TARVEX_API int32_t Vrn$realdistinct(double a, double b) {
    double difference = b - a;
    if (difference == 0) return 0;
    int exponent = BiasedExponent(difference);
    if (exponent + 50 < BiasedExponent(a) || exponent + 50 < BiasedExponent(b)) return 0;
    return 1;
}

// BFLOAT4: byte 3 exponent (bias 129, 0 = the value 0), byte 2 bit 7 sign, then 23 mantissa bits
// below the implied leading 1. BFLOAT8 the same with byte 7 the exponent and 55 mantissa bits.
// Rebiasing from a double: MBF exponent = IEEE exponent - 1023 + 129. Low mantissa bits are
// dropped, not rounded. A value too small for the 8-bit exponent becomes 0 instead of wrapping.
TARVEX_API void Vrn$bstorefloat4(void* destination, double value) {
    if (!destination) return;
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    auto* out = static_cast<uint8_t*>(destination);
    int64_t exponent = static_cast<int64_t>((bits >> 52) & 0x7FF) - 894;
    if ((bits >> 48) == 0 || exponent <= 0) {
        std::memset(out, 0, 4);
        return;
    }
    if (exponent > 255) exponent = 255;
    uint32_t mantissa = static_cast<uint32_t>((bits >> 29) & 0x7FFFFF);
    uint32_t sign = static_cast<uint32_t>(bits >> 63);
    uint32_t image = mantissa | (sign << 23) | (static_cast<uint32_t>(exponent) << 24);
    for (int i = 0; i < 4; i++) out[i] = static_cast<uint8_t>(image >> (8 * i));
}

TARVEX_API double Vrn$bloadfloat4(const void* source) {
    if (!source) return 0.0;
    const auto* in = static_cast<const uint8_t*>(source);
    uint32_t image = 0;
    for (int i = 0; i < 4; i++) image |= static_cast<uint32_t>(in[i]) << (8 * i);
    uint32_t exponent = image >> 24;
    if (exponent == 0) return 0.0;
    uint64_t sign = (image >> 23) & 1;
    uint64_t mantissa = image & 0x7FFFFF;
    uint64_t bits = (sign << 63) | (static_cast<uint64_t>(exponent + 894) << 52) | (mantissa << 29);
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

TARVEX_API void Vrn$bstorefloat(void* destination, double value) {
    if (!destination) return;
    uint64_t bits;
    std::memcpy(&bits, &value, sizeof bits);
    auto* out = static_cast<uint8_t*>(destination);
    int64_t exponent = static_cast<int64_t>((bits >> 52) & 0x7FF) - 894;
    if ((bits >> 48) == 0 || exponent <= 0) {
        std::memset(out, 0, 8);
        return;
    }
    if (exponent > 255) exponent = 255;
    uint64_t mantissa = (bits & 0xFFFFFFFFFFFFFull) << 3;   // 52 bits into the 55-bit field
    uint64_t sign = bits >> 63;
    uint64_t image = mantissa | (sign << 55) | (static_cast<uint64_t>(exponent) << 56);
    for (int i = 0; i < 8; i++) out[i] = static_cast<uint8_t>(image >> (8 * i));
}

TARVEX_API double Vrn$bloadfloat(const void* source) {
    if (!source) return 0.0;
    const auto* in = static_cast<const uint8_t*>(source);
    uint64_t image = 0;
    for (int i = 0; i < 8; i++) image |= static_cast<uint64_t>(in[i]) << (8 * i);
    uint64_t exponent = image >> 56;
    if (exponent == 0) return 0.0;
    uint64_t sign = (image >> 55) & 1;
    uint64_t mantissa = (image & 0x7FFFFFFFFFFFFFull) >> 3;
    uint64_t bits = (sign << 63) | ((exponent + 894) << 52) | mantissa;
    double value;
    std::memcpy(&value, &bits, sizeof value);
    return value;
}

TARVEX_API void Vrn$CLEAR(void* address, const VrnTypeDesc* type, int32_t value) {
    if (!address || !type || !type->fields) return;
    for (uint32_t i = 0; i < type->field_count; i++) {
        const VrnFieldDesc& field = type->fields[i];
        // A described group is cleared through its members; a group without members as a string.
        if (field.type == VRN_TYPE_GROUP && field.member_count != 0) continue;
        if (!FieldFits(*type, field)) continue;
        ClearFieldElements(address, field, value);
    }
}

TARVEX_API void Vrn$ClearDec(void* address, uint32_t size, uint32_t places, int32_t value) {
    ClearValue(address, VRN_TYPE_DECIMAL, size, static_cast<uint8_t>(places), value);
}

TARVEX_API void Vrn$ClearType(void* address, int32_t type, int32_t value) {
    uint32_t size = Vrn$TypeSize(type);
    if (size == 0) return;   // a type whose size the declaration gives cannot be cleared by code alone
    ClearValue(address, static_cast<uint8_t>(type), size, 0, value);
}

TARVEX_API void Vrn$ClearField(void* record, const VrnFieldDesc* field, int32_t value) {
    if (!record || !field) return;
    ClearFieldElements(record, *field, value);
}

TARVEX_API uint32_t Vrn$FieldByLabel(const VrnTypeDesc* type, const char* label, uint32_t length) {
    if (!type || !type->fields || !label) return 0;
    for (uint32_t i = 0; i < type->field_count; i++) {
        const char* own = type->fields[i].label;
        if (own && SameLabel(own, std::strlen(own), label, length)) return i + 1;
    }
    // Without its prefix: "LNAME" finds "PAT:LNAME".
    size_t prefix_length = type->prefix ? std::strlen(type->prefix) : 0;
    if (prefix_length == 0) return 0;
    for (uint32_t i = 0; i < type->field_count; i++) {
        const char* own = type->fields[i].label;
        if (!own) continue;
        size_t own_length = std::strlen(own);
        if (own_length <= prefix_length + 1 || own[prefix_length] != ':' ||
            !SameLabel(own, prefix_length, type->prefix, prefix_length)) {
            continue;
        }
        if (SameLabel(own + prefix_length + 1, own_length - prefix_length - 1, label, length)) return i + 1;
    }
    return 0;
}

TARVEX_API int32_t Vrn$WHERE(const void* record, const VrnTypeDesc* type, const void* field) {
    if (!record || !type || !type->fields || !field) return 0;
    auto at = reinterpret_cast<uintptr_t>(field);
    auto base = reinterpret_cast<uintptr_t>(record);
    if (at < base) return 0;
    uint64_t offset = at - base;
    int32_t found = 0;
    for (uint32_t i = 0; i < type->field_count; i++) {
        const VrnFieldDesc& entry = type->fields[i];
        uint64_t end = entry.offset + static_cast<uint64_t>(FieldWidth(entry)) * FieldDimension(entry);
        if (offset >= entry.offset && offset < end) found = static_cast<int32_t>(i + 1);   // innermost wins
    }
    return found;
}

}  // extern "C"
