// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target: arbitrary bytes as an environment file, parsed and applied; then comparison and case
// under whatever tables the input set up. The tables and settings are reset after each input, so
// no state leaks from one run into the next.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/char_tables.h"
#include "core/environment.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    using namespace tarvex;
    std::string_view text(reinterpret_cast<const char*>(data), size);

    for (const EnvironmentEntry& entry : ParseEnvironmentText(text)) {
        if (entry.key.empty() || entry.key.size() > 31) __builtin_trap();
        for (const auto& item : entry.items) {
            if (item.size() > 1024) __builtin_trap();
        }
    }

    ApplyEnvironmentText(text);

    // Comparison stays antisymmetric under any tables the file can set.
    std::string_view first = text.substr(0, size / 2);
    std::string_view second = text.substr(size / 2);
    int32_t forward = CompareStrings(first, second);
    int32_t backward = CompareStrings(second, first);
    if ((forward > 0) != (backward < 0) || (forward == 0) != (backward == 0)) __builtin_trap();
    if (CompareStrings(first, first) != 0) __builtin_trap();

    // Case mapping stays a partner relation: an upper-cased lower-case letter lowers back.
    for (int c = 0; c < 256; c++) {
        char ch = static_cast<char>(c);
        if (IsLowerChar(ch) && ToLower(ToUpper(ch)) != ch) __builtin_trap();
    }
    for (int32_t code = 0; code < 128; code++) (void)FindMessageOverride(code);
    (void)CharTablesFingerprint();

    ResetEnvironment();
    return 0;
}
