// SPDX-License-Identifier: GPL-3.0-or-later
// The program's single-byte text and UTF-8, both ways and without loss.
//
// Program text is in the Windows ANSI character set (code page 1252): 0x00-0x7F ASCII, 0xA0-0xFF
// as Latin-1, 0x80-0x9F the typographic characters (euro sign, dashes, curly quotes, ...). The
// five bytes that set leaves undefined (0x81, 0x8D, 0x8F, 0x90, 0x9D) map to the control
// characters of the same number, so every byte has exactly one character and back: what a
// program stores comes back byte for byte. Data files, printed pages and the screen all use this
// one table.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvex {

// The Unicode character of each byte from 0x80 to 0x9F.
inline constexpr char16_t kAnsiHighControls[32] = {
    0x20AC, 0x0081, 0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021, 0x02C6, 0x2030, 0x0160,
    0x2039, 0x0152, 0x008D, 0x017D, 0x008F, 0x0090, 0x2018, 0x2019, 0x201C, 0x201D, 0x2022,
    0x2013, 0x2014, 0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x009D, 0x017E, 0x0178,
};

inline char32_t AnsiToUnicode(uint8_t byte) {
    return byte >= 0x80 && byte <= 0x9F ? char32_t(kAnsiHighControls[byte - 0x80]) : char32_t(byte);
}

// The byte of a character, or nullopt when the set has none for it.
inline std::optional<uint8_t> UnicodeToAnsi(char32_t c) {
    if (c < 0x80 || (c >= 0xA0 && c <= 0xFF))
        return uint8_t(c);
    for (int i = 0; i < 32; i++)
        if (kAnsiHighControls[i] == c)
            return uint8_t(0x80 + i);
    return std::nullopt;
}

inline std::string AnsiToUtf8(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (char b : text) {
        char32_t c = AnsiToUnicode(uint8_t(b));
        if (c < 0x80) {
            out += char(c);
        } else if (c < 0x800) {
            out += char(0xC0 | (c >> 6));
            out += char(0x80 | (c & 0x3F));
        } else {
            out += char(0xE0 | (c >> 12));
            out += char(0x80 | ((c >> 6) & 0x3F));
            out += char(0x80 | (c & 0x3F));
        }
    }
    return out;
}

// The single-byte text of UTF-8 text; nullopt when it is not valid UTF-8 or holds a character
// the set does not have.
inline std::optional<std::string> Utf8ToAnsi(std::string_view text) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size();) {
        uint8_t lead = uint8_t(text[i]);
        size_t length = lead < 0x80 ? 1 : (lead >> 5) == 0x6 ? 2 : (lead >> 4) == 0xE ? 3 : (lead >> 3) == 0x1E ? 4 : 0;
        if (length == 0 || i + length > text.size())
            return std::nullopt;
        char32_t c = length == 1 ? lead : lead & (0x7F >> length);
        for (size_t k = 1; k < length; k++) {
            uint8_t next = uint8_t(text[i + k]);
            if ((next & 0xC0) != 0x80)
                return std::nullopt;
            c = c << 6 | (next & 0x3F);
        }
        // Overlong forms spell a character twice; they are not text.
        static constexpr char32_t kLeast[5] = {0, 0, 0x80, 0x800, 0x10000};
        if (c < kLeast[length])
            return std::nullopt;
        std::optional<uint8_t> byte = UnicodeToAnsi(c);
        if (!byte)
            return std::nullopt;
        out += char(*byte);
        i += length;
    }
    return out;
}

} // namespace tarvex
