// SPDX-License-Identifier: GPL-3.0-or-later
// The running process: its executable, its arguments, the environment file beside the executable,
// the handle of the main module, and the end of the process.
#include "platform/platform.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <dirent.h>
#include <link.h>
#include <sys/sysinfo.h>
#include <unistd.h>

namespace tarvex::platform {

namespace {

bool EqualNoCase(std::string_view a, std::string_view b) {
    if (a.size() != b.size()) {
        return false;
    }
    for (size_t i = 0; i < a.size(); i++) {
        char x = a[i] >= 'a' && a[i] <= 'z' ? char(a[i] - 'a' + 'A') : a[i];
        char y = b[i] >= 'a' && b[i] <= 'z' ? char(b[i] - 'a' + 'A') : b[i];
        if (x != y) {
            return false;
        }
    }
    return true;
}

int FirstModuleBase(dl_phdr_info* info, size_t, void* data) {
    // The first object the loader reports is the program itself; its lowest loaded segment is
    // where it starts in memory (non-zero for position-dependent programs too).
    uintptr_t lowest = UINTPTR_MAX;
    for (int i = 0; i < info->dlpi_phnum; i++) {
        if (info->dlpi_phdr[i].p_type == PT_LOAD) {
            lowest = std::min<uintptr_t>(lowest, info->dlpi_addr + info->dlpi_phdr[i].p_vaddr);
        }
    }
    *static_cast<uintptr_t*>(data) = lowest == UINTPTR_MAX ? info->dlpi_addr : lowest;
    return 1;
}

} // namespace

std::string ExecutablePath() {
    std::string buffer(4096, '\0');
    ssize_t length = readlink("/proc/self/exe", buffer.data(), buffer.size());
    if (length < 0) {
        RecordErrno(errno);
        return {};
    }
    buffer.resize(size_t(length));
    return buffer;
}

std::vector<std::string> Arguments() {
    std::vector<std::string> arguments;
    auto text = ReadWholeFile("/proc/self/cmdline");
    if (!text) {
        return arguments;
    }
    size_t start = 0;
    bool first = true;
    while (start < text->size()) {
        size_t end = text->find('\0', start);
        if (end == std::string::npos) {
            end = text->size();
        }
        if (!first) {
            arguments.push_back(text->substr(start, end - start));
        }
        first = false;
        start = end + 1;
    }
    return arguments;
}

std::string EnvironmentFilePath() {
    const char* override_path = std::getenv("TARVEX_ENV_FILE");
    if (override_path != nullptr && *override_path != '\0') {
        return override_path;
    }
    std::string executable = ExecutablePath();
    size_t slash = executable.rfind('/');
    if (executable.empty() || slash == std::string::npos) {
        return {};
    }
    std::string folder = slash == 0 ? "/" : executable.substr(0, slash);
    std::string program = executable.substr(slash + 1);
    size_t dot = program.rfind('.');
    if (dot != std::string::npos && dot > 0) {
        program.resize(dot);
    }
    std::string wanted = program + ".ENV";
    DIR* dir = opendir(folder.c_str());
    if (dir == nullptr) {
        return {};
    }
    // The exact spelling first, else the first other spelling in byte order.
    std::string best;
    while (dirent* entry = readdir(dir)) {
        std::string_view name = entry->d_name;
        if (!EqualNoCase(name, wanted)) {
            continue;
        }
        if (name == wanted) {
            best = name;
            break;
        }
        if (best.empty() || name < best) {
            best = name;
        }
    }
    closedir(dir);
    if (best.empty()) {
        return {};
    }
    std::string path = (folder == "/" ? "" : folder) + "/" + best;
    return FileExists(path) ? path : std::string();
}

uint64_t AvailableMemory() {
    struct sysinfo info {};
    if (sysinfo(&info) != 0) return 0;
    return (uint64_t(info.freeram) + info.bufferram) * info.mem_unit;
}

uintptr_t MainModuleHandle() {
    static const uintptr_t handle = [] {
        uintptr_t base = 0;
        dl_iterate_phdr(FirstModuleBase, &base);
        return base != 0 ? base : uintptr_t(1);
    }();
    return handle;
}

void ExitProcess(int code) {
    // The program's own end routines have run by now. The process ends at once, without the
    // C++ static destructors: other threads (started procedures, the window toolkit's) may still
    // be running, and tearing shared objects down under them corrupts memory instead of ending.
    std::fflush(nullptr);
    _exit(code);
}

} // namespace tarvex::platform
