// SPDX-License-Identifier: GPL-3.0-or-later
// A description decoded from its dump: a tree of records, each holding the values of the fields
// its kind's schema names (description_format.h). Decoding checks every offset, chain and string
// against the buffer, so everything downstream (the loader, the description tools) works on values
// that are known to be whole. A damaged dump decodes to nothing and a message saying where.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "windows/description_format.h"

namespace tarvex::windows {

// One field's value. Which members carry it depends on the field's type:
//   Flags, Number, Hex, Byte, Word, FieldNo      number
//   Text, Picture, Name                          present, text (raw bytes; a stock code is 4 bytes)
//   At, Range                                    numbers[0..3] / [0..1] (as i32 bits)
//   Font                                         present, text_present + text (face), numbers = size, colour, style
//   Use, From                                    present, numbers = type, size, places; a text FROM: text
//   Alerts, BandRefs                             present, list
//   Paper                                        present, numbers = code, width, length, numbers[3] the
//                                                four bytes after the mark
//   Cell                                         present, numbers[0..2]
//   Wallpaper                                    present, numbers[0] = colour, text_present + text (image)
//   Menubar, Children                            the record's menubar / children
struct FieldValue {
    bool present = false;
    int64_t number = 0;
    std::string text;
    bool text_present = false;
    std::array<uint32_t, 4> numbers{};
    std::vector<uint32_t> list;
};

struct Record {
    uint8_t code = 0;
    const KindSpec* spec = nullptr;      // null for a kind the schema does not know (head only)
    uint32_t offset = 0;                 // where the record was found in the dump
    uint32_t flags = 0;                  // the head's two words, also found among the values
    uint32_t flags2 = 0;
    std::vector<FieldValue> values;      // one per spec->fields entry
    std::vector<Record> children;
    std::vector<Record> menubar;         // a WINDOW's MENUBAR, at most one

    // The value of the field of the given type (the first such field); null when the kind has none.
    const FieldValue* Find(FieldType type) const;
    FieldValue* Find(FieldType type);
    // The value of the field at the given record offset; null when the kind has none there.
    const FieldValue* At(uint32_t offset) const;
    // The text of a Text/Picture/Name field, or empty when absent.
    std::string_view TextAt(uint32_t offset) const;
    int64_t NumberAt(uint32_t offset) const;
};

struct Description {
    std::string module;                  // the module name that leads the resource
    std::vector<Record> structures;      // the top-level chain, in chain order
};

// Splits resource bytes into the leading module name and the dump; false when the name has no NUL.
bool SplitResource(std::span<const uint8_t> resource, std::string_view& module,
                   std::span<const uint8_t>& dump);

// Decodes every structure of a dump. On a damaged dump returns false, leaves `out` empty and says
// where in `error`.
bool DecodeDump(std::span<const uint8_t> dump, std::vector<Record>& out, std::string& error);
// Decodes only the first top-level structure named `name` (exact, case-sensitive). False with an
// empty `error` when no structure has that name, false with a message when the dump is damaged.
bool DecodeStructure(std::span<const uint8_t> dump, std::string_view name, Record& out,
                     std::string& error);

// The deepest nesting a description may have; deeper chains are taken as damage.
constexpr int kMaxDepth = 32;

}  // namespace tarvex::windows
