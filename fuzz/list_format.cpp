// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes LIST formats: any bytes are parsed into columns, which must hold together (edges in
// order on their line, fields from 1, every group inside the columns), then written back and
// parsed again: the second parse must give the same columns as the first, and writing it again
// gives the same text. Each resizable (M) column is then resized as a person would drag it, and the
// columns must still hold together and come back the same through their text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "windows/list_format.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    tarvex::windows::ListFormat format;
    tarvex::windows::ParseListFormat(text, 6, format);
    Check(format.columns.size() <= tarvex::windows::kMaxListColumns);
    for (const auto& column : format.columns) {
        Check(column.queue_field >= 1 || column.field_given);
        Check(column.right >= column.left - 1);
        Check(column.group < int(format.groups.size()));
    }
    for (const auto& group : format.groups)
        Check(group.first + group.count <= format.columns.size());
    std::string written = tarvex::windows::WriteListFormat(format);
    tarvex::windows::ListFormat again;
    tarvex::windows::ParseListFormat(written, 6, again);
    Check(again.columns.size() == format.columns.size());
    for (size_t i = 0; i < format.columns.size(); i++) {
        Check(again.columns[i].left == format.columns[i].left);
        Check(again.columns[i].right == format.columns[i].right);
        Check(again.columns[i].queue_field == format.columns[i].queue_field);
        Check(again.columns[i].flags == format.columns[i].flags);
        Check(again.columns[i].picture_text == format.columns[i].picture_text);
        Check(again.columns[i].scroll_pixels == format.columns[i].scroll_pixels);
        Check(again.columns[i].follows_resizable == format.columns[i].follows_resizable);
    }
    Check(again.header_height_units == format.header_height_units);
    Check(tarvex::windows::WriteListFormat(again) == written);

    int32_t drag = size > 0 ? int32_t(data[0]) * 3 - 100 : 0;
    for (size_t i = 0; i < format.columns.size(); i++) {
        bool resizable = (format.columns[i].flags & tarvex::windows::kColumnMark) != 0;
        Check(tarvex::windows::ResizeListColumn(format, i, drag) == resizable);
        Check(format.columns[i].pixel_width >= 0);
    }
    tarvex::windows::ListFormat resized;
    tarvex::windows::ParseListFormat(tarvex::windows::WriteListFormat(format), 6, resized);
    Check(resized.columns.size() == format.columns.size());
    for (size_t i = 0; i < format.columns.size(); i++) {
        Check(resized.columns[i].left == format.columns[i].left);
        Check(resized.columns[i].right == format.columns[i].right);
    }
    Check(tarvex::windows::ListHeaderHeight(format, 13) >= 0);
    return 0;
}
