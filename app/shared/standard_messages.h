// SPDX-License-Identifier: GPL-3.0-or-later
// The program's numbered standard messages and the last file error every procedure reports
// through them. A procedure that fails a file statement calls SaveFileError() (which also rolls
// back a transaction in progress) and then ShowStandardMessage(n, ...); the message describes the
// saved error and forgets it (every standard message forgets it, whether its text shows it or not). Messages 1, 3, 4, 5 and 22 end the program, and so does message 2
// when the user answers No.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>

namespace lumarex {

inline constexpr int32_t kStandardMessageCount = 38;

// Keeps ERRORCODE(), ERROR(), FILEERRORCODE() and FILEERRORMSG() for the next message, then rolls
// back any transaction in progress (which would otherwise overwrite the error state).
void SaveFileError();

// "text (code)" for the saved error when one is saved, else for the current one; for a driver's
// own error (90) the driver's message and code. Building it forgets the saved error.
std::string ErrorDescription();

// Shows standard message `number` (1 to 38) with its text parameters and returns the button
// pressed (VRN_BUTTON_OK, _YES, _NO, _CANCEL or _RETRY). Ends the program for the messages that
// do. An unknown number shows nothing and returns 0.
uint32_t ShowStandardMessage(int32_t number, std::string_view p1 = {}, std::string_view p2 = {});

// Exit code of the program when a standard message ends it: not 0, since a script must never take
// a program that stopped on a damaged or missing file for one that finished its work.
inline constexpr int32_t kHaltExitCode = 1;

} // namespace lumarex
