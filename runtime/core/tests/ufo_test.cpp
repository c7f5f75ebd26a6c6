// SPDX-License-Identifier: GPL-3.0-or-later
// Dynamic values: every storage class to and from the stacks, assignment and comparison across
// classes, strings sliced and translated, groups and arrays through their descriptors, references,
// pictures, memory images, deep assignment, and the fatal errors 501 and 410.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>

#include "core/tests/test_support.h"
#include "core/ufo.h"
#include "platform/platform.h"
#include "tarvex/decimal.h"
#include "tarvex/frame.h"
#include "tarvex/type_descriptor.h"
#include "tarvex/values.h"

namespace {

using tarvex::testing::PopText;
using tarvex::testing::PushText;

struct UfoDeleter {
    void operator()(Ufo* value) const { Vrn$FreeUfo(value); }
};
using UfoPtr = std::unique_ptr<Ufo, UfoDeleter>;

std::string PushedText(Ufo* value) {
    Vrn$PushUfo(value);
    return PopText();
}

TEST(Ufo, NullValuesReadAsEmptyAndZero) {
    uint32_t depth = Vrw$StackDepth();
    EXPECT_EQ(PushedText(nullptr), "");
    EXPECT_EQ(Vrw$StackDepth(), depth);
    EXPECT_EQ(Vrn$Ufo2Long(nullptr), 0);
    EXPECT_EQ(Vrn$Ufo2Real(nullptr), 0.0);
    EXPECT_EQ(Vrn$SizeUfo(nullptr), 0u);
    EXPECT_EQ(Vrn$IsUfoString(nullptr), 0);
    EXPECT_EQ(Vrn$Ufodistincti(nullptr, 5), -1);
}

// Each storage class: its bytes, and what Push, Long, Real, Size and Type make of them.
TEST(Ufo, EveryStorageClassToTheStacks) {
    uint8_t byte = 255;
    int16_t short_value = -5;
    uint16_t ushort = 65535;
    int32_t date = 80000, time = 360001, long_value = -42;
    uint32_t ulong = 4000000000u;
    float sreal = 0.5f;
    double real = -2.25;
    uint8_t bfloat4[4], bfloat8[8];
    Vrn$bstorefloat4(bfloat4, 10.0);
    Vrn$bstorefloat(bfloat8, -3.0);
    uint8_t decimal[3] = {0x81, 0x23, 0x45};    // DECIMAL(5,2) -123.45
    uint8_t pdecimal[3] = {0x12, 0x34, 0x5F};   // PDECIMAL(5,2) 123.45
    char string[6] = {'a', 'b', 'c', ' ', ' ', ' '};
    char cstring[6] = {'x', 'y', '\0', 'z', 'z', 'z'};
    unsigned char pstring[6] = {2, 'p', 'q', 'r', 's', 't'};
    struct Case {
        void* address;
        int32_t type;
        uint32_t places, size;
        const char* text;
        int32_t long_value;
        double real;
        uint32_t width;
    } cases[] = {
        {&byte, VRN_TYPE_BYTE, 0, 0, "255", 255, 255, 1},
        {&short_value, VRN_TYPE_SHORT, 0, 0, "-5", -5, -5, 2},
        {&ushort, VRN_TYPE_USHORT, 0, 0, "65535", 65535, 65535, 2},
        {&date, VRN_TYPE_DATE, 0, 0, "80000", 80000, 80000, 4},
        {&time, VRN_TYPE_TIME, 0, 0, "360001", 360001, 360001, 4},
        {&long_value, VRN_TYPE_LONG, 0, 0, "-42", -42, -42, 4},
        {&ulong, VRN_TYPE_ULONG, 0, 0, "4000000000", static_cast<int32_t>(4000000000u), 4e9, 4},
        {&sreal, VRN_TYPE_SREAL, 0, 0, "0.5", 0, 0.5, 4},
        {&real, VRN_TYPE_REAL, 0, 0, "-2.25", -2, -2.25, 8},
        {bfloat4, VRN_TYPE_BFLOAT4, 0, 0, "10", 10, 10, 4},
        {bfloat8, VRN_TYPE_BFLOAT8, 0, 0, "-3", -3, -3, 8},
        {decimal, VRN_TYPE_DECIMAL, 2, 3, "-123.45", -123, -123.45, 3},
        {pdecimal, VRN_TYPE_PDECIMAL, 2, 3, "123.45", 123, 123.45, 3},
        {string, VRN_TYPE_STRING, 0, 6, "abc   ", 0, 0, 6},
        {cstring, VRN_TYPE_CSTRING, 0, 6, "xy", 0, 0, 6},
        {pstring, VRN_TYPE_PSTRING, 0, 6, "pq", 0, 0, 6},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.type);
        UfoPtr value(Vrn$Mem2Ufo(c.address, c.type, c.places, c.size, 0));
        ASSERT_NE(value, nullptr);
        EXPECT_EQ(Vrn$TypeUfo(value.get()), c.type);
        EXPECT_EQ(PushedText(value.get()), c.text);
        EXPECT_EQ(Vrn$Ufo2Long(value.get()), c.long_value);
        EXPECT_DOUBLE_EQ(Vrn$Ufo2Real(value.get()), c.real);
        EXPECT_EQ(Vrn$SizeUfo(value.get()), c.width);
        EXPECT_EQ(Vrn$AddressUfo(value.get()), c.address);
        EXPECT_EQ(Vrn$IsUfoString(value.get()), c.type >= VRN_TYPE_STRING ? 1 : 0);
    }
    EXPECT_EQ(Vrw$StackDepth(), 0u);
    EXPECT_EQ(Vrw$DStackDepth(), 0u);
}

TEST(Ufo, PopAndAssignStoreIntoEveryForm) {
    int32_t long_value = 0;
    uint8_t decimal[4] = {};   // DECIMAL(7,2)
    char string[5];
    std::memset(string, '*', sizeof string);
    unsigned char pstring[4] = {};
    UfoPtr as_long(Vrn$Mem2Ufo(&long_value, VRN_TYPE_LONG, 0, 0, 0));
    UfoPtr as_decimal(Vrn$Mem2Ufo(decimal, VRN_TYPE_DECIMAL, 2, 4, 0));
    UfoPtr as_string(Vrn$Mem2Ufo(string, VRN_TYPE_STRING, 0, 5, 0));
    UfoPtr as_pstring(Vrn$Mem2Ufo(pstring, VRN_TYPE_PSTRING, 0, 4, 0));

    PushText("12.75");
    Vrn$Stack2UfoC(as_decimal.get());
    EXPECT_EQ(PushedText(as_decimal.get()), "12.75");
    Vrn$AssignUfo(as_long.get(), as_decimal.get());   // decimal to LONG: the integer part
    EXPECT_EQ(long_value, 12);
    Vrn$AssignUfo(as_string.get(), as_decimal.get());
    EXPECT_EQ(std::string(string, 5), "12.75");
    Vrn$AssignLong2Ufo(as_string.get(), -7);
    EXPECT_EQ(std::string(string, 5), "-7   ");
    Vrn$AssignUfo(as_pstring.get(), as_string.get());   // cut to the 3 characters a PSTRING(4) holds
    EXPECT_EQ(pstring[0], 3);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(pstring + 1), 3), "-7 ");
    Vrn$AssignReal2Ufo(as_decimal.get(), 0.125);   // rounded half away from zero
    EXPECT_EQ(PushedText(as_decimal.get()), "0.13");
    Vrn$AssignUfo(as_long.get(), as_string.get());
    EXPECT_EQ(long_value, -7);

    UfoPtr sum(Vrn$Long2Ufo(40));
    UfoPtr two(Vrn$Long2Ufo(2));
    sum->Add(two.get());
    EXPECT_EQ(Vrn$Ufo2Long(sum.get()), 42);
    as_decimal->Add(sum.get());
    EXPECT_EQ(PushedText(as_decimal.get()), "42.13");
    as_decimal->Divide(two.get());
    EXPECT_EQ(PushedText(as_decimal.get()), "21.07");   // 21.065 rounded to the field's places
    UfoPtr zero(Vrn$Long2Ufo(0));
    sum->Divide(zero.get());
    EXPECT_EQ(Vrn$Ufo2Real(sum.get()), 0.0);
}

// Comparison across classes: strings as strings, decimals exactly, integers as integers, other
// numbers with the REAL tolerance; a string against a number compares numbers.
TEST(Ufo, ComparisonAcrossClasses) {
    char abc[6] = {'a', 'b', 'c', ' ', ' ', ' '};
    char abd[3] = {'a', 'b', 'd'};
    int32_t three = 3, ten = 10;
    double three_real = 3.0, point_three = 0.3, sum = 0.1 + 0.2;
    uint8_t decimal[2] = {0x01, 0x10};   // DECIMAL(3,1) 11.0
    char eleven[4] = {'1', '1', ' ', ' '};
    struct Case {
        Ufo* a;
        Ufo* b;
        int32_t expected;
    };
    UfoPtr s1(Vrn$Mem2Ufo(abc, VRN_TYPE_STRING, 0, 6, 0));
    UfoPtr s2(Vrn$Mem2Ufo(abc, VRN_TYPE_STRING, 0, 3, 0));
    UfoPtr s3(Vrn$Mem2Ufo(abd, VRN_TYPE_STRING, 0, 3, 0));
    UfoPtr l3(Vrn$Mem2Ufo(&three, VRN_TYPE_LONG, 0, 0, 0));
    UfoPtr l10(Vrn$Mem2Ufo(&ten, VRN_TYPE_LONG, 0, 0, 0));
    UfoPtr r3(Vrn$Mem2Ufo(&three_real, VRN_TYPE_REAL, 0, 0, 0));
    UfoPtr r03(Vrn$Mem2Ufo(&point_three, VRN_TYPE_REAL, 0, 0, 0));
    UfoPtr rsum(Vrn$Mem2Ufo(&sum, VRN_TYPE_REAL, 0, 0, 0));
    UfoPtr d11(Vrn$Mem2Ufo(decimal, VRN_TYPE_DECIMAL, 1, 2, 0));
    UfoPtr s11(Vrn$Mem2Ufo(eleven, VRN_TYPE_STRING, 0, 4, 0));
    Case cases[] = {
        {s1.get(), s2.get(), 0},   {s2.get(), s3.get(), -1}, {s3.get(), s1.get(), 1},
        {l3.get(), l10.get(), -1}, {l3.get(), r3.get(), 0},  {rsum.get(), r03.get(), 0},
        {d11.get(), s11.get(), 0}, {d11.get(), l10.get(), 1}, {s11.get(), l10.get(), 1},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(Vrn$Ufodistinct(c.a, c.b), c.expected);
        EXPECT_EQ(Vrn$Ufodistinct(c.b, c.a), -c.expected);
    }
    EXPECT_EQ(Vrn$Ufodistincti(d11.get(), 11), 0);
    EXPECT_EQ(Vrn$Ufodistincti(l3.get(), 4), -1);
    EXPECT_EQ(Vrn$Ufodistincti(s11.get(), 10), 1);
    EXPECT_EQ(Vrn$UfoCompareN(s1.get()), 1);
    EXPECT_DOUBLE_EQ(Vrn$UfoRealDiff(l10.get(), r3.get()), 7.0);
    EXPECT_EQ(Vrw$StackDepth(), 0u);
    EXPECT_EQ(Vrw$DStackDepth(), 0u);
}

TEST(Ufo, StringsSliceAndTranslateCharacterSets) {
    char text[5] = {'h', 'e', 'l', 'l', 'o'};
    UfoPtr value(Vrn$Mem2Ufo(text, VRN_TYPE_STRING, 0, 5, 0));
    struct Case {
        int32_t from, to;
        const char* text;
    } cases[] = {{2, 3, "el"}, {1, 5, "hello"}, {0, 2, "he"}, {4, 99, "lo"}, {3, 2, ""}, {7, 9, ""}};
    for (const Case& c : cases) {
        UfoPtr slice(Vrn$SelectUfo2(value.get(), c.from, c.to));
        EXPECT_EQ(PushedText(slice.get()), c.text);
    }
    UfoPtr letter(Vrn$SelectUfo(value.get(), 5));
    Vrn$AssignLong2Ufo(letter.get(), 0);   // a slice is storage: writing it changes the variable
    EXPECT_EQ(std::string(text, 5), "hell0");

    unsigned char accents[4] = {0x82, 0x81, 'a', 0xE1};   // OEM: é ü a ß
    UfoPtr oem(Vrn$Mem2Ufo(accents, VRN_TYPE_STRING, 0, 4, 0));
    oem->OemToAnsi();
    EXPECT_EQ(accents[0], 0xE9);
    EXPECT_EQ(accents[1], 0xFC);
    EXPECT_EQ(accents[2], 'a');
    EXPECT_EQ(accents[3], 0xDF);
    oem->AnsiToOem();
    EXPECT_EQ(accents[0], 0x82);
    EXPECT_EQ(accents[1], 0x81);
    EXPECT_EQ(accents[3], 0xE1);
}

// A record with a nested group and an array, reached through WHAT and a group's Select.
const VrnFieldDesc kOrderFields[] = {
    {"ORD:ID", nullptr, 0, 4, 1, 0, VRN_TYPE_LONG, 0},
    {"ORD:NAME", nullptr, 4, 6, 1, 0, VRN_TYPE_STRING, 0},
    {"ORD:TOTALS", nullptr, 10, 9, 1, 2, VRN_TYPE_GROUP, 0},
    {"ORD:AMOUNT", nullptr, 10, 3, 1, 0, VRN_TYPE_DECIMAL, 2},
    {"ORD:QTY", nullptr, 13, 2, 3, 0, VRN_TYPE_SHORT, 0},
};
const VrnTypeDesc kOrderType = {"Order", "ORD", 19, 5, kOrderFields};

const VrnFieldDesc kCopyFields[] = {
    {"CPY:NAME", nullptr, 0, 8, 1, 0, VRN_TYPE_STRING, 0},
    {"CPY:ID", nullptr, 8, 10, 1, 0, VRN_TYPE_CSTRING, 0},
    {"CPY:AMOUNT", nullptr, 18, 8, 1, 0, VRN_TYPE_REAL, 0},
    {"CPY:OTHER", nullptr, 26, 4, 1, 0, VRN_TYPE_LONG, 0},
};
const VrnTypeDesc kCopyType = {"Copy", "CPY", 30, 4, kCopyFields};

TEST(Ufo, GroupsAndArraysThroughDescriptors) {
    uint8_t record[19];
    Vrn$CLEAR(record, &kOrderType, 0);
    UfoPtr name(Vrn$WHAT(record, &kOrderType, 2));
    PushText("Jones");
    Vrn$Stack2UfoC(name.get());
    UfoPtr totals(Vrn$WHAT(record, &kOrderType, 3));
    ASSERT_NE(totals, nullptr);
    EXPECT_EQ(Vrn$TypeUfo(totals.get()), VRN_TYPE_GROUP);
    EXPECT_EQ(totals->Max(), 2);
    UfoPtr amount(Vrn$SelectUfo(totals.get(), 1));
    Vrn$AssignReal2Ufo(amount.get(), 12.5);
    UfoPtr quantities(Vrn$SelectUfo(totals.get(), 2));
    EXPECT_EQ(Vrn$TypeUfo(quantities.get()), VRN_TYPE_ARRAY);
    EXPECT_EQ(quantities->Max(), 3);
    EXPECT_EQ(Vrn$SizeUfo(quantities.get()), 6u);
    for (int32_t i = 1; i <= 3; i++) {
        UfoPtr element(Vrn$SelectUfo(quantities.get(), i));
        Vrn$AssignLong2Ufo(element.get(), i * 100);
    }
    int16_t second;
    std::memcpy(&second, record + 15, 2);
    EXPECT_EQ(second, 200);
    EXPECT_EQ(Vrn$SelectUfo(totals.get(), 3), nullptr);
    EXPECT_EQ(Vrn$WHAT(record, &kOrderType, 0), nullptr);
    EXPECT_EQ(Vrn$WHAT(record, &kOrderType, 6), nullptr);

    // The whole record as one string, and CLEAR through the group.
    UfoPtr whole(Vrn$Group2Ufo(record, &kOrderType));
    EXPECT_EQ(Vrn$SizeUfo(whole.get()), 19u);
    EXPECT_EQ(PushedText(whole.get()).substr(4, 6), "Jones ");
    Vrn$ClearUfo(totals.get(), 0);
    EXPECT_EQ(PushedText(amount.get()), "0");
    EXPECT_EQ(Vrn$UfoCompareN(quantities.get()), 0);
    EXPECT_EQ(PushedText(name.get()), "Jones ");   // outside the group: untouched

    // Deep assignment by name (types converted) and by an explicit map.
    uint8_t copy[30];
    Vrn$CLEAR(copy, &kCopyType, 0);
    int32_t id = 77;
    std::memcpy(record, &id, 4);
    Vrn$AssignReal2Ufo(amount.get(), 3.5);
    UfoPtr target(Vrn$Group2Ufo(copy, &kCopyType));
    Vrn$DeepAssign(target.get(), whole.get(), nullptr);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(copy), 8), "Jones   ");
    EXPECT_STREQ(reinterpret_cast<char*>(copy + 8), "77");
    double copied;
    std::memcpy(&copied, copy + 18, 8);
    EXPECT_EQ(copied, 3.5);
    const int32_t map[] = {4, 1, 0, 0};   // CPY:OTHER = ORD:ID
    Vrn$DeepAssign(target.get(), whole.get(), map);
    int32_t other;
    std::memcpy(&other, copy + 26, 4);
    EXPECT_EQ(other, 77);
}

TEST(Ufo, ReferencesCreateValuesWhenEmpty) {
    Ufo* any = nullptr;
    Vrn$AssignLong2RefUfo(&any, 5);
    ASSERT_NE(any, nullptr);
    EXPECT_EQ(Vrn$Ufo2Long(any), 5);
    Vrn$FreeUpUfo(&any);
    EXPECT_EQ(any, nullptr);

    char name[4] = {'A', 'n', 'n', ' '};
    UfoPtr source(Vrn$Mem2Ufo(name, VRN_TYPE_STRING, 0, 4, 0));
    Vrn$AssignRefUfo(&any, source.get());   // a free-standing copy of the text
    EXPECT_EQ(PushedText(any), "Ann ");
    name[0] = 'B';
    EXPECT_EQ(PushedText(any), "Ann ");

    Vrn$RefAssignAny(&any, source.get());   // now refers to the variable itself
    name[0] = 'D';
    EXPECT_EQ(PushedText(any), "Dnn ");

    // A reference variable seen through a RefUfo: empty reads as nothing, a value is created on
    // assignment, and Designate gives what it refers to.
    Ufo* slot = nullptr;
    UfoPtr reference(Vrn$Mem2Ufo(&slot, VRN_TYPE_ANY, 0, 0, 0));
    EXPECT_TRUE(reference->Null());
    EXPECT_EQ(PushedText(reference.get()), "");
    Vrn$AssignReal2Ufo(reference.get(), 2.5);
    ASSERT_NE(slot, nullptr);
    EXPECT_EQ(Vrn$DesignateUfo(reference.get()), slot);
    EXPECT_EQ(PushedText(reference.get()), "2.5");
    Vrn$FreeUpUfo(&slot);
    Vrn$FreeUpUfo(&any);
}

TEST(Ufo, FreeValuesFromTheStacks) {
    PushText("2.5");
    UfoPtr popped(Vrn$Stack2Ufo());
    EXPECT_EQ(Vrn$Ufo2Real(popped.get()), 2.5);
    Vrn$DPushCString("-7.25");
    UfoPtr from_decimal(Vrn$DStack2Ufo());
    EXPECT_EQ(Vrn$Ufo2Real(from_decimal.get()), -7.25);
    EXPECT_EQ(Vrn$Ufo2Long(from_decimal.get()), -7);
    UfoPtr clone(Vrn$CloneUfo(from_decimal.get()));
    Vrn$AssignLong2Ufo(from_decimal.get(), 1);
    EXPECT_EQ(Vrn$Ufo2Real(clone.get()), -7.25);
    Vrn$ClearUfo(clone.get(), 1);
    EXPECT_EQ(Vrn$Ufo2Real(clone.get()), 1.7976931348623101e+308);
    EXPECT_EQ(Vrw$StackDepth(), 0u);
    EXPECT_EQ(Vrw$DStackDepth(), 0u);
}

TEST(Ufo, PicturesFormatOnPushAndDeformatOnPop) {
    uint8_t amount[4] = {};   // DECIMAL(7,2)
    UfoPtr value(Vrn$Mem2Ufo(amount, VRN_TYPE_DECIMAL, 2, 4, 0));
    UfoPtr shown(Vrn$PictureUfo(value.get(), "@n-14.2"));
    PushText("-1,234.5");
    Vrn$Stack2UfoC(shown.get());
    EXPECT_EQ(PushedText(value.get()), "-1234.5");
    EXPECT_EQ(PushedText(shown.get()), "     -1,234.50");
    EXPECT_EQ(Vrn$TypeUfo(shown.get()), VRN_TYPE_STRING);

    int32_t count = 1234567;
    UfoPtr long_shown(Vrn$Picture2Ufo(Vrn$Mem2Ufo(&count, VRN_TYPE_LONG, 0, 0, 0), "@n-14.2"));
    EXPECT_EQ(PushedText(long_shown.get()), "  1,234,567.00");
    EXPECT_EQ(Vrn$Ufo2Long(long_shown.get()), 1234567);
}

TEST(Ufo, MemoryImagesRoundTripAndConvert) {
    int32_t long_value = 42;
    uint8_t decimal[3] = {0x01, 0x23, 0x45};
    char text[4] = {'a', 'b', 'c', 'd'};
    VrnVmem image{};
    UfoPtr a(Vrn$Mem2Ufo(&long_value, VRN_TYPE_LONG, 0, 0, 0));
    UfoPtr b(Vrn$Mem2Ufo(decimal, VRN_TYPE_DECIMAL, 2, 3, 0));
    UfoPtr c(Vrn$Mem2Ufo(text, VRN_TYPE_STRING, 0, 4, 0));
    UfoPtr d(Vrn$Real2Ufo(0.5));
    for (Ufo* value : {a.get(), b.get(), c.get(), d.get()}) Vrn$UfoToMem(value, &image);

    int32_t long_back = 0;
    uint8_t decimal_back[3] = {};
    char text_as_string[6];
    UfoPtr ra(Vrn$Mem2Ufo(&long_back, VRN_TYPE_LONG, 0, 0, 0));
    UfoPtr rb(Vrn$Mem2Ufo(decimal_back, VRN_TYPE_DECIMAL, 2, 3, 0));
    UfoPtr rc(Vrn$Mem2Ufo(text_as_string, VRN_TYPE_STRING, 0, 6, 0));   // other size: converted
    UfoPtr rd(Vrn$Long2Ufo(0));
    for (Ufo* value : {ra.get(), rb.get(), rc.get(), rd.get()}) Vrn$UfoFromMem(value, &image);
    EXPECT_EQ(long_back, 42);
    EXPECT_EQ(PushedText(rb.get()), "123.45");
    EXPECT_EQ(std::string(text_as_string, 6), "abcd  ");
    EXPECT_EQ(Vrn$Ufo2Real(rd.get()), 0.5);
    // Past the end: the value is cleared.
    Vrn$UfoFromMem(ra.get(), &image);
    EXPECT_EQ(long_back, 0);

    // The older layout is the bytes alone.
    VrnVmem old{};
    old.data = static_cast<uint8_t*>(std::malloc(4));
    old.length = old.capacity = 4;
    int32_t raw = -9;
    std::memcpy(old.data, &raw, 4);
    Vrn$UfoOldFromMem(ra.get(), &old);
    EXPECT_EQ(long_back, -9);
    Vrn$VmemFree(&old);
    Vrn$VmemFree(&image);
    EXPECT_EQ(image.data, nullptr);
}

TEST(Ufo, NewMemoryIsFilled) {
    auto* zeroed = static_cast<uint8_t*>(Vrn$NewMemZ(8));
    auto* blanks = static_cast<char*>(Vrn$NewMemB(3));
    ASSERT_NE(zeroed, nullptr);
    ASSERT_NE(blanks, nullptr);
    EXPECT_EQ(std::count(zeroed, zeroed + 8, 0), 8);
    EXPECT_EQ(std::string(blanks, 3), "   ");
    Vrn$DISPOSEref(zeroed);
    void* variable = blanks;
    Vrn$DISPOSEvref(&variable);
    EXPECT_EQ(variable, nullptr);
}

// Prints the message boxes shown, for the death tests to match.
void ReportBoxes() {
    auto shown = tarvex::platform::Headless()->Transcript();
    for (const auto& box : shown) std::fprintf(stderr, "[%s|%s]", box.request.caption.c_str(), box.request.text.c_str());
    std::fflush(stderr);
}

TEST(UfoDeathTest, UnknownTypeCodeIsInternalError501) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            _atexit(&ReportBoxes);
            int32_t storage = 0;
            Vrn$Mem2Ufo(&storage, 99, 0, 4, 0);
        },
        ::testing::ExitedWithCode(2), "\\[Runtime error\\|Internal error 01 : String Stack Error\\]");
}

TEST(UfoDeathTest, UnsupportedOperationIsRunTimeError410) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    UfoPtr value(Vrn$Long2Ufo(1));
    EXPECT_EXIT(
        {
            _atexit(&ReportBoxes);
            Vrn$SelectUfo(value.get(), 1);
        },
        ::testing::ExitedWithCode(2), "\\[Runtime error\\|Pure Virtual Function Called\\]");
}

}  // namespace
