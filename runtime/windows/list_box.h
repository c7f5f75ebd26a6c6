// SPDX-License-Identifier: GPL-3.0-or-later
// The LIST model: a queue shown through a parsed format, a page of visible rows, the selected row
// and the scroll thumb. The list reads only the rows it shows, each cell through its column's
// picture, so a queue of any length costs nothing until a page is drawn; its own memory is the
// format and the page.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "tarvex/queue.h"
#include "windows/list_format.h"
#include "windows/native_ui.h"
#include "windows/value_text.h"

namespace tarvex::windows {

// The most icons a list names: a program's list shows a handful; a stray index must not make the
// list reserve memory for millions.
constexpr int32_t kMaxListIcons = 1024;

class ListBox {
public:
    // The format, parsed with the list font's average character width.
    void SetFormat(std::string_view text, int32_t average_char_width);
    const ListFormat& Format() const { return format_; }
    std::string FormatText() const { return WriteListFormat(format_); }

    void SetQueue(QueueDecl* queue);
    QueueDecl* Queue() const { return queue_; }

    // The list's client height and its font's line height, in pixels: they fix the page.
    void SetGeometry(int32_t height, int32_t line_height);
    // Rows that fit below the headers (at least 1).
    int32_t PageRows() const { return page_rows_; }
    int32_t Records() const;
    // The selected row (1-based), 0 when the queue is empty.
    int32_t Selected() const;
    // The first visible row (1-based).
    int32_t Top() const;

    // Selects a row (held to 1..Records) and scrolls it into view; true when the selection moved.
    bool Select(int32_t row);
    // Scrolls so that `row` is the first visible row (held to the rows there are).
    void ScrollTo(int32_t row);
    // The thumb, 0..100: follows the top row while the queue holds more than a page; a program that
    // pages the queue itself sets it.
    int32_t Thumb() const;
    void SetThumb(int32_t position);

    // Texts of a row (1-based) in column order, each through its column's picture; empty cells for
    // a row the queue does not hold.
    std::vector<std::string> RowCells(int32_t row) const;
    std::string Cell(int32_t row, size_t column) const;
    // The header lines, each with one text per column.
    std::vector<std::string> HeaderCells() const;
    // How each cell of a row is drawn: the column's fixed colours, overridden by the row's colour
    // fields where they hold a colour, its icon and its tree level.
    std::vector<NativeListCell> RowStyles(int32_t row) const;
    // The columns and group headers as the backend lays them out.
    std::vector<NativeListColumn> Columns() const;
    std::vector<NativeListGroup> Groups() const;
    // Pixels of the header band (the header lines, or the tallest H(n)).
    int32_t HeaderHeight() const { return ListHeaderHeight(format_, line_height_); }
    // Pixels kept below the rows for the bar that scrolls the S columns sideways: a line while
    // some S column's area is wider than the column, else 0.
    int32_t SidewaysBarHeight() const;
    // The visible page with its layout and cell styles, ready for the backend.
    NativeListView View() const;

    // A person drags an M column's right edge: the column becomes `pixels` wide. False (nothing
    // changes) for a column without M.
    bool ResizeColumn(size_t column, int32_t pixels);
    // Scrolls an S column's contents to `offset` pixels (held to 0 .. its area less its width).
    // False for a column without S.
    bool ScrollColumn(size_t column, int32_t offset);
    int32_t ColumnScroll(size_t column) const;
    // Scrolls every S column to `offset` (each held to its own area); false when there is none.
    bool ScrollColumns(int32_t offset);

    // The list's icons, from 1 (what a cell's icon field names); an empty name for one not set.
    // False (nothing kept) past kMaxListIcons.
    bool SetIcon(int32_t number, std::string_view name);
    std::string Icon(int32_t number) const;

    // Bytes the list holds for itself (the format and the columns), not counting the queue.
    size_t OwnMemory() const;

private:
    void Clamp();
    // The stored value of queue field `field` (1-based) in row `row`; no address when there is none.
    StoredValue FieldValue(int32_t row, int32_t field) const;

    ListFormat format_;
    std::vector<int32_t> column_scroll_;   // per column, pixels; kept only for S columns
    std::vector<std::string> icons_;       // icon n at n - 1
    int32_t height_ = 0, line_height_ = 13;
    QueueDecl* queue_ = nullptr;
    int32_t selected_ = 0;
    int32_t top_ = 1;
    int32_t page_rows_ = 1;
    int32_t thumb_ = 0;
    bool thumb_set_ = false;
};

}  // namespace tarvex::windows
