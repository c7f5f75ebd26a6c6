// SPDX-License-Identifier: GPL-3.0-or-later
// The FORMAT string of a LIST: which queue field each column shows, how wide it is, how its data
// and its header are aligned, its picture, colours, icon and tree fields, and the groups that put
// one header over several columns. Parsed once per list (again when the program sets the format),
// written back from the columns with the same letters for the same flags.
//
// A format is a sequence of column entries and groups, left to right. A column entry is its width
// in dialog units (optional minus sign and digits; missing is 0), a justification letter (L, R, C
// or D), an optional (n) data indent, then any of the modifiers below until a character that is
// none of them begins the next entry:
//   |  right border line          _  bottom border line       F  fixed column
//   S(n) scroll width (100)       M  resizable by a person    H(n) header height
//   ~text~J(n) header, its own justification and indent       /  next column on a new line
//   ?  the marked column          #n# queue field n           *  four colour fields follow
//   E(fg,bg,sfg,sbg) colours      I  an icon field follows    T(letters) tree column
//   @picture@ (the first one of the column is kept)
// A group is [ entries ] with an optional (n) width and the modifiers ~header~ | _ M F S H.
//
// What M, S and H do to the columns:
//   M     a person may drag the column's right edge to make it wider or narrower; the column
//         after it on its line is marked as following it (its left edge is the border dragged),
//         and the columns after it move by the difference. The new width is the one written back.
//   S(n)  the column shows a window onto an area n dialog units wide (100 when n is left out):
//         its contents scroll sideways within the column, from 0 to the area less the column.
//   H(n)  the header band is at least n vertical dialog units high (the font's height is 8
//         units), whatever the number of header lines; on a group, its header line is.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/picture.h"

namespace tarvex::windows {

// Column flags, as the letters set them.
constexpr uint32_t kColumnRightBorder = 0x10;   // |
constexpr uint32_t kColumnBottomBorder = 0x20;  // _
constexpr uint32_t kColumnFixed = 0x40;         // F
constexpr uint32_t kColumnScroll = 0x80;        // S
constexpr uint32_t kColumnMark = 0x100;         // M
constexpr uint32_t kColumnMarked = 0x400;       // ?
constexpr uint32_t kColumnIcon = 0x800;         // I
constexpr uint32_t kColumnNewLine = 0x4200;     // /
constexpr uint32_t kColumnTree = 0x8000;        // T
// Second flags.
constexpr uint32_t kColumnColoured = 0x01;      // *
constexpr uint32_t kColumnHeaderHeight = 0x02;  // H
constexpr uint32_t kTreeLines = 0x04;           // T(L)
constexpr uint32_t kTreeBoxes = 0x08;           // T(B)
constexpr uint32_t kTreeIndent = 0x10;          // T(I)
constexpr uint32_t kTreeOneBased = 0x20;        // T(1)
constexpr uint32_t kTreeRoot = 0x40;            // T(R)

// Justification codes of the data (low two bits); the header's are the same shifted by two.
enum class Justify : uint8_t { Left = 0, Right = 1, Centre = 2, Decimal = 3 };

constexpr uint32_t kNoColour = 0xFFFFFFFF;
constexpr int32_t kDefaultScrollWidth = 100;
constexpr size_t kMaxListColumns = 1024;        // a longer format is damaged past this column
constexpr int32_t kBorderWidth = 1;             // pixels of a border line

struct ListColumn {
    // As written, in dialog units.
    int32_t width = 0;
    int32_t data_indent = 0;
    int32_t header_indent = 0;
    int32_t scroll_width = 0;
    int32_t header_height = 0;
    // Placed, in pixels: the column spans left..right on its line of the row.
    int32_t left = 0, right = 0;
    int32_t pixel_width = 0;
    int32_t data_indent_pixels = 0, header_indent_pixels = 0;
    int32_t line = 0;                  // the row's line the column sits on ('/' starts a new one)
    int32_t scroll_pixels = 0;         // S: the area its contents scroll over; 0 without S
    bool follows_resizable = false;    // the column before it on its line has M
    uint8_t justification = 0;         // data in bits 0-1, header in bits 2-3
    uint32_t flags = 0, flags2 = 0;
    std::string_view header;           // shared text; line feeds separate its lines
    std::string picture_text;          // without its '@'s; empty: none
    PicDesc picture;
    int32_t queue_field = 0;           // 1-based
    int32_t colour_field = 0;          // '*': the first of four, else 0
    int32_t icon_field = 0;            // 'I'
    int32_t tree_field = 0;            // 'T'
    std::array<uint32_t, 4> colours{kNoColour, kNoColour, kNoColour, kNoColour};
    int group = -1;                    // index of its group, or -1
    // What was written, so the format is written back as it was given.
    bool width_given = false, justify_given = false, data_indent_given = false, header_letter_given = false,
         header_indent_given = false, field_given = false, colours_given = false, scroll_width_given = false,
         header_height_given = false;
    std::string tree_letters;

    Justify DataJustify() const { return Justify(justification & 3); }
    Justify HeaderJustify() const { return Justify((justification >> 2) & 3); }
};

struct ListGroup {
    size_t first = 0, count = 0;       // its columns
    int32_t width = 0;                 // dialog units; 0 when not given
    bool width_given = false;
    int32_t left = 0, right = 0;       // pixels: the group header's extent
    std::string_view header;
    uint8_t header_justification = 0;
    bool header_letter_given = false;
    uint32_t flags = 0, flags2 = 0;
    int32_t scroll_width = 0, header_height = 0;
    bool scroll_width_given = false, header_height_given = false;
};

struct ListFormat {
    std::vector<ListColumn> columns;
    std::vector<ListGroup> groups;
    int32_t fixed_columns = 0;          // columns with F
    int32_t marked_column = -1;         // the column with '?', or -1
    int32_t header_lines = 0;           // lines of the tallest header, and one for group headers; 0: none
    int32_t lines_per_row = 1;          // '/' adds one
    int32_t total_width = 0;            // pixels of the widest line
    size_t damage_at = std::string_view::npos;   // where a damaged format stopped being read
    int32_t fields_used = 0;            // the highest queue field any column reads
    int32_t average_char_width = 0;     // of the font the format was placed with
    int32_t header_height_units = 0;    // the largest H(n) of a column or group; 0 when none
};

// Parses `text` into `format` (its previous columns cleared), converting dialog units with the
// average character width of the list's font. Never fails: a character that no entry can start
// is passed over and its offset kept in damage_at; at most kMaxListColumns columns are read.
void ParseListFormat(std::string_view text, int32_t average_char_width, ListFormat& format);

// The format text of the columns: the same letters for the same flags and values.
std::string WriteListFormat(const ListFormat& format);

// Pixels of the header band for a font `line_height` pixels high: the header lines, or the
// tallest H(n) when that is higher.
int32_t ListHeaderHeight(const ListFormat& format, int32_t line_height);

// The column a person grabs at x on row line `line` to resize it: a column with M whose right
// edge lies within `slack` pixels of x; -1 when there is none.
int32_t ListColumnBorderAt(const ListFormat& format, int32_t x, int32_t line, int32_t slack = 2);

// Makes an M column `pixels` wide (at least 0) and moves the columns after it; its width in
// dialog units follows, so the format written back holds it. False for a column without M.
bool ResizeListColumn(ListFormat& format, size_t column, int32_t pixels);

}  // namespace tarvex::windows
