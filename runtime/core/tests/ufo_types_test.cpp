// SPDX-License-Identifier: GPL-3.0-or-later
// Value types: widths of the type codes, the tolerant REAL comparison, BFLOAT images byte for byte,
// CLEAR of records and groups for 0, 1 and -1, fields by label and by address, and a record of the
// data dictionary declared with TARVEX_RECORD.
#include <gtest/gtest.h>

#include <cmath>
#include <cstring>
#include <limits>
#include <random>
#include <string>
#include <vector>

#include "tarvex/frame.h"
#include "tarvex/type_descriptor.h"

namespace {

#define PATIENT_FIELDS(FIELD)               \
    FIELD(PAT, DECIMAL(5, 0))               \
    FIELD(LNAME, STRING(28))                \
    FIELD(BDATE, STRING(8), "@D12")         \
    FIELD(SEX, STRING(1))                   \
    FIELD(ADD1, STRING(28))                 \
    FIELD(ADD2, STRING(24))                 \
    FIELD(ADD3, STRING(3))                  \
    FIELD(ADD4, STRING(12))                 \
    FIELD(HAREA, STRING(3))                 \
    FIELD(HPHON, STRING(8))                 \
    FIELD(WAREA, STRING(3))                 \
    FIELD(WPHON, STRING(8))                 \
    FIELD(SSN, STRING(9), "@P#########P")   \
    FIELD(NOWBALAN, DECIMAL(19, 2))
TARVEX_RECORD(PatientRecord, "PAT", PATIENT_FIELDS)

// One field of every fixed and declared type.
#define EVERY_TYPE_FIELDS(FIELD)  \
    FIELD(B, BYTE)                \
    FIELD(S, SHORT)               \
    FIELD(U, USHORT)              \
    FIELD(D, DATE)                \
    FIELD(T, TIME)                \
    FIELD(L, LONG)                \
    FIELD(UL, ULONG)              \
    FIELD(F, SREAL)               \
    FIELD(R, REAL)                \
    FIELD(DEC, DECIMAL(5, 2))     \
    FIELD(PDEC, PDECIMAL(5, 2))   \
    FIELD(B4, BFLOAT4)            \
    FIELD(B8, BFLOAT8)            \
    FIELD(STR, STRING(4))         \
    FIELD(CSTR, CSTRING(4))       \
    FIELD(PSTR, PSTRING(4))
TARVEX_RECORD(EveryType, "E", EVERY_TYPE_FIELDS)

std::vector<uint8_t> Bytes(const void* address, size_t size) {
    const auto* bytes = static_cast<const uint8_t*>(address);
    return std::vector<uint8_t>(bytes, bytes + size);
}

TEST(ValueTypes, TypeSizeOfEveryCode) {
    const uint32_t expected[] = {0, 1, 2, 2, 4, 4, 4, 4, 4, 8, 0, 0, 0, 4, 8, sizeof(void*), 0, 0, 0, 0, 0};
    for (int32_t code = 0; code <= 20; code++) {
        SCOPED_TRACE(code);
        EXPECT_EQ(Vrn$TypeSize(code), expected[code]);
    }
    for (int32_t code = VRN_TYPE_REFERENCE; code <= VRN_TYPE_WINDOW_REFERENCE; code++) {
        EXPECT_EQ(Vrn$TypeSize(code), sizeof(void*));
    }
    EXPECT_EQ(Vrn$TypeSize(-1), 0u);
    EXPECT_EQ(Vrn$TypeSize(255), 0u);
    EXPECT_EQ(Vrn$TypeClass(VRN_TYPE_LONG), VRN_CLASS_INTEGER);
    EXPECT_EQ(Vrn$TypeClass(VRN_TYPE_ULONG), VRN_CLASS_REAL);
    EXPECT_EQ(Vrn$TypeClass(VRN_TYPE_PDECIMAL), VRN_CLASS_REAL);
    EXPECT_EQ(Vrn$TypeClass(VRN_TYPE_STRING), VRN_CLASS_STRING);
}

TEST(ValueTypes, RealDistinctToleratesOnlyTheLastBits) {
    struct Case {
        double a, b;
        int32_t distinct;
    } cases[] = {
        {1.0, 1.0, 0},
        {0.0, 0.0, 0},
        {1.0, 1.0 + std::ldexp(1.0, -52), 0},   // the last bit
        {1.0, 1.0 + std::ldexp(1.0, -51), 0},   // 51 below: equal
        {1.0, 1.0 + std::ldexp(1.0, -50), 1},   // exactly 50 below: distinct
        {1.0, 1.0 + std::ldexp(1.0, -49), 1},
        {0.1 + 0.2, 0.3, 0},
        {1.0, 2.0, 1},
        {0.0, 1e-300, 0},   // zero counts with the exponent of 1.0, far above 1e-300
        {0.0, 1e-14, 1},
        {1e300, std::nextafter(1e300, 2e300), 0},
        {-5.0, 5.0, 1},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::to_string(c.a) + " " + std::to_string(c.b));
        EXPECT_EQ(Vrn$realdistinct(c.a, c.b), c.distinct);
    }
}

TEST(ValueTypes, Bfloat4ImagesByteForByte) {
    struct Case {
        double value;
        uint8_t bytes[4];
    } cases[] = {
        {1.0, {0x00, 0x00, 0x00, 0x81}},
        {-1.0, {0x00, 0x00, 0x80, 0x81}},
        {0.0, {0x00, 0x00, 0x00, 0x00}},
        {-0.0, {0x00, 0x00, 0x00, 0x00}},
        {0.5, {0x00, 0x00, 0x00, 0x80}},
        {10.0, {0x00, 0x00, 0x20, 0x84}},
        {-3.0, {0x00, 0x00, 0xC0, 0x82}},
        {0.1, {0xCC, 0xCC, 0x4C, 0x7D}},     // mantissa cut, not rounded (...CD would be rounded)
        {1e300, {0xE4, 0x21, 0x3F, 0xFF}},   // exponent clamped at 255, mantissa kept
        {1e-300, {0x00, 0x00, 0x00, 0x00}},  // too small: 0
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        uint8_t image[4] = {0x55, 0x55, 0x55, 0x55};
        Vrn$bstorefloat4(image, c.value);
        EXPECT_EQ(Bytes(image, 4), Bytes(c.bytes, 4));
    }
    uint8_t image[4];
    for (double value : {1.0, -1.0, 0.5, 10.0, -3.0, 1234.5, -0.015625}) {
        Vrn$bstorefloat4(image, value);
        EXPECT_EQ(Vrn$bloadfloat4(image), value);
    }
    // 0.1 comes back with the dropped bits missing, below the value.
    Vrn$bstorefloat4(image, 0.1);
    EXPECT_LT(Vrn$bloadfloat4(image), 0.1);
    EXPECT_NEAR(Vrn$bloadfloat4(image), 0.1, 1e-8);
    const uint8_t zero_exponent[4] = {0x12, 0x34, 0x56, 0x00};
    EXPECT_EQ(Vrn$bloadfloat4(zero_exponent), 0.0);
}

TEST(ValueTypes, Bfloat8ImagesByteForByte) {
    struct Case {
        double value;
        uint8_t bytes[8];
    } cases[] = {
        {1.0, {0, 0, 0, 0, 0, 0, 0x00, 0x81}},
        {-1.0, {0, 0, 0, 0, 0, 0, 0x80, 0x81}},
        {0.0, {0, 0, 0, 0, 0, 0, 0x00, 0x00}},
        {10.0, {0, 0, 0, 0, 0, 0, 0x20, 0x84}},
        {0.1, {0xD0, 0xCC, 0xCC, 0xCC, 0xCC, 0xCC, 0x4C, 0x7D}},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value);
        uint8_t image[8];
        std::memset(image, 0x55, sizeof image);
        Vrn$bstorefloat(image, c.value);
        EXPECT_EQ(Bytes(image, 8), Bytes(c.bytes, 8));
    }
    // Every double in range comes back exactly: 52 mantissa bits fit in 55.
    std::mt19937_64 random(7);
    std::uniform_real_distribution<double> spread(-1e30, 1e30);
    uint8_t image[8];
    for (int i = 0; i < 1000; i++) {
        double value = spread(random);
        Vrn$bstorefloat(image, value);
        ASSERT_EQ(Vrn$bloadfloat(image), value);
    }
}

TEST(ValueTypes, ClearSetsEveryTypeToEmptyHighestAndLowest) {
    EveryType record;
    const VrnTypeDesc& type = EveryType::Type();
    ASSERT_EQ(type.size, sizeof(EveryType));

    std::memset(static_cast<void*>(&record), 0x5A, sizeof record);
    Vrn$CLEAR(&record, &type, 0);
    EXPECT_EQ(record.B, 0);
    EXPECT_EQ(record.S, 0);
    EXPECT_EQ(record.L, 0);
    EXPECT_EQ(record.R, 0.0);
    EXPECT_EQ(Bytes(record.DEC.Bytes(), 3), (std::vector<uint8_t>{0x00, 0x00, 0x00}));
    EXPECT_EQ(Bytes(record.PDEC.Bytes(), 3), (std::vector<uint8_t>{0x00, 0x00, 0x0F}));
    EXPECT_EQ(Bytes(&record.B4, 4), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(Bytes(&record.STR, 4), (std::vector<uint8_t>{' ', ' ', ' ', ' '}));
    EXPECT_EQ(Bytes(&record.CSTR, 1), (std::vector<uint8_t>{0}));
    EXPECT_EQ(Bytes(&record.PSTR, 1), (std::vector<uint8_t>{0}));

    Vrn$CLEAR(&record, &type, 1);
    EXPECT_EQ(record.B, 255);
    EXPECT_EQ(record.S, 32767);
    EXPECT_EQ(record.U, 65535);
    EXPECT_EQ(record.D, 2147483647);
    EXPECT_EQ(record.L, 2147483647);
    EXPECT_EQ(record.UL, 4294967295u);
    EXPECT_EQ(record.F, std::numeric_limits<float>::max());
    EXPECT_EQ(record.R, 1.7976931348623101e+308);
    EXPECT_NE(record.R, std::numeric_limits<double>::max());
    EXPECT_EQ(Bytes(record.DEC.Bytes(), 3), (std::vector<uint8_t>{0x09, 0x99, 0x99}));
    EXPECT_EQ(Bytes(record.PDEC.Bytes(), 3), (std::vector<uint8_t>{0x99, 0x99, 0x9F}));
    EXPECT_EQ(Bytes(&record.STR, 4), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(Bytes(&record.CSTR, 4), (std::vector<uint8_t>{0xFF, 0xFF, 0xFF, 0x00}));
    EXPECT_EQ(Bytes(&record.PSTR, 4), (std::vector<uint8_t>{3, 0xFF, 0xFF, 0xFF}));
    EXPECT_EQ(record.B4.bytes[3], 0xFF);
    EXPECT_EQ(record.B4.bytes[2] & 0x80, 0);

    Vrn$CLEAR(&record, &type, -1);
    EXPECT_EQ(record.B, 0);
    EXPECT_EQ(record.S, -32768);
    EXPECT_EQ(record.U, 0);
    EXPECT_EQ(record.L, -2147483647 - 1);
    EXPECT_EQ(record.UL, 0u);
    EXPECT_EQ(record.R, -1.7976931348623101e+308);
    EXPECT_EQ(Bytes(record.DEC.Bytes(), 3), (std::vector<uint8_t>{0x89, 0x99, 0x99}));
    EXPECT_EQ(Bytes(record.PDEC.Bytes(), 3), (std::vector<uint8_t>{0x99, 0x99, 0x9D}));
    EXPECT_EQ(Bytes(&record.STR, 4), (std::vector<uint8_t>{0, 0, 0, 0}));
    EXPECT_EQ(Bytes(&record.CSTR, 1), (std::vector<uint8_t>{0}));
    EXPECT_EQ(Bytes(&record.PSTR, 4), (std::vector<uint8_t>{3, 0, 0, 0}));
    EXPECT_EQ(record.B4.bytes[2] & 0x80, 0x80);
    // The decimals read back as the largest and smallest values of DECIMAL(5,2).
    EXPECT_EQ(record.DEC.Text(), "-999.99");
    EXPECT_EQ(record.PDEC.Text(), "-999.99");
}

// A hand-written C descriptor with a nested group and an array: group entries are cleared
// through their members, array elements one by one, and fields outside the record are skipped.
TEST(ValueTypes, ClearWalksGroupsArraysAndSkipsFieldsOutsideTheRecord) {
    static const VrnFieldDesc fields[] = {
        {"G:NAME", nullptr, 0, 4, 1, 0, VRN_TYPE_STRING, 0},
        {"G:INNER", nullptr, 4, 12, 1, 2, VRN_TYPE_GROUP, 0},
        {"G:COUNTS", nullptr, 4, 2, 3, 0, VRN_TYPE_SHORT, 0},
        {"G:CODE", nullptr, 10, 6, 1, 0, VRN_TYPE_CSTRING, 0},
        {"G:OPAQUE", nullptr, 16, 2, 1, 0, VRN_TYPE_GROUP, 0},
        {"G:BEYOND", nullptr, 18, 8, 1, 0, VRN_TYPE_REAL, 0},
    };
    static const VrnTypeDesc type = {"G", "G", 20, 6, fields};
    // The record is the first 24 bytes of a larger buffer, so an address past it stays valid.
    uint8_t storage[32];
    uint8_t* record = storage;
    std::memset(storage, 0x77, sizeof storage);
    Vrn$CLEAR(record, &type, 1);
    const std::vector<uint8_t> expected = {0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x7F, 0xFF, 0x7F, 0xFF, 0x7F,
                                           0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0x00, 0xFF, 0xFF, 0x77, 0x77,
                                           0x77, 0x77, 0x77, 0x77};
    EXPECT_EQ(Bytes(record, 24), expected);
    Vrn$CLEAR(nullptr, &type, 0);
    Vrn$CLEAR(record, nullptr, 0);

    EXPECT_EQ(Vrn$WHERE(record, &type, record + 6), 3);    // inside the array, inside the group
    EXPECT_EQ(Vrn$WHERE(record, &type, record + 12), 4);
    EXPECT_EQ(Vrn$WHERE(record, &type, record + 17), 5);
    EXPECT_EQ(Vrn$WHERE(record, &type, record + 30), 0);
    EXPECT_EQ(Vrn$WHERE(record + 1, &type, record), 0);
}

TEST(ValueTypes, ClearOfSingleVariables) {
    uint8_t decimal[4];
    Vrn$ClearDec(decimal, 4, 2, 1);
    EXPECT_EQ(Bytes(decimal, 4), (std::vector<uint8_t>{0x09, 0x99, 0x99, 0x99}));
    Vrn$ClearDec(decimal, 4, 2, 0);
    EXPECT_EQ(Bytes(decimal, 4), (std::vector<uint8_t>{0, 0, 0, 0}));
    int32_t long_value = 5;
    Vrn$ClearType(&long_value, VRN_TYPE_LONG, -1);
    EXPECT_EQ(long_value, INT32_MIN);
    double real_value = 5;
    Vrn$ClearType(&real_value, VRN_TYPE_REAL, 1);
    EXPECT_EQ(real_value, 1.7976931348623101e+308);
    char text[3] = {'a', 'b', 'c'};
    Vrn$ClearType(text, VRN_TYPE_STRING, 0);   // the size is unknown: nothing is touched
    EXPECT_EQ(std::string(text, 3), "abc");
}

TEST(ValueTypes, DataDictionaryRecordDeclaredOnce) {
    const VrnTypeDesc& type = PatientRecord::Type();
    EXPECT_EQ(sizeof(PatientRecord), 148u);
    EXPECT_EQ(type.size, 148u);
    EXPECT_EQ(type.field_count, 14u);
    EXPECT_STREQ(type.name, "PatientRecord");
    EXPECT_STREQ(type.fields[1].label, "PAT:LNAME");
    EXPECT_EQ(type.fields[1].offset, 3u);
    EXPECT_STREQ(type.fields[2].picture, "@D12");
    EXPECT_EQ(type.fields[3].picture, nullptr);
    EXPECT_STREQ(type.fields[12].picture, "@P#########P");
    EXPECT_EQ(type.fields[13].offset, 138u);
    EXPECT_EQ(type.fields[13].size, 10u);
    EXPECT_EQ(type.fields[13].places, 2);

    EXPECT_EQ(Vrn$FieldByLabel(&type, "PAT:LNAME", 9), 2u);
    EXPECT_EQ(Vrn$FieldByLabel(&type, "pat:nowbalan", 12), 14u);
    EXPECT_EQ(Vrn$FieldByLabel(&type, "NowBalan", 8), 14u);
    EXPECT_EQ(Vrn$FieldByLabel(&type, "PAT:LNAMEX", 10), 0u);
    EXPECT_EQ(Vrn$FieldByLabel(&type, "LNAM", 4), 0u);
    EXPECT_EQ(Vrn$FieldByLabel(&type, ":LNAME", 6), 0u);
    EXPECT_EQ(Vrn$FieldByLabel(nullptr, "PAT", 3), 0u);

    PatientRecord patient;
    patient.LNAME = "Smith";
    patient.NOWBALAN = tarvex::Dec("12.34");
    Vrn$CLEAR(&patient, &type, 0);
    EXPECT_EQ(patient.LNAME.View(), std::string(28, ' '));
    EXPECT_EQ(patient.NOWBALAN.Text(), "0");
    EXPECT_EQ(Vrn$WHERE(&patient, &type, &patient.SSN), 13);
}

}  // namespace
