// SPDX-License-Identifier: GPL-3.0-or-later
// The last operating-system error of each thread, kept as the Windows error number that the error
// table reports as 300 + n, and the one table that turns a Linux errno into such a number.
#include "platform/platform.h"

#include <cerrno>

namespace tarvex::platform {

namespace {

// Each errno maps to the Windows error whose message describes it best among those the error table
// can show (1..91). An errno the table does not list reports 31 "General Failure".
struct ErrnoRow {
    int errno_value;
    int32_t windows_error;
};

constexpr ErrnoRow kErrnoTable[] = {
    {ENOSYS, 1},        // Invalid Function
    {ENOENT, 2},        // File Not Found
    {ENOTDIR, 3},       // Path Not Found
    {ENAMETOOLONG, 3},  // Path Not Found
    {ELOOP, 3},         // Path Not Found
    {EMFILE, 4},        // Too Many Open Files
    {ENFILE, 4},        // Too Many Open Files
    {EACCES, 5},        // Access Denied
    {EPERM, 5},         // Access Denied
    {EISDIR, 5},        // Access Denied
    {ENOTEMPTY, 5},     // Access Denied
    {EBADF, 6},         // Invalid Handle
    {ENOMEM, 8},        // Insufficient Memory
    {ENOEXEC, 11},      // Invalid Format
    {EXDEV, 17},        // Not Same Device
    {EROFS, 19},        // Write Protect
    {ENXIO, 21},        // Device Not Ready
    {ESPIPE, 25},       // Seek Location Inaccessible
    {EPIPE, 29},        // Write Fault
    {EIO, 31},          // General Failure
    {EBUSY, 32},        // Sharing Violation
    {ETXTBSY, 32},      // Sharing Violation
    {EAGAIN, 33},       // Lock Violation (a lock another process holds)
    {EDEADLK, 33},      // Lock Violation
    {ENOLCK, 36},       // Sharing Buffer Exceeded
    {ENOSPC, 39},       // Handle Disk Full
    {EDQUOT, 39},       // Handle Disk Full
    {EFBIG, 39},        // Handle Disk Full
    {EOPNOTSUPP, 50},   // Not Supported
    {ENODEV, 55},       // Device Does Not Exist
    {ENETDOWN, 59},     // Unexpected Network Error
    {ENETUNREACH, 59},  // Unexpected Network Error
    {EHOSTUNREACH, 59}, // Unexpected Network Error
    {ECONNRESET, 59},   // Unexpected Network Error
    {ETIMEDOUT, 59},    // Unexpected Network Error
    {ESTALE, 64},       // Network Name Deleted
    {EEXIST, 80},       // File Already Exists
    {EINVAL, 87},       // Invalid Parameter
    {EFAULT, 87},       // Invalid Parameter
    {E2BIG, 87},        // Invalid Parameter
    {EOVERFLOW, 87},    // Invalid Parameter
};

constexpr int32_t kGeneralFailure = 31;

thread_local int32_t tls_last_error = 0;

} // namespace

int32_t WindowsErrorFromErrno(int errno_value) {
    if (errno_value == 0) {
        return 0;
    }
    for (const auto& row : kErrnoTable) {
        if (row.errno_value == errno_value) {
            return row.windows_error;
        }
    }
    return kGeneralFailure;
}

int32_t LastError() {
    return tls_last_error;
}

void SetLastError(int32_t windows_error) {
    tls_last_error = windows_error;
}

void RecordErrno(int errno_value) {
    tls_last_error = WindowsErrorFromErrno(errno_value);
}

} // namespace tarvex::platform
