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

namespace tarvex::windows {

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

    // Bytes the list holds for itself (the format and the columns), not counting the queue.
    size_t OwnMemory() const;

private:
    void Clamp();

    ListFormat format_;
    QueueDecl* queue_ = nullptr;
    int32_t selected_ = 0;
    int32_t top_ = 1;
    int32_t page_rows_ = 1;
    int32_t thumb_ = 0;
    bool thumb_set_ = false;
};

}  // namespace tarvex::windows
