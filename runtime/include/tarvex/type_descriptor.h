/* SPDX-License-Identifier: GPL-3.0-or-later */
/* Value types and the type descriptor of records, groups and queues.
 *
 * Every variable and record field has a storage type named by a one-byte type code (VRN_TYPE_*).
 * A record (the RECORD of a FILE, a GROUP, a QUEUE structure) is described by a VrnTypeDesc: its
 * name, its field prefix, its length and a flat array of VrnFieldDesc in declaration order. The
 * runtime (CLEAR, queues, dynamic values, BIND) and the file drivers (key images, record
 * conversion) read this one format; it is static data that lives as long as the program.
 *
 * Walking a descriptor:
 *   - Field numbers are 1-based positions in `fields`; key components, WHAT, WHERE and queue keys
 *     all count this way.
 *   - `offset` is measured from the start of the described record, also for fields inside a
 *     nested group, so a driver never adds offsets up.
 *   - A nested GROUP is an entry of type VRN_TYPE_GROUP whose `size` covers the group and whose
 *     `member_count` entries that follow it are its members (members of groups inside it
 *     included). Code that wants the leaves skips group entries; code that wants the group as a
 *     whole (a string of `size` bytes) skips its members: `i += member_count`.
 *   - `size` is the width of one element in bytes: the declared length of STRING, CSTRING and
 *     PSTRING (terminator and length byte included), the bytes of a DECIMAL/PDECIMAL, the natural
 *     width of the others (Vrn$TypeSize). `places` counts decimal places. `dimension` is the
 *     number of elements (1 for a scalar); the elements follow each other, `size` bytes apart,
 *     multi-dimensional arrays flattened in row order.
 *   - `label` is the field's full name as programs write it ("PAT:LNAME"), a C string; `picture`
 *     the field's display picture ("@D12") or null.
 *
 * In C a descriptor is written out by hand:
 *
 *     static const VrnFieldDesc patient_fields[] = {
 *         {"PAT:PAT",   NULL, 0, 3, 1, 0, VRN_TYPE_DECIMAL, 0},
 *         {"PAT:LNAME", NULL, 3, 28, 1, 0, VRN_TYPE_STRING, 0},
 *         ...
 *     };
 *     static const VrnTypeDesc patient_type = {"Patient", "PAT", 148, 14, patient_fields};
 *
 * C++ programs declare a record once with TARVEX_RECORD (below): that one list gives both the
 * record's buffer type and its descriptor. */
#ifndef TARVEX_TYPE_DESCRIPTOR_H
#define TARVEX_TYPE_DESCRIPTOR_H

#include "tarvex/export.h"

/* Type codes. */
#define VRN_TYPE_BYTE 1
#define VRN_TYPE_SHORT 2
#define VRN_TYPE_USHORT 3
#define VRN_TYPE_DATE 4
#define VRN_TYPE_TIME 5
#define VRN_TYPE_LONG 6
#define VRN_TYPE_ULONG 7
#define VRN_TYPE_SREAL 8
#define VRN_TYPE_REAL 9
#define VRN_TYPE_DECIMAL 10
#define VRN_TYPE_PDECIMAL 11
#define VRN_TYPE_BFLOAT4 13
#define VRN_TYPE_BFLOAT8 14
#define VRN_TYPE_ANY 15              /* reference to a value of any type (ANY) */
#define VRN_TYPE_STRING 18
#define VRN_TYPE_CSTRING 19
#define VRN_TYPE_PSTRING 20
#define VRN_TYPE_GROUP 21            /* a GROUP: behaves as one STRING of its size */
#define VRN_TYPE_STRING_CONSTANT 22  /* a string the program does not change; handled as STRING */
#define VRN_TYPE_ARRAY 24            /* in bound-variable descriptors: an array */
#define VRN_TYPE_FIELD_REFERENCE 25  /* in bound-variable descriptors: a field reference */
#define VRN_TYPE_QUEUE 26            /* in bound-variable descriptors: a queue */
#define VRN_TYPE_STRING_REFERENCE 27 /* reference to a STRING */
#define VRN_TYPE_CSTRING_REFERENCE 28
#define VRN_TYPE_PSTRING_REFERENCE 29
#define VRN_TYPE_REFERENCE 31        /* reference variable (&type) */
#define VRN_TYPE_GROUP_REFERENCE 32
#define VRN_TYPE_QUEUE_REFERENCE 33
#define VRN_TYPE_FILE_REFERENCE 34
#define VRN_TYPE_KEY_REFERENCE 35
#define VRN_TYPE_WINDOW_REFERENCE 36

/* Value classes where only the family matters (binding). */
#define VRN_CLASS_INTEGER 1
#define VRN_CLASS_REAL 2
#define VRN_CLASS_STRING 4

typedef struct VrnTypeDesc VrnTypeDesc;

typedef struct VrnFieldDesc {
    const char* label;       /* "PAT:LNAME"; null for an unnamed field */
    const char* picture;     /* "@D12", or null */
    uint32_t offset;         /* from the start of the described record */
    uint32_t size;           /* bytes of one element */
    uint32_t dimension;      /* number of elements; 1 for a scalar (0 is read as 1) */
    uint32_t member_count;   /* VRN_TYPE_GROUP: entries after this one that belong to the group */
    uint8_t type;            /* VRN_TYPE_* */
    uint8_t places;          /* DECIMAL, PDECIMAL: decimal places */
} VrnFieldDesc;

struct VrnTypeDesc {
    const char* name;        /* the record's or group's own name, or null */
    const char* prefix;      /* "PAT", or null */
    uint32_t size;           /* record length in bytes */
    uint32_t field_count;
    const VrnFieldDesc* fields;
};

TARVEX_BEGIN_C

/* The width of a type code: 1, 2, 4 or 8; 0 when the declaration gives the size. Reference codes
 * (15, 31-36) are as wide as a native pointer. */
TARVEX_API uint32_t Vrn$TypeSize(int32_t type);
/* The value class of a type code: VRN_CLASS_INTEGER up to 6, VRN_CLASS_REAL for 7-17, else
 * VRN_CLASS_STRING. */
TARVEX_API int32_t Vrn$TypeClass(int32_t type);
/* = and <> between REAL values: 0 when a and b count as equal, else 1. */
TARVEX_API int32_t Vrn$realdistinct(double a, double b);

/* BFLOAT4 and BFLOAT8 images (4 and 8 bytes, byte for byte). */
TARVEX_API void Vrn$bstorefloat4(void* destination, double value);
TARVEX_API double Vrn$bloadfloat4(const void* source);
TARVEX_API void Vrn$bstorefloat(void* destination, double value);
TARVEX_API double Vrn$bloadfloat(const void* source);

/* CLEAR of a record or group: every field to its empty value (0), its highest (1) or its lowest
 * (-1). A null address or descriptor does nothing. */
TARVEX_API void Vrn$CLEAR(void* address, const VrnTypeDesc* type, int32_t value);
/* CLEAR of one DECIMAL (size in bytes) and of one variable of a fixed-width type code. */
TARVEX_API void Vrn$ClearDec(void* address, uint32_t size, uint32_t places, int32_t value);
TARVEX_API void Vrn$ClearType(void* address, int32_t type, int32_t value);
/* CLEAR of one field described by a field descriptor (all its elements). */
TARVEX_API void Vrn$ClearField(void* record, const VrnFieldDesc* field, int32_t value);

/* The 1-based number of the field with that label (compared without regard to case; a label
 * given without the prefix also matches), or 0. The label need not be zero-terminated. */
TARVEX_API uint32_t Vrn$FieldByLabel(const VrnTypeDesc* type, const char* label, uint32_t length);
/* WHERE: the 1-based number of the field stored at `field` inside the record at `record`
 * (the innermost field that starts there), or 0 when none does. */
TARVEX_API int32_t Vrn$WHERE(const void* record, const VrnTypeDesc* type, const void* field);

TARVEX_END_C

#ifdef __cplusplus
/* ---- Declaring a record in C++ ---------------------------------------------------------------------
 *
 *     #define PATIENT_FIELDS(FIELD)                 \
 *         FIELD(PAT,      DECIMAL(5, 0))            \
 *         FIELD(LNAME,    STRING(28))               \
 *         FIELD(BDATE,    STRING(8), "@D12")        \
 *         FIELD(VISITS,   LONG)                     \
 *         FIELD(NOWBALAN, DECIMAL(19, 2))
 *     TARVEX_RECORD(PatientRecord, "PAT", PATIENT_FIELDS)
 *
 * makes `struct PatientRecord` with one member per field, each of exactly its storage type and
 * width and with no padding between them (sizeof is the record length), and its descriptor
 * `PatientRecord::Type()`, whose labels are "PAT:PAT", "PAT:LNAME", ... Types: BYTE, SHORT, USHORT,
 * DATE, TIME, LONG, ULONG, SREAL, REAL, BFLOAT4, BFLOAT8, STRING(n), CSTRING(n), PSTRING(n),
 * DECIMAL(digits, places), PDECIMAL(digits, places) (digits as the 4GL declares them: the
 * storage is digits / 2 + 1 bytes). An optional third argument is the field's picture. */

#include <cstddef>
#include <cstring>

#include "tarvex/decimal.hpp"
#include "tarvex/strings.hpp"

namespace tarvex {

// Fixed-width numbers as record fields: the bytes of the storage type, read and written through
// copies, so a record never needs alignment padding.
namespace field {

template <class T, uint8_t Code>
class Number {
public:
    using ValueType = T;
    static constexpr uint8_t kType = Code;
    Number() = default;
    Number(T value) { std::memcpy(bytes_, &value, sizeof(T)); }   // NOLINT: a field takes values
    Number& operator=(T value) {
        std::memcpy(bytes_, &value, sizeof(T));
        return *this;
    }
    operator T() const {   // NOLINT: a field reads as its value
        T value;
        std::memcpy(&value, bytes_, sizeof(T));
        return value;
    }
    unsigned char* Bytes() { return bytes_; }
    const unsigned char* Bytes() const { return bytes_; }

private:
    unsigned char bytes_[sizeof(T)] = {};
};

using Byte = Number<uint8_t, VRN_TYPE_BYTE>;
using Short = Number<int16_t, VRN_TYPE_SHORT>;
using Ushort = Number<uint16_t, VRN_TYPE_USHORT>;
using Date = Number<int32_t, VRN_TYPE_DATE>;
using Time = Number<int32_t, VRN_TYPE_TIME>;
using Long = Number<int32_t, VRN_TYPE_LONG>;
using Ulong = Number<uint32_t, VRN_TYPE_ULONG>;
using Sreal = Number<float, VRN_TYPE_SREAL>;
using Real = Number<double, VRN_TYPE_REAL>;

}  // namespace field

namespace record_detail {

// What a descriptor needs to know of a member type.
template <class T>
struct FieldTraits;
template <class T, uint8_t Code>
struct FieldTraits<field::Number<T, Code>> {
    static constexpr uint8_t kType = Code;
    static constexpr uint32_t kSize = sizeof(T);
    static constexpr uint8_t kPlaces = 0;
};
template <uint32_t N>
struct FieldTraits<String<N>> {
    static constexpr uint8_t kType = VRN_TYPE_STRING;
    static constexpr uint32_t kSize = N;
    static constexpr uint8_t kPlaces = 0;
};
template <uint32_t N>
struct FieldTraits<CString<N>> {
    static constexpr uint8_t kType = VRN_TYPE_CSTRING;
    static constexpr uint32_t kSize = N;
    static constexpr uint8_t kPlaces = 0;
};
template <uint32_t N>
struct FieldTraits<PString<N>> {
    static constexpr uint8_t kType = VRN_TYPE_PSTRING;
    static constexpr uint32_t kSize = N;
    static constexpr uint8_t kPlaces = 0;
};
template <int N, int P>
struct FieldTraits<Decimal<N, P>> {
    static constexpr uint8_t kType = VRN_TYPE_DECIMAL;
    static constexpr uint32_t kSize = N / 2 + 1;
    static constexpr uint8_t kPlaces = P;
};
template <int N, int P>
struct FieldTraits<PDecimal<N, P>> {
    static constexpr uint8_t kType = VRN_TYPE_PDECIMAL;
    static constexpr uint32_t kSize = N / 2 + 1;
    static constexpr uint8_t kPlaces = P;
};

// Four or eight bytes of a BFLOAT image.
template <uint8_t Code, uint32_t Size>
struct BfloatBytes {
    unsigned char bytes[Size] = {};
};
template <uint8_t Code, uint32_t Size>
struct FieldTraits<BfloatBytes<Code, Size>> {
    static constexpr uint8_t kType = Code;
    static constexpr uint32_t kSize = Size;
    static constexpr uint8_t kPlaces = 0;
};

// A string usable as a template argument, for labels made at compile time.
template <size_t N>
struct FixedText {
    char text[N] = {};
    constexpr FixedText(const char (&source)[N]) {   // NOLINT: built from literals
        for (size_t i = 0; i < N; i++) text[i] = source[i];
    }
};

// "PREFIX:NAME" in static storage (just "NAME" without a prefix).
template <FixedText Prefix, FixedText Name>
struct Label {
    static constexpr size_t kPrefixLength = sizeof(Prefix.text) - 1;
    static constexpr size_t kLength = kPrefixLength + (kPrefixLength ? 1 : 0) + sizeof(Name.text) - 1;
    static constexpr auto Make() {
        struct Text {
            char text[kLength + 1] = {};
        } out;
        size_t at = 0;
        for (size_t i = 0; i < kPrefixLength; i++) out.text[at++] = Prefix.text[i];
        if (kPrefixLength) out.text[at++] = ':';
        for (size_t i = 0; i + 1 < sizeof(Name.text); i++) out.text[at++] = Name.text[i];
        return out;
    }
    static constexpr auto kValue = Make();
};

constexpr const char* PictureOf() { return nullptr; }
constexpr const char* PictureOf(const char* picture) { return picture; }

template <class T>
constexpr VrnFieldDesc MakeField(const char* label, size_t offset, const char* picture) {
    static_assert(sizeof(T) == FieldTraits<T>::kSize, "a field must have exactly its storage width");
    return VrnFieldDesc{label,
                        picture,
                        static_cast<uint32_t>(offset),
                        FieldTraits<T>::kSize,
                        1,
                        0,
                        FieldTraits<T>::kType,
                        FieldTraits<T>::kPlaces};
}

}  // namespace record_detail
}  // namespace tarvex

/* Storage types by their 4GL names; TARVEX_RECORD pastes these onto the type given in a field. */
#define TARVEX_RECORD_TYPE_BYTE ::tarvex::field::Byte
#define TARVEX_RECORD_TYPE_SHORT ::tarvex::field::Short
#define TARVEX_RECORD_TYPE_USHORT ::tarvex::field::Ushort
#define TARVEX_RECORD_TYPE_DATE ::tarvex::field::Date
#define TARVEX_RECORD_TYPE_TIME ::tarvex::field::Time
#define TARVEX_RECORD_TYPE_LONG ::tarvex::field::Long
#define TARVEX_RECORD_TYPE_ULONG ::tarvex::field::Ulong
#define TARVEX_RECORD_TYPE_SREAL ::tarvex::field::Sreal
#define TARVEX_RECORD_TYPE_REAL ::tarvex::field::Real
#define TARVEX_RECORD_TYPE_BFLOAT4 ::tarvex::record_detail::BfloatBytes<VRN_TYPE_BFLOAT4, 4>
#define TARVEX_RECORD_TYPE_BFLOAT8 ::tarvex::record_detail::BfloatBytes<VRN_TYPE_BFLOAT8, 8>
#define TARVEX_RECORD_TYPE_STRING(n) ::tarvex::String<n>
#define TARVEX_RECORD_TYPE_CSTRING(n) ::tarvex::CString<n>
#define TARVEX_RECORD_TYPE_PSTRING(n) ::tarvex::PString<n>
#define TARVEX_RECORD_TYPE_DECIMAL(digits, places) ::tarvex::Decimal<digits, places>
#define TARVEX_RECORD_TYPE_PDECIMAL(digits, places) ::tarvex::PDecimal<digits, places>

#define TARVEX_RECORD_MEMBER_(name, type, ...) TARVEX_RECORD_TYPE_##type name;
#define TARVEX_RECORD_FIELD_(name, type, ...)                                                      \
    ::tarvex::record_detail::MakeField<TARVEX_RECORD_TYPE_##type>(                                 \
        ::tarvex::record_detail::Label<RecordPrefix_, #name>::kValue.text, offsetof(Record_, name), \
        ::tarvex::record_detail::PictureOf(__VA_ARGS__)),

#define TARVEX_RECORD(Name, prefix, FIELDS)                                                        \
    struct Name {                                                                                  \
        FIELDS(TARVEX_RECORD_MEMBER_)                                                              \
        static const VrnTypeDesc& Type();                                                          \
    };                                                                                             \
    static_assert(alignof(Name) == 1, "record fields must be byte-packed");                       \
    struct Name##TypeDescriptor_ {                                                                 \
        using Record_ = Name;                                                                      \
        static constexpr ::tarvex::record_detail::FixedText<sizeof(prefix)> RecordPrefix_{prefix}; \
        static constexpr VrnFieldDesc kFields[] = {FIELDS(TARVEX_RECORD_FIELD_)};                  \
        static constexpr VrnTypeDesc kType = {#Name, prefix, sizeof(Name),                        \
                                              sizeof(kFields) / sizeof(kFields[0]), kFields};      \
    };                                                                                             \
    inline const VrnTypeDesc& Name::Type() { return Name##TypeDescriptor_::kType; }

#endif /* __cplusplus */

#endif
