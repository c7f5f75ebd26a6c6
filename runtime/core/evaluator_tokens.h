// SPDX-License-Identifier: GPL-3.0-or-later
// The tokenizer of the expression language. Blanks and tabs between tokens are skipped; tokens are
// read on demand, so text after a complete expression (ParseCStringR) is never looked at.
//
//   1234  0FFH  1011B  17O  17Q  99D   integers; a trailing letter names the radix (H 16, B 2,
//                                      O or Q 8, D 10), the letters before it are digits
//   1.5  .01  2.5E-3  1.               reals
//   'it''s'                            strings, two quotes standing for one
//   @n9.2  @s20  @p###-##pB  @K##K     pictures (FORMAT, DEFORMAT); @P and @K pictures run to
//                                      the same letter in the same case, then an optional "B"
//   PAT:LNAME  BRW2::Sort1:Reset:X  A$  names
//   ( ) [ ] , : ^ * / % + - & = < > ~  punctuation and operators
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

namespace tarvex::eval {

enum class TokenKind : uint8_t {
    kEnd,
    kError,
    kInteger,
    kReal,
    kString,
    kPicture,
    kName,
    kLeftParen,
    kRightParen,
    kLeftBracket,
    kRightBracket,
    kComma,
    kColon,
    kCaret,
    kStar,
    kSlash,
    kPercent,
    kPlus,
    kMinus,
    kAmpersand,
    kEqual,
    kLess,
    kGreater,
    kTilde,
};

struct Token {
    TokenKind kind = TokenKind::kEnd;
    size_t start = 0;   // offset of the token's first character
    size_t end = 0;     // offset after its last character
    int64_t integer = 0;
    double real = 0;
    std::string text;   // string and picture contents; the source text of numbers and names
};

// Reads the token that starts at or after `offset` (blanks skipped).
Token ReadToken(std::string_view source, size_t offset);

}  // namespace tarvex::eval
