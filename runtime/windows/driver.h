// SPDX-License-Identifier: GPL-3.0-or-later
// Driving windows as a person would, for tests and scripted runs. The driver runs on a thread of
// its own (never a program thread): it reads what the headless backend shows (windows by title,
// their controls and menus) and hands in native input exactly where a person's would enter
// (text typed into an entry, a button pressed, a menu item chosen, a list row picked, keys, the
// close box), then the program's threads turn it into events. Message boxes are answered ahead
// through the headless message boxes' answer queue, file dialogs through the backend's.
//
// A control is named by "#n" (its field number) or by its text: a button's, a check's or a
// radio's own text, or the text of the PROMPT that labels the field after it ("&Last Name:");
// the '&' of a mnemonic and blanks at the ends do not matter.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <string_view>

#include "windows/headless_ui.h"
#include "windows/native_input.h"

namespace tarvex::windows {

class TARVEX_API Driver {
public:
    explicit Driver(std::chrono::milliseconds timeout = std::chrono::seconds(10)) : timeout_(timeout) {}
    void SetTimeout(std::chrono::milliseconds timeout) { timeout_ = timeout; }

    // Each step waits up to the timeout for its window; false when it fails, with Why() saying why.
    bool WaitForWindow(std::string_view title);
    bool WaitUntilClosed(std::string_view title);
    bool Type(std::string_view title, std::string_view control, std::string_view text);
    bool Press(std::string_view title, std::string_view button);
    bool Choose(std::string_view title, std::string_view menu_path);   // "&File|E&xit"
    bool PickRow(std::string_view title, std::string_view list, int32_t row, bool double_click = false);
    bool Click(std::string_view title, std::string_view control, uint32_t button = 1, bool double_click = false);
    bool Focus(std::string_view title, std::string_view control);
    // A key code as KEYCODE gives it: the virtual key plus 0x100 Shift, 0x200 Ctrl, 0x400 Alt.
    bool PressKey(std::string_view title, uint32_t key_code);
    bool CloseBox(std::string_view title);
    bool Timer(std::string_view title);
    // Saves a PNG picture of the window (a backend that shows windows: Qt).
    bool Screenshot(std::string_view title, const std::string& path);
    // What a control shows now.
    std::optional<std::string> Shown(std::string_view title, std::string_view control);
    // What a LIST shows now: its page of rows, the selection, the thumb, the layout.
    std::optional<NativeListView> ShownList(std::string_view title, std::string_view list);
    // Waits until the LIST shows row `row` (from 1, counted in the whole queue) with these cells:
    // "a|b|c", each cell without the blanks at its ends.
    bool WaitForRow(std::string_view title, std::string_view list, int32_t row, std::string_view cells);
    // Waits until the LIST's selected row is `row`.
    bool WaitForSelected(std::string_view title, std::string_view list, int32_t row);
    // Waits until a message box has shown a text holding `text` (headless message boxes).
    bool WaitForMessage(std::string_view text);
    // Queues the answer for the next message box (a VRN_BUTTON_* value).
    void Answer(uint32_t button);
    // Queues the answer for the next file dialog: a path (a Linux path), or nothing to cancel it.
    void AnswerFile(std::optional<std::string> path);

    const std::string& Why() const { return why_; }

    // A text without its mnemonic '&' and the blanks (and menu bars '|') at its ends.
    static std::string Plain(std::string_view text);

private:
    std::optional<HeadlessUi::Window> Window(std::string_view title);
    const HeadlessUi::Control* Find(const HeadlessUi::Window& window, std::string_view control);
    bool Post(const HeadlessUi::Window& window, NativeInput input);
    bool Fail(std::string why);
    // Waits until what the LIST shows passes `check` (which says what it saw when it fails).
    bool WaitForList(std::string_view title, std::string_view list,
                     const std::function<bool(const NativeListView&, std::string&)>& check);

    std::chrono::milliseconds timeout_;
    std::string why_;
};

// A script that $TARVEX_SCRIPT names runs once per process, on a thread of its own, from the
// first window's opening (see the README for its lines). The first call when one is named puts
// the transcript's watch on windows opening and closing and answers true; the start follows.
bool WatchForScriptFromEnvironment();
void StartScriptFromEnvironment();
// Returns once the script started from the environment has run its last step (at once when there
// is none): a program that ends first would cut its transcript short. A step that cannot succeed
// any more fails within its timeout and ends the process with 3.
void WaitForScriptEnd();

// Runs a script's text with a driver, writing the transcript through `write`; returns the number
// of the failing line, 0 when every step passed.
TARVEX_API int RunScript(std::string_view script, Driver& driver, void (*write)(std::string_view line));

}  // namespace tarvex::windows
