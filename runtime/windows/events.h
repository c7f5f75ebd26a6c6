// SPDX-License-Identifier: GPL-3.0-or-later
// The event loop's side of the window machinery: what happens when a window opens and closes,
// when a thread ends, and how native input becomes events in the window queues.
#pragma once

#include <functional>
#include <vector>

#include "windows/native_input.h"
#include "windows/window_object.h"

namespace tarvex::windows {

// The loader calls these: the window joins its thread's open windows (it becomes the target
// window, its first event is EVENT:OpenWindow, its timer starts) / leaves them.
void WindowOpened(VrnWindowObject& window);
void WindowClosing(VrnWindowObject& window);

// A started thread's procedure has returned: its windows are closed and its loops forgotten.
void ThreadWindowsEnd(int slot);

// Closes every window of the calling thread and asks the other threads' windows to close down,
// then waits (the lock given up) until the started threads have ended or `patience` has passed.
void CloseDownWindows(std::chrono::milliseconds patience);

// Whether a control is a field: it takes the focus, and FIELD, ACCEPTED and SELECTED report it.
bool IsField(const Control& control);

// The open windows of a thread slot, oldest first (under the runtime lock).
std::vector<VrnWindowObject*> OpenWindowsOf(int slot);

// What opens and closes, for the transcript of scripted runs (null: nobody listens).
void SetWindowWatcher(void (*watcher)(const VrnWindowObject& window, bool opened));

// A report is closed by the report engine; until one is installed it is taken down as a window.
void SetReportCloser(void (*closer)(VrnWindowObject& report));

}  // namespace tarvex::windows
