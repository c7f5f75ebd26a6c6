// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes the description compiler: arbitrary text is parsed; what parses is encoded, decoded and
// printed, and the printed text must compile to the same bytes and print to itself (the round
// trips the tools promise for every description). A parse error must name a line and column
// inside the text.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "tools/dsc.h"

namespace {

void Check(bool condition) {
    if (!condition) __builtin_trap();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view text(reinterpret_cast<const char*>(data), size);
    tarvex::windows::Description description;
    tarvex::tools::DscError error;
    if (!tarvex::tools::ParseDsc(text, "fuzz.dsc", description, error)) {
        Check(error.line >= 1 && error.column >= 1 && !error.message.empty());
        return 0;
    }
    std::vector<uint8_t> bytes = tarvex::tools::EncodeResource(description);
    tarvex::windows::Description decoded;
    std::string problem;
    Check(tarvex::tools::DecodeResource(bytes, decoded, problem));
    std::string printed = tarvex::tools::PrintDsc(decoded);
    tarvex::windows::Description again;
    Check(tarvex::tools::ParseDsc(printed, "printed.dsc", again, error));
    Check(tarvex::tools::EncodeResource(again) == bytes);
    Check(tarvex::tools::PrintDsc(again) == printed);
    return 0;
}
