// SPDX-License-Identifier: GPL-3.0-or-later
// Description tree to dump bytes. Each record is written after its own strings and sub-records
// (font, USE and FROM descriptors, cells, its menubar), so it points backwards to them and
// forwards only to its next sibling and its first child, which follow it. Cell chains are written
// last cell first, so each cell too points backwards. Bytes the schema names no field for stay 0.
#include <algorithm>

#include "tools/dsc.h"

namespace tarvex::tools {

using namespace windows;

namespace {

class Encoder {
public:
    // Buffer offset of the next byte: the dump starts at buffer offset 2.
    uint32_t Here() const { return uint32_t(out_.size()) + kDumpBase; }

    std::vector<uint8_t> Encode(const Description& description) {
        out_.assign(4, 0);   // the head: offset of the first structure
        WriteChain(description.structures, kDumpBase);
        return std::move(out_);
    }

private:
    void Put(uint32_t offset, uint32_t value, int width) {
        for (int i = 0; i < width; i++)
            out_[offset - kDumpBase + i] = uint8_t(value >> (8 * i));
    }
    uint32_t Append(uint32_t value, int width) {
        uint32_t at = Here();
        out_.resize(out_.size() + width);
        Put(at, value, width);
        return at;
    }
    uint32_t AppendText(std::string_view text) {
        uint32_t at = Here();
        out_.insert(out_.end(), text.begin(), text.end());
        out_.push_back(0);
        return at;
    }

    // Writes the records of a chain; `link` is where the first one's offset goes.
    void WriteChain(const std::vector<Record>& chain, uint32_t link) {
        for (const Record& record : chain) {
            uint32_t at = WriteRecord(record);
            Put(link, at, 4);
            link = at + kHeadNext;
        }
    }

    uint32_t WriteCells(const std::vector<uint32_t>& values) {
        uint32_t next = 0;
        for (auto it = values.rbegin(); it != values.rend(); ++it) {
            uint32_t at = Append(*it, 4);
            Append(next, 4);
            next = at;
        }
        return next;
    }

    // Writes what the field refers to; returns the offset to store in the record (0 for none).
    uint32_t WriteReferenced(const FieldSpec& field, const FieldValue& value, const Record& record) {
        if (field.type == FieldType::Menubar)
            return record.menubar.empty() ? 0 : WriteRecord(record.menubar.front());
        if (!value.present)
            return 0;
        switch (field.type) {
        case FieldType::Text:
        case FieldType::Picture:
        case FieldType::Name: return AppendText(value.text);
        case FieldType::Font: {
            uint32_t face = value.text_present ? AppendText(value.text) : 0;
            uint32_t at = Append(face, 4);
            for (int i = 0; i < 3; i++)
                Append(value.numbers[i], 4);
            return at;
        }
        case FieldType::Use:
        case FieldType::From: {
            uint32_t at = Append(value.numbers[0], 1);
            Append(value.numbers[1], 4);
            Append(value.numbers[2], 4);
            if (field.type == FieldType::From && value.text_present)
                AppendText(value.text);
            return at;
        }
        case FieldType::Alerts:
        case FieldType::BandRefs: return WriteCells(value.list);
        case FieldType::Paper: {
            uint32_t at = Append(kPaperMark, 1);
            Append(value.numbers[3], 4);
            for (int i = 0; i < 3; i++)
                Append(value.numbers[i], 2);
            return at;
        }
        case FieldType::Cell: {
            uint32_t at = Here();
            for (int i = 0; i < 3; i++)
                Append(value.numbers[i], 4);
            return at;
        }
        case FieldType::Wallpaper: {
            uint32_t image = value.text_present ? AppendText(value.text) : 0;
            uint32_t at = Append(value.numbers[0], 4);
            Append(image, 4);
            return at;
        }
        default: return 0;
        }
    }

    uint32_t WriteRecord(const Record& record) {
        if (record.spec == nullptr) {
            uint32_t at = Append(record.code, 1);
            Append(0, 4);
            Append(record.flags, 4);
            Append(record.flags2, 4);
            return at;
        }
        const KindSpec& spec = *record.spec;
        std::vector<uint32_t> refs(spec.fields.size(), 0);
        for (size_t i = 0; i < spec.fields.size(); i++)
            refs[i] = WriteReferenced(spec.fields[i], record.values[i], record);

        uint32_t at = Here();
        out_.resize(out_.size() + spec.size, 0);
        out_[at - kDumpBase] = record.code;
        uint32_t child_link = 0;
        for (size_t i = 0; i < spec.fields.size(); i++) {
            const FieldSpec& field = spec.fields[i];
            const FieldValue& value = record.values[i];
            uint32_t where = at + field.offset;
            switch (field.type) {
            case FieldType::Flags: Put(where, uint32_t(value.number), field.width); break;
            case FieldType::Number:
            case FieldType::FieldNo:
            case FieldType::Hex: Put(where, uint32_t(value.number), 4); break;
            case FieldType::Byte: Put(where, uint32_t(value.number), 1); break;
            case FieldType::Word: Put(where, uint32_t(value.number), 2); break;
            case FieldType::At:
                for (int k = 0; k < 4; k++)
                    Put(where + 4 * k, value.numbers[k], 4);
                break;
            case FieldType::Range:
                Put(where, value.numbers[0], 4);
                Put(where + 4, value.numbers[1], 4);
                break;
            case FieldType::Children: child_link = where; break;
            default: Put(where, refs[i], 4); break;
            }
        }
        if (child_link != 0)
            WriteChain(record.children, child_link);
        return at;
    }

    std::vector<uint8_t> out_;
};

}  // namespace

std::vector<uint8_t> EncodeDump(const Description& description) { return Encoder().Encode(description); }

std::vector<uint8_t> EncodeResource(const Description& description) {
    std::vector<uint8_t> bytes(description.module.begin(), description.module.end());
    bytes.push_back(0);
    std::vector<uint8_t> dump = EncodeDump(description);
    bytes.insert(bytes.end(), dump.begin(), dump.end());
    return bytes;
}

bool DecodeResource(std::span<const uint8_t> resource, Description& out, std::string& error) {
    std::string_view module;
    std::span<const uint8_t> dump;
    out = Description();
    if (!SplitResource(resource, module, dump)) {
        error = "resource without its module name";
        return false;
    }
    out.module = module;
    return DecodeDump(dump, out.structures, error);
}

}  // namespace tarvex::tools
