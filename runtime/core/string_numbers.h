// SPDX-License-Identifier: GPL-3.0-or-later
// Numbers as text on the string stack: how a pushed number is written and how a popped string is
// read as a REAL (a LONG is read through the decimal reader, TextToLong in decimal.h).
// Locale-independent: the decimal point is always ".".
#pragma once

#include <cstddef>
#include <cstdint>
#include <string_view>

namespace tarvex {

// Reads text as a decimal number and returns its integer part as a LONG, as PopLong does: only the
// first 99 characters count; the reading itself is the decimal reader's (TextToLong in decimal.h).
int32_t TextToLong(std::string_view text);

struct RealScan {
    double value;      // 0 when nothing was read
    size_t consumed;   // characters that belong to the number (0 when there is none)
};
// Reads a floating number from the start of text: leading blanks, an optional sign, digits with an
// optional "." (at least one digit), an optional exponent ("e" or "E", optional sign, digits).
RealScan ScanReal(std::string_view text);

// Writes value with 14 significant digits in general format ("12", "0.5", "1e+20"); returns the
// length. `out` must hold 32 characters.
size_t FormatReal(double value, char* out);

}  // namespace tarvex
