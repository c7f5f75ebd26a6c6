// SPDX-License-Identifier: GPL-3.0-or-later
#include "shared/help_file.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <string>

#include "tarvex/files.h"
#include "tarvex/resources.h"

namespace lumarex {

bool InstallHelpFile(const char* name) {
    char path[4096];
    if (_drv_HostPath(name, path, sizeof path) == 0)
        return false;
    if (access(path, F_OK) == 0)
        return true;
    uint32_t size = 0;
    const void* page = WslUtil$LoadNamedResource("LUMAREX.HLP", "HELP", &size);
    if (page == nullptr)
        return false;
    std::error_code ignored;
    std::filesystem::create_directories(std::filesystem::path(path).parent_path(), ignored);
    // Written aside and renamed into place, so that no half-written page is ever found there.
    std::string aside = std::string(path) + ".new";
    bool written = false;
    int fd = open(aside.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (fd >= 0) {
        written = write(fd, page, size) == ssize_t(size);
        written = close(fd) == 0 && written;
        written = written && rename(aside.c_str(), path) == 0;
        if (!written)
            unlink(aside.c_str());
    }
    WslUtil$FreeResourcePtr(page);
    return written;
}

}  // namespace lumarex
