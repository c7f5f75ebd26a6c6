// SPDX-License-Identifier: GPL-3.0-or-later
// Golden tables for pictures: compiling (valid and invalid texts, widths, descriptors), formatting
// (picture | value | exact text) and deformatting (picture | text | value) for every kind, the
// application's own pictures, the stack forms, month and AM/PM texts from the environment file,
// and round trips: every date picture over the range of day numbers, every time picture over the
// day, numeric pictures over random decimals.
#include <gtest/gtest.h>

#include <cstring>
#include <random>
#include <string>
#include <thread>
#include <vector>

#include "core/dates.h"
#include "core/environment.h"
#include "core/picture.h"
#include "core/tests/test_support.h"
#include "tarvex/dates.h"
#include "tarvex/decimal.h"
#include "tarvex/pictures.h"
#include "tarvex/string_stack.h"

namespace {

using tarvex::PicDesc;
using tarvex::testing::PopText;
using tarvex::testing::PushText;

int32_t Day(int32_t year, int month, int day) { return Vrn$DATE(month, day, year); }

int32_t Time(int hours, int minutes, int seconds = 0, int hundredths = 0) {
    VrnTimeParts parts{uint8_t(hours), uint8_t(minutes), uint8_t(seconds), uint8_t(hundredths)};
    return Vrn$time2abs(&parts);
}

// A decimal given as text, formatted through the decimal stack.
std::string FormatDecimal(const char* picture, const char* value) {
    Vrn$DPushCString(value);
    Vrn$PushPictDec(picture);
    return PopText();
}

std::string FormatLong(const char* picture, int32_t value) {
    Vrn$PushPictLong(value, picture);
    return PopText();
}

std::string Deformat(const char* picture, const std::string& text) {
    PushText(text);
    Vrn$StackDEFORMAT(picture);
    return PopText();
}

// ---- Compiling ---------------------------------------------------------------------------------------------

TEST(PictureCompile, InvalidTextsLeaveAClearedDescriptor) {
    const char* invalid[] = {
        "",        "@",        "@x5",      "@s",       "@s0",      "@s256",   "@s5x",     "@n",
        "@n0",     "@n101",    "@n-5-",    "@n(5",     "@n5)",     "@n$5~x~", "@n3.2",    "@n~abc",
        "@d",      "@d0",      "@d19",     "@d2/",     "@d2<100",  "@t",      "@t9",      "@t0",
        "@p##",    "@p##P",    "@p##p#",   "@pp",      "@e6",      "@e8.2",   "@k##",     "@K#\\",
        "@b",      "@sb",      "@n5.101",
    };
    for (const char* text : invalid) {
        SCOPED_TRACE(text);
        EXPECT_EQ(Vrn$pictureisvalid(text), 0);
        EXPECT_EQ(Vrn$getpicturewidth(text), 0);
        VrnPicDesc descriptor;
        std::memset(&descriptor, 0x5A, sizeof descriptor);
        EXPECT_EQ(Vrn$storepict(&descriptor, text), 0);
        EXPECT_EQ(descriptor.header, 0u);
        EXPECT_EQ(FormatLong(text, 12), "");
    }
    std::string long_text = "@s" + std::string(99, '1');
    EXPECT_EQ(Vrn$pictureisvalid(long_text.c_str()), 0);
}

TEST(PictureCompile, WidthsKindsAndDescriptors) {
    struct Row {
        const char* picture;
        int32_t width;
        uint32_t kind, value_class;
        bool blank;
    };
    const Row rows[] = {
        {"@s29", 29, VRN_PICTURE_STRING, VRN_VALUE_TEXT, false},
        {"s29", 29, VRN_PICTURE_STRING, VRN_VALUE_TEXT, false},
        {"@S255", 255, VRN_PICTURE_STRING, VRN_VALUE_TEXT, false},
        {"@n-14.2", 14, VRN_PICTURE_NUMERIC, VRN_VALUE_DECIMAL, false},
        {"@N_9.2B", 9, VRN_PICTURE_NUMERIC, VRN_VALUE_DECIMAL, true},
        {"@n6v2", 6, VRN_PICTURE_NUMERIC, VRN_VALUE_DECIMAL, false},
        {"@e10.2", 10, VRN_PICTURE_SCIENTIFIC, VRN_VALUE_FLOATING, false},
        {"@d2", 10, VRN_PICTURE_DATE, VRN_VALUE_INTEGER, false},
        {"@d4", 21, VRN_PICTURE_DATE, VRN_VALUE_INTEGER, false},
        {"@D014_B", 7, VRN_PICTURE_DATE, VRN_VALUE_INTEGER, true},
        {"@t6", 10, VRN_PICTURE_TIME, VRN_VALUE_INTEGER, false},
        {"@p(###)p", 5, VRN_PICTURE_PATTERN, VRN_VALUE_DECIMAL, false},
        {"@p########pb", 8, VRN_PICTURE_PATTERN, VRN_VALUE_DECIMAL, true},
        {"@pPage <<<#p", 9, VRN_PICTURE_PATTERN, VRN_VALUE_DECIMAL, false},
        {"@K###-##K", 6, VRN_PICTURE_KEYIN, VRN_VALUE_TEXT, false},
        {"@K\\K##K", 3, VRN_PICTURE_KEYIN, VRN_VALUE_TEXT, false},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.picture);
        EXPECT_EQ(Vrn$pictureisvalid(row.picture), 1);
        EXPECT_EQ(Vrn$getpicturewidth(row.picture), row.width);
        uint32_t header = 0;
        Vrn$checkpict(row.picture, &header);
        EXPECT_EQ(VRN_PICTURE_KIND(header), row.kind);
        EXPECT_EQ(VRN_PICTURE_VALUE_CLASS(header), row.value_class);
        EXPECT_EQ(VRN_PICTURE_BLANK_WHEN_ZERO(header), row.blank ? 1u : 0u);
        EXPECT_EQ(VRN_PICTURE_WIDTH(header), uint32_t(row.width));
        VrnPicDesc descriptor;
        int32_t used = Vrn$storepict(&descriptor, row.picture);
        EXPECT_EQ(used, row.kind == VRN_PICTURE_STRING ? 2 : 2 * row.width + 2);
        EXPECT_EQ(descriptor.header, header);
        EXPECT_EQ(descriptor.text, row.picture);
    }
    // A null picture is a string of width 255.
    EXPECT_EQ(Vrn$getpicturewidth(nullptr), 255);
    EXPECT_EQ(Vrn$storepict(nullptr, "@n5"), 12);
}

std::string Codes(const char* picture) {
    VrnPicDesc descriptor;
    Vrn$storepict(&descriptor, picture);
    std::string codes;
    for (uint32_t i = 0; i < descriptor.position_count; i++) {
        if (!codes.empty()) codes += ' ';
        codes += std::to_string(descriptor.positions[i].code);
    }
    return codes;
}

TEST(PictureCompile, Templates) {
    EXPECT_EQ(Codes("@n-14.2"), "5 4 4 1 4 4 4 1 4 4 3 2 3 3");
    EXPECT_EQ(Codes("@n05"), "3 3 3 3 3");
    EXPECT_EQ(Codes("@n*8.2"), "3 3 3 3 3 2 3 3");
    EXPECT_EQ(Codes("@n6v2"), "1 4 4 4 22 3 3");
    EXPECT_EQ(Codes("@n$(9.2)"), "6 5 4 4 3 2 3 3 5");
    EXPECT_EQ(Codes("@d1"), "7 7 19 8 8 19 9 9");
    EXPECT_EQ(Codes("@d3"), "10 10 10 0 8 8 0 9 9 9 9");
    EXPECT_EQ(Codes("@t3"), "11 11 19 12 12 20 20");
    EXPECT_EQ(Codes("@e10.2"), "5 3 2 3 3 0 21 3 3 3");
    EXPECT_EQ(Codes("@p(#<)p"), "0 3 4 0");
    EXPECT_EQ(Codes("@K@^_?|\\#K"), "14 15 16 17 23 0");
    PicDesc picture;
    picture.Init("@n-14.2");
    tarvex::PictureCounts counts = picture.Count();
    EXPECT_EQ(counts.integer_digits, 8u);
    EXPECT_EQ(counts.fraction_digits, 2u);
    EXPECT_EQ(counts.grouping, 2u);
    picture.Init("@e10.2");
    EXPECT_EQ(picture.Count().exponent, 4u);
    picture.Init("@t6");
    EXPECT_EQ(picture.Count().time, 8u);
    picture.Init("@d4");
    EXPECT_EQ(picture.Count().date, 18u);
    picture.Clear();
    EXPECT_FALSE(picture.IsValid());
}

// ---- Formatting -------------------------------------------------------------------------------------------

struct FormatRow {
    const char* picture;
    const char* value;
    const char* text;
};

TEST(PictureFormat, Numbers) {
    const FormatRow rows[] = {
        {"@n-14.2", "-1234.5", "     -1,234.50"},
        {"@n-14.2", "1234.5", "      1,234.50"},
        {"@n-14.2", "0", "          0.00"},
        {"@n-14.2", "0.5", "          0.50"},
        {"@n-14.2", "-0.001", "          0.00"},
        {"@n-14.2", "0.005", "          0.01"},
        {"@n-14.2", "-0.005", "         -0.01"},
        {"@n-14.2", "99999999.99", " 99,999,999.99"},
        {"@n-14.2", "-99999999.995", "-##,###,###.##"},
        {"@N-14.2", "1234567", "  1,234,567.00"},
        {"@n05", "7", "00007"},
        {"@n03", "1234", "###"},
        {"@n03", "5", "005"},
        {"@n08", "123", "00000123"},
        {"@N3", "7", "  7"},
        {"@N3", "100", "100"},
        {"@N2", "7.5", " 8"},
        {"@n4", "999", " 999"},
        {"@n4", "1234", " ###"},
        {"@n5", "-3", "    3"},
        {"@n-18.2", "-1234567.891", "     -1,234,567.89"},
        {"@n-11.2", "999999.99", " 999,999.99"},
        {"@N_9.2B", "0", "         "},
        {"@N_9.2B", "1234.5", "  1234.50"},
        {"@N_10.2B", "12.3", "     12.30"},
        {"@n05B", "0", "     "},
        {"@n$10.2", "12.5", "    $12.50"},
        {"@n$-10.2", "-12.5", "   $-12.50"},
        {"@n(10.2)", "-12.5", "   (12.50)"},
        {"@n(10.2)", "12.5", "    12.50 "},
        {"@n10.2-", "-12.5", "    12.50-"},
        {"@n*10.2", "12.5", "*****12.50"},
        {"@n-*10.2", "-12.5", "****-12.50"},
        {"@n10`2", "1234.5", "  1.234,50"},
        {"@n10_.2", "1234.5", "  1 234.50"},
        {"@n12.`2", "1234567.5", "1.234.567,50"},
        {"@n6v2", "12.34", "  1234"},
        {"@n6v2", "0.05", "    05"},
        {"@n10.2~ EUR~", "12.5", " 12.50 EUR"},
        {"@n~Fr. ~10.2", "12.5", "  Fr.12.50"},
        {"@n12.", "1234567", "   1.234.567"},
        {"@e10.2", "1234.5", " 1.23E+003"},
        {"@e10.2", "-0.000123456", "-1.23E-004"},
        {"@e10.2", "9.999", " 1.00E+001"},
        {"@e10.2", "0", " 0.00E+000"},
        {"@e14.2", "123456.7", " 1,234.57E+002"},
        {"@p#########-##p", "12345678901", "123456789-01"},
        {"@p###########p", "12345678901", "12345678901"},
        {"@p###########p", "42", "00000000042"},
        {"@P#########P", "12345678", "012345678"},
        {"@p(###)p", "555", "(555)"},
        {"@p########pb", "0", "        "},
        {"@p########pb", "1234", "00001234"},
        {"@pPage <<<#p", "5", "Page    5"},
        {"@pPage <<<#p", "1234", "Page 1234"},
        {"@pPage <<<#p", "12345", "Page ####"},
        {"@s5", "12.5", "12.5 "},
    };
    for (const FormatRow& row : rows) {
        EXPECT_EQ(FormatDecimal(row.picture, row.value), row.text) << row.picture << " | " << row.value;
    }
    EXPECT_EQ(Vrw$DStackDepth(), 0u);
    EXPECT_EQ(Vrw$StackDepth(), 0u);
}

struct DateRow {
    const char* picture;
    int32_t value;
    const char* text;
};

TEST(PictureFormat, Dates) {
    int32_t dec7 = Day(2026, 12, 7), jan5 = Day(2026, 1, 5), may7 = Day(2026, 5, 7);
    const DateRow rows[] = {
        {"@d2", dec7, "12/07/2026"},
        {"@d1", jan5, " 1/05/26"},
        {"@d2b", 0, "          "},
        {"@d2", 0, "  /  /    "},
        {"@d2", 3, "  /  /    "},
        {"@D2-", jan5, " 1-05-2026"},
        {"@D02B", jan5, "01/05/2026"},
        {"@D1B", dec7, "12/07/26"},
        {"@d3", dec7, "DEC  7,2026"},
        {"@d4", dec7, "December  7, 2026    "},
        {"@d4", may7, "May  7, 2026         "},
        {"@D_4", may7, "May           7, 2026"},
        {"@d5", dec7, " 7/12/26"},
        {"@d6", dec7, " 7/12/2026"},
        {"@d7", dec7, " 7 DEC 26"},
        {"@d8", dec7, " 7 DEC 2026"},
        {"@d8-", dec7, " 7-DEC-2026"},
        {"@d9", dec7, "26/12/07"},
        {"@d10", dec7, "2026/12/07"},
        {"@d11", dec7, "261207"},
        {"@D12", dec7, "20261207"},
        {"@D12", 0, "        "},
        {"@d13", dec7, "12/26"},
        {"@d14", dec7, "12/2026"},
        {"@d15", dec7, "26/12"},
        {"@d16", dec7, "2026/12"},
        {"@D014_B", jan5, "01 2026"},
        {"@D014_B", 0, "       "},
        {"@D06_B", jan5, "05 01 2026"},
        {"@D015_B", jan5, "26 01"},
        {"@D016_B", jan5, "2026 01"},
        {"@D16_B", jan5, "2026 01"},
        {"@D6`", dec7, " 7,12,2026"},
        {"@D6.", dec7, " 7.12.2026"},
        {"@D_2", dec7, "12/ 7/2026"},
        {"@D*1", jan5, "*1/*5/26"},
        {"@d1", Day(2005, 3, 4), " 3/04/05"},
        {"@D_1", Day(2005, 3, 4), " 3/ 4/ 5"},
        {"@d2", 4, " 1/01/1801"},
        {"@d2", 2994626, "12/31/9999"},
    };
    for (const DateRow& row : rows) {
        EXPECT_EQ(FormatLong(row.picture, row.value), row.text) << row.picture << " | " << row.value;
    }
}

TEST(PictureFormat, Times) {
    const DateRow rows[] = {
        {"@t4", 1, " 0:00:00"},
        {"@t04", 1, "00:00:00"},
        {"@t4", 0, "  :  :  "},
        {"@t4b", 0, "        "},
        {"@t1", Time(13, 45), "13:45"},
        {"@t1", Time(9, 5), " 9:05"},
        {"@t2", Time(13, 45), "1345"},
        {"@t3", Time(13, 45), " 1:45PM"},
        {"@t3", Time(0, 5), "12:05AM"},
        {"@t3", Time(12, 0), "12:00PM"},
        {"@t6", Time(23, 59, 59, 99), "11:59:59PM"},
        {"@t5", Time(23, 59, 59), "235959"},
        {"@T1.", Time(13, 45), "13.45"},
        {"@T_4-", Time(1, 2, 3), " 1- 2- 3"},
        {"@t4", 8640001, "  :  :  "},
    };
    for (const DateRow& row : rows) {
        EXPECT_EQ(FormatLong(row.picture, row.value), row.text) << row.picture << " | " << row.value;
    }
}

TEST(PictureFormat, StringsAndKeyIn) {
    PushText("abcdefgh");
    Vrn$StackFORMAT("@s5");
    EXPECT_EQ(PopText(), "abcde");
    PushText("ab");
    Vrn$StackFORMAT("@s5");
    EXPECT_EQ(PopText(), "ab   ");
    PushText("12345");
    Vrn$StackFORMAT("@K###-##K");
    EXPECT_EQ(PopText(), "123-45");
    PushText("ab");
    Vrn$StackFORMAT("@K(@@@)K");
    EXPECT_EQ(PopText(), "(ab )");
    EXPECT_EQ(FormatLong("@s6", -42), "-42   ");
}

// The layouts behind @D17, @D18, @T7 and @T8 follow the regional settings.
TEST(PictureFormat, RegionalLayouts) {
    int32_t dec7 = Day(2026, 12, 7), jan5 = Day(2026, 1, 5);
    struct Row {
        tarvex::RegionalLayouts layouts;
        const char* picture;
        int32_t value;
        const char* text;
    };
    tarvex::RegionalLayouts us = tarvex::LayoutsFor("MDY", '/', ':');
    tarvex::RegionalLayouts de = tarvex::LayoutsFor("DMY", '.', ':');
    tarvex::RegionalLayouts iso = tarvex::LayoutsFor("YMD", '-', '.');
    tarvex::RegionalLayouts custom{"d/M/yyyy", "MMM d', 'yyyy' ('dddd')'", "H:mm", "HH 'h' mm:ss"};
    const Row rows[] = {
        {us, "@d17", dec7, "12/07/26"},
        {us, "@d18", dec7, "December 07, 2026"},
        {us, "@d18", jan5, "January 05, 2026"},
        {us, "@t7", Time(13, 45), " 1:45PM"},
        {us, "@t8", Time(13, 45, 30), " 1:45:30PM"},
        {de, "@d17", dec7, "07.12.26"},
        {de, "@d18", dec7, "07 December 2026"},
        {de, "@t7", Time(9, 5), "09:05"},
        {de, "@t8", Time(13, 45, 30), "13:45:30"},
        {iso, "@d17", dec7, "26-12-07"},
        {iso, "@d18", dec7, "2026 December 07"},
        {iso, "@t8", Time(13, 45, 30), "13.45.30"},
        {iso, "@t8-", Time(13, 45, 30), "13-45-30"},
        {custom, "@d17", jan5, " 5/ 1/2026"},
        {custom, "@d017", jan5, "05/01/2026"},
        {custom, "@d17-", jan5, " 5- 1-2026"},
        {custom, "@d18", jan5, "Jan  5, 2026"},
        {custom, "@t7", Time(9, 5), " 9:05"},
        {custom, "@t8", Time(9, 5, 7), "09 h 05:07"},
    };
    for (const Row& row : rows) {
        PicDesc picture;
        picture.Init(std::string_view(row.picture), &row.layouts);
        ASSERT_TRUE(picture.IsValid()) << row.picture;
        char text[64];
        uint32_t length = picture.StoreLong(text, picture.Width(), row.value);
        EXPECT_EQ(std::string(text, length), row.text) << row.picture << " | " << row.layouts.short_date;
        // Each reads its own text back.
        std::string back = picture.DeformatPict(text, picture.Width());
        EXPECT_EQ(back, std::to_string(row.value)) << row.picture << " | " << row.text;
    }
    // The layouts in force come from the process's regional settings.
    EXPECT_TRUE(Vrn$pictureisvalid("@d17") && Vrn$pictureisvalid("@d18") && Vrn$pictureisvalid("@t7") &&
                Vrn$pictureisvalid("@t8"));
}

// ---- Deformatting -----------------------------------------------------------------------------------------

struct DeformatRow {
    const char* picture;
    const char* text;
    std::string value;
};

TEST(PictureDeformat, NumbersPatternsAndStrings) {
    const DeformatRow rows[] = {
        {"@n-14.2", "     -1,234.50", "-1234.50"},
        {"@n-14.2", "1,234.5", "1234.5"},
        {"@n-14.2", "1234.5-", "-1234.5"},
        {"@n-14.2", "(12.50)", "-12.50"},
        {"@n-14.2", "-5+", "5"},
        {"@n-14.2", "   ", ""},
        {"@n-14.2", "abc", ""},
        {"@n10`2", "  1.234,50", "1234.50"},
        {"@n6v2", "  1234", "12.34"},
        {"@n6v2", "5", "0.05"},
        {"@n05", "00007", "00007"},
        {"@N3", "12.7", "12.7"},
        {"@n12.", "1.234.567,5", "1234567.5"},
        {"@n$10.2", "   $12.50", "12.50"},
        {"@e10.2", " 1.23E+003", "1.23e003"},
        {"@e10.2", "-1.23E-004", "-1.23e-004"},
        {"@e10", "  12E+003", "12.e003"},
        {"@s20", "$1,234.50", "1234.50"},
        {"@s20", "-1.5e-3x", "-1.5e-3"},
        {"@s20", "1.2.3e+4e5", "1.23e+45"},
        {"@s20", "a-b+c", "-"},
        {"@s3", "12345", "123"},
        {"@p###########p", "00000000042", "00000000042"},
        {"@p#########-##p", "123456789-01", "12345678901"},
        {"@p(###)p", "(555)", "555"},
        {"@p(###)p", "555", "555"},
        {"@pPage <<<#p", "Page    5", "0005"},
        {"@p########pb", "        ", ""},
        {"@P#########P", "012345678", "012345678"},
        {"@K###-##K", "123-45", "12345"},
        {"@K(@@@)K", "(ab )", "ab "},
    };
    for (const DeformatRow& row : rows) {
        EXPECT_EQ(Deformat(row.picture, row.text), row.value) << row.picture << " | " << row.text;
    }
    // Without a picture: @S over the text's length.
    PicDesc none;
    none.Init(static_cast<const char*>(nullptr));
    EXPECT_EQ(none.DeformatPict(std::string_view("x12.5y")), "12.5");
}

TEST(PictureDeformat, DatesAndTimes) {
    int32_t dec7 = Day(2026, 12, 7), jan5 = Day(2026, 1, 5);
    std::string y15_pivot10 = std::to_string(Vrn$DATE(12, 7, tarvex::WidenYear(15, 10)));
    std::string y15_pivot89 = std::to_string(Vrn$DATE(12, 7, tarvex::WidenYear(15, 89)));
    std::string dec7_26 = std::to_string(Vrn$DATE(12, 7, tarvex::WidenYear(26)));
    const DeformatRow rows[] = {
        {"@d2", "12/07/2026", std::to_string(dec7)},
        {"@d1", "12/07/26", dec7_26},
        {"@d1", " 1/05/26", std::to_string(Vrn$DATE(1, 5, tarvex::WidenYear(26)))},
        {"@d1", "1/5/26", std::to_string(Vrn$DATE(1, 5, tarvex::WidenYear(26)))},
        {"@d1", "  1/05/26", std::to_string(Vrn$DATE(1, 5, tarvex::WidenYear(26)))},
        {"@d1", "12/07/2026", std::to_string(dec7)},
        {"@d2", "12072026", std::to_string(dec7)},
        {"@d2", "", "0"},
        {"@d2", "  /  /    ", "0"},
        {"@d2", "13/45/2026", std::to_string(Day(2027, 2, 14))},
        {"@d3", "dec  7,2026", std::to_string(dec7)},
        {"@d3", "DECEMBER 7,2026", std::to_string(dec7)},
        {"@d4", "December  7, 2026", std::to_string(dec7)},
        {"@d4", "sept 7, 2026", std::to_string(Day(2026, 9, 7))},
        {"@d7", " 7 DEC 26", dec7_26},
        {"@d8-", " 7-dec-2026", std::to_string(dec7)},
        {"@d11", "261207", dec7_26},
        {"@D12", "20261207", std::to_string(dec7)},
        {"@D12", "        ", "0"},
        {"@D014_B", "01 2026", std::to_string(Day(2026, 1, 1))},
        {"@D06_B", "05 01 2026", std::to_string(jan5)},
        {"@d16", "2026/12", std::to_string(Day(2026, 12, 1))},
        {"@d1<10", "12/07/15", y15_pivot10},
        {"@d1>10", "12/07/15", y15_pivot89},
        {"@t4", " 1:02:03", std::to_string(Time(1, 2, 3))},
        {"@t4", " 0:00:00", "0"},
        {"@t3", " 1:45PM", std::to_string(Time(13, 45))},
        {"@t3", " 1:45pm", std::to_string(Time(13, 45))},
        {"@t3", "12:05AM", std::to_string(Time(0, 5))},
        {"@t3", "12:00PM", std::to_string(Time(12, 0))},
        {"@t3", "12:00AM", "0"},
        {"@t1", "25:00", "-1"},
        {"@t1", "9:60", "-1"},
        {"@t1", "9:5", std::to_string(Time(9, 5))},
        {"@t2", " 930", std::to_string(Time(9, 30))},
        {"@t1", "", "0"},
    };
    for (const DeformatRow& row : rows) {
        EXPECT_EQ(Deformat(row.picture, row.text), row.value) << row.picture << " | " << row.text;
    }
}

// ---- Stack forms -------------------------------------------------------------------------------------------

TEST(PictureStack, FormatAndDeformatForms) {
    PushText("1234.5");
    Vrn$StackFORMAT("@n-14.2");
    EXPECT_EQ(PopText(), "      1,234.50");
    PushText("@n-14.2");
    PushText("-1234.5");
    Vrn$StackFORMAT2();
    EXPECT_EQ(PopText(), "     -1,234.50");
    PushText(std::to_string(Day(2026, 12, 7)));
    Vrn$StackFORMAT("@d2");
    EXPECT_EQ(PopText(), "12/07/2026");
    PushText("$1,234.50");
    Vrn$StackDEFORMAT("@s20");
    EXPECT_EQ(PopText(), "1234.50");
    PushText("@d2");
    PushText("12/07/2026");
    Vrn$StackDEFORMAT2();
    EXPECT_EQ(PopText(), std::to_string(Day(2026, 12, 7)));
    // A picture on the stack is cut to 99 characters: "@s" and 97 digits is a valid width-1 picture
    // only when the cut keeps its digits.
    PushText("@s" + std::string(96, '0') + "5" + "xyz");
    PushText("abcdef");
    Vrn$StackFORMAT2();
    EXPECT_EQ(PopText(), "abcde");
    EXPECT_EQ(Vrw$StackDepth(), 0u);
}

TEST(PictureStack, PushesAndPops) {
    Vrn$PushPictLong(72687, "@d2");
    EXPECT_EQ(PopText(), " 1/01/2000");
    Vrn$PushPictReal(1234.5, "@n-14.2");
    EXPECT_EQ(PopText(), "      1,234.50");
    Vrn$PushPictReal(1.005, "@n6.2");
    EXPECT_EQ(PopText(), "  1.01");
    Vrn$PushPictReal(-2.5, "@s8");
    EXPECT_EQ(PopText(), "-2.5    ");
    Vrn$DPushCString("-0.005");
    Vrn$PushPictDec("@n-14.2");
    EXPECT_EQ(PopText(), "         -0.01");
    Vrn$PushPictLong(5, "@x");
    EXPECT_EQ(PopText(), "");
    PushText("12/07/2026");
    EXPECT_EQ(Vrn$PopPictLong("@d2"), Day(2026, 12, 7));
    PushText("1,234.99");
    EXPECT_EQ(Vrn$PopPictLong("@n-14.2"), 1234);
    PushText("-1,234.50");
    EXPECT_DOUBLE_EQ(Vrn$PopPictReal("@n-14.2"), -1234.5);
    PushText(" 1.23E+003");
    EXPECT_DOUBLE_EQ(Vrn$PopPictReal("@e10.2"), 1230.0);
    EXPECT_EQ(Vrw$StackDepth(), 0u);
}

TEST(PictureStack, DecimalStackForms) {
    char field[10];
    Vrn$DPushCString("1234.5");
    Vrn$DPopPict(field, sizeof field, "@n-14.2");
    EXPECT_EQ(std::string(field, sizeof field), "      1,23");   // a STRING keeps what fits
    char wide[16];
    Vrn$DPushCString("-7");
    Vrn$DPopPict(wide, sizeof wide, "@n-6");
    EXPECT_EQ(std::string(wide, sizeof wide), "    -7          ");
    Vrn$DPushLong(Day(2026, 12, 7));
    Vrn$DPopPict(wide, sizeof wide, "@d2");
    EXPECT_EQ(std::string(wide, sizeof wide), "12/07/2026      ");
    Vrn$DPushCString("12.5");
    Vrn$DPopPict(wide, sizeof wide, "@s6");
    EXPECT_EQ(std::string(wide, sizeof wide), "12.5            ");
    PushText("(1,234.50)");
    Vrn$DPushStringStackP("@n(12.2)");
    Vrn$DStack2Stack();
    EXPECT_EQ(PopText(), "-1234.5");
    EXPECT_EQ(Vrw$DStackDepth(), 0u);
    EXPECT_EQ(Vrw$StackDepth(), 0u);
}

TEST(PictureStack, StoreAndLoadRoutines) {
    char field[12];
    Vrn$pictstorelong(field, sizeof field, "@d2", Day(2026, 12, 7));
    EXPECT_EQ(std::string(field, sizeof field), "12/07/2026  ");
    Vrn$pictstorereal(field, sizeof field, "@n-12.3", -3.14159);
    EXPECT_EQ(std::string(field, sizeof field), "      -3.142");
    Vrn$pictstorelong(field, 5, "@n-12.3", 1);
    EXPECT_EQ(std::string(field, 5), "     ");
    EXPECT_EQ(Vrn$pictloadlong("12/07/2026", 10, "@d2"), Day(2026, 12, 7));
    EXPECT_EQ(Vrn$pictloadlong("-1,234.99", 9, "@n-14.2"), -1234);
    EXPECT_EQ(Vrn$pictloadlong(nullptr, 5, "@n-14.2"), 0);
    EXPECT_DOUBLE_EQ(Vrn$pictloadreal(" 1.23E+003", 10, "@e10.2"), 1230.0);
    EXPECT_DOUBLE_EQ(Vrn$pictloadreal("1:45PM", 6, "@t3"), double(Time(13, 45)));
}

// Month names and AM/PM texts come from the environment file when it sets them.
TEST(PictureStack, MonthNamesAndAmPmFromTheEnvironment) {
    tarvex::ApplyEnvironmentText(
        "VRNMONTH=Januar,Februar,M<228>rz,April,Mai,Juni,Juli,August,September,Oktober,November,Dezember\n"
        "VRNMON=Jan,Feb,M<228>r,Apr,Mai,Jun,Jul,Aug,Sep,Okt,Nov,Dez\n"
        "VRNAMPM=vm,nm\n"
        "VRNCASE=<196><228>\n");
    int32_t dec7 = Day(2026, 12, 7), mar3 = Day(2026, 3, 3);
    EXPECT_EQ(FormatLong("@d4", dec7), "Dezember  7, 2026    ");
    EXPECT_EQ(FormatLong("@d3", dec7), "DEZ  7,2026");
    EXPECT_EQ(FormatLong("@d3", mar3), "M\xC4R  3,2026");   // upper-cased through the case tables
    EXPECT_EQ(FormatLong("@t3", Time(13, 45)), " 1:45nm");
    EXPECT_EQ(Deformat("@d4", "dezember 7, 2026"), std::to_string(dec7));
    EXPECT_EQ(Deformat("@d8", " 3 M\xE4R 2026"), std::to_string(mar3));
    EXPECT_EQ(Deformat("@t3", " 1:45nm"), std::to_string(Time(13, 45)));
    tarvex::ResetEnvironment();
    EXPECT_EQ(FormatLong("@d4", dec7), "December  7, 2026    ");
}

// ---- The application's pictures ------------------------------------------------------------------------------

// Every picture the program's screens and reports use: a value, its exact text, and the value the
// text reads back as.
TEST(ApplicationPictures, FormatAndReadBack) {
    int32_t dob = Day(1957, 3, 9), service = Day(2026, 1, 5);
    struct Row {
        const char* picture;
        const char* value;    // numbers as decimals, dates as day numbers
        const char* text;
        const char* back;     // the deformatted text
    };
    const std::string dob_text = std::to_string(dob), service_text = std::to_string(service);
    const std::string service_month = std::to_string(Day(2026, 1, 1));
    const std::string dob_month = std::to_string(Day(1957, 3, 1));
    const Row rows[] = {
        {"@n-14.2", "-1234.5", "     -1,234.50", "-1234.50"},
        {"@N-14.2", "250", "        250.00", "250.00"},
        {"@n-18.2", "1234567.8", "      1,234,567.80", "1234567.80"},
        {"@n-11.2", "999999.99", " 999,999.99", "999999.99"},
        {"@N_9.2B", "1234.5", "  1234.50", "1234.50"},
        {"@N_9.2B", "0", "         ", ""},
        {"@N_10.2B", "75", "     75.00", "75.00"},
        {"@n03", "7", "007", "007"},
        {"@n05", "123", "00123", "00123"},
        {"@n08", "4567", "00004567", "00004567"},
        {"@N3", "42", " 42", "42"},
        {"@N2", "3", " 3", "3"},
        {"@n2", "12", "12", "12"},
        {"@n4", "12", "  12", "12"},
        {"@n5", "9999", "9,999", "9999"},
        {"@p###########p", "12345678901", "12345678901", "12345678901"},
        {"@P###########P", "1", "00000000001", "00000000001"},
        {"@P#########P", "12345678", "012345678", "012345678"},
        {"@p(###)p", "212", "(212)", "212"},
        {"@p########pb", "1041", "00001041", "00001041"},
        {"@p########pb", "0", "        ", ""},
        {"@pPage <<<#p", "12", "Page   12", "0012"},
        {"@d2", service_text.c_str(), " 1/05/2026", service_text.c_str()},
        {"@D2-", service_text.c_str(), " 1-05-2026", service_text.c_str()},
        {"@D12", dob_text.c_str(), "19570309", dob_text.c_str()},
        {"@d12", service_text.c_str(), "20260105", service_text.c_str()},
        {"@D12", "0", "        ", "0"},
        {"@D014_B", dob_text.c_str(), "03 1957", dob_month.c_str()},
        {"@D06_B", dob_text.c_str(), "09 03 1957", dob_text.c_str()},
        {"@D016_B", service_text.c_str(), "2026 01", service_month.c_str()},
        {"@D16_B", service_text.c_str(), "2026 01", service_month.c_str()},
        {"@D02B", service_text.c_str(), "01/05/2026", service_text.c_str()},
        {"@D02B", "0", "          ", "0"},
        {"@d4", service_text.c_str(), "January  5, 2026     ", service_text.c_str()},
        {"@D4", dob_text.c_str(), "March  9, 1957       ", dob_text.c_str()},
        {"@d10", service_text.c_str(), "2026/01/05", service_text.c_str()},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(std::string(row.picture) + " | " + row.value);
        PushText(row.value);
        Vrn$StackFORMAT(row.picture);
        std::string text = PopText();
        EXPECT_EQ(text, row.text);
        EXPECT_EQ(Deformat(row.picture, text), row.back);
    }
    // Pictures whose years have two digits read back inside the window.
    std::string back_year = std::to_string(Vrn$DATE(1, 1, tarvex::WidenYear(26)));
    EXPECT_EQ(Deformat("@D015_B", FormatLong("@D015_B", service)), back_year);
    EXPECT_EQ(Deformat("@D1B", FormatLong("@D1B", service)),
              std::to_string(Vrn$DATE(1, 5, tarvex::WidenYear(26))));
    // Strings: every width the program uses keeps exactly what fits.
    for (int width : {1, 2, 3, 4, 6, 7, 8, 9, 10, 11, 12, 14, 15, 17, 18, 19, 22, 23, 24, 26, 28, 29, 32, 36, 41, 48}) {
        std::string picture = "@s" + std::to_string(width);
        std::string value = "Lumarex billing office, 1200 Main Street, Suite 500";
        PushText(value);
        Vrn$StackFORMAT(picture.c_str());
        EXPECT_EQ(PopText(), value.substr(0, width)) << picture;
        EXPECT_EQ(Vrn$getpicturewidth(picture.c_str()), width);
    }
}

// ---- Round trips -----------------------------------------------------------------------------------------------

// Which date fields a picture shows.
struct DateFields {
    bool day = false, two_digit_year = false;
};

DateFields FieldsOf(const PicDesc& picture) {
    DateFields fields;
    uint32_t year_positions = 0;
    for (uint32_t i = 0; i < picture.PositionCount(); i++) {
        uint8_t code = picture.Position(i).code;
        if (code == VRN_POS_DAY) fields.day = true;
        if (code == VRN_POS_YEAR) year_positions++;
    }
    fields.two_digit_year = year_positions == 2;
    return fields;
}

TEST(PictureRoundTrip, EveryDatePictureOverTheRange) {
    std::vector<std::string> pictures;
    for (int n = 1; n <= 18; n++) {
        pictures.push_back("@d" + std::to_string(n));
        pictures.push_back("@D*" + std::to_string(n) + ".");
        pictures.push_back("@D0" + std::to_string(n) + "_");
        pictures.push_back("@D_" + std::to_string(n) + "-");
    }
    for (const char* extra : {"@D014_B", "@D06_B", "@D015_B", "@D016_B", "@D16_B", "@D02B", "@D1B", "@D2-", "@d8`"}) {
        pictures.push_back(extra);
    }
    int32_t current = tarvex::WindowYear();
    for (const std::string& text : pictures) {
        const PicDesc& picture = tarvex::CachedPicture(std::string_view(text));
        ASSERT_TRUE(picture.IsValid()) << text;
        DateFields fields = FieldsOf(picture);
        int failures = 0;
        for (int32_t n = tarvex::kFirstDay; n <= tarvex::kLastDay && failures < 5; n += 773) {
            VrnDateParts parts{};
            Vrn$abs2date(n, &parts);
            if (fields.two_digit_year && (parts.year < current - 80 || parts.year > current + 19)) continue;
            int32_t expected = fields.day ? n : Vrn$DATE(parts.month, 1, parts.year);
            char formatted[256];
            uint32_t length = picture.StoreLong(formatted, picture.Width(), n);
            std::string back = picture.DeformatPict(formatted, length);
            if (back != std::to_string(expected)) {
                ADD_FAILURE() << text << " | " << n << " | '" << std::string(formatted, length) << "' -> " << back;
                failures++;
            }
        }
    }
}

TEST(PictureRoundTrip, EveryTimePictureOverTheDay) {
    for (const char* text : {"@t1", "@t2", "@t3", "@t4", "@t5", "@t6", "@t7", "@t8", "@T04", "@T_6.", "@T*3"}) {
        const PicDesc& picture = tarvex::CachedPicture(std::string_view(text));
        ASSERT_TRUE(picture.IsValid()) << text;
        bool has_seconds = false;
        for (uint32_t i = 0; i < picture.PositionCount(); i++) {
            has_seconds = has_seconds || picture.Position(i).code == VRN_POS_SECOND;
        }
        int failures = 0;
        for (int32_t v = 1; v <= tarvex::kLastTime && failures < 5; v += 997) {
            int32_t unit = has_seconds ? 100 : 6000;
            int32_t expected = (v - 1) / unit * unit + 1;
            if (expected == 1) continue;   // midnight reads back as the empty time
            char formatted[64];
            uint32_t length = picture.StoreLong(formatted, picture.Width(), v);
            std::string back = picture.DeformatPict(formatted, length);
            if (back != std::to_string(expected)) {
                ADD_FAILURE() << text << " | " << v << " | '" << std::string(formatted, length) << "' -> " << back;
                failures++;
            }
        }
    }
}

TEST(PictureRoundTrip, NumericPicturesOverRandomDecimals) {
    struct Case {
        const char* picture;
        int places;
        int integer_digits;   // the most the picture holds
        bool sign;
    };
    const Case cases[] = {
        {"@n-14.2", 2, 8, true},   {"@n-18.2", 2, 11, true}, {"@N_9.2B", 2, 6, false},
        {"@N_10.2B", 2, 7, false}, {"@n-11.2", 2, 6, true},  {"@n10`2", 2, 6, false},
        {"@n(12.3)", 3, 5, true},  {"@n*12.2", 2, 9, false}, {"@n6v2", 2, 3, false},
        {"@n$-15.4", 4, 6, true},  {"@n08", 0, 8, false},    {"@p###########p", 0, 11, false},
        {"@n-20.6~ USD~", 6, 6, true},
    };
    std::mt19937_64 random(20261207);
    for (const Case& c : cases) {
        int failures = 0;
        for (int i = 0; i < 2000 && failures < 5; i++) {
            int digits = 1 + int(random() % uint64_t(c.integer_digits + c.places));
            std::string number;
            for (int d = 0; d < digits; d++) number += char('0' + random() % 10);
            if (c.places > 0 && digits > c.places) number.insert(number.size() - size_t(c.places), ".");
            if (c.places > 0 && digits <= c.places) number = "0." + std::string(size_t(c.places - digits), '0') + number;
            if (c.sign && random() % 2) number = "-" + number;
            Vrn$DPushCString(number.c_str());
            Vrn$PushPictDec(c.picture);
            std::string text = PopText();
            PushText(text);
            Vrn$DPushStringStackP(c.picture);
            Vrn$DPushCString(number.c_str());
            if (Vrn$DecDistinct() != 0) {
                ADD_FAILURE() << c.picture << " | " << number << " | '" << text << "'";
                failures++;
            }
        }
    }
    EXPECT_EQ(Vrw$DStackDepth(), 0u);
    EXPECT_EQ(Vrw$StackDepth(), 0u);
}

// A plain number's text laid out independently: digits grouped by threes, the point and places,
// a "-" before a negative value, right-aligned; empty when it does not fit.
std::string PlainLayout(bool negative, const std::string& integer, const std::string& fraction, size_t width,
                        char grouping, char point, bool sign) {
    std::string digits = integer.empty() ? "0" : integer;
    std::string body;
    for (size_t i = 0; i < digits.size(); i++) {
        if (grouping != 0 && i > 0 && (digits.size() - i) % 3 == 0) body += grouping;
        body += digits[i];
    }
    if (!fraction.empty()) body += point + fraction;
    if (body.size() > width - (sign ? 1 : 0)) return "";
    if (negative && sign) body = "-" + body;
    return std::string(width - body.size(), ' ') + body;
}

// Variables formatted through plain numeric pictures (every width, places, sign and grouping
// form), as compiled code and report controls do: DPushDec, then DPopPict.
TEST(PictureRoundTrip, PlainNumbersFromVariables) {
    struct Form {
        const char* prefix;      // then the width
        const char* separator;   // then the places, when there are places
        const char* suffix;
        char grouping;
        char point;
        bool sign;
    };
    const Form forms[] = {{"@n-", ".", "", ',', '.', true},  {"@n", ".", "", ',', '.', false},
                          {"@n-", "`", "", '.', ',', true},  {"@n-", "_.", "", ' ', '.', true},
                          {"@n-_", ".", "", 0, '.', true},   {"@N", ".", "B", ',', '.', false}};
    std::mt19937_64 random(8128);
    int checked = 0;
    for (int i = 0; i < 20000; i++) {
        const Form& form = forms[random() % 6];
        int places = int(random() % 5);
        int width = places + 2 + int(random() % 20);
        if (places == 0 && std::strcmp(form.separator, ".") != 0) continue;   // the separator needs places
        std::string picture = form.prefix + std::to_string(width) +
                              (places > 0 ? form.separator + std::to_string(places) : "") + form.suffix;
        bool blank_when_zero = *form.suffix == 'B';
        // A DECIMAL(n, p) variable with p = the picture's places or another.
        int image_places = random() % 4 == 0 ? int(random() % 5) : places;
        int size = 1 + int(random() % 12);
        int digits = 2 * size - 1;
        std::string body;
        int significant = int(random() % uint64_t(digits + 1));
        for (int d = 0; d < digits; d++) body += d < digits - significant ? '0' : char('0' + random() % 10);
        bool negative = random() % 3 == 0;
        std::vector<uint8_t> image(size_t(size), 0);
        std::string nibbles = (negative ? "F" : "0") + body;
        for (int b = 0; b < size; b++) image[size_t(b)] = uint8_t(std::stoul(nibbles.substr(size_t(2 * b), 2), nullptr, 16));
        // The expected digits: the image's, with the places cut or padded (no rounding needed when
        // the image has no more places than the picture; otherwise they are rounded below).
        std::string integer = image_places >= digits ? "" : body.substr(0, size_t(digits - image_places));
        std::string fraction = image_places >= digits ? std::string(size_t(image_places - digits), '0') + body
                                                      : body.substr(size_t(digits - image_places));
        if (image_places > places) continue;   // rounding: covered by the tables above
        fraction += std::string(size_t(places - image_places), '0');
        integer.erase(0, integer.find_first_not_of('0') == std::string::npos ? integer.size()
                                                                             : integer.find_first_not_of('0'));
        bool zero = integer.empty() && fraction.find_first_not_of('0') == std::string::npos;
        std::string expected = PlainLayout(negative && !zero, integer, fraction, size_t(width), form.grouping,
                                           form.point, form.sign);
        if (expected.empty()) continue;   // too large: covered by the tables above
        if (zero && blank_when_zero) expected = std::string(size_t(width), ' ');
        char text[64];
        Vrn$DPushDec(image.data(), uint32_t(size), uint32_t(image_places));
        Vrn$DPopPict(text, uint32_t(width), picture.c_str());
        ASSERT_EQ(std::string(text, size_t(width)), expected) << picture << " | " << nibbles << " places " << image_places;
        checked++;
    }
    EXPECT_GT(checked, 10000);
    EXPECT_EQ(Vrw$DStackDepth(), 0u);
}

// A caller's buffer that holds one picture text and then another is compiled again, whether the
// new text is longer, shorter or a prefix of the old.
TEST(PictureCache, AReusedTextBufferIsCompiledAgain) {
    struct Step {
        const char* picture;
        const char* value;
        const char* text;
    };
    const Step steps[] = {{"@n9.2", "1.5", "     1.50"}, {"@n9.3", "1.5", "    1.500"}, {"@n9.2", "0", "     0.00"},
                          {"@n9.2B", "0", "         "}, {"@n9", "1.5", "        2"},   {"@n9.2", "1.5", "     1.50"},
                          {"@s9", "1.5", "1.5      "}};
    char buffer[16];
    for (const Step& step : steps) {
        std::strcpy(buffer, step.picture);
        Vrn$DPushCString(step.value);
        char text[9];
        Vrn$DPopPict(text, sizeof text, buffer);
        EXPECT_EQ(std::string(text, sizeof text), step.text) << step.picture;
    }
    EXPECT_EQ(Vrw$DStackDepth(), 0u);
}

// Each thread keeps its own compiled pictures: threads formatting through different pictures at once
// see only their own.
TEST(PictureCache, ThreadsFormatIndependently) {
    std::vector<std::thread> threads;
    std::vector<int> failures(4, 0);
    const char* pictures[4] = {"@n-14.2", "@d2", "@p(###)p", "@t4"};
    const char* expected[4] = {"      1,234.00", " 1/01/1801", "(234)", " 0:00:12"};
    for (int t = 0; t < 4; t++) {
        threads.emplace_back([t, &pictures, &expected, &failures] {
            for (int i = 0; i < 2000; i++) {
                int32_t value = t == 0 ? 1234 : t == 1 ? 4 : t == 2 ? 234 : 1201;
                char text[32];
                Vrn$pictstorelong(text, uint32_t(std::strlen(expected[t])), pictures[t], value);
                if (std::string(text, std::strlen(expected[t])) != expected[t]) failures[t]++;
                // Fill the cache with other pictures meanwhile.
                std::string other = "@s" + std::to_string(1 + (i + t) % 200);
                if (Vrn$getpicturewidth(other.c_str()) != 1 + (i + t) % 200) failures[t]++;
            }
        });
    }
    for (auto& thread : threads) thread.join();
    for (int failure : failures) EXPECT_EQ(failure, 0);
}

}  // namespace
