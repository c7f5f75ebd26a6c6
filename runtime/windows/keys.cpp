// SPDX-License-Identifier: GPL-3.0-or-later
// The last key of each thread (code, scan code, character), the key functions programs call, and
// the table of event names.
#include "windows/keys.h"

#include <array>
#include <utility>

#include "core/keystrokes.h"
#include "core/thread_state.h"
#include "tarvex/frame.h"
#include "tarvex/keys.h"

namespace tarvex::windows {

namespace {

constexpr int32_t kTooManyKeystrokes = 534;
constexpr uint32_t kStateBits = kShift | kCtrl | kAlt | kCapsLock | kNumLock | kScrollLock | kInsertOn;

struct KeyState {
    uint32_t key_code = 0;
    uint16_t scan_code = 0;
    char character = 0;
    bool event_current = false;
    uint32_t event_key_code = 0;
};

KeyState& Keys() {
    return PerThread<KeyState>();
}

// Event numbers and their names, in number order.
constexpr std::pair<uint32_t, const char*> kEventNames[] = {
    {1, "EVENT:Accepted"},        {2, "EVENT:NewSelection"},   {3, "EVENT:ScrollUp"},
    {4, "EVENT:ScrollDown"},      {5, "EVENT:PageUp"},         {6, "EVENT:PageDown"},
    {7, "EVENT:ScrollTop"},       {8, "EVENT:ScrollBottom"},   {9, "EVENT:Locate"},
    {10, "EVENT:MouseUp"},        {11, "EVENT:MouseIn"},       {12, "EVENT:MouseOut"},
    {13, "EVENT:MouseMove"},      {14, "EVENT:VBXevent"},      {15, "EVENT:AlertKey"},
    {16, "EVENT:PreAlert"},       {17, "EVENT:Dragging"},      {18, "EVENT:Drag"},
    {19, "EVENT:Drop"},           {20, "EVENT:ScrollDrag"},    {21, "EVENT:TabChanging"},
    {22, "EVENT:Expanding"},      {23, "EVENT:Contracting"},   {24, "EVENT:Expanded"},
    {25, "EVENT:Contracted"},     {26, "EVENT:Rejected"},      {27, "EVENT:DroppingDown"},
    {28, "EVENT:DroppedDown"},    {29, "EVENT:ScrollTrack"},   {30, "EVENT:ColumnResize"},
    {0x101, "EVENT:Selected"},    {0x201, "EVENT:CloseWindow"}, {0x202, "EVENT:CloseDown"},
    {0x203, "EVENT:OpenWindow"},  {0x204, "EVENT:OpenFailed"}, {0x205, "EVENT:LoseFocus"},
    {0x206, "EVENT:GainFocus"},   {0x208, "EVENT:Suspend"},    {0x209, "EVENT:Resume"},
    {0x20a, "EVENT:Notify"},      {0x20b, "EVENT:Timer"},      {0x20c, "EVENT:DDErequest"},
    {0x20d, "EVENT:DDEadvise"},   {0x20e, "EVENT:DDEdata"},    {0x20f, "EVENT:DDEexecute"},
    {0x210, "EVENT:DDEpoke"},     {0x211, "EVENT:DDEclosed"},  {0x220, "EVENT:Move"},
    {0x221, "EVENT:Size"},        {0x222, "EVENT:Restore"},    {0x223, "EVENT:Maximize"},
    {0x224, "EVENT:Iconize"},     {0x225, "EVENT:Completed"},  {0x230, "EVENT:Moved"},
    {0x231, "EVENT:Sized"},       {0x232, "EVENT:Restored"},   {0x233, "EVENT:Maximized"},
    {0x234, "EVENT:Iconized"},    {0x240, "EVENT:BuildFile"},  {0x241, "EVENT:BuildKey"},
    {0x242, "EVENT:BuildDone"},
};

} // namespace

void KeyDown(uint8_t virtual_key, bool extended, uint16_t scan_code, uint32_t state) {
    KeyState& keys = Keys();
    keys.key_code = virtual_key | (extended ? kExtendedKey : 0) | (state & kStateBits);
    keys.scan_code = scan_code;
}

void ButtonDown(MouseButton button, bool double_click, uint32_t state) {
    Keys().key_code = uint32_t(button) + (double_click ? 4 : 0) + (state & kStateBits);
}

void CharacterTyped(char character) {
    Keys().character = character;
}

void SetCurrentEventKeyCode(std::optional<uint32_t> key_code) {
    KeyState& keys = Keys();
    keys.event_current = key_code.has_value();
    keys.event_key_code = key_code.value_or(0);
}

uint32_t LastKeyCode() {
    return Keys().key_code;
}

uint16_t LastScanCode() {
    return Keys().scan_code;
}

const char* EventName(uint32_t event) {
    for (const auto& [number, name] : kEventNames)
        if (number == event)
            return name;
    return nullptr;
}

} // namespace tarvex::windows

using namespace tarvex::windows;

TARVEX_API uint32_t Vrn$KEYCODE(void) {
    const auto& keys = Keys();
    return (keys.event_current ? keys.event_key_code : keys.key_code) & kKeyCodeMask;
}

TARVEX_API void Vrn$SETKEYCODE(uint32_t key_code) {
    auto& keys = Keys();
    keys.key_code = (keys.key_code & ~kKeyCodeMask) | (key_code & kKeyCodeMask);
    keys.event_key_code = (keys.event_key_code & ~kKeyCodeMask) | (key_code & kKeyCodeMask);
}

TARVEX_API uint8_t Vrn$KEYCHAR(void) {
    return uint8_t(Keys().character);
}

TARVEX_API void Vrn$SETKEYCHAR(uint8_t character) {
    Keys().character = char(character);
}

TARVEX_API uint32_t Vrn$KEYSTATE(void) {
    return Keys().key_code & kStateBits;
}

TARVEX_API void Vrn$PRESSKEY(uint32_t key_code) {
    if (!tarvex::QueueKeyCode(uint16_t(key_code & 0xFFFF)))
        Vrn$rterr(kTooManyKeystrokes, nullptr);
}
