// SPDX-License-Identifier: GPL-3.0-or-later
// Fuzz target for profile files: arbitrary bytes as a profile's text, looked up and rewritten.
// Input layout: one byte selecting the edit (set, delete key, delete section), three bytes giving
// the lengths (mod 32) of a section, a key and a value, those three strings, then the text.
// Besides never crashing, an accepted edit must read back: a set value is found as written, a
// deleted key or section is gone.
#include "platform/platform.h"

#include <cstddef>
#include <cstdint>
#include <string>

using namespace tarvex::platform;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    if (size < 4) {
        return 0;
    }
    std::string_view input(reinterpret_cast<const char*>(data), size);
    int operation = data[0] % 3;
    size_t lengths[3] = {size_t(data[1] % 32), size_t(data[2] % 32), size_t(data[3] % 32)};
    input.remove_prefix(4);
    std::string_view parts[3];
    for (int i = 0; i < 3; i++) {
        size_t length = lengths[i] < input.size() ? lengths[i] : input.size();
        parts[i] = input.substr(0, length);
        input.remove_prefix(length);
    }
    std::string_view section = parts[0], key = parts[1], value = parts[2], text = input;

    (void)FindProfileValue(text, section, key);
    switch (operation) {
    case 0:
        if (auto edited = EditProfileText(text, section, key, value)) {
            if (FindProfileValue(*edited, section, key) != std::string(value)) {
                __builtin_trap();
            }
        }
        break;
    case 1:
        if (auto edited = EditProfileText(text, section, key, std::nullopt)) {
            if (FindProfileValue(*edited, section, key).has_value()) {
                __builtin_trap();
            }
        }
        break;
    default:
        if (auto edited = EditProfileText(text, section, std::nullopt, std::nullopt)) {
            if (!key.empty() && FindProfileValue(*edited, section, key).has_value()) {
                __builtin_trap();
            }
        }
        break;
    }
    return 0;
}
