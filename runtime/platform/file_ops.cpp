// SPDX-License-Identifier: GPL-3.0-or-later
// File operations the data layer needs beyond whole-file helpers: directory checks, copying a file
// atomically over another, renaming without replacing, removing.
#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <thread>
#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include "platform/platform.h"

namespace tarvex::platform {

namespace {

bool WriteAllBytes(int fd, const char* data, size_t size) {
    while (size > 0) {
        ssize_t written = write(fd, data, size);
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return false;
        }
        data += written;
        size -= size_t(written);
    }
    return true;
}

std::string FolderOf(const std::string& path) {
    size_t slash = path.rfind('/');
    if (slash == std::string::npos)
        return ".";
    return slash == 0 ? "/" : path.substr(0, slash);
}

std::string BaseOf(const std::string& path) {
    size_t slash = path.rfind('/');
    return slash == std::string::npos ? path : path.substr(slash + 1);
}

int32_t Fail(int error) {
    RecordErrno(error);
    return WindowsErrorFromErrno(error);
}

} // namespace

bool IsDirectory(const std::string& path) {
    struct stat info;
    return !path.empty() && stat(path.c_str(), &info) == 0 && S_ISDIR(info.st_mode);
}

int32_t CopyFileReplacing(const std::string& from, const std::string& to) {
    int source = open(from.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
    if (source < 0)
        return Fail(errno);
    struct stat info {};
    if (fstat(source, &info) != 0 || !S_ISREG(info.st_mode)) {
        int error = S_ISDIR(info.st_mode) ? EISDIR : (errno ? errno : EACCES);
        close(source);
        return Fail(error == EISDIR ? EACCES : error);
    }
    std::string temporary = FolderOf(to) + "/." + BaseOf(to) + ".XXXXXX";
    int target = mkostemp(temporary.data(), O_CLOEXEC);
    if (target < 0) {
        int error = errno;
        close(source);
        return Fail(error == ENOENT ? ENOTDIR : error);
    }
    bool ok = fchmod(target, info.st_mode & 07777 & ~(S_ISUID | S_ISGID)) == 0;
    char buffer[65536];
    while (ok) {
        ssize_t got = read(source, buffer, sizeof(buffer));
        if (got < 0) {
            if (errno == EINTR)
                continue;
            ok = false;
        } else if (got == 0) {
            break;
        } else {
            ok = WriteAllBytes(target, buffer, size_t(got));
        }
    }
    if (ok)
        ok = fsync(target) == 0;
    int error = errno;
    close(source);
    if (close(target) != 0 && ok) {
        ok = false;
        error = errno;
    }
    if (ok && rename(temporary.c_str(), to.c_str()) != 0) {
        ok = false;
        error = errno;
    }
    if (!ok) {
        unlink(temporary.c_str());
        return Fail(error ? error : EIO);
    }
    return 0;
}

int RenameFileNoReplace(const std::string& from, const std::string& to) {
    if (renameat2(AT_FDCWD, from.c_str(), AT_FDCWD, to.c_str(), RENAME_NOREPLACE) == 0)
        return 0;
    int error = errno;
    if (error == EINVAL || error == ENOSYS) {
        // A file system without the no-replace flag: a hard link refuses an existing name too.
        if (link(from.c_str(), to.c_str()) == 0) {
            unlink(from.c_str());
            return 0;
        }
        error = errno;
    }
    RecordErrno(error);
    return error;
}

int RemoveFile(const std::string& path) {
    if (IsDirectory(path)) {
        RecordErrno(EACCES);
        return EACCES;
    }
    if (unlink(path.c_str()) == 0)
        return 0;
    int error = errno;
    RecordErrno(error);
    return error;
}

int32_t MakeFolders(const std::string& path) {
    if (path.empty())
        return Fail(ENOENT);
    if (IsDirectory(path))
        return 0;
    size_t slash = path.find_last_not_of('/');
    slash = slash == std::string::npos ? std::string::npos : path.rfind('/', slash);
    if (slash != std::string::npos && slash > 0) {
        int32_t code = MakeFolders(path.substr(0, slash));
        if (code != 0)
            return code;
    }
    if (mkdir(path.c_str(), 0700) != 0 && !(errno == EEXIST && IsDirectory(path)))
        return Fail(errno == EEXIST ? EACCES : errno);
    return 0;
}

bool AppendToFile(const std::string& path, std::string_view text) {
    int fd = open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0600);
    if (fd < 0) {
        RecordErrno(errno);
        return false;
    }
    bool ok = WriteAllBytes(fd, text.data(), text.size());
    int error = errno;
    close(fd);
    if (!ok)
        RecordErrno(error);
    return ok;
}

// A name no file has yet: the prefix, six random hexadecimal digits, the suffix. O_EXCL refuses
// any name that exists (a link planted there included), so the file is always our own.
std::string CreateUniqueFile(const std::string& folder, std::string_view prefix, std::string_view suffix,
                             std::string_view contents) {
    static std::atomic<uint32_t> counter{0};
    for (int attempt = 0; attempt < 100; attempt++) {
        uint32_t seed = uint32_t(std::chrono::steady_clock::now().time_since_epoch().count()) ^
                        (uint32_t(getpid()) << 12) ^ (counter.fetch_add(1) * 2654435761u);
        char digits[8];
        std::snprintf(digits, sizeof digits, "%06X", seed & 0xFFFFFF);
        std::string path = folder + "/" + std::string(prefix) + digits + std::string(suffix);
        int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, 0600);
        if (fd < 0) {
            if (errno == EEXIST)
                continue;
            RecordErrno(errno);
            return {};
        }
        bool ok = WriteAllBytes(fd, contents.data(), contents.size());
        int error = errno;
        ok = close(fd) == 0 && ok;
        if (!ok) {
            unlink(path.c_str());
            RecordErrno(error);
            return {};
        }
        return path;
    }
    RecordErrno(EEXIST);
    return {};
}

} // namespace tarvex::platform

namespace tarvex::platform {

// Claims are BSD locks (flock), which belong to one open file description: they do not mix with
// the POSIX record locks SQLite keeps on the same file, and two descriptions in one process
// exclude each other as two processes do. They go when the descriptor closes or the process dies.
intptr_t ClaimFile(const std::string& path, bool exclusive, int wait_milliseconds, int32_t* error) {
    constexpr auto kPause = std::chrono::milliseconds(10);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(std::max(wait_milliseconds, 0));
    for (;;) {
        int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
        if (fd < 0) {
            RecordErrno(errno);
            *error = WindowsErrorFromErrno(errno);
            return 0;
        }
        if (flock(fd, (exclusive ? LOCK_EX : LOCK_SH) | LOCK_NB) != 0) {
            int failure = errno;
            close(fd);
            if (failure != EWOULDBLOCK) {
                RecordErrno(failure);
                *error = WindowsErrorFromErrno(failure);
                return 0;
            }
            if (std::chrono::steady_clock::now() >= deadline) {
                SetLastError(32);
                *error = 32;
                return 0;
            }
            std::this_thread::sleep_for(kPause);
            continue;
        }
        // The name may now stand for a new file (another process replaced it meanwhile): a claim
        // on the old one would guard nothing.
        struct stat held {}, named {};
        if (fstat(fd, &held) == 0 && stat(path.c_str(), &named) == 0 && held.st_ino == named.st_ino &&
            held.st_dev == named.st_dev)
            return intptr_t(fd) + 1;
        close(fd);
        if (std::chrono::steady_clock::now() >= deadline) {
            SetLastError(32);
            *error = 32;
            return 0;
        }
    }
}

void UnclaimFile(intptr_t claim) {
    if (claim > 0)
        close(int(claim - 1));
}

}  // namespace tarvex::platform
