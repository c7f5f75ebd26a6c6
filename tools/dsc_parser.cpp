// SPDX-License-Identifier: GPL-3.0-or-later
// .dsc text to a description tree. The text is read line by line: each line is one record (an
// optional label, a keyword with its positional value, then comma-separated attributes) or END,
// which closes the innermost record that holds others. '!' starts a comment. Attribute names come
// from the schema table, so every field of every kind can be written; flag bits are written by
// name, and bits no name covers as FLAGS(n) (STYLE(n) for a window's frame word).
#include <algorithm>
#include <charconv>
#include <optional>

#include "tarvex/files.h"
#include "tools/dsc.h"
#include "tools/dsc_syntax.h"

namespace tarvex::tools {

using namespace windows;

std::string DscError::Text() const {
    return file + ":" + std::to_string(line) + ":" + std::to_string(column) + ": " + message;
}

namespace {

enum class ArgType { Empty, Number, String, Word, Picture, NoPicture };

struct Arg {
    ArgType type = ArgType::Empty;
    int64_t number = 0;
    std::string text;
    int column = 0;
};

struct Item {                 // the keyword or one attribute with its arguments
    std::string name;
    int column = 0;
    bool has_args = false;
    std::vector<Arg> args;
};

struct Line {
    int number = 0;
    std::string label;
    int label_column = 0;
    Item head;
    std::vector<Item> attributes;
};

struct Failure {
    int line, column;
    std::string message;
};

// Splits one line into its label, keyword and attributes.
class LineReader {
public:
    LineReader(std::string_view text, int number) : text_(text), number_(number) {}

    std::optional<Line> Read() {
        Line line;
        line.number = number_;
        SkipBlanks();
        if (AtEnd())
            return std::nullopt;
        size_t start = pos_;
        while (pos_ < text_.size() && IsLabelChar(text_[pos_]))
            pos_++;
        std::string first(text_.substr(start, pos_ - start));
        if (first.empty())
            Fail(Column(start), "a record starts with its keyword");
        if (first.find('$') != std::string::npos) {
            line.label = first;
            line.label_column = Column(start);
            SkipBlanks();
            line.head = ReadItem();
        } else {
            pos_ = start;
            line.head = ReadItem();
        }
        SkipBlanks();
        while (!AtEnd()) {
            if (text_[pos_] != ',')
                Fail(Column(pos_), "expected ',' between attributes");
            pos_++;
            SkipBlanks();
            line.attributes.push_back(ReadItem());
            SkipBlanks();
        }
        return line;
    }

private:
    [[noreturn]] void Fail(int column, std::string message) { throw Failure{number_, column, std::move(message)}; }
    int Column(size_t pos) const { return int(pos) + 1; }
    bool AtEnd() const { return pos_ >= text_.size() || text_[pos_] == '!'; }
    void SkipBlanks() {
        while (pos_ < text_.size() && (text_[pos_] == ' ' || text_[pos_] == '\t' || text_[pos_] == '\r'))
            pos_++;
    }

    Item ReadItem() {
        Item item;
        item.column = Column(pos_);
        if (AtEnd() || !IsWordStart(text_[pos_]))
            Fail(item.column, "expected a keyword or an attribute name");
        size_t start = pos_;
        while (pos_ < text_.size() && IsWordChar(text_[pos_]))
            pos_++;
        item.name = std::string(text_.substr(start, pos_ - start));
        for (char& c : item.name)
            c = char(std::toupper(static_cast<unsigned char>(c)));
        SkipBlanks();
        if (pos_ < text_.size() && text_[pos_] == '(') {
            item.has_args = true;
            pos_++;
            for (;;) {
                SkipBlanks();
                item.args.push_back(ReadArg());
                SkipBlanks();
                if (pos_ < text_.size() && text_[pos_] == ',') {
                    pos_++;
                    continue;
                }
                if (pos_ < text_.size() && text_[pos_] == ')') {
                    pos_++;
                    break;
                }
                Fail(Column(pos_), "expected ',' or ')'");
            }
            if (item.args.size() == 1 && item.args[0].type == ArgType::Empty)
                item.args.clear();
        }
        return item;
    }

    Arg ReadArg() {
        Arg arg;
        arg.column = Column(pos_);
        if (pos_ >= text_.size())
            Fail(arg.column, "unexpected end of line");
        char c = text_[pos_];
        if (c == ',' || c == ')')
            return arg;
        if (c == '\'') {
            arg.type = ArgType::String;
            arg.text = ReadQuoted();
        } else if (c == '@') {
            pos_++;
            if (pos_ < text_.size() && text_[pos_] == '\'') {
                arg.type = ArgType::Picture;
                arg.text = ReadQuoted();
            } else {
                size_t start = pos_;
                while (pos_ < text_.size() && (std::isalnum(static_cast<unsigned char>(text_[pos_])) ||
                                               text_[pos_] == '.' || text_[pos_] == '-' || text_[pos_] == '#'))
                    pos_++;
                arg.text = std::string(text_.substr(start, pos_ - start));
                arg.type = arg.text.empty() ? ArgType::NoPicture : ArgType::Picture;
            }
        } else if (c == '-' || std::isdigit(static_cast<unsigned char>(c))) {
            arg.type = ArgType::Number;
            arg.number = ReadNumber();
        } else if (IsWordStart(c)) {
            size_t start = pos_;
            while (pos_ < text_.size() && IsWordChar(text_[pos_]))
                pos_++;
            arg.type = ArgType::Word;
            arg.text = std::string(text_.substr(start, pos_ - start));
            for (char& ch : arg.text)
                ch = char(std::toupper(static_cast<unsigned char>(ch)));
        } else {
            Fail(arg.column, std::string("unexpected character '") + c + "'");
        }
        return arg;
    }

    int64_t ReadNumber() {
        size_t start = pos_;
        bool negative = text_[pos_] == '-';
        if (negative)
            pos_++;
        int base = 10;
        if (pos_ + 1 < text_.size() && text_[pos_] == '0' && (text_[pos_ + 1] == 'x' || text_[pos_ + 1] == 'X')) {
            base = 16;
            pos_ += 2;
        }
        size_t digits = pos_;
        while (pos_ < text_.size() && (base == 16 ? IsHexDigit(text_[pos_]) : std::isdigit(static_cast<unsigned char>(text_[pos_]))))
            pos_++;
        uint64_t value = 0;
        auto [end, ec] = std::from_chars(text_.data() + digits, text_.data() + pos_, value, base);
        if (digits == pos_ || ec != std::errc() || value > 0xFFFFFFFFull)
            Fail(Column(start), "number out of range");
        return negative ? -int64_t(value) : int64_t(value);
    }

    std::string ReadQuoted() {
        int column = Column(pos_);
        pos_++;   // the opening quote
        std::string out;
        for (;;) {
            if (pos_ >= text_.size())
                Fail(column, "text without its closing quote");
            char c = text_[pos_];
            if (c == '\'') {
                if (pos_ + 1 < text_.size() && text_[pos_ + 1] == '\'') {
                    out += '\'';
                    pos_ += 2;
                    continue;
                }
                pos_++;
                return out;
            }
            size_t at = pos_;
            if (IsEscapeAt(text_, pos_)) {
                c = char(std::stoi(std::string(text_.substr(pos_ + 2, 2)), nullptr, 16));
                pos_ += 4;
            }
            // Texts are stored NUL-terminated: a NUL inside one would cut it short.
            if (c == '\0')
                Fail(Column(at), "a text cannot hold a NUL byte");
            out += c;
            pos_++;
        }
    }

    std::string_view text_;
    int number_;
    size_t pos_ = 0;
};

const KindSpec* KindByKeyword(std::string_view keyword) {
    for (const KindSpec& kind : AllKinds())
        if (kind.keyword == keyword)
            return &kind;
    return nullptr;
}

std::optional<uint32_t> TypeCode(const Arg& arg) {
    if (arg.type == ArgType::Number && arg.number >= 0 && arg.number <= 0xFF)
        return uint32_t(arg.number);
    if (arg.type == ArgType::Word)
        for (int32_t code = 0; code <= 0xFF; code++) {
            std::string_view name = _drv_GetTypeName(code);
            if (name == "UNKNOWN")
                break;
            if (name == arg.text)
                return uint32_t(code);
        }
    return std::nullopt;
}

class Parser {
public:
    Parser(std::string_view text) : text_(text) {}

    void Parse(Description& out) {
        std::optional<Line> line = Next();
        if (!line || line->head.name != "MODULE" || !line->label.empty() || line->head.args.size() != 1 ||
            line->head.args[0].type != ArgType::String || line->head.args[0].text.empty() ||
            !line->attributes.empty())
            Fail(line ? line->number : std::max(line_number_, 1), 1, "a description starts with MODULE('name')");
        out.module = line->head.args[0].text;
        while ((line = Next())) {
            if (line->head.name == "END")
                Fail(line->number, line->head.column, "END without a record to close");
            counter_ = FieldCounter();
            out.structures.push_back(Build(*line, nullptr));
            if (out.structures.back().spec == nullptr ||
                out.structures.back().spec->role != Role::Structure)
                Fail(line->number, line->head.column, "a description holds WINDOW and REPORT structures");
        }
    }

private:
    [[noreturn]] static void Fail(int line, int column, std::string message) {
        throw Failure{line, column, std::move(message)};
    }

    std::optional<Line> Next() {
        while (pos_ < text_.size()) {
            size_t end = text_.find('\n', pos_);
            if (end == std::string_view::npos)
                end = text_.size();
            std::string_view raw = text_.substr(pos_, end - pos_);
            pos_ = end + 1;
            line_number_++;
            if (auto line = LineReader(raw, line_number_).Read())
                return line;
        }
        return std::nullopt;
    }

    // The kind a line names; null with `code` set for RECORD(code), a kind without a schema.
    const KindSpec* KindOf(const Line& line, uint8_t& code) {
        const Item& head = line.head;
        if (head.name == "CONTROL" || head.name == "RECORD") {
            if (head.args.size() != 1 || head.args[0].type != ArgType::Number || head.args[0].number < 0 ||
                head.args[0].number > 0xFF)
                Fail(line.number, head.column, head.name + " takes a kind code");
            code = uint8_t(head.args[0].number);
            const KindSpec* spec = FindKind(code);
            if (head.name == "RECORD" && spec != nullptr)
                Fail(line.number, head.column, "RECORD is for kinds without a layout; use " +
                                                   std::string(spec->keyword.empty() ? "CONTROL" : spec->keyword));
            if (head.name == "CONTROL" && (spec == nullptr || spec->role != Role::Control))
                Fail(line.number, head.column, "CONTROL takes the code of a control kind");
            return spec;
        }
        const KindSpec* spec = KindByKeyword(head.name);
        // STRING shows a variable when its value is a picture, else constant text.
        if (head.name == "STRING") {
            bool picture = !head.args.empty() &&
                           (head.args[0].type == ArgType::Picture || head.args[0].type == ArgType::NoPicture);
            spec = FindKind(static_cast<uint8_t>(picture ? Kind::StringVar : Kind::StringText));
        }
        if (spec == nullptr)
            Fail(line.number, head.column, "unknown keyword " + head.name);
        code = static_cast<uint8_t>(spec->kind);
        return spec;
    }

    static bool Holds(const Record* parent, const KindSpec* child) {
        if (child == nullptr)
            return parent != nullptr;
        if (parent == nullptr)
            return child->role == Role::Structure;
        Kind kind = parent->spec->kind;
        if (child->kind == Kind::Menubar)
            return kind == Kind::Window;
        if (kind == Kind::Window || parent->spec->role == Role::Control)
            return child->role == Role::Control;
        if (kind == Kind::Report || kind == Kind::BandGroup)
            return child->role == Role::Band;
        if (parent->spec->role == Role::Band)
            return child->role == Role::Control;
        if (kind == Kind::Menubar || kind == Kind::Menu)
            return child->kind == Kind::Menu || child->kind == Kind::Item;
        return false;
    }

    Record Build(const Line& line, const Record* parent) {
        Record record;
        record.spec = KindOf(line, record.code);
        if (!Holds(parent, record.spec))
            Fail(line.number, line.head.column,
                 line.head.name + " cannot stand " + (parent ? "inside " + std::string(parent->spec->keyword) : "at the top"));
        if (record.spec == nullptr) {
            for (const Item& attribute : line.attributes) {
                if ((attribute.name != "FLAGS" && attribute.name != "FLAGS2") || attribute.args.size() != 1 ||
                    attribute.args[0].type != ArgType::Number)
                    Fail(line.number, attribute.column, "RECORD takes only FLAGS(n) and FLAGS2(n)");
                (attribute.name == "FLAGS" ? record.flags : record.flags2) = uint32_t(attribute.args[0].number);
            }
            return record;
        }
        const KindSpec& spec = *record.spec;
        record.values.resize(spec.fields.size());
        // An AT left out gives none of its values.
        for (size_t i = 0; i < spec.fields.size(); i++)
            if (spec.fields[i].type == FieldType::At)
                record.values[i].numbers.fill(uint32_t(kNotGiven));
        std::vector<bool> given(spec.fields.size(), false);
        int32_t number = counter_.Next(spec);

        if (!line.label.empty()) {
            if (!spec.labelled)
                Fail(line.number, line.label_column, "only WINDOW and REPORT take a label");
            size_t index = LabelIndex(spec);
            record.values[index].present = true;
            record.values[index].text = line.label;
            given[index] = true;
        }
        bool by_code = line.head.name == "CONTROL";
        if (!by_code && line.head.has_args) {
            if (spec.positional < 0)
                Fail(line.number, line.head.column, line.head.name + " takes no value in parentheses");
            Set(line, line.head, spec.fields[spec.positional], record.values[spec.positional]);
            given[spec.positional] = true;
        }
        for (const Item& attribute : line.attributes)
            Attribute(line, attribute, spec, record, given);

        for (size_t i = 0; i < spec.fields.size(); i++) {
            const FieldSpec& field = spec.fields[i];
            if (field.type == FieldType::FieldNo && !given[i])
                record.values[i].number = number;
            if (field.offset == kHeadFlags && field.type == FieldType::Flags)
                record.flags = uint32_t(record.values[i].number);
            if (field.offset == kHeadFlags2 && field.type == FieldType::Hex)
                record.flags2 = uint32_t(record.values[i].number);
        }
        if (FindField(spec, FieldType::Children) || FindField(spec, FieldType::Menubar))
            Body(line, record);
        return record;
    }

    void Body(const Line& opening, Record& record) {
        for (;;) {
            std::optional<Line> line = Next();
            if (!line)
                Fail(opening.number, opening.head.column, opening.head.name + " has no END");
            if (line->head.name == "END") {
                if (line->head.has_args || !line->attributes.empty() || !line->label.empty())
                    Fail(line->number, line->head.column, "END stands alone");
                return;
            }
            if (line->head.name == "MENUBAR" && FindField(*record.spec, FieldType::Menubar)) {
                if (!record.menubar.empty())
                    Fail(line->number, line->head.column, "a WINDOW has one MENUBAR");
                Record menubar = Build(*line, &record);
                record.menubar.push_back(std::move(menubar));
                record.Find(FieldType::Menubar)->present = true;
                continue;
            }
            if (!FindField(*record.spec, FieldType::Children))
                Fail(line->number, line->head.column, line->head.name + " cannot stand inside " +
                                                          std::string(record.spec->keyword));
            record.children.push_back(Build(*line, &record));
        }
    }

    void Attribute(const Line& line, const Item& attribute, const KindSpec& spec, Record& record,
                   std::vector<bool>& given) {
        // A flag name: a bare word found in one of the kind's flag tables.
        if (!attribute.has_args) {
            for (size_t i = 0; i < spec.fields.size(); i++) {
                const FieldSpec& field = spec.fields[i];
                if (field.type != FieldType::Flags)
                    continue;
                for (const FlagName& flag : field.flags) {
                    if (flag.mask == 0 || flag.name != attribute.name)
                        continue;
                    uint32_t bits = uint32_t(record.values[i].number);
                    if ((bits & flag.mask) != 0)
                        Fail(line.number, attribute.column, attribute.name + " conflicts with another attribute");
                    record.values[i].number = bits | flag.value;
                    return;
                }
            }
        }
        for (size_t i = 0; i < spec.fields.size(); i++) {
            const FieldSpec& field = spec.fields[i];
            if (field.name != attribute.name || field.type == FieldType::Children ||
                field.type == FieldType::Menubar || int(i) == spec.positional)
                continue;
            if (field.type == FieldType::Flags) {
                // FLAGS(n): the bits no name covers, added to the named ones.
                if (attribute.args.size() != 1 || attribute.args[0].type != ArgType::Number)
                    Fail(line.number, attribute.column, attribute.name + " takes one number");
                uint32_t bits = uint32_t(attribute.args[0].number);
                if (field.width == 1 && bits > 0xFF)
                    Fail(line.number, attribute.column, attribute.name + " takes a byte");
                if ((uint32_t(record.values[i].number) & bits) != 0)
                    Fail(line.number, attribute.column, attribute.name + " repeats a bit already set");
                record.values[i].number |= bits;
                return;
            }
            if (given[i])
                Fail(line.number, attribute.column, attribute.name + " is given twice");
            given[i] = true;
            Set(line, attribute, field, record.values[i]);
            return;
        }
        Fail(line.number, attribute.column,
             "unknown attribute " + attribute.name + " for " + line.head.name);
    }

    // Sets a field from an item's arguments.
    static void Set(const Line& line, const Item& item, const FieldSpec& field, FieldValue& value) {
        const std::vector<Arg>& args = item.args;
        auto fail = [&](const std::string& what) { Fail(line.number, item.column, item.name + " " + what); };
        auto number = [&](size_t i, int64_t low, int64_t high) -> int64_t {
            if (i >= args.size() || args[i].type != ArgType::Number)
                fail("expects a number in place " + std::to_string(i + 1));
            if (args[i].number < low || args[i].number > high)
                Fail(line.number, args[i].column, "number out of range");
            return args[i].number;
        };
        auto optional_number = [&](size_t i, int64_t low, int64_t high, uint32_t absent) -> uint32_t {
            if (i >= args.size() || args[i].type == ArgType::Empty)
                return absent;
            return uint32_t(number(i, low, high));
        };
        auto count = [&](size_t low, size_t high) {
            if (args.size() < low || args.size() > high)
                fail(low == high ? "takes " + std::to_string(low) + " values"
                                 : "takes " + std::to_string(low) + " to " + std::to_string(high) + " values");
        };
        auto text = [&](size_t i) -> std::string {
            if (i >= args.size() || args[i].type != ArgType::String)
                fail("expects a quoted text");
            return args[i].text;
        };
        constexpr int64_t kLow = INT32_MIN, kHigh = UINT32_MAX;
        switch (field.type) {
        case FieldType::Number:
        case FieldType::FieldNo:
        case FieldType::Hex:
            count(1, 1);
            value.number = number(0, kLow, kHigh);
            return;
        case FieldType::Byte: count(1, 1); value.number = number(0, 0, 0xFF); return;
        case FieldType::Word: count(1, 1); value.number = number(0, 0, 0xFFFF); return;
        case FieldType::Text:
            count(1, 1);
            value.present = true;
            value.text = text(0);
            return;
        case FieldType::Picture:
            count(1, 1);
            if (args[0].type == ArgType::NoPicture)
                return;
            if (args[0].type != ArgType::Picture)
                fail("expects a picture such as @s20");
            value.present = true;
            value.text = args[0].text;
            return;
        case FieldType::Name:
            count(1, 2);
            value.present = true;
            if (args.size() == 1) {
                value.text = text(0);
                // A leading 0xFF marks a stock code, which is written with its table and number.
                if (!value.text.empty() && uint8_t(value.text[0]) == kStockMark)
                    fail("names a stock icon as (STOCK,n) or (RUNTIME,n), not as text");
                return;
            } else {
                uint32_t table = 0;
                if (args[0].type == ArgType::Word && (args[0].text == "STOCK" || args[0].text == "RUNTIME"))
                    table = args[0].text == "STOCK" ? kStockSystem : kStockRuntime;
                else
                    table = uint32_t(number(0, 0, 0xFF));
                uint32_t n = uint32_t(number(1, 0, 0xFFFF));
                value.text = {char(kStockMark), char(table), char(n & 0xFF), char(n >> 8)};
            }
            return;
        case FieldType::At:
            count(0, 4);
            for (int i = 0; i < 4; i++)
                value.numbers[i] = optional_number(i, kLow, kHigh, uint32_t(kNotGiven));
            return;
        case FieldType::Range:
            count(2, 2);
            value.numbers[0] = uint32_t(number(0, kLow, kHigh));
            value.numbers[1] = uint32_t(number(1, kLow, kHigh));
            return;
        case FieldType::Font:
            count(0, 4);
            value.present = true;
            if (!args.empty() && args[0].type != ArgType::Empty) {
                value.text_present = true;
                value.text = text(0);
            }
            value.numbers[0] = optional_number(1, 0, kHigh, 0);
            value.numbers[1] = optional_number(2, kLow, kHigh, kColourInherit);
            value.numbers[2] = optional_number(3, 0, kHigh, 0);
            return;
        case FieldType::Use:
        case FieldType::From: {
            count(1, field.type == FieldType::From ? 4 : 3);
            std::optional<uint32_t> type = TypeCode(args[0]);
            if (!type)
                fail("expects a value type such as STRING, DECIMAL, QUEUE");
            value.present = true;
            value.numbers[0] = *type;
            size_t n = args.size();
            if (field.type == FieldType::From && args.back().type == ArgType::String) {
                value.text_present = true;
                value.text = args.back().text;
                n--;
            }
            if (n > 3)
                fail("takes a type, a size and places");
            // A text list is a STRING FROM with its text; no other descriptor carries one.
            if (field.type == FieldType::From && (value.numbers[0] == kUseText) != value.text_present)
                fail("takes its text exactly when its type is STRING");
            value.numbers[1] = n > 1 ? optional_number(1, 0, kHigh, 0) : 0;
            value.numbers[2] = n > 2 ? optional_number(2, 0, kHigh, 0) : 0;
            return;
        }
        case FieldType::Alerts:
        case FieldType::BandRefs:
            count(1, 4096);
            value.present = true;
            for (size_t i = 0; i < args.size(); i++)
                value.list.push_back(uint32_t(number(i, kLow, kHigh)));
            return;
        case FieldType::Paper:
            count(1, 4);
            if (args.size() == 2)
                fail("takes a code, or a code with width and length");
            value.present = true;
            value.numbers[0] = uint32_t(number(0, 0, 0xFFFF));
            value.numbers[1] = optional_number(1, 0, 0xFFFF, 0);
            value.numbers[2] = optional_number(2, 0, 0xFFFF, 0);
            value.numbers[3] = optional_number(3, 0, kHigh, 0);
            return;
        case FieldType::Cell:
            count(3, 3);
            value.present = true;
            for (int i = 0; i < 3; i++)
                value.numbers[i] = uint32_t(number(i, kLow, kHigh));
            return;
        case FieldType::Wallpaper:
            count(1, 2);
            value.present = true;
            value.numbers[0] = uint32_t(number(0, kLow, kHigh));
            if (args.size() == 2) {
                value.text_present = true;
                value.text = text(1);
            }
            return;
        default: fail("cannot be set"); return;
        }
    }

    std::string_view text_;
    size_t pos_ = 0;
    int line_number_ = 0;
    FieldCounter counter_;
};

}  // namespace

bool ParseDsc(std::string_view text, std::string_view file, Description& out, DscError& error) {
    out = Description();
    try {
        Parser(text).Parse(out);
        return true;
    } catch (const Failure& failure) {
        error = DscError{std::string(file), failure.line, failure.column, failure.message};
        out = Description();
        return false;
    }
}

}  // namespace tarvex::tools
