// SPDX-License-Identifier: GPL-3.0-or-later
// The text form of descriptions (.dsc) and the DABDUMP resource bytes, both ways: the parser and
// the encoder behind `dabc`, the decoder and the printer behind `dabdump`. The printer writes one
// canonical text, so text -> dump -> text gives the text back and dump -> text -> dump the bytes.
#pragma once

#include <cstdint>
#include <span>
#include <string>
#include <string_view>
#include <vector>

#include "windows/description.h"

namespace tarvex::tools {

struct DscError {
    std::string file;
    int line = 0;
    int column = 0;
    std::string message;
    // "file:line:column: message", as compilers print them.
    std::string Text() const;
};

// Parses one module's .dsc text. Field numbers not given are counted depth first (controls, DETAIL
// bands and band groups 1, 2, ...; menu entries -1, -2, ...; other bands 0). Stops at the first
// error and returns false with it in `error`.
bool ParseDsc(std::string_view text, std::string_view file, windows::Description& out, DscError& error);

// The resource bytes of a module: its name, a NUL, then the dump.
std::vector<uint8_t> EncodeResource(const windows::Description& description);
// The dump alone (what follows the module name).
std::vector<uint8_t> EncodeDump(const windows::Description& description);

// Decodes resource bytes (module name, NUL, dump); false with a message for damaged bytes.
bool DecodeResource(std::span<const uint8_t> resource, windows::Description& out, std::string& error);

// The canonical text of a description.
std::string PrintDsc(const windows::Description& description);

// Counts field numbers in construction order for one structure.
class FieldCounter {
public:
    int32_t Next(const windows::KindSpec& kind) {
        switch (kind.numbering) {
        case windows::Numbering::Positive: return ++positive_;
        case windows::Numbering::Negative: return --negative_;
        default: return 0;
        }
    }

private:
    int32_t positive_ = 0;
    int32_t negative_ = 0;
};

}  // namespace tarvex::tools
