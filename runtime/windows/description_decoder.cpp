// SPDX-License-Identifier: GPL-3.0-or-later
// Decoding a dump into a record tree (see description.h). Each record is read through the schema
// of its kind; every offset goes through the checked reader. Records are marked as they are
// visited, so a chain that loops back (or a subtree reached twice) is damage, not a hang; cell
// chains are bounded by the number of cells the dump could hold.
#include <cstring>

#include "windows/description.h"
#include "windows/dump_reader.h"

namespace tarvex::windows {

const FieldValue* Record::Find(FieldType type) const {
    if (spec == nullptr)
        return nullptr;
    for (size_t i = 0; i < spec->fields.size(); i++)
        if (spec->fields[i].type == type)
            return &values[i];
    return nullptr;
}

FieldValue* Record::Find(FieldType type) {
    return const_cast<FieldValue*>(static_cast<const Record*>(this)->Find(type));
}

const FieldValue* Record::At(uint32_t offset) const {
    if (spec == nullptr)
        return nullptr;
    for (size_t i = 0; i < spec->fields.size(); i++)
        if (spec->fields[i].offset == offset)
            return &values[i];
    return nullptr;
}

std::string_view Record::TextAt(uint32_t offset) const {
    const FieldValue* value = At(offset);
    return value != nullptr && value->present ? std::string_view(value->text) : std::string_view();
}

int64_t Record::NumberAt(uint32_t offset) const {
    const FieldValue* value = At(offset);
    return value != nullptr ? value->number : 0;
}

bool SplitResource(std::span<const uint8_t> resource, std::string_view& module,
                   std::span<const uint8_t>& dump) {
    const void* nul = std::memchr(resource.data(), 0, resource.size());
    if (nul == nullptr)
        return false;
    size_t length = static_cast<const uint8_t*>(nul) - resource.data();
    module = std::string_view(reinterpret_cast<const char*>(resource.data()), length);
    dump = resource.subspan(length + 1);
    return true;
}

namespace {

class Decoder {
public:
    explicit Decoder(std::span<const uint8_t> dump)
        : reader_(dump), visited_(dump.size() + kDumpBase, 0), max_cells_(dump.size() / kChainCellSize + 1) {}

    DumpReader& Reader() { return reader_; }

    // Decodes the record at `offset` with its menubar and children.
    bool DecodeRecord(uint32_t offset, int depth, Record& out) {
        if (depth > kMaxDepth) {
            reader_.Fail(offset, "records nested too deep");
            return false;
        }
        if (!reader_.Fits(offset, kHeadSize)) {
            reader_.Fail(offset, "record does not fit");
            return false;
        }
        if (visited_[offset]) {
            reader_.Fail(offset, "a chain loops");
            return false;
        }
        visited_[offset] = 1;
        out.offset = offset;
        out.code = reader_.U8(offset + kHeadKind);
        out.spec = FindKind(out.code);
        out.flags = reader_.U32(offset + kHeadFlags);
        out.flags2 = reader_.U32(offset + kHeadFlags2);
        if (out.spec == nullptr)
            return true;    // an unknown kind: its head is all that can be read
        if (!reader_.Fits(offset, out.spec->size)) {
            reader_.Fail(offset, "record does not fit");
            return false;
        }
        out.values.resize(out.spec->fields.size());
        uint32_t first_child = 0;
        for (size_t i = 0; i < out.spec->fields.size(); i++) {
            const FieldSpec& field = out.spec->fields[i];
            if (field.type == FieldType::Children) {
                first_child = reader_.U32(offset + field.offset);
                continue;
            }
            if (field.type == FieldType::Menubar) {
                uint32_t menubar = reader_.U32(offset + field.offset);
                if (menubar != 0) {
                    out.values[i].present = true;
                    out.menubar.emplace_back();
                    if (!DecodeRecord(menubar, depth + 1, out.menubar.back()))
                        return false;
                    if (out.menubar.back().code != static_cast<uint8_t>(Kind::Menubar)) {
                        reader_.Fail(menubar, "the window's menubar is not a MENUBAR record");
                        return false;
                    }
                }
                continue;
            }
            DecodeValue(offset + field.offset, field, out.values[i]);
            if (reader_.Failed())
                return false;
        }
        return DecodeChain(first_child, depth + 1, out.children);
    }

    // Decodes a sibling chain starting at `offset` (0: empty).
    bool DecodeChain(uint32_t offset, int depth, std::vector<Record>& out) {
        while (offset != 0) {
            out.emplace_back();
            if (!DecodeRecord(offset, depth, out.back()))
                return false;
            offset = reader_.U32(offset + kHeadNext);
        }
        return !reader_.Failed();
    }

private:
    void DecodeValue(uint32_t at, const FieldSpec& field, FieldValue& value) {
        switch (field.type) {
        case FieldType::Flags:
            value.number = field.width == 1 ? reader_.U8(at) : reader_.U32(at);
            return;
        case FieldType::Number:
        case FieldType::FieldNo: value.number = reader_.I32(at); return;
        case FieldType::Hex: value.number = reader_.U32(at); return;
        case FieldType::Byte: value.number = reader_.U8(at); return;
        case FieldType::Word: value.number = reader_.U16(at); return;
        case FieldType::At:
            for (int i = 0; i < 4; i++)
                value.numbers[i] = reader_.U32(at + 4 * i);
            return;
        case FieldType::Range:
            value.numbers[0] = reader_.U32(at);
            value.numbers[1] = reader_.U32(at + 4);
            return;
        default: break;
        }
        uint32_t offset = reader_.U32(at);
        if (offset == 0 || reader_.Failed())
            return;
        value.present = true;
        switch (field.type) {
        case FieldType::Text:
        case FieldType::Picture: ReadString(offset, value.text); return;
        case FieldType::Name: ReadName(offset, value.text); return;
        case FieldType::Font:
            if (reader_.Bytes(offset, kFontSize).empty())
                return;
            if (uint32_t face = reader_.U32(offset); face != 0) {
                value.text_present = true;
                ReadString(face, value.text);
            }
            for (int i = 0; i < 3; i++)
                value.numbers[i] = reader_.U32(offset + 4 + 4 * i);
            return;
        case FieldType::Use:
        case FieldType::From:
            if (reader_.Bytes(offset, kUseSize).empty())
                return;
            value.numbers[0] = reader_.U8(offset);
            value.numbers[1] = reader_.U32(offset + 1);
            value.numbers[2] = reader_.U32(offset + 5);
            if (field.type == FieldType::From && value.numbers[0] == kUseText) {
                value.text_present = true;
                ReadString(offset + kUseSize, value.text);
            }
            return;
        case FieldType::Alerts:
        case FieldType::BandRefs: ReadCellChain(offset, value.list); return;
        case FieldType::Paper:
            if (reader_.Bytes(offset, kPaperSize).empty())
                return;
            if (reader_.U8(offset) != kPaperMark) {
                reader_.Fail(offset, "paper cell without its mark");
                return;
            }
            value.numbers[3] = reader_.U32(offset + 1);
            value.numbers[0] = reader_.U16(offset + 5);
            value.numbers[1] = reader_.U16(offset + 7);
            value.numbers[2] = reader_.U16(offset + 9);
            return;
        case FieldType::Cell:
            if (reader_.Bytes(offset, kCellSize).empty())
                return;
            for (int i = 0; i < 3; i++)
                value.numbers[i] = reader_.U32(offset + 4 * i);
            return;
        case FieldType::Wallpaper:
            if (reader_.Bytes(offset, kWallpaperSize).empty())
                return;
            value.numbers[0] = reader_.U32(offset);
            if (uint32_t image = reader_.U32(offset + 4); image != 0) {
                value.text_present = true;
                ReadString(image, value.text);
            }
            return;
        default: return;
        }
    }

    void ReadString(uint32_t offset, std::string& text) {
        if (auto s = reader_.String(offset))
            text.assign(*s);
    }

    // A name is a string, or a stock code: 0xFF, the table, a u16 number.
    void ReadName(uint32_t offset, std::string& text) {
        if (reader_.U8(offset) == kStockMark) {
            auto bytes = reader_.Bytes(offset, kStockNameSize);
            text.assign(bytes.begin(), bytes.end());
            return;
        }
        ReadString(offset, text);
    }

    void ReadCellChain(uint32_t offset, std::vector<uint32_t>& list) {
        for (size_t count = 0; offset != 0; count++) {
            if (count >= max_cells_) {
                reader_.Fail(offset, "cell chain loops");
                return;
            }
            if (reader_.Bytes(offset, kChainCellSize).empty())
                return;
            list.push_back(reader_.U32(offset));
            offset = reader_.U32(offset + 4);
        }
    }

    DumpReader reader_;
    std::vector<uint8_t> visited_;
    size_t max_cells_;
};

// Reads the offset of the first structure; false (with a fault) for a dump too short to hold it.
bool HeadOffset(DumpReader& reader, uint32_t& head) {
    if (!reader.Fits(kDumpBase, 4)) {
        reader.Fail(kDumpBase, "description too short for its head");
        return false;
    }
    head = reader.U32(kDumpBase);
    return true;
}

}  // namespace

bool DecodeDump(std::span<const uint8_t> dump, std::vector<Record>& out, std::string& error) {
    out.clear();
    error.clear();
    Decoder decoder(dump);
    uint32_t head;
    bool ok = HeadOffset(decoder.Reader(), head) && decoder.DecodeChain(head, 0, out);
    if (ok) {
        for (const Record& record : out)
            if (record.spec == nullptr || record.spec->role != Role::Structure) {
                decoder.Reader().Fail(record.offset, "top-level record is not a WINDOW or REPORT");
                ok = false;
                break;
            }
    }
    if (!ok) {
        error = decoder.Reader().Error();
        out.clear();
    }
    return ok;
}

bool DecodeStructure(std::span<const uint8_t> dump, std::string_view name, Record& out,
                     std::string& error) {
    error.clear();
    Decoder decoder(dump);
    DumpReader& reader = decoder.Reader();
    uint32_t offset;
    if (!HeadOffset(reader, offset)) {
        error = reader.Error();
        return false;
    }
    // Only the names along the top-level chain are read until one matches.
    for (size_t count = 0; offset != 0; count++) {
        if (count > dump.size() / kHeadSize) {
            reader.Fail(offset, "structure chain loops");
            break;
        }
        const KindSpec* spec = FindKind(reader.U8(offset + kHeadKind));
        if (reader.Failed())
            break;
        if (spec == nullptr || spec->role != Role::Structure) {
            reader.Fail(offset, "top-level record is not a WINDOW or REPORT");
            break;
        }
        if (!reader.Fits(offset, spec->size)) {
            reader.Fail(offset, "record does not fit");
            break;
        }
        uint32_t name_offset = reader.U32(offset + kStructName);
        if (name_offset != 0) {
            auto found = reader.String(name_offset);
            if (!found)
                break;
            if (*found == name) {
                out = Record();
                if (decoder.DecodeRecord(offset, 0, out))
                    return true;
                break;
            }
        }
        offset = reader.U32(offset + kHeadNext);
    }
    error = reader.Error();
    out = Record();
    return false;
}

}  // namespace tarvex::windows
