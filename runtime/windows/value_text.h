// SPDX-License-Identifier: GPL-3.0-or-later
// A program value as a control shows it, and typed text read back into the value: through the
// control's picture when it has one, else as the value's plain text. Used by the controls for
// their bound variables and by the LIST for the cells of its queue.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

#include "core/picture.h"
#include "tarvex/export.h"

namespace tarvex::windows {

// A value in program memory: its address and the storage descriptor (VRN_TYPE_* code, the bytes
// of a string or decimal, its decimal places).
struct StoredValue {
    void* address = nullptr;
    uint8_t type = 0;
    uint32_t size = 0;
    uint32_t places = 0;
};

// A text without its trailing blanks.
std::string_view Trimmed(std::string_view text);

// The value's text: formatted through `picture` when it is valid, else the plain text (a string
// without its trailing blanks, a number in its shortest form).
std::string FormatValue(const StoredValue& value, const PicDesc* picture);

// Whether typed text can be read back through the picture: the characters a number, pattern, date
// or time can hold, a date whose day and month are in range, a number that fits the picture's
// digits. String and key-in pictures take any text.
bool TextFitsPicture(const PicDesc& picture, std::string_view text);

// The most characters a person may type into an entry with this picture: its width (a string
// picture's length; a number's digits, signs, separators and point; a date's or pattern's
// positions); 0 (no limit) for an invalid picture.
int32_t TypedTextLimit(const PicDesc& picture);

// What of typed text counts against an entry's limit: all but the blanks that pad a value to its
// picture (after a string, before a number). A person may type in front of "      0.00".
TARVEX_API std::string_view TypedCharacters(std::string_view text);

// The typed text held to `limit` characters (0: any length): as it is when it fits; else its
// typed characters, cut at the limit.
std::string_view LimitTypedText(std::string_view text, int32_t limit);

// Reads the text back (deformatted through a valid picture) and stores it with the value's type.
void StoreValueText(const StoredValue& value, const PicDesc* picture, std::string_view text);

// The value as a whole number (a string read as its number; 0 when it is none).
int32_t ValueLong(const StoredValue& value);

// A blank string or a zero number.
bool ValueEmpty(const StoredValue& value);
// Blanks a string, zeroes a number.
void ClearValue(const StoredValue& value);

}  // namespace tarvex::windows
