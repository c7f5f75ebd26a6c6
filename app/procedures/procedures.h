// SPDX-License-Identifier: GPL-3.0-or-later
// The program's procedures and the program-wide values through which they ask each other for
// work and report how it went.
#pragma once

#include <cstdint>

#include "tarvex/threads.h"

namespace lumarex {

// What a called procedure is asked to do (insert, change, delete, select), its outcome (1
// completed, 2 cancelled), and where an update form asks its browse to go next. Start-up sets
// them to 0.
inline int32_t RequestedAction = 0;
inline int32_t ActionResult = 0;
inline int32_t FormNavigation = 0;

inline constexpr int32_t kCompleted = 1;
inline constexpr int32_t kCancelled = 2;

// The main frame: the menu from which every other procedure is reached. The program ends when
// it closes.
void MainFrame();
// The procedure behind a menu item of the frame (field -2 "&Invoice Browser ...", -17 "&Claim in
// Blank Form", ...), started or called as the menu says; returns the one it replaces. Items whose
// procedure the program does not have yet answer with the message for a missing procedure.
VrnProcedure SetMenuProcedure(int32_t item, VrnProcedure procedure);
// "Backup files" and "Reload backup files": a confirmation, then the copies.
void ConfirmBackup();
void ConfirmReload();

}  // namespace lumarex
