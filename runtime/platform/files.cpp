// SPDX-License-Identifier: GPL-3.0-or-later
// Whole-file helpers for small text files (profiles, the environment file): read all of a file,
// replace a file atomically, ask whether a file exists. Failures set the thread's last error.
#include "platform/platform.h"

#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tarvex::platform {

namespace {

// The helpers serve small text files; anything larger is refused rather than read into memory.
constexpr size_t kMaxWholeFile = 64u << 20;

bool WriteAll(int fd, std::string_view data) {
    while (!data.empty()) {
        ssize_t written = write(fd, data.data(), data.size());
        if (written < 0) {
            if (errno == EINTR) {
                continue;
            }
            return false;
        }
        data.remove_prefix(size_t(written));
    }
    return true;
}

// The file a write should replace: the target of a symbolic link rather than the link itself, so
// that a profile reached through a link stays where it is.
std::string ReplacementTarget(const std::string& path) {
    struct stat info;
    if (lstat(path.c_str(), &info) == 0 && S_ISLNK(info.st_mode)) {
        char* real = realpath(path.c_str(), nullptr);
        if (real != nullptr) {
            std::string target = real;
            free(real);
            return target;
        }
    }
    return path;
}

} // namespace

std::optional<std::string> ReadWholeFile(const std::string& path) {
    // Non-blocking, so that naming a pipe does not hang the program; only regular files are read.
    int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (fd < 0) {
        RecordErrno(errno);
        return std::nullopt;
    }
    struct stat info {};
    if (fstat(fd, &info) != 0) {
        int error = errno;
        close(fd);
        RecordErrno(error);
        return std::nullopt;
    }
    if (!S_ISREG(info.st_mode)) {
        close(fd);
        RecordErrno(EACCES);
        return std::nullopt;
    }
    std::string contents;
    char buffer[65536];
    while (true) {
        ssize_t got = read(fd, buffer, sizeof(buffer));
        if (got < 0) {
            if (errno == EINTR) {
                continue;
            }
            int error = errno;
            close(fd);
            RecordErrno(error);
            return std::nullopt;
        }
        if (got == 0) {
            break;
        }
        if (contents.size() + size_t(got) > kMaxWholeFile) {
            close(fd);
            SetLastError(WindowsErrorFromErrno(ENOMEM));
            return std::nullopt;
        }
        contents.append(buffer, size_t(got));
    }
    close(fd);
    return contents;
}

bool WriteFileAtomically(const std::string& path, std::string_view contents) {
    if (path.empty() || path.back() == '/' || path.find('\0') != std::string::npos) {
        SetLastError(WindowsErrorFromErrno(EINVAL));
        return false;
    }
    std::string target = ReplacementTarget(path);
    size_t slash = target.rfind('/');
    std::string folder = slash == std::string::npos ? "." : (slash == 0 ? "/" : target.substr(0, slash));
    std::string base = slash == std::string::npos ? target : target.substr(slash + 1);
    // The temporary file lies in the target's folder, so the rename never crosses file systems.
    std::string temporary = folder + "/." + base + ".XXXXXX";
    int fd = mkostemp(temporary.data(), O_CLOEXEC);
    if (fd < 0) {
        // A missing folder is "Path Not Found", as it is for any name whose folder is missing.
        SetLastError(errno == ENOENT ? WindowsErrorFromErrno(ENOTDIR) : WindowsErrorFromErrno(errno));
        return false;
    }
    // A file that exists keeps what makes it that file: its permission bits, its owner and group
    // (a shared profile stays shared). Only a new file is private to its owner.
    struct stat existing {};
    bool replacing = stat(target.c_str(), &existing) == 0 && S_ISREG(existing.st_mode);
    bool ok = fchmod(fd, replacing ? (existing.st_mode & 07777) : 0600) == 0;
    if (ok && replacing && (existing.st_uid != geteuid() || existing.st_gid != getegid())) {
        // Only a privileged process may give a file away; others keep at least the group.
        if (fchown(fd, existing.st_uid, existing.st_gid) != 0 && fchown(fd, uid_t(-1), existing.st_gid) != 0 &&
            errno != EPERM)
            ok = false;
        if (ok && fchmod(fd, existing.st_mode & 07777) != 0) // chown clears set-id bits
            ok = false;
    }
    ok = ok && WriteAll(fd, contents) && fsync(fd) == 0;
    int error = errno;
    if (close(fd) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && rename(temporary.c_str(), target.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        unlink(temporary.c_str());
        RecordErrno(error);
        return false;
    }
    // Make the rename itself durable.
    int folder_fd = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folder_fd >= 0) {
        fsync(folder_fd);
        close(folder_fd);
    }
    return true;
}

bool FileExists(const std::string& path) {
    struct stat info;
    return stat(path.c_str(), &info) == 0 && !S_ISDIR(info.st_mode);
}

} // namespace tarvex::platform
