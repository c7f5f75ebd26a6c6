// SPDX-License-Identifier: GPL-3.0-or-later
// The main frame: the APPLICATION window with the program's menu. Items that start a procedure
// run it on a thread of its own (several can be open at once); items that call one run it on the
// frame's thread, the frame waiting. A procedure that is not part of the program yet is answered
// with the program's own message for a missing procedure.
#include <cstdint>
#include <string_view>
#include <utility>

#include "procedures/procedures.h"
#include "shared/standard_messages.h"
#include "shared/window_positions.h"
#include "tarvex/files.h"
#include "tarvex/string_stack.h"
#include "tarvex/windows.hpp"

namespace lumarex {

namespace {

constexpr int32_t kStart25 = 25000;
constexpr int32_t kStart64 = 64000;

// One menu item of the frame: its field number (menus and items are numbered -1, -2, ... in menu
// order), what it runs, and how.
struct MenuAction {
    int32_t item;
    std::string_view procedure;     // its name, for the message when it is not built yet
    VrnProcedure run;               // null: not part of the program yet
    int32_t stack;                  // 0: called on the frame's thread
};

MenuAction kMenu[] = {
    {-2, "Patient Account Browser", nullptr, kStart25},
    {-3, "Payment Account Browser", nullptr, kStart25},
    {-7, "Accounts Current Status Browser", nullptr, kStart25},
    {-8, "Account Status Browser", nullptr, kStart64},
    {-10, "Provider of Service Browser", nullptr, kStart25},
    {-11, "Patient screen", nullptr, kStart25},
    {-12, "CPT/HCPCS Code Browser", nullptr, kStart25},
    {-13, "Diagnostic Code Browser", nullptr, kStart25},
    {-14, "Insurance Plan or Program Name Browser", nullptr, kStart25},
    {-16, "Outstanding Balance Report", nullptr, kStart25},
    {-17, "Claim in Blank Form", nullptr, 0},
    {-18, "Claim in CMS 1500 Form", nullptr, kStart64},
    {-20, "Confirm Backup", ConfirmBackup, 0},
    {-21, "Confirm Reload", ConfirmReload, 0},
};

}  // namespace

VrnProcedure SetMenuProcedure(int32_t item, VrnProcedure procedure) {
    for (MenuAction& action : kMenu)
        if (action.item == item)
            return std::exchange(action.run, procedure);
    return nullptr;
}

namespace {

void RunMenuItem(int32_t item) {
    for (const MenuAction& action : kMenu) {
        if (action.item != item)
            continue;
        if (action.run == nullptr)
            ShowStandardMessage(6, action.procedure);
        else if (action.stack == 0)
            action.run();
        else
            tarvex::START(action.run, action.stack);
        return;
    }
}

}  // namespace

void MainFrame() {
    int32_t saved_action = RequestedAction;
    RequestedAction = 0;
    ActionResult = 0;
    int32_t result = kCancelled;
    if ((tarvex::KEYCODE() & 0xFF) == 2)
        tarvex::SETKEYCODE(0);
    {
        tarvex::Window frame(tarvex::Window::As::kApplication, "LUMAREX$main", "P1$APPFRAME");
        frame.Open();
        RestoreWindowPosition(frame.Object(), "Main");
        for (tarvex::Accept accept; accept.Next();)
            if (tarvex::ACCEPTED() < 0)
                RunMenuItem(tarvex::ACCEPTED());
        // The driver's log goes with the frame; a missing one is no error worth a word.
        Vrn$PushCString("c:\\Lumarex\\varnel.log");
        Vrn$RemoveFile();
        SaveWindowPosition(frame.Object(), "Main");
    }
    RequestedAction = saved_action;
    if (ActionResult == 0)
        ActionResult = result;
}

}  // namespace lumarex
