// SPDX-License-Identifier: GPL-3.0-or-later
// Native input on its way to the thread that owns a window. What a person does (a key, a click, a
// menu choice, text typed into an entry, a window's close box) reaches the runtime as a
// NativeInput that the backend (or a test or script standing in for the person) hands in from any
// thread. Each program thread has one input queue; the thread takes from it while it waits for
// events in its ACCEPT loop, with the runtime lock given up, and dispatches what it takes to the
// window it was meant for under the lock. The queues have locks of their own, never the runtime's.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "tarvex/export.h"
#include "windows/native_ui.h"

namespace tarvex::windows {

enum class InputKind : uint8_t {
    kWake,        // nothing: the thread looks at its window queues again (a POST, a close)
    kKey,         // a key goes down: code = virtual-key code, state = key-state word
    kCharacter,   // a character typed: code = the character
    kButton,      // a mouse button goes down on a control: code = 1 left, 2 right, 3 middle
    kCommand,     // a button pressed or a menu item chosen (field = the item's negative number)
    kFocus,       // the person moves the focus to a control
    kText,        // the text shown in an entry was edited: text = what it shows now
    kListRow,     // a LIST row picked (row)
    kListThumb,   // a LIST's scroll thumb dragged: code = its position, 0 to 100
    kListColumn,  // a LIST column's right edge dragged: row = the column (from 0), code = its width
    kListSideways,  // a LIST's sideways bar moved: code = the S columns' scroll, in pixels
    kTimer,       // a window's timer expired: code = the timer id
    kClose,       // the window's close box (or the system menu's Close)
};

struct NativeInput {
    InputKind kind = InputKind::kWake;
    NativeHandle window = 0;
    int32_t field = 0;          // the control it is meant for; 0: the focused one (keys), the window
    uint32_t code = 0;
    uint32_t state = 0;         // the key-state word in force
    uint16_t scan_code = 0;
    bool extended = false;      // an extended key (the keypad's arrows, Insert, Delete, ...)
    bool double_click = false;
    int32_t row = 0;            // a LIST row (from 1) a click or a pick is on
    std::string text;
};

// Hands input in for the thread that owns `input.window` and wakes it. Any thread may call. False
// when no open window has that handle (the input is dropped).
TARVEX_API bool PostInput(const NativeInput& input);

// The loop's side. Windows are registered with their thread's slot while they are open.
void RegisterWindowThread(NativeHandle window, int slot);
void ForgetWindowThread(NativeHandle window);
int WindowThread(NativeHandle window);   // -1 when not open
// Wakes the slot's thread if it waits for input.
void WakeThread(int slot);
// Waits until input for the slot arrives or the deadline passes (none: no deadline). The caller
// has given the runtime lock up. A wake alone returns kWake.
std::optional<NativeInput> WaitInput(int slot, std::optional<std::chrono::steady_clock::time_point> deadline);
// Takes the oldest queued input of one kind without waiting.
std::optional<NativeInput> TakeInputOfKind(int slot, InputKind kind);
// Drops what a slot's queue holds (its thread has ended).
void ClearInput(int slot);

}  // namespace tarvex::windows
