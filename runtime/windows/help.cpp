// SPDX-License-Identifier: GPL-3.0-or-later
#include "windows/help.h"

#include <mutex>

#include "core/string_stack.h"
#include "platform/platform.h"
#include "tarvex/frame.h"
#include "tarvex/windows.h"
#include "windows/controls.h"
#include "windows/native_ui.h"
#include "windows/properties.h"
#include "windows/value_text.h"
#include "windows/window_object.h"

namespace tarvex::windows {

namespace {

std::mutex help_mutex;
std::string help_file;

// The focused control's keyword, else the window's.
std::string DeepestHelp(VrnWindowObject& window, int32_t field) {
    if (Control* control = field != 0 ? FindControl(window, field) : nullptr; control && control->object)
        if (auto keyword = control->object->GetProperty(kPropHelp); keyword && !Trimmed(*keyword).empty())
            return std::string(Trimmed(*keyword));
    return std::string(Trimmed(window.help));
}

}  // namespace

std::string HelpFile() {
    std::lock_guard lock(help_mutex);
    return help_file;
}

void ShowHelp(VrnWindowObject& window, int32_t field) {
    std::string file = HelpFile();
    if (file.empty())
        return;
    std::string path = platform::ResolveFileName(file);
    if (!path.empty() && Ui().ShowHelp(window.handle, path, DeepestHelp(window, field)))
        return;
    platform::MessageRequest request;
    request.caption = "Help";
    request.text = "The help file " + file + " cannot be opened.";
    request.icon = VRN_ICON_EXCLAMATION;
    request.buttons = request.default_button = VRN_BUTTON_OK;
    platform::Messages().Show(request);
}

}  // namespace tarvex::windows

using namespace tarvex;

extern "C" TARVEX_API void Vrn$HELP(void) {
    std::string file(windows::Trimmed(PopStdString()));
    std::lock_guard lock(windows::help_mutex);
    windows::help_file = std::move(file);
}
