// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzzes the command-line parser: arbitrary bytes split into a tail and a selector.
#include <cstddef>
#include <cstdint>
#include <string_view>

#include "core/command_line.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view input(reinterpret_cast<const char*>(data), size);
    size_t split = input.find('\n');
    std::string_view tail = input.substr(0, split);
    std::string_view selector = split == std::string_view::npos ? std::string_view() : input.substr(split + 1);
    auto parameters = tarvex::SplitCommandTail(tail);
    // Joining the parameters again must give them back unchanged.
    if (tarvex::SplitCommandTail(tarvex::JoinCommandArguments(parameters)) != parameters) __builtin_trap();
    (void)tarvex::SelectFromCommand(tail, selector, "Z:\\PROG");
    return 0;
}
