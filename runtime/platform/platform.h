// SPDX-License-Identifier: GPL-3.0-or-later
// The platform layer: the one place that knows Linux. Everything above it (the core, the data
// layer, the drivers) calls these functions and never the operating system directly.
//
// Divisions: file names and the drive table; files; profile files; the clock; regional settings;
// message boxes; the process (executable, arguments, exit, last error); the fault report.
#pragma once

#include <cstdint>
#include "tarvex/export.h"
#include <deque>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tarvex::platform {

// ---- File names --------------------------------------------------------------------------------
// Programs name files the Windows way ("C:\LUMAREX\DATA\Patient.kel"). A drive letter maps to a
// Linux folder: C: to $TARVEX_DRIVE_C (default $XDG_DATA_HOME/lumarex/drive_c), Z: to "/", and
// any other letter to $TARVEX_DRIVE_<letter> when set. Backslash and slash both separate. Each
// component resolves case-insensitively against what exists; missing components keep their
// spelling, so a new file is created as spelled. A relative name resolves from the current folder;
// a Linux absolute path ("/tmp/x") is taken as it is.

// The Linux path for a program's file name; empty for a name that cannot be mapped (an unknown
// drive letter, an empty name).
std::string ResolveFileName(std::string_view name);
// The Windows spelling of a Linux path: under a mapped drive when one holds it, else under Z:.
std::string WindowsFileName(std::string_view linux_path);
// The current folder in its Windows spelling.
std::string CurrentFolder();
// Re-reads the drive table from the environment (tests change TARVEX_DRIVE_C between cases).
void ReloadDriveTable();

// ---- Files -------------------------------------------------------------------------------------
// Whole-file helpers for small text files (profiles, the environment file). Paths are Linux paths.
std::optional<std::string> ReadWholeFile(const std::string& path);
// Writes to a temporary file beside the target and renames it over the target, so a reader never
// sees half a file; creates the file with mode 0600. False (and the last error set) on failure.
bool WriteFileAtomically(const std::string& path, std::string_view contents);
bool FileExists(const std::string& path);

// ---- Profile files -----------------------------------------------------------------------------
// Sections and keys compare without regard to case, the first match wins, lines starting with ';'
// are comments, a value wholly enclosed in double quotes reads without them. A missing file reads
// as empty. Writes are atomic and keep the rest of the file byte for byte. Paths are Linux paths
// (resolve program names first).
std::string ReadProfileString(const std::string& path, std::string_view section, std::string_view key,
                              std::string_view default_value);
// key == nullopt deletes the section; value == nullopt deletes the key. False on a write failure.
bool WriteProfileString(const std::string& path, std::string_view section,
                        std::optional<std::string_view> key, std::optional<std::string_view> value);
// The same two operations on a profile's text held in memory. FindProfileValue gives nullopt when
// the section or the key is missing; EditProfileText gives the new text (unchanged when there is
// nothing to do), or nullopt when the request cannot be written (an empty key, a line break in a
// name or value).
std::optional<std::string> FindProfileValue(std::string_view text, std::string_view section,
                                            std::string_view key);
std::optional<std::string> EditProfileText(std::string_view text, std::string_view section,
                                           std::optional<std::string_view> key,
                                           std::optional<std::string_view> value);
// The system's main profile (C:\WINDOWS\WIN.INI through the drive table), as a Linux path.
std::string MainProfilePath();

// ---- Clock -------------------------------------------------------------------------------------
struct LocalDateTime {
    int year, month, day;              // month 1..12
    int hour, minute, second, hundredths;
    int day_of_week;                   // 0 = Sunday
};
// The host's local time plus the process-wide offset. SETTODAY and SETCLOCK never change the
// host clock: they move this offset.
LocalDateTime Now();
int64_t ClockOffsetHundredths();
void SetClockOffsetHundredths(int64_t offset);

// ---- Regional settings ---------------------------------------------------------------------------
// From the process locale (LC_TIME, LC_NUMERIC), with the built-in English defaults where the
// locale gives none.
struct RegionalSettings {
    std::vector<std::string> month_names;   // 12 entries, "January" ...
    std::vector<std::string> month_abbreviations; // 12 entries, "Jan" ...
    std::string am = "AM";
    std::string pm = "PM";
    char date_separator = '/';
    std::string date_order = "MDY";         // order of month, day and year in the short date
    char time_separator = ':';
    char decimal_point = '.';
    char thousands_separator = ',';
};
const RegionalSettings& Regional();

// ---- Message boxes ---------------------------------------------------------------------------------
// One interface, two implementations: the headless one below and the toolkit one of the windows
// layer. Icons and buttons use the program's numbers (VRN_ICON_*, VRN_BUTTON_* in tarvex/frame.h).
struct MessageRequest {
    std::string text;
    std::string caption;
    int32_t icon = 0;               // VRN_ICON_*
    uint32_t buttons = 1;           // OR of VRN_BUTTON_*
    uint32_t default_button = 1;    // one VRN_BUTTON_*
};

class TARVEX_API MessageBoxes {
public:
    virtual ~MessageBoxes() = default;
    // Shows the box and returns the button pressed (one VRN_BUTTON_*).
    virtual uint32_t Show(const MessageRequest& request) = 0;
};

// Answers from a queue that a test or script fills; with the queue empty, the default button.
// Every box shown is recorded with its answer. A queued answer that is not one of the box's buttons
// is a mistake of the script: the box takes its default button and the transcript records the
// refused answer. With a transcript file named, every box is also appended to that file (mode
// 0600) as lines "caption: ...", "text: ..." (one per line of text), "buttons: OK CANCEL",
// "answer: OK" and a blank line.
class HeadlessMessageBoxes final : public MessageBoxes {
public:
    struct Shown {
        MessageRequest request;
        uint32_t answer;
        uint32_t refused_answer = 0;   // a queued answer that was not one of the buttons, else 0
    };
    explicit HeadlessMessageBoxes(std::string transcript_file = {});
    // The process's default boxes: $TARVEX_TRANSCRIPT names the transcript file, $TARVEX_ANSWERS
    // holds a comma-separated list of button names (OK,YES,NO,ABORT,RETRY,IGNORE,CANCEL,HELP)
    // queued at start; an unknown name is skipped.
    static std::unique_ptr<HeadlessMessageBoxes> FromEnvironment();
    uint32_t Show(const MessageRequest& request) override;
    void QueueAnswer(uint32_t button);
    std::vector<Shown> Transcript() const;
    void ClearTranscript();
private:
    mutable std::mutex mutex_;
    std::deque<uint32_t> answers_;
    std::vector<Shown> transcript_;
    std::string transcript_file_;
};

// The upper-case name of one button ("OK", "CANCEL"); "?" for anything else. ButtonFromName takes
// a name in any case and gives 0 for an unknown one.
const char* ButtonName(uint32_t button);
uint32_t ButtonFromName(std::string_view name);

MessageBoxes& Messages();
// Installs the implementation in use; returns the previous one. The default is headless.
TARVEX_API std::unique_ptr<MessageBoxes> SetMessages(std::unique_ptr<MessageBoxes> boxes);
// The headless implementation when it is the one in use, else null (tests queue answers here).
HeadlessMessageBoxes* Headless();

// ---- The process -----------------------------------------------------------------------------------
std::string ExecutablePath();                 // Linux path of the running program
std::vector<std::string> Arguments();         // the command-line arguments after the program name
// The environment file: the program's name with the extension ".ENV", beside the executable,
// matched without regard to case; $TARVEX_ENV_FILE overrides it. Empty when there is none.
std::string EnvironmentFilePath();
// Memory the system can still give the program, in bytes (free and reclaimable).
uint64_t AvailableMemory();
// An opaque non-zero handle of the main program module.
uintptr_t MainModuleHandle();
// Ends the process with the code: standard streams flushed, no static destructors run.
[[noreturn]] void ExitProcess(int code);
// The load position of the module whose image holds `address`: 0 for the executable, 1, 2, ...
// for the libraries in load order; -1 when no loaded module holds it (modules.cpp).
int ModuleOrder(const void* address);
// Whether `address` lies in the code of a loaded module (an executable segment of the program or
// of a library): what an address must be before the runtime calls it.
bool IsCodeAddress(const void* address);

// The last operating-system error of this thread, as the Windows error number the error table
// uses (ENOENT -> 2, EACCES -> 5, ...). Platform calls that fail record it.
int32_t LastError();
void SetLastError(int32_t windows_error);
int32_t WindowsErrorFromErrno(int errno_value);
void RecordErrno(int errno_value);

// ---- The fault report ------------------------------------------------------------------------------
// Signal handlers stand in for structured exceptions: SIGSEGV "Access Violation", SIGBUS "Page
// Fault", SIGILL "Illegal Instruction" or "Privileged Instruction", a fault on the guard page of
// the stack "Stack Overflow". The first fault of the process writes VXFAULT1.TXT (stepping the
// eighth character while the name exists) in the current folder, mode 0600, then the signal takes
// its default course.
// Installs the handlers and prepares the calling thread.
void InstallFaultHandler();
void RemoveFaultHandler();
// Gives the calling thread its own signal stack, so that a stack overflow on it is reported too.
// Every thread that runs program code calls it once when it starts.
void PrepareFaultStackForThisThread();
// Writes a report for the calling point (a fatal error the user chose to end with a report).
// Returns the report's Linux path, or empty when none was written.
std::string WriteFaultReportHere(const char* exception_name);
// The "Library State" lines of the report come from the runtime through this hook.
struct LibraryState {
    std::string event, field, focus, accepted, first_field, last_field;
    int32_t error_code = 0;
    std::string error;
};
using LibraryStateProvider = LibraryState (*)();
void SetLibraryStateProvider(LibraryStateProvider provider);

}  // namespace tarvex::platform

// ---- File operations for the data layer (file_ops.cpp) -------------------------------------------
// Paths are Linux paths. Results are 0 or an error number as stated; failures also set LastError.
namespace tarvex::platform {
bool IsDirectory(const std::string& path);
// Copies `from` over `to` without ever leaving half a copy: the bytes go to a temporary file in
// the destination's folder, which then replaces `to` in one rename (a reader of the old `to` keeps
// reading the old contents). The copy gets the source's permission bits. 0 or a Windows error.
int32_t CopyFileReplacing(const std::string& from, const std::string& to);
// Moves `from` to `to`; an existing `to` is never replaced (EEXIST). 0 or the C library errno.
int RenameFileNoReplace(const std::string& from, const std::string& to);
// Deletes a file (not a folder). 0 or the C library errno.
int RemoveFile(const std::string& path);
// Creates a new file in `folder` named prefix, six random hexadecimal digits and suffix, with mode
// 0600, holding `contents`. Never opens an existing name (nor follows a link). The path, or empty
// on failure (the last error set).
std::string CreateUniqueFile(const std::string& folder, std::string_view prefix, std::string_view suffix,
                             std::string_view contents);
// Creates a folder and any missing folders above it, each with mode 0700 (they hold patient data).
// 0 when the folder exists afterwards, else a Windows error (5 when a file is in the way).
int32_t MakeFolders(const std::string& path);
// Appends text at the end of a file, creating it with mode 0600 when missing. False on failure.
bool AppendToFile(const std::string& path, std::string_view text);
// A claim on an existing file for as long as the caller has it in use: shared claims coexist, an
// exclusive one excludes every other claim, in this process (another declaration of the file) and
// in others. A claim held elsewhere is waited for up to `wait_milliseconds`. A file replaced by a
// rename while the claim was being taken is claimed again by its name. Returns a handle (> 0), or
// 0 with `error` set: 32 when the file stays claimed elsewhere, else a Windows error.
intptr_t ClaimFile(const std::string& path, bool exclusive, int wait_milliseconds, int32_t* error);
void UnclaimFile(intptr_t claim);
}  // namespace tarvex::platform

// ---- Memory and thread ends (memory.cpp, thread_exit.cpp) ----------------------------------------
namespace tarvex::platform {
// Heap blocks for the runtime's values (string stack blocks, per-thread state). Blocks are
// std::malloc blocks, freeable with std::free, because owned strings change hands with programs.
// Null (and the last error 8) when memory runs out, or for an allocation a test has chosen to fail.
void* AllocateMemory(size_t size);
void FreeMemory(void* block);
// Failing-allocation seam for tests: the `nth` call of AllocateMemory from now on (1 = the next
// one), and the `count` - 1 calls after it, return null; later calls succeed again. nth = 0 turns
// failures off. Process-wide: every thread's allocations count.
void FailAllocations(uint64_t nth, uint64_t count = 1);
// Allocations refused by the seam since the last FailAllocations.
uint64_t FailedAllocations();

// A routine that runs when a thread ends, after the thread's C++ thread_local objects have been
// destroyed, so their destructors may still use what it releases. The link lives inside what it
// releases, so arming one allocates nothing. Links run newest first; one armed while the thread's
// links are running runs too. The main thread's links do not run at process exit.
struct ThreadExitLink {
    void (*routine)(ThreadExitLink* link) = nullptr;
    ThreadExitLink* next = nullptr;
};
// Arms `link` for the calling thread. False when the system keeps no per-thread value for us (the
// link then never runs).
bool RunAtThreadExit(ThreadExitLink* link);

// Starts `entry(argument)` on a new, detached thread (threads.cpp) with a stack of at least
// `stack_bytes`. False (and the last error set) when the system refuses.
bool StartThread(size_t stack_bytes, void (*entry)(void*), void* argument);
}  // namespace tarvex::platform
