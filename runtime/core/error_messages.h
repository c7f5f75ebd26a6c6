// SPDX-License-Identifier: GPL-3.0-or-later
// The built-in message table of the runtime's error codes.
#pragma once

#include <cstdint>

namespace tarvex {

// The built-in text of an error code, or null when the table has none.
const char* BuiltInMessage(int32_t code);

}  // namespace tarvex
