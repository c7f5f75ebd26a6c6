// SPDX-License-Identifier: GPL-3.0-or-later
// The tokenizer of the expression language (token forms in evaluator_tokens.h).
#include "core/evaluator_tokens.h"

#include <cctype>
#include <charconv>
#include <limits>

#include "core/evaluator.h"

namespace tarvex::eval {
namespace {

bool IsDigit(char c) { return c >= '0' && c <= '9'; }
bool IsAlnum(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0; }
char Upper(char c) { return static_cast<char>(std::toupper(static_cast<unsigned char>(c))); }

Token Error(size_t start, size_t end) {
    Token token;
    token.kind = TokenKind::kError;
    token.start = start;
    token.end = end;
    return token;
}

// Digits with a trailing radix letter, or plain decimal digits.
Token ReadInteger(std::string_view source, size_t start) {
    size_t end = start;
    while (end < source.size() && IsAlnum(source[end])) end++;
    std::string_view text = source.substr(start, end - start);
    Token token;
    token.start = start;
    token.end = end;
    token.text = std::string(text);
    uint32_t radix = 10;
    std::string_view digits = text;
    if (!IsDigit(text.back())) {
        switch (Upper(text.back())) {
            case 'H': radix = 16; break;
            case 'B': radix = 2; break;
            case 'O':
            case 'Q': radix = 8; break;
            case 'D': radix = 10; break;
            default: return Error(start, end);
        }
        digits = text.substr(0, text.size() - 1);
    }
    uint64_t value = 0;
    bool overflow = false;
    for (char c : digits) {
        uint32_t digit;
        if (IsDigit(c)) {
            digit = static_cast<uint32_t>(c - '0');
        } else if (std::isalpha(static_cast<unsigned char>(c))) {
            digit = static_cast<uint32_t>(Upper(c) - 'A' + 10);
        } else {
            return Error(start, end);
        }
        if (digit >= radix) return Error(start, end);
        if (value > (static_cast<uint64_t>(std::numeric_limits<int64_t>::max()) - digit) / radix) overflow = true;
        if (!overflow) value = value * radix + digit;
    }
    if (overflow) {
        // A decimal number too long for 64 bits is still a number: it becomes a real.
        if (radix != 10) return Error(start, end);
        std::from_chars(digits.data(), digits.data() + digits.size(), token.real);
        token.kind = TokenKind::kReal;
        return token;
    }
    token.kind = TokenKind::kInteger;
    token.integer = static_cast<int64_t>(value);
    return token;
}

// digits "." digits [E [sign] digits], or "." digits.
Token ReadReal(std::string_view source, size_t start) {
    size_t end = start;
    while (end < source.size() && IsDigit(source[end])) end++;
    end++;   // the point
    while (end < source.size() && IsDigit(source[end])) end++;
    if (end < source.size() && (source[end] == 'E' || source[end] == 'e')) {
        size_t exponent = end + 1;
        if (exponent < source.size() && (source[exponent] == '+' || source[exponent] == '-')) exponent++;
        if (exponent < source.size() && IsDigit(source[exponent])) {
            end = exponent;
            while (end < source.size() && IsDigit(source[end])) end++;
        }
    }
    Token token;
    token.kind = TokenKind::kReal;
    token.start = start;
    token.end = end;
    token.text = std::string(source.substr(start, end - start));
    std::string number = token.text[0] == '.' ? "0" + token.text : token.text;
    auto [rest, error] = std::from_chars(number.data(), number.data() + number.size(), token.real);
    if (error == std::errc::result_out_of_range) {
        token.real = 0;
        return Error(start, end);
    }
    (void)rest;
    return token;
}

Token ReadString(std::string_view source, size_t start) {
    Token token;
    token.kind = TokenKind::kString;
    token.start = start;
    size_t i = start + 1;
    for (;;) {
        if (i >= source.size()) return Error(start, i);
        if (source[i] == '\'') {
            if (i + 1 < source.size() && source[i + 1] == '\'') {
                token.text.push_back('\'');
                i += 2;
                continue;
            }
            token.end = i + 1;
            return token;
        }
        token.text.push_back(source[i++]);
    }
}

// "@" and a picture: a @P or @K picture runs to its closing letter, any other to a blank, "," or
// ")" outside parentheses; a "B" may follow.
Token ReadPicture(std::string_view source, size_t start) {
    size_t i = start + 1;
    if (i >= source.size()) return Error(start, i);
    char kind = source[i];
    if (Upper(kind) == 'P' || Upper(kind) == 'K') {
        // Closed by the same letter in the same case: "@pPage <<<#p" holds a "P".
        size_t close = i + 1;
        while (close < source.size() && source[close] != kind) close++;
        if (close >= source.size()) return Error(start, close);
        i = close + 1;
        if (i < source.size() && Upper(source[i]) == 'B') i++;
    } else {
        int depth = 0;
        while (i < source.size()) {
            char c = source[i];
            if (depth == 0 && (c == ' ' || c == '\t' || c == ',' || c == ')')) break;
            if (c == '(') depth++;
            if (c == ')') depth--;
            i++;
        }
        if (i == start + 1) return Error(start, i);
    }
    Token token;
    token.kind = TokenKind::kPicture;
    token.start = start;
    token.end = i;
    token.text = std::string(source.substr(start, i - start));
    return token;
}

}  // namespace

Token ReadToken(std::string_view source, size_t offset) {
    size_t i = offset;
    while (i < source.size() && (source[i] == ' ' || source[i] == '\t')) i++;
    Token token;
    token.start = i;
    token.end = i;
    if (i >= source.size()) return token;
    char c = source[i];
    if (IsDigit(c)) {
        size_t after = i;
        while (after < source.size() && IsDigit(source[after])) after++;
        if (after < source.size() && source[after] == '.') return ReadReal(source, i);
        return ReadInteger(source, i);
    }
    if (c == '.') {
        if (i + 1 < source.size() && IsDigit(source[i + 1])) return ReadReal(source, i);
        return Error(i, i + 1);
    }
    if (c == '\'') return ReadString(source, i);
    if (c == '@') return ReadPicture(source, i);
    if (IsNameStart(c)) {
        size_t end = i + 1;
        while (end < source.size() && IsNameChar(source[end])) end++;
        if (end < source.size() && (source[end] == '#' || source[end] == '$' || source[end] == '"')) end++;
        token.kind = TokenKind::kName;
        token.end = end;
        token.text = std::string(source.substr(i, end - i));
        return token;
    }
    token.end = i + 1;
    switch (c) {
        case '(': token.kind = TokenKind::kLeftParen; break;
        case ')': token.kind = TokenKind::kRightParen; break;
        case '[': token.kind = TokenKind::kLeftBracket; break;
        case ']': token.kind = TokenKind::kRightBracket; break;
        case ',': token.kind = TokenKind::kComma; break;
        case ':': token.kind = TokenKind::kColon; break;
        case '^': token.kind = TokenKind::kCaret; break;
        case '*': token.kind = TokenKind::kStar; break;
        case '/': token.kind = TokenKind::kSlash; break;
        case '%': token.kind = TokenKind::kPercent; break;
        case '+': token.kind = TokenKind::kPlus; break;
        case '-': token.kind = TokenKind::kMinus; break;
        case '&': token.kind = TokenKind::kAmpersand; break;
        case '=': token.kind = TokenKind::kEqual; break;
        case '<': token.kind = TokenKind::kLess; break;
        case '>': token.kind = TokenKind::kGreater; break;
        case '~': token.kind = TokenKind::kTilde; break;
        default: return Error(i, i + 1);
    }
    return token;
}

}  // namespace tarvex::eval
