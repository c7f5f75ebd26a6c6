// SPDX-License-Identifier: GPL-3.0-or-later
// Description tree to its canonical .dsc text. One line per record: an optional label, the
// keyword with its positional value, then the attributes in schema order, each only when it says
// something (a field number only when it differs from the counted one). Records that hold others
// open a body closed by END.
#include <algorithm>
#include <cstdio>

#include "tarvex/files.h"
#include "tools/dsc.h"
#include "tools/dsc_syntax.h"

namespace tarvex::tools {

using namespace windows;

namespace {

std::string Hex(uint32_t value) {
    char text[16];
    std::snprintf(text, sizeof text, "0x%X", value);
    return text;
}

std::string Signed(uint32_t value) { return std::to_string(int32_t(value)); }

std::string TypeName(uint32_t code) {
    std::string_view name = code <= 0xFF ? _drv_GetTypeName(int32_t(code)) : "UNKNOWN";
    if (!IsWord(name) || name == "UNKNOWN")
        return std::to_string(code);
    return std::string(name);
}

// type[,size[,places]]
std::string Descriptor(const FieldValue& value) {
    std::string text = TypeName(value.numbers[0]);
    if (value.numbers[1] != 0 || value.numbers[2] != 0)
        text += "," + std::to_string(value.numbers[1]);
    if (value.numbers[2] != 0)
        text += "," + std::to_string(value.numbers[2]);
    return text;
}

std::string NameValue(const std::string& text) {
    if (!text.empty() && uint8_t(text[0]) == kStockMark && text.size() == kStockNameSize) {
        uint8_t table = uint8_t(text[1]);
        uint32_t number = uint8_t(text[2]) | uint8_t(text[3]) << 8;
        std::string which = table == kStockSystem ? "STOCK" : table == kStockRuntime ? "RUNTIME" : Hex(table);
        return which + "," + std::to_string(number);
    }
    return Quote(text);
}

class Printer {
public:
    std::string Print(const Description& description) {
        out_ = "MODULE(" + Quote(description.module) + ")\n";
        for (const Record& record : description.structures) {
            out_ += "\n";
            counter_ = FieldCounter();
            PrintRecord(record, 0);
        }
        return std::move(out_);
    }

private:
    void PrintRecord(const Record& record, int depth) {
        out_.append(2 * depth, ' ');
        if (record.spec == nullptr) {
            out_ += "RECORD(" + Hex(record.code) + ")";
            if (record.flags != 0)
                out_ += ",FLAGS(" + Hex(record.flags) + ")";
            if (record.flags2 != 0)
                out_ += ",FLAGS2(" + Hex(record.flags2) + ")";
            out_ += "\n";
            return;
        }
        const KindSpec& spec = *record.spec;
        int32_t expected = counter_.Next(spec);
        std::string attributes;
        bool plain_label = false;
        if (spec.labelled) {
            const FieldValue& label = record.values[LabelIndex(spec)];
            plain_label = label.present && IsLabel(label.text);
            if (plain_label)
                out_ += label.text + " ";
        }
        out_ += spec.keyword.empty() ? "CONTROL(" + Hex(record.code) + ")" : std::string(spec.keyword);
        if (spec.positional >= 0) {
            const FieldSpec& field = spec.fields[spec.positional];
            const FieldValue& value = record.values[spec.positional];
            if (field.type == FieldType::Picture)
                out_ += value.present ? "(" + Picture(value.text) + ")" : "(@)";
            else if (value.present)
                out_ += "(" + (field.type == FieldType::Name ? NameValue(value.text) : Quote(value.text)) + ")";
        }
        // The kind's own fields in schema order, then the head's flags and the field number.
        bool has_body = false;
        for (int pass = 0; pass < 2; pass++) {
            for (size_t i = 0; i < spec.fields.size(); i++) {
                const FieldSpec& field = spec.fields[i];
                bool last = field.offset == kHeadFlags || field.offset == kHeadFlags2 ||
                            field.type == FieldType::FieldNo;
                if (int(i) == spec.positional || last != (pass == 1))
                    continue;
                if (field.type == FieldType::Children || field.type == FieldType::Menubar) {
                    has_body = true;
                    continue;
                }
                if (field.type == FieldType::Text && field.name == "LABEL" && plain_label)
                    continue;
                Attribute(field, record.values[i], expected);
            }
        }
        out_ += "\n";
        if (!has_body)
            return;
        for (const Record& menubar : record.menubar)
            PrintRecord(menubar, depth + 1);
        for (const Record& child : record.children)
            PrintRecord(child, depth + 1);
        out_.append(2 * depth, ' ');
        out_ += "END\n";
    }

    void Add(std::string_view name, const std::string& args) {
        out_ += ",";
        out_ += name;
        if (!args.empty())
            out_ += "(" + args + ")";
    }

    void Attribute(const FieldSpec& field, const FieldValue& value, int32_t expected_number) {
        const std::array<uint32_t, 4>& n = value.numbers;
        switch (field.type) {
        case FieldType::Flags: {
            uint32_t rest = uint32_t(value.number);
            for (const FlagName& flag : field.flags) {
                if (flag.mask == 0 || flag.value == 0 || (rest & flag.mask) != flag.value)
                    continue;
                out_ += "," + std::string(flag.name);
                rest &= ~flag.mask;
            }
            if (rest != 0)
                Add(field.name, Hex(rest));
            return;
        }
        case FieldType::Hex:
            if (value.number != 0)
                Add(field.name, Hex(uint32_t(value.number)));
            return;
        case FieldType::Number:
        case FieldType::Byte:
        case FieldType::Word:
            if (value.number != 0)
                Add(field.name, std::to_string(value.number));
            return;
        case FieldType::FieldNo:
            if (value.number != expected_number)
                Add(field.name, std::to_string(value.number));
            return;
        case FieldType::At:
            if (std::any_of(n.begin(), n.end(), [](uint32_t v) { return int32_t(v) != kNotGiven; })) {
                std::string args;
                for (int i = 0; i < 4; i++) {
                    if (i > 0)
                        args += ",";
                    if (int32_t(n[i]) != kNotGiven)
                        args += Signed(n[i]);
                }
                Add(field.name, args);
            }
            return;
        case FieldType::Range:
            if (n[0] != 0 || n[1] != 0)
                Add(field.name, Signed(n[0]) + "," + Signed(n[1]));
            return;
        default: break;
        }
        if (!value.present)
            return;
        switch (field.type) {
        case FieldType::Text: Add(field.name, Quote(value.text)); return;
        case FieldType::Picture: Add(field.name, Picture(value.text)); return;
        case FieldType::Name: Add(field.name, NameValue(value.text)); return;
        case FieldType::Font: {
            // face, points, colour, style; an inherited value is left empty, trailing ones dropped
            std::string parts[4] = {value.text_present ? Quote(value.text) : "",
                                    n[0] != 0 ? std::to_string(n[0]) : "",
                                    n[1] != kColourInherit ? Hex(n[1]) : "",
                                    n[2] != 0 ? std::to_string(n[2]) : ""};
            int last = 3;
            while (last >= 0 && parts[last].empty())
                last--;
            std::string args;
            for (int i = 0; i <= last; i++)
                args += (i > 0 ? "," : "") + parts[i];
            out_ += "," + std::string(field.name) + "(" + args + ")";
            return;
        }
        case FieldType::Use: Add(field.name, Descriptor(value)); return;
        case FieldType::From:
            Add(field.name, Descriptor(value) + (value.text_present ? "," + Quote(value.text) : ""));
            return;
        case FieldType::Alerts:
        case FieldType::BandRefs: {
            std::string args;
            for (uint32_t v : value.list)
                args += (args.empty() ? "" : ",") + (field.type == FieldType::Alerts ? Hex(v) : Signed(v));
            Add(field.name, args);
            return;
        }
        case FieldType::Paper: {
            std::string args = std::to_string(n[0]);
            if (n[1] != 0 || n[2] != 0 || n[3] != 0)
                args += "," + std::to_string(n[1]) + "," + std::to_string(n[2]);
            if (n[3] != 0)
                args += "," + Hex(n[3]);
            Add(field.name, args);
            return;
        }
        case FieldType::Cell: Add(field.name, Hex(n[0]) + "," + Hex(n[1]) + "," + Hex(n[2])); return;
        case FieldType::Wallpaper:
            Add(field.name, Hex(n[0]) + (value.text_present ? "," + Quote(value.text) : ""));
            return;
        default: return;
        }
    }

    std::string out_;
    FieldCounter counter_;
};

}  // namespace

std::string PrintDsc(const Description& description) { return Printer().Print(description); }

}  // namespace tarvex::tools
