// SPDX-License-Identifier: GPL-3.0-or-later
// The print dialog on Qt: Qt's own dialog over the report engine's printer settings. The printer,
// paper, orientation and copies it shows are those of the settings; what the person chooses goes
// back into them (printing to a file sets the settings' output file, a PDF, chosen through the
// runtime's file dialog).
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "report/printer.h"

namespace tarvex::platform::qt {

// The file dialog of the print-to-file choice.
constexpr const char* kPrintToFileTitle = "Print To File...";
constexpr const char* kPrintToFileFilter = "All files (*.*)|*.*";

// Shows the dialog; to be called on the thread of Qt's widget application. False when the person
// cancels (the settings are left as they were).
bool ShowPrintDialog(std::string_view title, uint32_t flags, report::PrinterSettings& settings);

// Runs `work` on the thread of Qt's widget application and waits for it, as every call of the Qt
// backend does. False (nothing run) when there is no widget application, or it has ended.
bool RunOnWidgetThread(const std::function<void()>& work);

} // namespace tarvex::platform::qt
