// SPDX-License-Identifier: GPL-3.0-or-later
// The register of open files and what rests on it: transactions (LOGOUT, COMMIT, ROLLBACK), the
// list of transaction log files, STATUS, and closing every file when the program ends.
//
// Entries of THREAD files carry the id of the thread that activated them and are found per thread;
// other files carry -1 and are shared. One transaction can be active in the process; it spans the
// files of all threads. Drivers are never called with a lock held: a driver activates and
// deactivates files from inside its operations.
#include <algorithm>
#include <atomic>
#include <cstdarg>
#include <cstring>
#include <mutex>
#include <vector>

#include "data/file_operations.h"
#include "core/thread_instances.h"
#include "tarvex/files.h"
#include "tarvex/frame.h"
#include "tarvex/queue.h"

namespace tarvex {

namespace {

constexpr int32_t kFileNotOpen = 37;
constexpr int32_t kUnableToLog = 48;
constexpr int32_t kLogoutActive = 56;
constexpr int32_t kLogoutNotActive = 91;
constexpr int32_t kUnsupported = 80;
constexpr int64_t kShared = -1;

struct RegisterEntry {
    bool in_transaction = false;
    FileDecl* file = nullptr;
    int64_t thread = kShared;
    int32_t access_mode = 0;
    bool can_log = false;
    bool can_rollback = false;
    bool can_commit = false;
    bool lock_before_logout = false;
    bool unlock_after = false;
    uint16_t number = 0;
};

std::mutex register_mutex;
std::vector<RegisterEntry> entries; // in activation order
std::atomic<bool> transaction_active{false};
std::atomic<VrnShutdownProcedure> shutdown_procedure{nullptr};

int64_t ThisThread() {
    static std::atomic<int64_t> next_id{1};
    thread_local int64_t id = next_id++;
    return id;
}

int64_t OwnerTag(const FileDecl* file) {
    return (file->attributes & VRN_FILE_THREAD) != 0 ? ThisThread() : kShared;
}

// The entry of the file for the calling thread (under register_mutex), or null.
RegisterEntry* FindEntry(const FileDecl* file) {
    int64_t tag = OwnerTag(file);
    for (RegisterEntry& entry : entries) {
        if (entry.file == file && entry.thread == tag)
            return &entry;
    }
    return nullptr;
}

// ---- The log-file list: a queue of (number, file) kept in number order -------------------------

#pragma pack(push, 1)
struct LogFileRecord {
    uint16_t number;
    FileDecl* file;
};
#pragma pack(pop)

constexpr VrnFieldDesc kLogFileFields[] = {
    {"LOG:NUMBER", nullptr, 0, 2, 1, 0, VRN_TYPE_USHORT, 0},
    {"LOG:FILE", nullptr, 2, sizeof(FileDecl*), 1, 0, VRN_TYPE_STRING, 0},
};
constexpr VrnTypeDesc kLogFileType = {"LogFiles", "LOG", sizeof(LogFileRecord), 2, kLogFileFields};
constexpr int32_t kByNumber[] = {1, 0};

std::mutex log_mutex;
LogFileRecord log_buffer;
QueueDecl log_files = {&log_buffer, &kLogFileType, nullptr, sizeof(LogFileRecord)};

// The position (1-based) of the file in the log-file list, or 0 (under log_mutex).
int32_t FindLogFile(const FileDecl* file) {
    int32_t count = Vrn$RECORDSqueue(&log_files);
    for (int32_t i = 1; i <= count; i++) {
        Vrn$GETqueueptr(&log_files, i);
        if (Vrn$ERRCODE == 0 && log_buffer.file == file)
            return i;
    }
    return 0;
}

std::vector<LogFileRecord> LogFiles() {
    std::lock_guard lock(log_mutex);
    std::vector<LogFileRecord> out;
    int32_t count = Vrn$RECORDSqueue(&log_files);
    for (int32_t i = 1; i <= count; i++) {
        Vrn$GETqueueptr(&log_files, i);
        if (Vrn$ERRCODE == 0)
            out.push_back(log_buffer);
    }
    return out;
}

// ---- Transactions -----------------------------------------------------------------------------

struct Capabilities {
    bool found = false;
    bool can_log = false, can_rollback = false, can_commit = false, lock_before = false, unlock_after = false;
};

Capabilities CapabilitiesOf(const FileDecl* file) {
    std::lock_guard lock(register_mutex);
    Capabilities out;
    if (const RegisterEntry* entry = FindEntry(file)) {
        out = {true,
               entry->can_log,
               entry->can_rollback,
               entry->can_commit,
               entry->lock_before_logout,
               entry->unlock_after};
    }
    return out;
}

void Unlock(FileDecl* file) {
    CallFileDriver(VRN_OP_UNLOCK, file);
}

// Enlists one file; 0 or the code of the failure.
int32_t Enlist(FileDecl* file, uint16_t number, int32_t seconds) {
    if (file == nullptr || file->driver_instance == nullptr)
        return kFileNotOpen;
    Capabilities caps = CapabilitiesOf(file);
    if (!caps.found)
        return kUnableToLog;
    if (caps.lock_before) {
        Drv_FCB* fcb = file->driver_instance;
        fcb->logout_lock = 1;
        Vrn$clearerror();
        CallFileDriver(VRN_OP_LOCK_SECONDS, file, {seconds});
        int32_t error = Vrn$ERRCODE;
        if (file->driver_instance != nullptr)
            file->driver_instance->logout_lock = 0;
        if (error != 0 && error != kUnsupported)
            return kUnableToLog;
    }
    if (!caps.can_log) {
        if (caps.unlock_after)
            Unlock(file);
        return kUnableToLog;
    }
    Vrn$clearerror();
    CallFileDriver(VRN_OP_LOGOUT, file);
    if (Vrn$ERRCODE != 0) {
        if (caps.unlock_after)
            Unlock(file);
        return kUnableToLog;
    }
    std::lock_guard lock(register_mutex);
    RegisterEntry* entry = FindEntry(file);
    if (entry == nullptr)
        return kUnableToLog; // the driver closed the file meanwhile
    entry->in_transaction = true;
    entry->number = number;
    return 0;
}

// Ends the transaction on every file that takes part, the last enlisted first. Returns the first
// error a driver reported for the commit or rollback itself (0 when none).
int32_t EndTransaction(int32_t operation, bool commit) {
    transaction_active = false;
    std::vector<RegisterEntry> taking_part;
    {
        std::lock_guard lock(register_mutex);
        for (auto it = entries.rbegin(); it != entries.rend(); ++it) {
            if (it->in_transaction)
                taking_part.push_back(*it);
        }
    }
    int32_t first_error = 0;
    for (const RegisterEntry& entry : taking_part) {
        if (commit ? entry.can_commit : entry.can_rollback) {
            Vrn$clearerror();
            CallFileDriver(operation, entry.file);
            if (Vrn$ERRCODE != 0 && first_error == 0)
                first_error = Vrn$ERRCODE;
        }
        if (entry.unlock_after)
            Unlock(entry.file);
        std::lock_guard lock(register_mutex);
        for (RegisterEntry& live : entries) {
            if (live.file == entry.file && live.thread == entry.thread)
                live.in_transaction = false;
        }
    }
    return first_error;
}

void PostResult(int32_t code) {
    if (code == 0)
        Vrn$clearerror();
    else
        Vrn$seterror(code);
}

} // namespace

} // namespace tarvex

using namespace tarvex;

TARVEX_API void Vrn$activate_drv(FileDecl* file, int32_t access_mode, int32_t can_log, int32_t can_rollback,
                                 int32_t can_commit, int32_t lock_before_logout, int32_t unlock_after) {
    if (file == nullptr)
        return;
    std::lock_guard lock(register_mutex);
    if (FindEntry(file) != nullptr)
        return;
    RegisterEntry entry;
    entry.file = file;
    entry.thread = OwnerTag(file);
    entry.access_mode = access_mode;
    entry.can_log = can_log != 0;
    entry.can_rollback = can_rollback != 0;
    entry.can_commit = can_commit != 0;
    entry.lock_before_logout = lock_before_logout != 0;
    entry.unlock_after = unlock_after != 0;
    entries.push_back(entry);
}

TARVEX_API void Vrn$deactivate_drv(FileDecl* file) {
    if (file == nullptr)
        return;
    std::lock_guard lock(register_mutex);
    int64_t tag = OwnerTag(file);
    std::erase_if(entries,
                  [&](const RegisterEntry& entry) { return entry.file == file && entry.thread == tag; });
}

TARVEX_API int32_t Vrn$addLogoutFile(FileDecl* file, uint16_t number) {
    int32_t result = kUnableToLog;
    if (file != nullptr) {
        std::lock_guard lock(log_mutex);
        int32_t at = FindLogFile(file);
        if (at != 0)
            Vrn$DELETEqueue(&log_files);
        log_buffer.number = number;
        log_buffer.file = file;
        Vrn$ADDqueuekey(&log_files, kByNumber);
        if (Vrn$ERRCODE == 0)
            result = 0;
    }
    PostResult(result);
    return result;
}

TARVEX_API int32_t Vrn$deleteLogoutFile(FileDecl* file) {
    int32_t result = kUnableToLog;
    if (file != nullptr) {
        std::lock_guard lock(log_mutex);
        if (FindLogFile(file) != 0) {
            Vrn$DELETEqueue(&log_files);
            if (Vrn$ERRCODE == 0)
                result = 0;
        }
    }
    PostResult(result);
    return result;
}

TARVEX_API int32_t Vrn$getLogoutNumber(FileDecl* file) {
    if (file == nullptr)
        return 0;
    if (transaction_active) {
        std::lock_guard lock(register_mutex);
        for (const RegisterEntry& entry : entries) {
            if (entry.file == file && entry.in_transaction)
                return entry.number;
        }
        return 0;
    }
    for (const LogFileRecord& record : LogFiles()) {
        if (record.file == file)
            return record.number;
    }
    return 0;
}

TARVEX_API int32_t Vrn$STATUSfile(FileDecl* file) {
    if (file == nullptr)
        return 0;
    std::lock_guard lock(register_mutex);
    const RegisterEntry* entry = FindEntry(file);
    if (entry == nullptr)
        return 0;
    return entry->access_mode != 0 ? entry->access_mode : VRN_ACCESS_DEFAULT;
}

TARVEX_API void Vrn$LOGOUTfiles(int32_t seconds, FileDecl* const* files) {
    if (transaction_active) {
        Vrn$seterror(kLogoutActive);
        return;
    }
    std::vector<LogFileRecord> list;
    bool from_log_list = files == nullptr || files[0] == nullptr;
    if (from_log_list) {
        list = LogFiles();
        if (list.empty()) {
            Vrn$seterror(kUnableToLog);
            return;
        }
    } else {
        for (uint16_t i = 0; files[i] != nullptr; i++)
            list.push_back({uint16_t(i + 1), files[i]});
    }
    // Every file of the log-file list is tried; the first failure decides, so that no failure is
    // hidden by a later success.
    int32_t failure = 0;
    for (const LogFileRecord& item : list) {
        int32_t code = Enlist(item.file, item.number, seconds);
        if (code != 0 && failure == 0)
            failure = code;
        if (code != 0 && !from_log_list)
            break;
    }
    transaction_active = true;
    if (failure != 0) {
        EndTransaction(VRN_OP_ROLLBACK, false);
        Vrn$seterror(failure);
        return;
    }
    Vrn$clearerror();
}

TARVEX_API void Vrn$LOGOUT(int32_t seconds, ...) {
    std::vector<FileDecl*> files;
    va_list args;
    va_start(args, seconds);
    // A list longer than any program writes is cut, so a missing terminator cannot run away.
    for (int i = 0; i < 1024; i++) {
        FileDecl* file = va_arg(args, FileDecl*);
        if (file == nullptr)
            break;
        files.push_back(file);
    }
    va_end(args);
    files.push_back(nullptr);
    Vrn$LOGOUTfiles(seconds, files.data());
}

TARVEX_API void Vrn$COMMIT(void) {
    if (!transaction_active) {
        Vrn$seterror(kLogoutNotActive);
        return;
    }
    PostResult(EndTransaction(VRN_OP_COMMIT, true));
}

TARVEX_API void Vrn$ROLLBACK(void) {
    if (!transaction_active) {
        Vrn$seterror(kLogoutNotActive);
        return;
    }
    PostResult(EndTransaction(VRN_OP_ROLLBACK, false));
}

TARVEX_API void Vrn$ThreadedFileOpen(FileDecl* file) {
    if (file == nullptr || (file->attributes & VRN_FILE_THREAD) == 0)
        return;
    RegisterThreadInstance(file, sizeof(FileDecl));
    if (file->record != nullptr)
        RegisterThreadInstance(file->record, file->record_length);
    for (uint32_t k = 0; k < file->key_count && file->keys != nullptr; k++)
        RegisterThreadInstance(file->keys[k], sizeof(KeyDecl));
    for (uint32_t m = 0; m < file->memo_count && file->memos != nullptr; m++)
        RegisterThreadInstance(file->memos[m], sizeof(MemoDecl));
}

TARVEX_API void Vrn$ThreadedFileClose(FileDecl*) {}

TARVEX_API void Vrn$SHUTDOWN(VrnShutdownProcedure procedure) {
    shutdown_procedure = procedure;
}

TARVEX_API void Vrn$CloseAllFiles(void) {
    if (VrnShutdownProcedure procedure = shutdown_procedure.exchange(nullptr))
        procedure();
    if (transaction_active)
        EndTransaction(VRN_OP_COMMIT, true);
    std::vector<FileDecl*> files;
    {
        std::lock_guard lock(register_mutex);
        for (auto it = entries.rbegin(); it != entries.rend(); ++it)
            files.push_back(it->file);
    }
    for (FileDecl* file : files) {
        if (file->driver_instance != nullptr)
            CallFileDriver(VRN_OP_CLOSE, file);
    }
    std::lock_guard lock(register_mutex);
    entries.clear();
}
