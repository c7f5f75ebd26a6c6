// SPDX-License-Identifier: GPL-3.0-or-later
// The Qt backend of the runtime's windows: real windows, controls and menus with Qt Widgets.
//
// Qt runs on one thread of its own that never runs program code. Program threads call the backend
// (holding the runtime lock); each call records the same state the headless backend keeps (so the
// driver and scripts work on both) and is then carried out on the Qt thread, waiting for it. What
// a person does in a widget goes the other way as native input into the owning thread's queue
// (windows/native_input.h): the runtime decides what it means, Qt never calls program code.
#pragma once

#include <memory>
#include <string>

#include "platform/platform.h"
#include "windows/headless_ui.h"

namespace tarvex::platform::qt {

class QtUi final : public windows::HeadlessUi {
public:
    // Starts the Qt thread with its application object; the platform plugin is Qt's choice
    // ($QT_QPA_PLATFORM: offscreen for tests without a display).
    QtUi();
    ~QtUi() override;

    windows::NativeRect DesktopRect() override;
    int32_t DotsPerInchX() override;
    int32_t DotsPerInchY() override;
    windows::FontMetrics Measure(const windows::FontSpec& font) override;
    windows::NativeHandle CreateWindow(const windows::NativeWindowSpec& spec) override;
    void DestroyWindow(windows::NativeHandle window) override;
    windows::NativeHandle CreateControl(windows::NativeHandle window, const windows::NativeControlSpec& spec) override;
    windows::NativeHandle CreateMenuEntry(windows::NativeHandle window, const windows::NativeMenuSpec& spec) override;
    windows::NativeRect WindowRect(windows::NativeHandle window) override;
    void DestroyControl(windows::NativeHandle control) override;
    void SetControlText(windows::NativeHandle control, const std::string& text) override;
    void SetControlVisible(windows::NativeHandle control, bool visible) override;
    void SetControlEnabled(windows::NativeHandle control, bool enabled) override;
    void SetControlRect(windows::NativeHandle control, const windows::NativeRect& rect) override;
    void SetControlFont(windows::NativeHandle control, const windows::FontSpec& font) override;
    void SetControlValue(windows::NativeHandle control, int32_t value) override;
    void SetControlRange(windows::NativeHandle control, int32_t low, int32_t high) override;
    void SetControlTip(windows::NativeHandle control, const std::string& tip) override;
    void SetDefaultButton(windows::NativeHandle window, windows::NativeHandle button) override;
    void SetListView(windows::NativeHandle control, const windows::NativeListView& view) override;
    void SetWindowTitle(windows::NativeHandle window, const std::string& title) override;
    void SetWindowRect(windows::NativeHandle window, const windows::NativeRect& rect) override;
    void SetWindowState(windows::NativeHandle window, windows::NativeWindowState state) override;
    windows::NativeWindowState WindowState(windows::NativeHandle window) override;
    void SetStatusText(windows::NativeHandle window, const std::string& text) override;
    void SetWindowCursor(windows::NativeHandle window, const std::string& name) override;
    void SetApplicationCursor(const std::string& name) override;
    int32_t PopupMenu(windows::NativeHandle window, const std::vector<windows::NativePopupItem>& items) override;
    void SetFocus(windows::NativeHandle window, windows::NativeHandle control) override;
    void Beep() override;
    // Quits Qt's loop and waits for its thread, so that Qt ends on its own thread before the
    // process does.
    void Shutdown() override;
    bool Screenshot(windows::NativeHandle window, const std::string& path, std::string& why) override;
    bool ShowHelp(windows::NativeHandle window, const std::string& file, const std::string& keyword) override;
    void WindowBuilt(windows::NativeHandle window) override;

    // Message boxes shown by Qt, on its thread.
    std::unique_ptr<platform::MessageBoxes> MessageBoxes();

    struct Widgets;

private:
    std::unique_ptr<Widgets> widgets_;
};

}  // namespace tarvex::platform::qt
