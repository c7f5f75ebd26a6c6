// SPDX-License-Identifier: GPL-3.0-or-later
// The last error: the errno table (errno | Windows error number, reported as 300 + n) and its
// per-thread keeping.
#include "platform/platform.h"

#include <cerrno>
#include <gtest/gtest.h>
#include <thread>

namespace tarvex::platform {
namespace {

TEST(LastError, ErrnoTable) {
    struct Row {
        int errno_value;
        int32_t windows_error;
    };
    const Row rows[] = {
        {0, 0},       {ENOENT, 2},  {ENOTDIR, 3}, {ENAMETOOLONG, 3}, {EMFILE, 4},  {ENFILE, 4},
        {EACCES, 5},  {EPERM, 5},   {EISDIR, 5},  {EBADF, 6},        {ENOMEM, 8},  {EXDEV, 17},
        {EROFS, 19},  {EIO, 31},    {EBUSY, 32},  {ETXTBSY, 32},     {EAGAIN, 33}, {EWOULDBLOCK, 33},
        {ENOLCK, 36}, {ENOSPC, 39}, {EDQUOT, 39}, {ENOTSUP, 50},     {EEXIST, 80}, {EINVAL, 87},
        {ECHILD, 31}, {99999, 31},  {-4, 31},
    };
    for (const auto& row : rows) {
        EXPECT_EQ(WindowsErrorFromErrno(row.errno_value), row.windows_error) << "errno " << row.errno_value;
    }
}

TEST(LastError, KeptPerThread) {
    RecordErrno(EACCES);
    EXPECT_EQ(LastError(), 5);
    int32_t seen_by_other = -1;
    std::thread other([&] {
        seen_by_other = LastError();
        SetLastError(80);
    });
    other.join();
    EXPECT_EQ(seen_by_other, 0);
    EXPECT_EQ(LastError(), 5);
    SetLastError(0);
    EXPECT_EQ(LastError(), 0);
}

} // namespace
} // namespace tarvex::platform
