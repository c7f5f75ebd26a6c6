// SPDX-License-Identifier: GPL-3.0-or-later
// The two confirmation windows of backup and reload. OK makes the nineteen copies and closes the
// window; Cancel closes it; either way the procedure's result is "cancelled", as the frame expects.
#include <cstdint>

#include "procedures/procedures.h"
#include "shared/backup_copies.h"
#include "tarvex/windows.hpp"

namespace lumarex {

namespace {

// Both windows: an image, the text lines, then "&Cancel" and "&OK". The buttons' field numbers
// follow the text lines.
void Confirm(const char* module, int32_t cancel_button, CopyOutcome (*copy)()) {
    int32_t saved_action = RequestedAction;
    RequestedAction = 0;
    ActionResult = 0;
    if ((tarvex::KEYCODE() & 0xFF) == 2)   // a right click brought us here: forget it
        tarvex::SETKEYCODE(0);
    {
        tarvex::Window window(module, "P1$WINDOW");
        window.Open();
        for (tarvex::Accept accept; accept.Next();) {
            if (tarvex::ACCEPTED() == cancel_button)
                break;
            if (tarvex::ACCEPTED() == cancel_button + 1) {
                copy();
                break;
            }
        }
    }
    RequestedAction = saved_action;
    ActionResult = kCancelled;
}

}  // namespace

void ConfirmBackup() { Confirm("LUMAREX$CONDIR~1", 4, BackupDataFiles); }

void ConfirmReload() { Confirm("LUMAREX$CONFIR~1", 8, ReloadBackupFiles); }

}  // namespace lumarex
