// SPDX-License-Identifier: GPL-3.0-or-later
// The headless backend (headless_ui.h) and the choice of backend.
#include "windows/headless_ui.h"

#include <dlfcn.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>

namespace tarvex::windows {

namespace {

std::mutex ui_mutex;
std::unique_ptr<NativeUi> current_ui;

// The Qt backend from libtarvex_qt.so, looked for beside the runtime first; null when it cannot be
// had (the reason goes to standard error when Qt was asked for by name).
std::unique_ptr<NativeUi> LoadQtBackend(bool asked) {
    std::string path = "libtarvex_qt.so";
    Dl_info info{};
    if (dladdr(reinterpret_cast<void*>(&LoadQtBackend), &info) != 0 && info.dli_fname != nullptr) {
        std::string self = info.dli_fname;
        if (size_t slash = self.rfind('/'); slash != std::string::npos)
            path = self.substr(0, slash + 1) + path;
    }
    void* library = dlopen(path.c_str(), RTLD_NOW | RTLD_GLOBAL);
    if (library == nullptr)
        library = dlopen("libtarvex_qt.so", RTLD_NOW | RTLD_GLOBAL);
    auto create = library != nullptr ? reinterpret_cast<NativeUi* (*)()>(dlsym(library, "TarvexCreateQtUi")) : nullptr;
    NativeUi* ui = create != nullptr ? create() : nullptr;
    if (ui == nullptr && asked)
        std::fprintf(stderr, "tarvex: the Qt backend cannot be loaded (%s); windows are headless\n",
                     library == nullptr ? dlerror() : "it did not start");
    return std::unique_ptr<NativeUi>(ui);
}

std::unique_ptr<NativeUi> ChooseBackend() {
    const char* chosen = std::getenv("TARVEX_UI");
    std::string name = chosen != nullptr ? chosen : "";
    bool display = std::getenv("DISPLAY") != nullptr || std::getenv("WAYLAND_DISPLAY") != nullptr;
    bool test = std::getenv("TARVEX_TEST") != nullptr;
    if (name == "qt" || (name.empty() && display && !test))
        if (auto qt = LoadQtBackend(name == "qt"))
            return qt;
    return std::make_unique<HeadlessUi>();
}

}  // namespace

NativeUi& Ui() {
    std::lock_guard lock(ui_mutex);
    if (!current_ui)
        current_ui = ChooseBackend();
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
    Window& made = windows_[handle] = Window{handle, spec, {}, {}, 0};
    made.state = (spec.style & kStyleOpenMaximized)   ? NativeWindowState::Maximized
                 : (spec.style & kStyleOpenMinimized) ? NativeWindowState::Minimized
                                                      : NativeWindowState::Normal;
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

void HeadlessUi::SetFocus(NativeHandle window, NativeHandle control) {
    std::lock_guard lock(mutex_);
    if (auto it = windows_.find(window); it != windows_.end())
        it->second.focus = control;
}

NativeHandle HeadlessUi::Focused(NativeHandle window) const {
    std::lock_guard lock(mutex_);
    auto it = windows_.find(window);
    return it == windows_.end() ? 0 : it->second.focus;
}

bool HeadlessUi::Screenshot(NativeHandle, const std::string&, std::string& why) {
    why = "the headless backend shows nothing (run with TARVEX_UI=qt, on a display or offscreen)";
    return false;
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
HEADLESS_WINDOW_SETTER(SetWindowCursor, const std::string&, cursor)
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

void HeadlessUi::SetApplicationCursor(const std::string& cursor) {
    std::lock_guard lock(mutex_);
    application_cursor_ = cursor;
}

std::string HeadlessUi::ApplicationCursor() const {
    std::lock_guard lock(mutex_);
    return application_cursor_;
}

bool HeadlessUi::ShowHelp(NativeHandle window, const std::string& file, const std::string& keyword) {
    std::lock_guard lock(mutex_);
    help_.push_back({window, file, keyword});
    return access(file.c_str(), R_OK) == 0;
}

std::vector<HeadlessUi::HelpShown> HeadlessUi::HelpRequests() const {
    std::lock_guard lock(mutex_);
    return help_;
}

}  // namespace tarvex::windows
