// SPDX-License-Identifier: GPL-3.0-or-later
// LIST formats: the application's own formats parsed, their column edges against edges worked out
// by hand (the classic dialog font: 6 pixels a character, so a dialog unit is 1.5 pixels across,
// rounded half away from zero, and a '|' adds a pixel), written back letter for letter; every
// letter and item of the grammar; damaged formats that must end rather than hang.
#include <gtest/gtest.h>

#include <string>
#include <utility>
#include <vector>

#include "windows/list_format.h"

namespace tarvex::windows {
namespace {

constexpr int32_t kAverage = 6;

ListFormat Parse(std::string_view text) {
    ListFormat format;
    ParseListFormat(text, kAverage, format);
    return format;
}

using Edges = std::vector<std::pair<int32_t, int32_t>>;

Edges EdgesOf(const ListFormat& format) {
    Edges edges;
    for (const ListColumn& c : format.columns)
        edges.push_back({c.left, c.right});
    return edges;
}

struct AppFormat {
    const char* text;
    Edges edges;
};

// The formats of the application's browses and forms, with their edges.
const AppFormat kAppFormats[] = {
    {"49C|F~Date~@D2@128L(4)|F~Authorization signed by:~@s32@", {{0, 75}, {75, 268}}},
    {"116L@s29@", {{0, 174}}},
    {"46R(4)|~Date~C(0)@D2@", {{0, 70}}},
    {"52R(2)|M~Invoice~L@n-7@", {{0, 79}}},
    {"38R(2)|F~Date~C(0)@d2@18C|F~POS~@s2@18C|F~EMG~@s2@42L(4)|F~CPT/HCPCS~C(0)@s7@16C|F~Mod~@s2@100L(2)|F~"
     "Description~C(0)@s48@38L(6)|F~Dx Pointer~C(0)@s6@20L(2)|F~Units~C(0)@s3@60L(2)|F~Rendering ID#~C(0)@s17@"
     "60D(16)|F~$ Charges~C(0)@n-14.2@",
     {{0, 58}, {58, 86}, {86, 114}, {114, 178}, {178, 203}, {203, 354}, {354, 412}, {412, 443}, {443, 534},
      {534, 625}}},
    {"17C|F~PRV~@n03@45C|F~Account~@n05@45C|F~Invoice~@n08@45R(4)|F~Date~C(0)@D2@70R(4)|F~$ Charges~C(0)@n-18.2@"
     "70R(4)|F~$ Payment~C(0)@n-18.2@70R(4)|F~$ Adjustment~C(0)@n-18.2@70R(4)F~$ Balance~C(0)@n-18.2@",
     {{0, 27}, {27, 96}, {96, 165}, {165, 234}, {234, 340}, {340, 446}, {446, 552}, {552, 657}}},
    {"50R(4)|F~Date~C(0)@d2@40C|F~Code~@s6@105L(2)|F~Issued by/to:~C(0)@s28@105L(2)|F~Check/Claim reference~C(0)"
     "@s24@105R(4)~$ Amount~C(0)@n-14.2@",
     {{0, 76}, {76, 137}, {137, 296}, {296, 455}, {455, 613}}},
};

TEST(ListFormat, TheApplicationsFormatsParseToTheirEdgesAndWriteBackAsGiven) {
    for (const AppFormat& app : kAppFormats) {
        ListFormat format = Parse(app.text);
        EXPECT_EQ(format.damage_at, std::string_view::npos) << app.text;
        EXPECT_EQ(EdgesOf(format), app.edges) << app.text;
        EXPECT_EQ(WriteListFormat(format), app.text);
        for (size_t i = 0; i < format.columns.size(); i++) {
            EXPECT_EQ(format.columns[i].queue_field, int32_t(i + 1)) << app.text;
            EXPECT_TRUE(format.columns[i].picture.IsValid()) << app.text << " column " << i;
        }
    }
}

TEST(ListFormat, TheBrowseFormatColumnByColumn) {
    ListFormat f = Parse("49C|F~Date~@D2@128L(4)|F~Authorization signed by:~@s32@");
    ASSERT_EQ(f.columns.size(), 2u);
    const ListColumn& date = f.columns[0];
    EXPECT_EQ(date.DataJustify(), Justify::Centre);
    EXPECT_EQ(date.HeaderJustify(), Justify::Centre);   // the header takes the data's
    EXPECT_EQ(date.justification, 0x0A);
    EXPECT_EQ(date.flags, kColumnRightBorder | kColumnFixed);
    EXPECT_EQ(date.header, "Date");
    EXPECT_EQ(date.picture_text, "D2");
    EXPECT_EQ(date.pixel_width, 75);
    const ListColumn& name = f.columns[1];
    EXPECT_EQ(name.DataJustify(), Justify::Left);
    EXPECT_EQ(name.data_indent, 4);
    EXPECT_EQ(name.data_indent_pixels, 6);
    EXPECT_EQ(name.header_indent, 4);                    // the data indent is the header's default
    EXPECT_EQ(name.header, "Authorization signed by:");
    EXPECT_EQ(f.fixed_columns, 2);
    EXPECT_EQ(f.header_lines, 1);
    EXPECT_EQ(f.fields_used, 2);
}

TEST(ListFormat, ARightAlignedDateWithACentredUnindentedHeader) {
    ListFormat f = Parse("46R(4)|~Date~C(0)@D2@");
    const ListColumn& c = f.columns[0];
    EXPECT_EQ(c.DataJustify(), Justify::Right);
    EXPECT_EQ(c.HeaderJustify(), Justify::Centre);
    EXPECT_EQ(c.justification, 1 | 8);
    EXPECT_EQ(c.data_indent, 4);
    EXPECT_EQ(c.header_indent, 0);
    EXPECT_EQ(c.right, 70);
}

TEST(ListFormat, OnlyTheFirstPictureOfAColumnIsKept) {
    ListFormat f = Parse("40L@s5@@n9@20L");
    ASSERT_EQ(f.columns.size(), 2u);
    EXPECT_EQ(f.columns[0].picture_text, "s5");
    EXPECT_EQ(f.columns[1].queue_field, 2);
}

TEST(ListFormat, AGroupPutsOneHeaderOverItsColumns) {
    ListFormat f = Parse("[20L~A~20L~B~](40)~Both~|30R");
    ASSERT_EQ(f.columns.size(), 3u);
    ASSERT_EQ(f.groups.size(), 1u);
    const ListGroup& g = f.groups[0];
    EXPECT_EQ(g.first, 0u);
    EXPECT_EQ(g.count, 2u);
    EXPECT_EQ(g.header, "Both");
    EXPECT_EQ(g.left, 0);
    EXPECT_EQ(g.right, 60);   // 40 units
    EXPECT_EQ(g.flags, kColumnRightBorder);
    EXPECT_EQ(f.columns[0].group, 0);
    EXPECT_EQ(f.columns[2].group, -1);
    EXPECT_EQ(f.columns[2].left, 60);
    EXPECT_EQ(f.header_lines, 2);   // the group's line above the columns'
    EXPECT_EQ(WriteListFormat(f), "[20L~A~20L~B~](40)~Both~|30R");
    // A group's header over columns without any takes its line all the same.
    EXPECT_EQ(Parse("[20L20L]~Both~30R").header_lines, 1);
    EXPECT_EQ(Parse("[20L20L]30R").header_lines, 0);
}

TEST(ListFormat, ScrollHeaderHeightAndTheMarkedColumn) {
    ListFormat f = Parse("30LS40LS(60)H(12)?20L");
    EXPECT_EQ(f.columns[0].scroll_width, 100);   // S without a width
    EXPECT_EQ(f.columns[0].flags, kColumnScroll);
    EXPECT_EQ(f.columns[1].scroll_width, 60);
    EXPECT_EQ(f.columns[1].header_height, 12);
    EXPECT_EQ(f.columns[1].flags2, kColumnHeaderHeight);
    EXPECT_EQ(f.marked_column, 1);
    EXPECT_EQ(WriteListFormat(f), "30LS40LS(60)H(12)?20L");   // S as written, without its 100
}

TEST(ListFormat, MMakesAColumnResizableAndTheColumnsAfterItMove) {
    ListFormat f = Parse("30LM40R|M~B~20L/30LM");
    EXPECT_EQ(EdgesOf(f), (Edges{{0, 45}, {45, 106}, {106, 136}, {0, 45}}));
    EXPECT_EQ(f.columns[0].follows_resizable, false);
    EXPECT_EQ(f.columns[1].follows_resizable, true);    // after an M column
    EXPECT_EQ(f.columns[2].follows_resizable, true);
    EXPECT_EQ(f.columns[3].follows_resizable, false);   // a new line starts its own edges

    // Dragged to 60 pixels: 40 units; the next columns move by the 15 pixels gained.
    EXPECT_TRUE(ResizeListColumn(f, 0, 60));
    EXPECT_EQ(EdgesOf(f), (Edges{{0, 60}, {60, 121}, {121, 151}, {0, 45}}));
    // A bordered column keeps its line: 31 pixels are 20 units and the border.
    EXPECT_TRUE(ResizeListColumn(f, 1, 31));
    EXPECT_EQ(f.columns[1].right, 91);
    EXPECT_EQ(WriteListFormat(f), "40LM20R|M~B~20L/30LM");
    // Held at no width rather than a negative one; a column without M does not move.
    EXPECT_TRUE(ResizeListColumn(f, 0, -10));
    EXPECT_EQ(f.columns[0].pixel_width, 0);
    EXPECT_EQ(f.columns[1].left, 0);
    EXPECT_FALSE(ResizeListColumn(f, 2, 90));
    EXPECT_FALSE(ResizeListColumn(f, 9, 90));
    EXPECT_EQ(f.columns[2].width, 20);

    // The border a person grabs: an M column's right edge on the line the mouse is on.
    f = Parse("30LM40R|M~B~20L/30LM");
    EXPECT_EQ(ListColumnBorderAt(f, 46, 0), 0);
    EXPECT_EQ(ListColumnBorderAt(f, 104, 0), 1);
    EXPECT_EQ(ListColumnBorderAt(f, 136, 0), -1);   // the last column has no M
    EXPECT_EQ(ListColumnBorderAt(f, 80, 0), -1);
    EXPECT_EQ(ListColumnBorderAt(f, 45, 1), 3);
}

TEST(ListFormat, SGivesAColumnAnAreaToScrollOver) {
    ListFormat f = Parse("40LS(80)20LS30L");
    EXPECT_EQ(f.columns[0].pixel_width, 60);
    EXPECT_EQ(f.columns[0].scroll_pixels, 120);
    EXPECT_EQ(f.columns[1].scroll_pixels, 150);   // 100 units when S has no width
    EXPECT_EQ(f.columns[2].scroll_pixels, 0);
    EXPECT_EQ(f.columns[2].left, 90);            // the area does not widen the column
}

TEST(ListFormat, HSetsTheHeightOfTheHeaderBand) {
    // A vertical unit is an eighth of the 13-pixel line.
    EXPECT_EQ(ListHeaderHeight(Parse("20L~A~H(20)"), 13), 33);
    EXPECT_EQ(ListHeaderHeight(Parse("20L~A~H(4)"), 13), 13);          // never below the lines
    EXPECT_EQ(ListHeaderHeight(Parse("20L~A\nB~20LH(20)"), 13), 33);  // the tallest wins
    EXPECT_EQ(ListHeaderHeight(Parse("20L~A\nB\nC~20LH(20)"), 13), 39);
    EXPECT_EQ(ListHeaderHeight(Parse("20LH(16)"), 13), 26);            // a band without texts
    EXPECT_EQ(ListHeaderHeight(Parse("20L"), 13), 0);
    EXPECT_EQ(ListHeaderHeight(Parse("[20L~A~20L](40)~G~H(24)"), 13), 39);   // a group's
    EXPECT_EQ(ListHeaderHeight(Parse("20LH"), 13), 0);                 // H without a height
}

TEST(ListFormat, MSAndHAreWrittenBackAsGiven) {
    const char* formats[] = {"30LS",        "30LS(100)",       "30LH",          "30LH(12)",
                             "30LM~A~40R",  "[20L20L](40)SH",  "[20L20L]MS(5)H(9)",
                             "30L(2)|MFS(60)H(10)~Name~C(0)@s20@", "20LS(0)H(0)"};
    for (const char* text : formats)
        EXPECT_EQ(WriteListFormat(Parse(text)), text);
    // Found by the fuzzer: an empty group keeps its modifiers, and a later H without a height
    // undoes an earlier one's.
    EXPECT_EQ(WriteListFormat(Parse("[]H(12)")), "[]H(12)");
    EXPECT_EQ(Parse("[]H(12)").header_height_units, 12);
    EXPECT_EQ(WriteListFormat(Parse("20LH(3)H")), "20LH");
    EXPECT_EQ(Parse("20LH(3)H").columns[0].header_height, 0);
    // The same letters for the same flags, in the one order a column's items are written.
    EXPECT_EQ(WriteListFormat(Parse("30lhs(5)m")), "30LMS(5)H");
}

TEST(ListFormat, AZeroWidthColumnShowsNothingButTakesItsField) {
    ListFormat f = Parse("0L20L-5R30L");
    ASSERT_EQ(f.columns.size(), 4u);
    EXPECT_EQ(f.columns[0].pixel_width, 0);
    EXPECT_EQ(f.columns[0].right, -1);
    EXPECT_EQ(f.columns[1].left, 0);
    EXPECT_EQ(f.columns[1].queue_field, 2);
    EXPECT_EQ(f.columns[2].right, 29);   // x - 1
    EXPECT_EQ(f.columns[3].left, 30);
    EXPECT_EQ(f.columns[3].queue_field, 4);
}

TEST(ListFormat, ModifiersMoveTheQueueFields) {
    // * adds four colour fields, I an icon field, T a tree-level field; #n# names the field.
    ListFormat f = Parse("20L*20LI20LT(LB1)20L#2#20L");
    ASSERT_EQ(f.columns.size(), 5u);
    EXPECT_EQ(f.columns[0].queue_field, 1);
    EXPECT_EQ(f.columns[0].colour_field, 2);
    EXPECT_EQ(f.columns[1].queue_field, 6);
    EXPECT_EQ(f.columns[1].icon_field, 7);
    EXPECT_EQ(f.columns[2].queue_field, 8);
    EXPECT_EQ(f.columns[2].tree_field, 9);
    EXPECT_EQ(f.columns[2].flags2, kTreeLines | kTreeBoxes | kTreeOneBased);
    EXPECT_EQ(f.columns[3].queue_field, 2);
    EXPECT_EQ(f.columns[4].queue_field, 10);   // after the highest field so far
    EXPECT_EQ(WriteListFormat(f), "20L*20LI20LT(LB1)20L#2#20L");
}

TEST(ListFormat, ColoursHeadersOnSeveralLinesAndNewLines) {
    ListFormat f = Parse("20LE(255,,16777215)~Two\nlines~/20L~One~");
    const ListColumn& c = f.columns[0];
    EXPECT_EQ(c.colours[0], 255u);
    EXPECT_EQ(c.colours[1], kNoColour);
    EXPECT_EQ(c.colours[2], 16777215u);
    EXPECT_EQ(c.colours[3], kNoColour);
    EXPECT_EQ(f.header_lines, 2);
    EXPECT_EQ(c.flags & kColumnNewLine, kColumnNewLine);
    EXPECT_EQ(f.columns[1].line, 1);
    EXPECT_EQ(f.columns[1].left, 0);   // back to the row's left edge
    EXPECT_EQ(f.lines_per_row, 2);
    EXPECT_EQ(WriteListFormat(f), "20LE(255,,16777215,)~Two\nlines~/20L~One~");
}

TEST(ListFormat, DamagedFormatsEndAndSayWhere) {
    const char* damaged[] = {"20L~never ends", "20L@s5", "20L]30L", "[[20L]", "20LZ30L", "((((", "#12", "[20L"};
    for (const char* text : damaged) {
        ListFormat f = Parse(text);
        EXPECT_NE(f.damage_at, std::string_view::npos) << text;
    }
    EXPECT_EQ(Parse("[:20L]").columns.size(), 1u);   // what starts no entry adds no column
    EXPECT_EQ(Parse("20L::30R").columns.size(), 2u);
    EXPECT_EQ(Parse(WriteListFormat(Parse("[~~20L]"))).columns.size(), 2u);   // an empty header's column stays
    EXPECT_EQ(Parse(WriteListFormat(Parse("[]]|R"))).columns[0].flags, kColumnRightBorder);   // not the group's
    ListFormat huge = Parse("99999999999999999999L99999999999999999999L");
    EXPECT_EQ(huge.columns.size(), 2u);
    EXPECT_GT(huge.columns[1].right, huge.columns[1].left);   // held in range, no overflow
    std::string many(5000, 'L');
    EXPECT_EQ(Parse(many).columns.size(), kMaxListColumns);
    EXPECT_TRUE(Parse("").columns.empty());
}

}  // namespace
}  // namespace tarvex::windows
