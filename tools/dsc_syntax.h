// SPDX-License-Identifier: GPL-3.0-or-later
// Lexical rules of the .dsc text shared by its printer and its parser: quoted texts, pictures,
// words and labels. A text is quoted with ' (doubled inside); a byte outside printable ASCII is
// written <xHH>, and so is a '<' that would otherwise read as such an escape.
#pragma once

#include <cctype>
#include <string>
#include <string_view>

#include "windows/description_format.h"

namespace tarvex::tools {

inline bool IsHexDigit(char c) { return std::isxdigit(static_cast<unsigned char>(c)) != 0; }

// True when `text` at `i` reads as an escape <xHH>.
inline bool IsEscapeAt(std::string_view text, size_t i) {
    return i + 5 <= text.size() && text[i] == '<' && text[i + 1] == 'x' && IsHexDigit(text[i + 2]) &&
           IsHexDigit(text[i + 3]) && text[i + 4] == '>';
}

inline std::string Escaped(std::string_view text) {
    static const char kDigits[] = "0123456789ABCDEF";
    std::string out;
    for (size_t i = 0; i < text.size(); i++) {
        unsigned char c = static_cast<unsigned char>(text[i]);
        if (c == '\'') {
            out += "''";
        } else if (c < 0x20 || c >= 0x7f || IsEscapeAt(text, i)) {
            out += "<x";
            out += kDigits[c >> 4];
            out += kDigits[c & 0xF];
            out += '>';
        } else {
            out += char(c);
        }
    }
    return out;
}

inline std::string Quote(std::string_view text) { return "'" + Escaped(text) + "'"; }

inline bool IsPlainPicture(std::string_view picture) {
    if (picture.empty())
        return false;
    for (char c : picture)
        if (!std::isalnum(static_cast<unsigned char>(c)) && c != '.' && c != '-' && c != '#')
            return false;
    return true;
}

// A picture keeps its '@' in the text; the dump stores it without.
inline std::string Picture(std::string_view picture) {
    return IsPlainPicture(picture) ? "@" + std::string(picture) : "@" + Quote(picture);
}

inline bool IsWordStart(char c) { return std::isalpha(static_cast<unsigned char>(c)) != 0 || c == '_'; }
inline bool IsWordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) != 0 || c == '_'; }

inline bool IsWord(std::string_view text) {
    if (text.empty() || !IsWordStart(text[0]))
        return false;
    for (char c : text)
        if (!IsWordChar(c))
            return false;
    return true;
}

// Label characters: structure names such as P1$WINDOW and P9$PREVIEW:WINDOW.
inline bool IsLabelChar(char c) { return IsWordChar(c) || c == '$' || c == ':' || c == '~' || c == '.'; }

// A label is written bare when it reads back as one: a word start, then label characters, and a
// '$' in it so that it can never be taken for a keyword.
inline bool IsLabel(std::string_view text) {
    if (text.empty() || !IsWordStart(text[0]) || text.find('$') == std::string_view::npos)
        return false;
    for (char c : text)
        if (!IsLabelChar(c))
            return false;
    return true;
}

inline size_t LabelIndex(const windows::KindSpec& spec) {
    for (size_t i = 0; i < spec.fields.size(); i++)
        if (spec.fields[i].name == "LABEL")
            return i;
    return 0;
}

}  // namespace tarvex::tools
