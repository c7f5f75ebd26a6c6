// SPDX-License-Identifier: GPL-3.0-or-later
// The file dialog statement (tarvex/controls.h): the program's texts into the backend's question,
// the program's file names to Linux paths and back.
#include "core/error_state.h"
#include "core/string_stack.h"
#include "platform/platform.h"
#include "tarvex/controls.h"
#include "tarvex/frame.h"
#include "windows/controls.h"
#include "windows/native_ui.h"
#include "windows/value_text.h"
#include "windows/window_object.h"

using namespace tarvex;

TARVEX_API int32_t Vrn$FILEDIALOG(char* file, uint32_t size, int32_t flag) {
    windows::NativeFileDialogSpec spec;
    spec.filter = windows::Trimmed(PopStdString());
    spec.title = windows::Trimmed(PopStdString());
    spec.save = (flag & VRN_FILEDIALOG_SAVE) != 0;
    Vrn$clearerror();
    if (file == nullptr || size == 0) {
        Vrn$seterror(kInvalidParameter);
        return 0;
    }
    if (std::string start(windows::Trimmed(std::string_view(file, size))); !start.empty())
        spec.initial = platform::ResolveFileName(start);
    VrnWindowObject* window = windows::TargetWindow();
    std::optional<std::string> chosen = windows::Ui().FileDialog(window != nullptr ? window->handle : 0, spec);
    if (!chosen)
        return 0;
    // A name cut to fit would name another file: refused whole.
    std::string name = platform::WindowsFileName(*chosen);
    if (name.empty() || name.size() > size) {
        Vrn$seterror(45);
        return 0;
    }
    StoreString(file, size, name.data(), uint32_t(name.size()));
    return 1;
}
