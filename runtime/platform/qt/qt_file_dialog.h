// SPDX-License-Identifier: GPL-3.0-or-later
// The file dialog on Qt: Qt's own file dialog (its widgets, the same on every desktop and on the
// offscreen platform) for the runtime's question. The program's filter becomes Qt's name filters,
// each shown by the program's description; its patterns are those of the program ("*.*" is every
// file, as the program means it, not only names with a dot).
#pragma once

#include <optional>
#include <string>

#include "windows/native_ui.h"

class QWidget;

namespace tarvex::platform::qt {

// Shows the dialog over `parent` (null: the active window) on the thread of Qt's widgets, waiting
// for it from any other thread: the chosen file, or nothing when the person cancels or there are
// no widgets to show it with.
std::optional<std::string> AskForFile(const windows::NativeFileDialogSpec& spec, QWidget* parent = nullptr);

} // namespace tarvex::platform::qt
