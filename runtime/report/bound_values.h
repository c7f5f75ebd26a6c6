// SPDX-License-Identifier: GPL-3.0-or-later
// The program's variables as a report reads and writes them: shown through a picture, compared as
// break values, taken into totals and given the totals back.
#pragma once

#include <string>
#include <string_view>

#include "core/decimal.h"
#include "windows/window_object.h"

namespace tarvex::report {

// The variable's text through the picture (without its '@'), blank-padded to the picture's width.
// A string shown through a date picture holds the date as eight digits, year first ("20240131"),
// and is read back as that date; any other text in a date picture is taken as a day number.
std::string FormatBound(const windows::BoundVariable& variable, std::string_view picture);
// The value as text, for comparing break values.
std::string ValueText(const windows::BoundVariable& variable);
// The value as a decimal (0 for a variable that is not bound or has no number).
DecimalAccumulator DecimalOf(const windows::BoundVariable& variable);
// Stores a decimal into the variable, converted to its type.
void StoreDecimalInto(const windows::BoundVariable& variable, const DecimalAccumulator& value);
// A decimal through a picture (numeric pictures; other pictures get the plain number).
std::string FormatDecimal(const DecimalAccumulator& value, std::string_view picture);

} // namespace tarvex::report
