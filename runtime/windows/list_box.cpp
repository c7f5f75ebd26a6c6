// SPDX-License-Identifier: GPL-3.0-or-later
// The LIST model (list_box.h).
#include "windows/list_box.h"

#include <algorithm>

#include "core/queue.h"
#include "windows/value_text.h"

namespace tarvex::windows {

void ListBox::SetFormat(std::string_view text, int32_t average_char_width) {
    ParseListFormat(text, average_char_width, format_);
}

// The queue is not read here: the list touches its rows only when it shows them.
void ListBox::SetQueue(QueueDecl* queue) { queue_ = queue; }

void ListBox::SetGeometry(int32_t height, int32_t line_height) {
    // In 64 bits and held to a queue's most rows: a damaged description may give any height.
    int64_t line = std::max(line_height, 1);
    int64_t lines = format_.lines_per_row > 0 ? format_.lines_per_row : 1;
    int64_t body = int64_t(height) - int64_t(format_.header_lines) * line;
    page_rows_ = int32_t(std::clamp<int64_t>(body / (line * lines), 1, VRN_QUEUE_MAX_ENTRIES));
}

int32_t ListBox::Records() const {
    if (queue_ == nullptr || queue_->instance == nullptr)
        return 0;
    return int32_t(queue_->instance->entries.Count());
}

int32_t ListBox::Selected() const {
    int32_t records = Records();
    if (records == 0)
        return 0;
    return std::clamp(selected_, 1, records);
}

int32_t ListBox::Top() const {
    int32_t records = Records();
    return std::clamp(top_, 1, std::max(1, records - page_rows_ + 1));
}

void ListBox::Clamp() {
    int32_t records = Records();
    if (records == 0) {
        selected_ = 0;
        top_ = 1;
        return;
    }
    selected_ = std::clamp(selected_, 1, records);
    top_ = std::clamp(top_, 1, std::max(1, records - page_rows_ + 1));
    if (selected_ < top_)
        top_ = selected_;
    else if (selected_ >= top_ + page_rows_)
        top_ = selected_ - page_rows_ + 1;
}

bool ListBox::Select(int32_t row) {
    int32_t before = Selected();
    int32_t records = Records();
    selected_ = records == 0 ? 0 : std::clamp(row, 1, records);
    Clamp();
    return Selected() != before;
}

void ListBox::ScrollTo(int32_t row) {
    top_ = row;
    int32_t records = Records();
    top_ = std::clamp(top_, 1, std::max(1, records - page_rows_ + 1));
}

int32_t ListBox::Thumb() const {
    int32_t records = Records();
    if (thumb_set_ || records <= page_rows_)
        return thumb_;
    return int32_t(int64_t(Top() - 1) * 100 / (records - page_rows_));
}

void ListBox::SetThumb(int32_t position) {
    position = std::clamp(position, 0, 100);
    int32_t records = Records();
    if (records > page_rows_) {
        thumb_set_ = false;
        ScrollTo(1 + int32_t(int64_t(position) * (records - page_rows_) / 100));
        return;
    }
    thumb_set_ = true;
    thumb_ = position;
}

std::string ListBox::Cell(int32_t row, size_t column) const {
    if (row < 1 || row > Records() || column >= format_.columns.size() || queue_->type == nullptr)
        return {};
    const ListColumn& c = format_.columns[column];
    if (c.queue_field < 1 || uint32_t(c.queue_field) > queue_->type->field_count)
        return {};
    const VrnFieldDesc& field = queue_->type->fields[c.queue_field - 1];
    uint8_t* record = queue_->instance->entries.At(uint32_t(row - 1));
    if (field.offset + field.size > queue_->type->size)
        return {};
    StoredValue value{record + field.offset, field.type, field.size, field.places};
    // Trailing blanks of a picture's width are not shown; leading ones align a number.
    std::string text = FormatValue(value, c.picture_text.empty() ? nullptr : &c.picture);
    text.erase(text.find_last_not_of(' ') + 1);
    return text;
}

std::vector<std::string> ListBox::RowCells(int32_t row) const {
    std::vector<std::string> cells;
    cells.reserve(format_.columns.size());
    for (size_t i = 0; i < format_.columns.size(); i++)
        cells.push_back(Cell(row, i));
    return cells;
}

std::vector<std::string> ListBox::HeaderCells() const {
    std::vector<std::string> headers;
    for (const ListColumn& c : format_.columns)
        headers.emplace_back(c.header);
    return headers;
}

size_t ListBox::OwnMemory() const {
    size_t bytes = sizeof *this + format_.columns.capacity() * sizeof(ListColumn) +
                   format_.groups.capacity() * sizeof(ListGroup);
    for (const ListColumn& c : format_.columns)
        bytes += c.picture_text.capacity() + c.tree_letters.capacity();
    return bytes;
}

}  // namespace tarvex::windows
