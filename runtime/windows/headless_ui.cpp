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
    it->second.controls.push_back({handle, spec});
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

void HeadlessUi::SetControlText(NativeHandle control, const std::string& text) {
    std::lock_guard lock(mutex_);
    for (auto& [handle, window] : windows_)
        for (Control& c : window.controls)
            if (c.handle == control) {
                c.spec.text = text;
                return;
            }
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

}  // namespace tarvex::windows
