// SPDX-License-Identifier: GPL-3.0-or-later
// Files by name: REMOVE, RENAME and COPY of a file named on the string stack, and new folders.
#include <string>

#include "core/string_stack.h"
#include "platform/platform.h"
#include "tarvex/files.h"
#include "tarvex/frame.h"

namespace {

constexpr int32_t kNoSuchFile = 2; // ENOENT: the C library's answer for a name that cannot be mapped

void Post(int32_t code) {
    if (code == 0)
        Vrn$clearerror();
    else
        Vrn$seterror(code);
}

void CopyOrRename(bool rename) {
    std::string existing = tarvex::PopStdString();
    std::string new_name = tarvex::PopStdString();
    Post(_drv_CopyOrRenameFile(existing.c_str(), new_name.c_str(), rename ? 1 : 0));
}

} // namespace

TARVEX_API void Vrn$RemoveFile(void) {
    std::string name = tarvex::PopStdString();
    std::string path = tarvex::platform::ResolveFileName(name);
    Post(path.empty() ? kNoSuchFile : tarvex::platform::RemoveFile(path));
}

TARVEX_API void Vrn$RenameFile(void) {
    CopyOrRename(true);
}

TARVEX_API void Vrn$CopyFile(void) {
    CopyOrRename(false);
}

TARVEX_API void Vrn$MakeFolder(void) {
    std::string name = tarvex::PopStdString();
    std::string path = tarvex::platform::ResolveFileName(name);
    Post(path.empty() ? kNoSuchFile : tarvex::platform::MakeFolders(path));
}
