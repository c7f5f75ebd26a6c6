// SPDX-License-Identifier: GPL-3.0-or-later
// Pieces of the platform layer that its own tests reach directly; nothing outside
// runtime/platform includes this header.
#pragma once

#include "platform/platform.h"

namespace tarvex::platform {

// The regional settings of the named locales (as LC_TIME and LC_NUMERIC), defaults where they
// give none or cannot be opened.
RegionalSettings RegionalFromLocales(const std::string& time_name, const std::string& numeric_name);

// The order of day, month and year in a strftime date format ("%m/%d/%y" -> "MDY") and the first
// literal character after the first field; false (outputs untouched) unless all three appear.
bool DateOrderFromFormat(std::string_view format, std::string* order, char* separator);

} // namespace tarvex::platform
