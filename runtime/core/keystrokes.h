// SPDX-License-Identifier: GPL-3.0-or-later
// Keystrokes that a program queues as if they were typed (PRESS, PRESSKEY). The event loop takes
// them before the keyboard's own input, in the order they were queued.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace tarvex {

struct Keystroke {
    uint16_t key_code = 0;   // key or button code plus 0x100 Shift, 0x200 Ctrl, 0x400 Alt; 0 for a character
    char character = 0;      // the typed character when key_code is 0
};

// How many keystrokes may wait at once.
constexpr size_t kKeystrokeCapacity = 256;

// Queues the characters of a text, or one key code; false (nothing queued) when they do not fit.
bool QueueCharacters(std::string_view text);
bool QueueKeyCode(uint16_t key_code);
// The oldest queued keystroke, removed from the queue.
std::optional<Keystroke> TakeKeystroke();
size_t PendingKeystrokes();

}  // namespace tarvex
