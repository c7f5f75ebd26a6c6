// SPDX-License-Identifier: GPL-3.0-or-later
// Opening the data files the way every procedure does: OpenDataFile recovers from the usual open
// failures (a locked file, a missing file, damaged keys) or ends the program with a message, and
// per-file use counts let procedures share one open of each file.
//
// A procedure names the files it uses once, and they stay open until it ends, however it ends:
//
//     ProcedureFiles files;         // releases its files when the procedure returns
//     files.Use(Patient);           // opened on first use (created when missing)
//     files.Use(Invoice);
//
// A procedure that catches a long jump takes a mark before the call that may jump and releases
// down to it afterwards, for the procedures the jump left without returning:
//
//     int32_t mark = DataFileUseMark();
//     if (setjmp(error_exit) == 0) SomeProcedure(); else ReleaseDataFiles(mark);
//
// The counts are kept per thread: every program thread has its own instance of each file (the
// files are declared THREAD), so a file opened on one thread is not open on another.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "tarvex/files.hpp"

namespace lumarex {

// Read/write, deny none: the mode every procedure opens its files in.
inline constexpr int32_t kSharedOpenMode = tarvex::ReadWrite | tarvex::DenyNone;

// Opens `file` and returns when it is open (or was already open); otherwise shows the standard
// message for the failure and ends the program. With `force_shared` the mode is kSharedOpenMode.
void OpenDataFile(tarvex::FileRef file, bool create_allowed = true, bool no_create_message = false,
                  int32_t open_mode = kSharedOpenMode, bool force_shared = true);

// Adds one use of `file` on this thread, opening it through OpenDataFile when it had none.
void UseDataFile(tarvex::FileRef file);
// This thread's uses so far; ReleaseDataFiles(mark) gives back every use added since, the most
// recent first, closing each file whose count falls to 0.
int32_t DataFileUseMark();
void ReleaseDataFiles(int32_t mark);
// This thread's use count of `file`.
int32_t DataFileUseCount(tarvex::FileRef file);

// The files one procedure uses, released when it goes out of scope.
class ProcedureFiles {
  public:
    ProcedureFiles() : mark_(DataFileUseMark()) {}
    ~ProcedureFiles() { ReleaseDataFiles(mark_); }
    ProcedureFiles(const ProcedureFiles&) = delete;
    ProcedureFiles& operator=(const ProcedureFiles&) = delete;
    void Use(tarvex::FileRef file) { UseDataFile(file); }

  private:
    int32_t mark_;
};

// The file's label as the program names it in messages ("Patient"), or its declared name for a
// file outside the dictionary.
std::string FileLabel(tarvex::FileRef file);
// The file's declared name ("C:\LUMAREX\DATA\Patient.kel").
std::string DeclaredName(tarvex::FileRef file);

} // namespace lumarex
