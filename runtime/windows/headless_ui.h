// SPDX-License-Identifier: GPL-3.0-or-later
// The headless backend: no display. Windows, controls and menus exist as state that tests and
// scripted runs read (find a window by its title, list its controls with their field numbers and
// texts). Metrics are fixed so that placement is the same on every machine: a 1024 x 768 desktop
// at 96 dots per inch, and fonts measured as the classic dialog font (8 points: 6 x 13 pixels,
// scaled by the size).
#pragma once

#include <atomic>
#include <map>
#include <mutex>
#include <optional>

#include "windows/native_ui.h"

namespace tarvex::windows {

class TARVEX_API HeadlessUi : public NativeUi {
public:
    struct Control {
        NativeHandle handle;
        NativeControlSpec spec;
        // What the control shows now (spec keeps what it was created with, but for its rect).
        std::string text;
        bool visible = true;
        bool enabled = true;
        int32_t value = 0;
        int32_t range_low = 0, range_high = 0;
        std::string tip;
        FontSpec font;
        NativeListView list;
    };
    struct MenuEntry {
        NativeHandle handle;
        NativeMenuSpec spec;
    };
    struct Window {
        NativeHandle handle;
        NativeWindowSpec spec;
        std::vector<Control> controls;     // in creation order
        std::vector<MenuEntry> menu;       // in creation order
        uint32_t timer_milliseconds = 0;
        NativeHandle focus = 0;
        NativeHandle default_button = 0;
        std::string status_text;
        std::string cursor;
        NativeWindowState state = NativeWindowState::Normal;
        std::vector<NativePopupItem> last_popup;
    };

    NativeRect DesktopRect() override { return desktop_; }
    int32_t DotsPerInchX() override { return 96; }
    int32_t DotsPerInchY() override { return 96; }
    FontMetrics Measure(const FontSpec& font) override;
    NativeHandle CreateWindow(const NativeWindowSpec& spec) override;
    void DestroyWindow(NativeHandle window) override;
    NativeRect WindowRect(NativeHandle window) override;
    NativeHandle CreateControl(NativeHandle window, const NativeControlSpec& spec) override;
    NativeHandle CreateMenuEntry(NativeHandle window, const NativeMenuSpec& spec) override;
    void StartTimer(NativeHandle window, int32_t id, uint32_t milliseconds) override;
    void DestroyControl(NativeHandle control) override;
    void SetControlText(NativeHandle control, const std::string& text) override;
    void SetControlVisible(NativeHandle control, bool visible) override;
    void SetControlEnabled(NativeHandle control, bool enabled) override;
    void SetControlRect(NativeHandle control, const NativeRect& rect) override;
    void SetControlFont(NativeHandle control, const FontSpec& font) override;
    void SetControlValue(NativeHandle control, int32_t value) override;
    void SetControlRange(NativeHandle control, int32_t low, int32_t high) override;
    void SetControlTip(NativeHandle control, const std::string& tip) override;
    void SetDefaultButton(NativeHandle window, NativeHandle button) override;
    void SetListView(NativeHandle control, const NativeListView& view) override;
    void SetWindowTitle(NativeHandle window, const std::string& title) override;
    void SetWindowRect(NativeHandle window, const NativeRect& rect) override;
    void SetWindowState(NativeHandle window, NativeWindowState state) override;
    NativeWindowState WindowState(NativeHandle window) override;
    void SetStatusText(NativeHandle window, const std::string& text) override;
    void SetWindowCursor(NativeHandle window, const std::string& name) override;
    void SetApplicationCursor(const std::string& cursor) override;
    std::string ApplicationCursor() const;
    int32_t PopupMenu(NativeHandle window, const std::vector<NativePopupItem>& items) override;
    void SetFocus(NativeHandle window, NativeHandle control) override;
    bool Screenshot(NativeHandle window, const std::string& path, std::string& why) override;
    // Headless help is shown when its file can be read; each request is kept.
    bool ShowHelp(NativeHandle window, const std::string& file, const std::string& keyword) override;
    struct HelpShown {
        NativeHandle window;
        std::string file;
        std::string keyword;
    };
    std::vector<HelpShown> HelpRequests() const;
    void Beep() override { beeps_++; }
    int Beeps() const { return beeps_; }

    // Reading the state. Copies, so the caller may keep them while windows come and go.
    std::optional<Window> FindWindow(const std::string& title) const;
    std::optional<Window> GetWindow(NativeHandle handle) const;
    size_t WindowCount() const;
    // The control that has the focus in a window (0: none).
    NativeHandle Focused(NativeHandle window) const;
    // Tests: the next CreateWindow fails (a native creation failure).
    void FailNextWindow() { fail_next_window_ = true; }
    void SetDesktop(NativeRect desktop) { desktop_ = desktop; }
    // A control by its handle, wherever it is.
    std::optional<Control> GetControl(NativeHandle handle) const;
    // Tests: the item the next pop-up menu returns (0: none chosen).
    void SetNextPopupChoice(int32_t item) { next_popup_choice_ = item; }

private:
    mutable std::mutex mutex_;
    std::map<NativeHandle, Window> windows_;
    NativeHandle next_handle_ = 1;
    NativeRect desktop_{0, 0, 1024, 768};
    bool fail_next_window_ = false;
    std::atomic<int> beeps_{0};
    int32_t next_popup_choice_ = 0;
    std::string application_cursor_;
    std::vector<HelpShown> help_;

    Control* FindControlLocked(NativeHandle handle);
};

// The backend in use when it keeps the headless state (the headless one, or the Qt one, which
// keeps the same state beside its widgets), else null.
TARVEX_API HeadlessUi* HeadlessBackend();

}  // namespace tarvex::windows
