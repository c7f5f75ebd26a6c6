// SPDX-License-Identifier: GPL-3.0-or-later
// Key codes and the key state of each thread. A key code is built when a key or a mouse button
// goes down: the key's virtual-key code (plus 0x800 for an extended key) or the button's code
// (1 left, 2 right, 3 middle; 5, 6, 7 their double-clicks), plus the key-state word: 0x100 Shift,
// 0x200 Ctrl, 0x400 Alt, 0x1000 Caps Lock, 0x2000 Num Lock, 0x4000 Scroll Lock, 0x8000 Insert.
// Readers of a key code see it masked to 0x7FF: the key or button with Shift, Ctrl and Alt.
// The event names used by the trace are here too.
#pragma once

#include <cstdint>
#include <optional>

namespace tarvex::windows {

constexpr uint32_t kShift = 0x100;
constexpr uint32_t kCtrl = 0x200;
constexpr uint32_t kAlt = 0x400;
constexpr uint32_t kExtendedKey = 0x800;
constexpr uint32_t kCapsLock = 0x1000;
constexpr uint32_t kNumLock = 0x2000;
constexpr uint32_t kScrollLock = 0x4000;
constexpr uint32_t kInsertOn = 0x8000;
constexpr uint32_t kKeyCodeMask = 0x7FF;

enum class MouseButton { kLeft = 1, kRight = 2, kMiddle = 3 };

// What the native side reports, recorded as the calling thread's last key.
void KeyDown(uint8_t virtual_key, bool extended, uint16_t scan_code, uint32_t state);
void ButtonDown(MouseButton button, bool double_click, uint32_t state);
void CharacterTyped(char character);

// The key code of the event the loop body runs for (set by the event loop while an event is
// current, cleared after it); KEYCODE answers it instead of the last key.
void SetCurrentEventKeyCode(std::optional<uint32_t> key_code);

// The calling thread's last key code, whole (the state bits included).
uint32_t LastKeyCode();
uint16_t LastScanCode();

// The name of an event number ("EVENT:Accepted" for 1), for traces; null for a number no event has.
const char* EventName(uint32_t event);

} // namespace tarvex::windows
