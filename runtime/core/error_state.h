// SPDX-License-Identifier: GPL-3.0-or-later
// The process-wide error state behind ERRORCODE(), ERROR(), FILEERRORCODE(), FILEERRORMSG() and
// ERRORFILE(). The exported variables and operations are declared in tarvex/frame.h; this header
// gives the rest of the runtime read access to the parts that have no exported variable.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace tarvex {

constexpr size_t kErrorTextSize = 80;        // ERROR(): 79 characters and a blank
constexpr size_t kFileErrorCodeSize = 81;
constexpr size_t kFileErrorMessageSize = 255;

// The error of an argument the runtime refuses (an address that is no code, a missing variable):
// the system's "invalid parameter" (87) as the operating-system error it is.
constexpr int32_t kInvalidParameter = 300 + 87;

// The driver's own error code and message as stored (blank-padded, or all zero before the first
// driver error).
std::string_view FileErrorCode();
std::string_view FileErrorMessage();
// The message text of a code as Vrn$err_message builds it, as a std::string.
std::string ErrorMessageText(int32_t code);

}  // namespace tarvex
