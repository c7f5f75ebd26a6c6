// SPDX-License-Identifier: GPL-3.0-or-later
// Single-byte program text and UTF-8: every byte comes back as it was, the typographic characters
// of the set are the right ones, and UTF-8 the set cannot hold is refused.
#include <gtest/gtest.h>

#include "tarvex/ansi_text.hpp"

namespace tarvex {
namespace {

TEST(AnsiText, EveryByteComesBack) {
    std::string all;
    for (int b = 0; b < 256; b++)
        all += char(b);
    std::optional<std::string> back = Utf8ToAnsi(AnsiToUtf8(all));
    ASSERT_TRUE(back.has_value());
    EXPECT_EQ(*back, all);
}

TEST(AnsiText, KnownCharacters) {
    struct Case {
        const char* ansi;
        const char* utf8;
    } cases[] = {
        {"O'Brien", "O'Brien"},
        {"\x80 12.50", "\u20AC 12.50"},
        {"Jos\xE9 Pe\xF1" "a", "Jos\u00E9 Pe\u00F1" "a"},
        {"1\x96" "5", "1\u2013" "5"},
        {"\x93quoted\x94", "\u201Cquoted\u201D"},
        {"\x81\x9D", "\u0081\u009D"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(AnsiToUtf8(c.ansi), c.utf8) << c.ansi;
        EXPECT_EQ(Utf8ToAnsi(c.utf8), std::optional<std::string>(c.ansi)) << c.ansi;
    }
}

TEST(AnsiText, UnfitUtf8IsRefused) {
    for (const char* text : {"\xC3", "\xC3\x28", "\xC0\xAF", "\xE2\x82", "\xED\xA0\x80x\xFF", "\u4E2D", "\U0001F600",
                             "\u0100"})
        EXPECT_FALSE(Utf8ToAnsi(text).has_value()) << text;
}

} // namespace
} // namespace tarvex
