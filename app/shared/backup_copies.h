// SPDX-License-Identifier: GPL-3.0-or-later
// The copies behind "Backup files" and "Reload backup files": every data file of the program
// copied, in one fixed order, from the data folder to the backup folder or back.
//
// Each copy is whole and consistent: while a table's files are copied the table is held
// exclusively (a save under way elsewhere finishes first, and the next waits), and the copy
// replaces its destination in one rename, so an interrupted backup or reload never leaves half a
// file. A file that does not exist is skipped; any other file that could not be copied is named
// to the user, so nobody believes in a backup that was not made.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <vector>

namespace lumarex {

enum class CopyDirection {
    kBackup, // data folder to backup folder
    kReload, // backup folder to data folder
};

inline constexpr const char* kDataFolder = "C:\\LUMAREX\\data\\";
inline constexpr const char* kBackupFolder = "C:\\LUMAREX\\Backup\\";

// The files copied, in copy order (both ways): the fifteen tables of the KELSTORE driver, a
// "Provider.kel" (kept should one exist, although the provider table lives in the VARNEL files),
// then the provider table's two key files and its data file.
inline constexpr std::array<const char*, 19> kBackupFileNames = {
    "Auth.kel",      "Payer.kel",    "Cpt48.kel",     "Facility.kel", "Icd48.kel",
    "Insured1.kel",  "Insured2.kel", "Invoice.kel",   "Item.kel",     "Patient.kel",
    "Provider.kel",  "Referring.kel", "ICD.kel",      "CIQL.kel",     "OIQL.kel",
    "Rendering.kel", "Provider.K02", "Provider.K01",  "Provider.dat"};

struct CopyOutcome {
    std::vector<std::string> copied;     // names, in copy order
    std::vector<std::string> not_copied; // "Invoice.kel: File Is Already Locked (32)"
};

// Makes the nineteen copies (creating the folder copied to when it is missing) and says what
// became of each file that exists.
CopyOutcome CopyDataFiles(CopyDirection direction);

// What the confirmation windows run on OK: the copies, then a message naming the files that were
// not copied (none when all were, as before). Returns the outcome.
CopyOutcome BackupDataFiles();
CopyOutcome ReloadBackupFiles();

} // namespace lumarex
