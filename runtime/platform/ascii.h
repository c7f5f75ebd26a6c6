// SPDX-License-Identifier: GPL-3.0-or-later
// ASCII case folding for the names the platform layer compares: file-name components and profile
// sections and keys. Only A-Z and a-z have a case here, whatever the locale.
#pragma once

#include <string_view>

namespace tarvex::platform {

inline char AsciiLower(char c) { return c >= 'A' && c <= 'Z' ? char(c - 'A' + 'a') : c; }

inline bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) return false;
    for (size_t i = 0; i < a.size(); i++) {
        if (AsciiLower(a[i]) != AsciiLower(b[i])) return false;
    }
    return true;
}

}  // namespace tarvex::platform
