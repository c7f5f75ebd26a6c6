// SPDX-License-Identifier: GPL-3.0-or-later
// Reading and writing LIST formats (list_format.h).
#include "windows/list_format.h"

#include <algorithm>
#include <cctype>

#include "windows/window_object.h"

namespace tarvex::windows {

namespace {

// Numbers in a format are held well inside 32 bits so that sums of widths cannot overflow.
constexpr int64_t kNumberLimit = 1000000;

int32_t DialogToPixels(int64_t units, int32_t average_char_width) {
    // n x (2 x average width) / 8, rounded half away from zero.
    int64_t product = units * 2 * average_char_width;
    int64_t result = (product >= 0 ? product + 4 : product - 4) / 8;
    return int32_t(result);
}

int JustifyCode(char c) {
    switch (std::toupper(static_cast<unsigned char>(c))) {
    case 'L': return 0;
    case 'R': return 1;
    case 'C': return 2;
    case 'D': return 3;
    default: return -1;
    }
}

constexpr char kJustifyLetters[] = {'L', 'R', 'C', 'D'};

// Pixel edges, queue fields and the list-wide counts, from the columns as they stand (after
// parsing, and again after a person resized a column).
void PlaceColumns(ListFormat& f) {
    const int32_t average = f.average_char_width;
    f.fixed_columns = 0;
    f.marked_column = -1;
    f.header_lines = 0;
    f.total_width = 0;
    f.fields_used = 0;
    f.header_height_units = 0;
    int64_t x = 0;
    int32_t line = 0;
    int32_t next_field = 1;
    bool after_resizable = false;
    for (size_t i = 0; i < f.columns.size(); i++) {
        ListColumn& c = f.columns[i];
        c.line = line;
        c.follows_resizable = after_resizable;
        after_resizable = (c.flags & kColumnMark) != 0;
        int32_t width = DialogToPixels(c.width, average);
        if (c.flags & kColumnRightBorder)
            width += kBorderWidth;
        c.left = int32_t(x);
        if (c.width > 0) {
            c.pixel_width = width;
            c.right = int32_t(x + width);
            x += width;
        } else {
            c.pixel_width = 0;
            c.right = int32_t(x - 1);
        }
        c.data_indent_pixels = DialogToPixels(c.data_indent, average);
        c.header_indent_pixels = DialogToPixels(c.header_indent, average);
        c.scroll_pixels = (c.flags & kColumnScroll) ? std::max(DialogToPixels(c.scroll_width, average), 0) : 0;
        f.total_width = std::max<int32_t>(f.total_width, int32_t(std::min<int64_t>(x, INT32_MAX)));
        if (c.flags & kColumnNewLine) {
            x = 0;
            line++;
            after_resizable = false;   // what follows on the next line starts its own edges
        }

        if (!c.field_given)
            c.queue_field = next_field;
        int32_t after = c.queue_field + 1;
        c.colour_field = c.icon_field = c.tree_field = 0;
        if (c.flags2 & kColumnColoured) {
            c.colour_field = after;
            after += 4;
        }
        if (c.flags & kColumnIcon)
            c.icon_field = after++;
        if (c.flags & kColumnTree)
            c.tree_field = after++;
        next_field = std::max(next_field, after);
        f.fields_used = std::max(f.fields_used, after - 1);

        if (!c.picture_text.empty() && !c.picture.IsValid())
            c.picture.Init(std::string_view(c.picture_text));
        if (c.flags & kColumnFixed)
            f.fixed_columns++;
        if ((c.flags & kColumnMarked) && f.marked_column < 0)
            f.marked_column = int32_t(i);
        if (!c.header.empty())
            f.header_lines = std::max<int32_t>(
                f.header_lines, int32_t(std::count(c.header.begin(), c.header.end(), '\n')) + 1);
        if (c.flags2 & kColumnHeaderHeight)
            f.header_height_units = std::max(f.header_height_units, c.header_height);
    }
    f.lines_per_row = line + 1;
    bool group_header = false;
    for (ListGroup& g : f.groups) {
        if (g.flags2 & kColumnHeaderHeight)
            f.header_height_units = std::max(f.header_height_units, g.header_height);
        group_header = group_header || !g.header.empty();
        if (g.count == 0)
            continue;
        const ListColumn& first = f.columns[g.first];
        g.left = first.left;
        if (g.width_given) {
            g.right = g.left + DialogToPixels(g.width, average);
        } else {
            const ListColumn& last = f.columns[g.first + g.count - 1];
            g.right = std::max(last.right, g.left);
        }
    }
    if (group_header)
        f.header_lines++;   // the group headers take a line above the columns' (if they have any)
}

class Reader {
public:
    Reader(std::string_view text, ListFormat& format) : t_(text), f_(format) {}

    void Run() {
        while (p_ < t_.size() && f_.columns.size() < kMaxListColumns) {
            if (t_[p_] == '[') {
                p_++;
                Group();
                continue;
            }
            if (t_[p_] == ']') {   // a group's end without its start
                Damage();
                continue;
            }
            size_t before = p_;
            Column(-1);
            if (p_ == before)
                Damage();
        }
        if (p_ < t_.size() && f_.damage_at == std::string_view::npos)
            f_.damage_at = p_;
        PlaceColumns(f_);
    }

private:
    void Damage() {
        if (f_.damage_at == std::string_view::npos)
            f_.damage_at = p_;
        p_++;
    }
    bool At(char c) const { return p_ < t_.size() && t_[p_] == c; }
    bool AtLetter(char upper) const {
        return p_ < t_.size() && std::toupper(static_cast<unsigned char>(t_[p_])) == upper;
    }

    // An optional minus sign and digits; false when there are none.
    bool Number(int32_t& out) {
        size_t start = p_;
        bool negative = false;
        if (At('-')) {
            negative = true;
            p_++;
        }
        int64_t value = 0;
        size_t digits = p_;
        while (p_ < t_.size() && std::isdigit(static_cast<unsigned char>(t_[p_]))) {
            value = std::min<int64_t>(value * 10 + (t_[p_] - '0'), kNumberLimit);
            p_++;
        }
        if (p_ == digits) {
            p_ = start;
            return false;
        }
        out = int32_t(negative ? -value : value);
        return true;
    }

    // "(n)"; false (nothing read) when the text does not hold one.
    bool Parenthesised(int32_t& out) {
        if (!At('('))
            return false;
        size_t start = p_++;
        int32_t value = 0;
        bool have = Number(value);
        if (!At(')')) {
            p_ = start;
            return false;
        }
        p_++;
        out = have ? value : 0;
        return true;
    }

    // "~text~" then an optional justification letter and (n).
    template <class Target>
    void Header(Target& target, bool allow_indent) {
        size_t end = t_.find('~', p_ + 1);
        if (end == std::string_view::npos) {   // an unended header swallows the rest
            Damage();
            p_ = t_.size();
            return;
        }
        std::string_view text = t_.substr(p_ + 1, end - p_ - 1);
        p_ = end + 1;
        if (!text.empty())
            target.header = SharedText(text);
        if (p_ < t_.size() && JustifyCode(t_[p_]) >= 0) {
            target.header_letter_given = true;
            SetHeaderJustify(target, JustifyCode(t_[p_]));
            p_++;
        }
        if (allow_indent) {
            int32_t indent = 0;
            if (Parenthesised(indent))
                SetHeaderIndent(target, indent);
        }
    }
    static void SetHeaderJustify(ListColumn& c, int code) {
        c.justification = uint8_t((c.justification & 3) | (code << 2));
    }
    static void SetHeaderJustify(ListGroup& g, int code) { g.header_justification = uint8_t(code << 2); }
    static void SetHeaderIndent(ListColumn& c, int32_t indent) {
        c.header_indent = indent;
        c.header_indent_given = true;
    }
    static void SetHeaderIndent(ListGroup&, int32_t) {}

    // A column entry; nothing is added when no character could start one.
    void Column(int group) {
        size_t entry = p_;
        ListColumn c;
        c.group = group;
        c.width_given = Number(c.width);
        if (p_ < t_.size() && JustifyCode(t_[p_]) >= 0) {
            int code = JustifyCode(t_[p_]);
            c.justification = uint8_t(code | (code << 2));
            c.justify_given = true;
            p_++;
        }
        if (Parenthesised(c.data_indent)) {
            c.data_indent_given = true;
            c.header_indent = c.data_indent;
        }
        for (;;) {
            if (p_ >= t_.size())
                break;
            char ch = t_[p_];
            char up = char(std::toupper(static_cast<unsigned char>(ch)));
            if (ch == '|') {
                c.flags |= kColumnRightBorder;
                p_++;
            } else if (ch == '_') {
                c.flags |= kColumnBottomBorder;
                p_++;
            } else if (up == 'F') {
                c.flags |= kColumnFixed;
                p_++;
            } else if (up == 'S') {
                p_++;
                c.flags |= kColumnScroll;
                c.scroll_width = kDefaultScrollWidth;
                c.scroll_width_given = Parenthesised(c.scroll_width);
            } else if (up == 'M') {
                c.flags |= kColumnMark;
                p_++;
            } else if (up == 'H') {
                p_++;
                c.flags2 |= kColumnHeaderHeight;
                c.header_height = 0;   // a later H without a height undoes an earlier one's
                c.header_height_given = Parenthesised(c.header_height);
            } else if (ch == '~') {
                Header(c, true);
            } else if (ch == '/') {
                c.flags |= kColumnNewLine;
                p_++;
            } else if (ch == '?') {
                c.flags |= kColumnMarked;
                p_++;
            } else if (ch == '#') {
                size_t start = p_++;
                int32_t n = 0;
                if (Number(n) && At('#')) {
                    p_++;
                    c.queue_field = n;
                    c.field_given = true;
                } else {
                    p_ = start;
                    break;
                }
            } else if (ch == '*') {
                c.flags2 |= kColumnColoured;
                p_++;
            } else if (up == 'E') {
                p_++;
                Colours(c);
            } else if (up == 'I') {
                c.flags |= kColumnIcon;
                p_++;
            } else if (up == 'T') {
                p_++;
                Tree(c);
            } else if (ch == '@') {
                size_t end = t_.find('@', p_ + 1);
                if (end == std::string_view::npos) {
                    Damage();
                    p_ = t_.size();
                    break;
                }
                if (c.picture_text.empty() && end > p_ + 1)
                    c.picture_text = std::string(t_.substr(p_ + 1, end - p_ - 1));
                p_ = end + 1;
            } else {
                break;
            }
        }
        if (p_ > entry)
            f_.columns.push_back(std::move(c));
    }

    void Colours(ListColumn& c) {
        c.colours_given = true;
        if (!At('('))
            return;
        size_t start = p_++;
        for (int i = 0; i < 4; i++) {
            size_t before = p_;
            bool negative = At('-');
            int64_t v = 0;
            if (negative)
                p_++;
            size_t digits = p_;
            while (p_ < t_.size() && std::isdigit(static_cast<unsigned char>(t_[p_]))) {
                v = std::min<int64_t>(v * 10 + (t_[p_] - '0'), 0xFFFFFFFFll);
                p_++;
            }
            if (p_ > digits)
                c.colours[i] = negative ? uint32_t(-v) : uint32_t(v);
            else
                p_ = before;
            if (At(',')) {
                p_++;
                continue;
            }
            break;
        }
        if (!At(')')) {
            p_ = start;
            return;
        }
        p_++;
    }

    void Tree(ListColumn& c) {
        c.flags |= kColumnTree;
        if (!At('('))
            return;
        size_t end = t_.find(')', p_);
        if (end == std::string_view::npos)
            return;
        std::string_view letters = t_.substr(p_ + 1, end - p_ - 1);
        for (char l : letters) {
            switch (std::toupper(static_cast<unsigned char>(l))) {
            case 'L': c.flags2 |= kTreeLines; break;
            case '1': c.flags2 |= kTreeOneBased; break;
            case 'R': c.flags2 |= kTreeRoot; break;
            case 'B': c.flags2 |= kTreeBoxes; break;
            case 'I': c.flags2 |= kTreeIndent; break;
            default: break;
            }
        }
        c.tree_letters = std::string(letters);
        p_ = end + 1;
    }

    void Group() {
        ListGroup g;
        g.first = f_.columns.size();
        int index = int(f_.groups.size());
        while (p_ < t_.size() && !At(']') && f_.columns.size() < kMaxListColumns) {
            if (At('[')) {   // groups do not nest
                Damage();
                continue;
            }
            size_t before = p_;
            Column(index);
            if (p_ == before)
                Damage();
        }
        if (At(']'))
            p_++;
        else if (f_.damage_at == std::string_view::npos)
            f_.damage_at = p_;
        g.count = f_.columns.size() - g.first;
        if (Parenthesised(g.width))
            g.width_given = true;
        for (;;) {
            if (p_ >= t_.size())
                break;
            char ch = t_[p_];
            char up = char(std::toupper(static_cast<unsigned char>(ch)));
            if (ch == '~') {
                Header(g, false);
            } else if (ch == '|') {
                g.flags |= kColumnRightBorder;
                p_++;
            } else if (ch == '_') {
                g.flags |= kColumnBottomBorder;
                p_++;
            } else if (up == 'M') {
                g.flags |= kColumnMark;
                p_++;
            } else if (up == 'F') {
                g.flags |= kColumnFixed;
                p_++;
            } else if (up == 'S') {
                p_++;
                g.flags |= kColumnScroll;
                g.scroll_width = kDefaultScrollWidth;
                g.scroll_width_given = Parenthesised(g.scroll_width);
            } else if (up == 'H') {
                p_++;
                g.flags2 |= kColumnHeaderHeight;
                g.header_height = 0;
                g.header_height_given = Parenthesised(g.header_height);
            } else {
                break;
            }
        }
        f_.groups.push_back(g);
    }

    std::string_view t_;
    size_t p_ = 0;
    ListFormat& f_;
};

void WriteHeader(std::string& out, std::string_view header, bool letter_given, int code, bool indent_given,
                 int32_t indent) {
    out += '~';
    out += header;
    out += '~';
    if (letter_given)
        out += kJustifyLetters[code & 3];
    if (indent_given)
        out += "(" + std::to_string(indent) + ")";
}

// S and H, with their (n) only when it was written.
void WriteLetterWithNumber(std::string& out, bool set, char letter, bool number_given, int32_t number) {
    if (!set)
        return;
    out += letter;
    if (number_given)
        out += "(" + std::to_string(number) + ")";
}

// A column after another starts with its width (0 when none was written), and a column of a
// width alone (or of nothing written, such as an empty header) gets its letter: so no column's
// text runs on into the next one's or vanishes.
void WriteColumn(std::string& out, const ListColumn& c, bool follows) {
    size_t start = out.size();
    if (c.width_given || follows)
        out += std::to_string(c.width);
    if (c.justify_given)
        out += kJustifyLetters[c.justification & 3];
    if (c.data_indent_given)
        out += "(" + std::to_string(c.data_indent) + ")";
    if (c.flags & kColumnRightBorder)
        out += '|';
    if (c.flags & kColumnBottomBorder)
        out += '_';
    if (c.flags & kColumnMark)
        out += 'M';
    if (c.flags & kColumnFixed)
        out += 'F';
    WriteLetterWithNumber(out, c.flags & kColumnScroll, 'S', c.scroll_width_given, c.scroll_width);
    WriteLetterWithNumber(out, c.flags2 & kColumnHeaderHeight, 'H', c.header_height_given, c.header_height);
    if (c.flags & kColumnMarked)
        out += '?';
    if (c.field_given)
        out += "#" + std::to_string(c.queue_field) + "#";
    if (c.flags2 & kColumnColoured)
        out += '*';
    if (c.colours_given) {
        out += "E(";
        for (int i = 0; i < 4; i++) {
            if (i > 0)
                out += ',';
            if (c.colours[i] != kNoColour)
                out += std::to_string(c.colours[i]);
        }
        out += ')';
    }
    if (c.flags & kColumnIcon)
        out += 'I';
    if (c.flags & kColumnTree)
        out += c.tree_letters.empty() ? std::string("T") : "T(" + c.tree_letters + ")";
    if (!c.header.empty() || c.header_letter_given)
        WriteHeader(out, c.header, c.header_letter_given, c.justification >> 2, c.header_indent_given,
                    c.header_indent);
    if (!c.picture_text.empty())
        out += "@" + c.picture_text + "@";
    if ((c.flags & kColumnNewLine) == kColumnNewLine)
        out += '/';
    if (out.find_first_not_of("-0123456789", start) == std::string::npos)   // nothing, or a width alone
        out += kJustifyLetters[c.justification & 3];
}

}  // namespace

void ParseListFormat(std::string_view text, int32_t average_char_width, ListFormat& format) {
    format = ListFormat{};
    format.average_char_width = average_char_width;
    Reader(text, format).Run();
}

int32_t ListHeaderHeight(const ListFormat& format, int32_t line_height) {
    int64_t lines = int64_t(format.header_lines) * line_height;
    // A vertical dialog unit is an eighth of the font's height.
    int64_t given = (int64_t(format.header_height_units) * line_height + 4) / 8;
    return int32_t(std::clamp<int64_t>(std::max(lines, given), 0, INT32_MAX));
}

int32_t ListColumnBorderAt(const ListFormat& format, int32_t x, int32_t line, int32_t slack) {
    for (size_t i = 0; i < format.columns.size(); i++) {
        const ListColumn& c = format.columns[i];
        if (c.line == line && (c.flags & kColumnMark) && int64_t(x) >= int64_t(c.right) - slack &&
            int64_t(x) <= int64_t(c.right) + slack)
            return int32_t(i);
    }
    return -1;
}

bool ResizeListColumn(ListFormat& format, size_t column, int32_t pixels) {
    if (column >= format.columns.size() || !(format.columns[column].flags & kColumnMark))
        return false;
    ListColumn& c = format.columns[column];
    int64_t inner = std::max<int64_t>(int64_t(pixels) - ((c.flags & kColumnRightBorder) ? kBorderWidth : 0), 0);
    int64_t unit2 = 2 * int64_t(std::max(format.average_char_width, 1));
    // Back to dialog units, rounded to the nearest: the column snaps to a whole unit.
    c.width = int32_t(std::min<int64_t>((inner * 8 + unit2 / 2) / unit2, kNumberLimit));
    c.width_given = true;
    PlaceColumns(format);
    return true;
}

namespace {

// A group: its columns between brackets, then its width and modifiers (an empty group keeps them
// too, so they are read back the same).
void WriteGroup(std::string& out, const ListFormat& format, const ListGroup& g) {
    out += '[';
    for (size_t k = 0; k < g.count; k++)
        WriteColumn(out, format.columns[g.first + k], k > 0);
    out += ']';
    if (g.width_given)
        out += "(" + std::to_string(g.width) + ")";
    if (!g.header.empty() || g.header_letter_given)
        WriteHeader(out, g.header, g.header_letter_given, g.header_justification >> 2, false, 0);
    if (g.flags & kColumnRightBorder)
        out += '|';
    if (g.flags & kColumnBottomBorder)
        out += '_';
    if (g.flags & kColumnMark)
        out += 'M';
    if (g.flags & kColumnFixed)
        out += 'F';
    WriteLetterWithNumber(out, g.flags & kColumnScroll, 'S', g.scroll_width_given, g.scroll_width);
    WriteLetterWithNumber(out, g.flags2 & kColumnHeaderHeight, 'H', g.header_height_given, g.header_height);
}

}  // namespace

std::string WriteListFormat(const ListFormat& format) {
    std::string out;
    size_t group = 0;
    for (size_t i = 0; i < format.columns.size();) {
        while (group < format.groups.size() && format.groups[group].count == 0 && format.groups[group].first <= i)
            WriteGroup(out, format, format.groups[group++]);   // an empty group keeps its place
        const ListColumn& c = format.columns[i];
        if (c.group < 0) {
            WriteColumn(out, c, !out.empty());
            i++;
            continue;
        }
        const ListGroup& g = format.groups[size_t(c.group)];
        WriteGroup(out, format, g);
        i = g.first + g.count;
        group = size_t(c.group) + 1;
    }
    for (; group < format.groups.size(); group++)
        WriteGroup(out, format, format.groups[group]);
    return out;
}

}  // namespace tarvex::windows
