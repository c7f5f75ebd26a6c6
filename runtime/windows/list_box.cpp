// SPDX-License-Identifier: GPL-3.0-or-later
// The LIST model (list_box.h).
#include "windows/list_box.h"

#include <algorithm>

#include "core/queue.h"
#include "windows/value_text.h"

namespace tarvex::windows {

static_assert(kNoColour == kNoNativeColour, "a column's missing colour is the backend's missing colour");

void ListBox::SetFormat(std::string_view text, int32_t average_char_width) {
    ParseListFormat(text, average_char_width, format_);
    column_scroll_.assign(format_.columns.size(), 0);
}

// The queue is not read here: the list touches its rows only when it shows them.
void ListBox::SetQueue(QueueDecl* queue) { queue_ = queue; }

void ListBox::SetGeometry(int32_t height, int32_t line_height) {
    height_ = height;
    line_height_ = std::max(line_height, 1);
    // In 64 bits and held to a queue's most rows: a damaged description may give any height.
    int64_t line = line_height_;
    int64_t lines = format_.lines_per_row > 0 ? format_.lines_per_row : 1;
    int64_t body = int64_t(height) - HeaderHeight() - SidewaysBarHeight();
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

StoredValue ListBox::FieldValue(int32_t row, int32_t field) const {
    if (row < 1 || row > Records() || queue_->type == nullptr || field < 1 ||
        uint32_t(field) > queue_->type->field_count)
        return {};
    const VrnFieldDesc& desc = queue_->type->fields[field - 1];
    if (desc.offset + desc.size > queue_->type->size)
        return {};
    uint8_t* record = queue_->instance->entries.At(uint32_t(row - 1));
    return {record + desc.offset, desc.type, desc.size, desc.places};
}

std::string ListBox::Cell(int32_t row, size_t column) const {
    if (column >= format_.columns.size())
        return {};
    const ListColumn& c = format_.columns[column];
    StoredValue value = FieldValue(row, c.queue_field);
    if (value.address == nullptr)
        return {};
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

std::vector<NativeListCell> ListBox::RowStyles(int32_t row) const {
    std::vector<NativeListCell> styles(format_.columns.size());
    for (size_t i = 0; i < format_.columns.size(); i++) {
        const ListColumn& c = format_.columns[i];
        NativeListCell& cell = styles[i];
        uint32_t* colours[4] = {&cell.foreground, &cell.background, &cell.selected_foreground,
                                &cell.selected_background};
        for (size_t k = 0; k < 4; k++) {
            *colours[k] = c.colours[k];
            // A colour field holding no colour leaves the column's own.
            if (c.colour_field > 0)
                if (StoredValue v = FieldValue(row, c.colour_field + int32_t(k)); v.address != nullptr)
                    if (uint32_t colour = uint32_t(ValueLong(v)); colour != kNoColour)
                        *colours[k] = colour;
        }
        if (c.icon_field > 0)
            if (StoredValue v = FieldValue(row, c.icon_field); v.address != nullptr)
                cell.icon = ValueLong(v);
        if (c.tree_field > 0)
            if (StoredValue v = FieldValue(row, c.tree_field); v.address != nullptr)
                cell.tree_level = ValueLong(v);
    }
    return styles;
}

std::vector<NativeListColumn> ListBox::Columns() const {
    std::vector<NativeListColumn> columns;
    columns.reserve(format_.columns.size());
    for (size_t i = 0; i < format_.columns.size(); i++) {
        const ListColumn& c = format_.columns[i];
        columns.push_back({.left = c.left,
                           .right = c.right,
                           .line = c.line,
                           .justification = c.justification,
                           .data_indent = c.data_indent_pixels,
                           .header_indent = c.header_indent_pixels,
                           .right_border = (c.flags & kColumnRightBorder) != 0,
                           .bottom_border = (c.flags & kColumnBottomBorder) != 0,
                           .resizable = (c.flags & kColumnMark) != 0,
                           .scroll_width = c.scroll_pixels,
                           .scroll = ColumnScroll(i),
                           .group = c.group});
    }
    return columns;
}

std::vector<NativeListGroup> ListBox::Groups() const {
    std::vector<NativeListGroup> groups;
    for (const ListGroup& g : format_.groups)
        groups.push_back({g.left, g.right, std::string(g.header), uint8_t(g.header_justification >> 2),
                          (g.flags & kColumnRightBorder) != 0, (g.flags & kColumnBottomBorder) != 0});
    return groups;
}

NativeListView ListBox::View() const {
    NativeListView view;
    view.headers = HeaderCells();
    view.first_row = Top();
    int32_t last = std::min(Records(), Top() + page_rows_ - 1);
    for (int32_t row = Top(); row <= last; row++) {
        view.rows.push_back(RowCells(row));
        view.cells.push_back(RowStyles(row));
    }
    view.selected = Selected();
    view.thumb = Thumb();
    view.records = Records();
    view.scrolls = view.records > page_rows_;
    view.columns = Columns();
    view.groups = Groups();
    view.header_height = HeaderHeight();
    view.sideways_bar = SidewaysBarHeight();
    view.icons = icons_;
    return view;
}

bool ListBox::ResizeColumn(size_t column, int32_t pixels) {
    if (!ResizeListColumn(format_, column, pixels))
        return false;
    // The page may hold another number of rows when a header height changed; the widths do not
    // change it, but the columns' edges moved.
    SetGeometry(height_, line_height_);
    ScrollColumn(column, ColumnScroll(column));   // held to the new width
    return true;
}

bool ListBox::ScrollColumn(size_t column, int32_t offset) {
    if (column >= format_.columns.size() || !(format_.columns[column].flags & kColumnScroll))
        return false;
    const ListColumn& c = format_.columns[column];
    int32_t most = std::max(c.scroll_pixels - c.pixel_width, 0);
    column_scroll_[column] = std::clamp(offset, 0, most);
    return true;
}

bool ListBox::ScrollColumns(int32_t offset) {
    bool any = false;
    for (size_t i = 0; i < format_.columns.size(); i++)
        any = ScrollColumn(i, offset) || any;
    return any;
}

int32_t ListBox::SidewaysBarHeight() const {
    for (const ListColumn& c : format_.columns)
        if ((c.flags & kColumnScroll) && c.scroll_pixels > c.pixel_width)
            return line_height_;
    return 0;
}

int32_t ListBox::ColumnScroll(size_t column) const {
    return column < column_scroll_.size() ? column_scroll_[column] : 0;
}

bool ListBox::SetIcon(int32_t number, std::string_view name) {
    if (number < 1 || number > kMaxListIcons)
        return false;
    if (size_t(number) > icons_.size())
        icons_.resize(size_t(number));
    icons_[size_t(number - 1)] = std::string(name);
    return true;
}

std::string ListBox::Icon(int32_t number) const {
    return number >= 1 && size_t(number) <= icons_.size() ? icons_[size_t(number - 1)] : std::string();
}

size_t ListBox::OwnMemory() const {
    size_t bytes = sizeof *this + format_.columns.capacity() * sizeof(ListColumn) +
                   format_.groups.capacity() * sizeof(ListGroup) + column_scroll_.capacity() * sizeof(int32_t) +
                   icons_.capacity() * sizeof(std::string);
    for (const ListColumn& c : format_.columns)
        bytes += c.picture_text.capacity() + c.tree_letters.capacity();
    for (const std::string& icon : icons_)
        bytes += icon.capacity();
    return bytes;
}

}  // namespace tarvex::windows
