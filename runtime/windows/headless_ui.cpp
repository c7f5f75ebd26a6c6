// SPDX-License-Identifier: GPL-3.0-or-later
// The headless backend (headless_ui.h) and the choice of backend.
#include "windows/headless_ui.h"

namespace tarvex::windows {

namespace {

std::mutex ui_mutex;
std::unique_ptr<NativeUi> current_ui;

}  // namespace

NativeUi& Ui() {
    std::lock_guard lock(ui_mutex);
    if (!current_ui)
        current_ui = std::make_unique<HeadlessUi>();
    return *current_ui;
}

std::unique_ptr<NativeUi> SetUi(std::unique_ptr<NativeUi> ui) {
    std::lock_guard lock(ui_mutex);
    std::swap(current_ui, ui);
    return ui;
}

HeadlessUi* HeadlessBackend() { return dynamic_cast<HeadlessUi*>(&Ui()); }

FontMetrics HeadlessUi::Measure(const FontSpec& font) {
    uint32_t points = font.points != 0 ? font.points : 8;
    return {int32_t((points * 6 + 4) / 8), int32_t((points * 13 + 4) / 8)};
}

NativeHandle HeadlessUi::CreateWindow(const NativeWindowSpec& spec) {
    std::lock_guard lock(mutex_);
    if (fail_next_window_) {
        fail_next_window_ = false;
        return 0;
    }
    NativeHandle handle = next_handle_++;
    windows_[handle] = Window{handle, spec, {}, {}, 0};
    return handle;
}

void HeadlessUi::DestroyWindow(NativeHandle window) {
    std::lock_guard lock(mutex_);
    windows_.erase(window);
}

NativeRect HeadlessUi::WindowRect(NativeHandle window) {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(window);
    return it == windows_.end() ? NativeRect{} : it->second.spec.rect;
}

NativeHandle HeadlessUi::CreateControl(NativeHandle window, const NativeControlSpec& spec) {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(window);
    if (it == windows_.end())
        return 0;
    NativeHandle handle = next_handle_++;
    Control control{handle, spec};
    control.text = spec.text;
    control.visible = (spec.flags & 0x400) == 0;
    control.enabled = (spec.flags & 0x40) == 0;
    it->second.controls.push_back(std::move(control));
    return handle;
}

NativeHandle HeadlessUi::CreateMenuEntry(NativeHandle window, const NativeMenuSpec& spec) {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(window);
    if (it == windows_.end())
        return 0;
    NativeHandle handle = next_handle_++;
    it->second.menu.push_back({handle, spec});
    return handle;
}

void HeadlessUi::StartTimer(NativeHandle window, int32_t, uint32_t milliseconds) {
    std::lock_guard lock(mutex_);
    if (auto it = windows_.find(window); it != windows_.end())
        it->second.timer_milliseconds = milliseconds;
}

std::optional<HeadlessUi::Window> HeadlessUi::FindWindow(const std::string& title) const {
    std::lock_guard lock(mutex_);
    for (const auto& [handle, window] : windows_)
        if (window.spec.title == title)
            return window;
    return std::nullopt;
}

std::optional<HeadlessUi::Window> HeadlessUi::GetWindow(NativeHandle handle) const {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(handle);
    return it == windows_.end() ? std::nullopt : std::optional<Window>(it->second);
}

size_t HeadlessUi::WindowCount() const {
    std::lock_guard lock(mutex_);
    return windows_.size();
}

HeadlessUi::Control* HeadlessUi::FindControlLocked(NativeHandle handle) {
    if (handle == 0)
        return nullptr;
    for (auto& [window_handle, window] : windows_)
        for (Control& control : window.controls)
            if (control.handle == handle)
                return &control;
    return nullptr;
}

std::optional<HeadlessUi::Control> HeadlessUi::GetControl(NativeHandle handle) const {
    std::lock_guard lock(mutex_);
    Control* control = const_cast<HeadlessUi*>(this)->FindControlLocked(handle);
    return control ? std::optional<Control>(*control) : std::nullopt;
}

void HeadlessUi::DestroyControl(NativeHandle control) {
    std::lock_guard lock(mutex_);
    for (auto& [window_handle, window] : windows_)
        std::erase_if(window.controls, [control](const Control& c) { return c.handle == control; });
}

// Each setter changes one thing a control shows.
#define HEADLESS_CONTROL_SETTER(Name, Type, member)                                   \
    void HeadlessUi::Name(NativeHandle control, Type value) {                          \
        std::lock_guard lock(mutex_);                                                  \
        if (Control* found = FindControlLocked(control))                               \
            found->member = value;                                                     \
    }
HEADLESS_CONTROL_SETTER(SetControlText, const std::string&, text)
HEADLESS_CONTROL_SETTER(SetControlVisible, bool, visible)
HEADLESS_CONTROL_SETTER(SetControlEnabled, bool, enabled)
HEADLESS_CONTROL_SETTER(SetControlRect, const NativeRect&, spec.rect)
HEADLESS_CONTROL_SETTER(SetControlFont, const FontSpec&, font)
HEADLESS_CONTROL_SETTER(SetControlValue, int32_t, value)
HEADLESS_CONTROL_SETTER(SetControlTip, const std::string&, tip)
HEADLESS_CONTROL_SETTER(SetListView, const NativeListView&, list)
#undef HEADLESS_CONTROL_SETTER

void HeadlessUi::SetControlRange(NativeHandle control, int32_t low, int32_t high) {
    std::lock_guard lock(mutex_);
    if (Control* found = FindControlLocked(control)) {
        found->range_low = low;
        found->range_high = high;
    }
}

#define HEADLESS_WINDOW_SETTER(Name, Type, member)                                    \
    void HeadlessUi::Name(NativeHandle window, Type value) {                           \
        std::lock_guard lock(mutex_);                                                  \
        if (auto it = windows_.find(window); it != windows_.end())                     \
            it->second.member = value;                                                 \
    }
HEADLESS_WINDOW_SETTER(SetDefaultButton, NativeHandle, default_button)
HEADLESS_WINDOW_SETTER(SetWindowTitle, const std::string&, spec.title)
HEADLESS_WINDOW_SETTER(SetWindowRect, const NativeRect&, spec.rect)
HEADLESS_WINDOW_SETTER(SetWindowState, NativeWindowState, state)
HEADLESS_WINDOW_SETTER(SetStatusText, const std::string&, status_text)
#undef HEADLESS_WINDOW_SETTER

NativeWindowState HeadlessUi::WindowState(NativeHandle window) {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(window);
    return it == windows_.end() ? NativeWindowState::Normal : it->second.state;
}

int32_t HeadlessUi::PopupMenu(NativeHandle window, const std::vector<NativePopupItem>& items) {
    std::lock_guard lock(mutex_);
    if (auto it = windows_.find(window); it != windows_.end())
        it->second.last_popup = items;
    int32_t choice = next_popup_choice_;
    next_popup_choice_ = 0;
    // A separator or a disabled item cannot be chosen.
    int32_t number = 0;
    for (const NativePopupItem& item : items) {
        if (item.separator)
            continue;
        if (++number == choice)
            return item.enabled ? choice : 0;
    }
    return 0;
}

}  // namespace tarvex::windows
