// SPDX-License-Identifier: GPL-3.0-or-later
// The backup and reload copies, a table at a time.
#include "shared/backup_copies.h"

#include <chrono>
#include <memory>
#include <string>
#include <thread>

#include "data/dictionary.h"
#include "tarvex/files.hpp"
#include "tarvex/program.hpp"

namespace lumarex {

namespace {

using namespace tarvex;

constexpr int32_t kFileNotFound = 2;
constexpr int32_t kLocked = 32;
constexpr int32_t kTransactionSeconds = 2;
constexpr int32_t kLogoutActive = 56;
constexpr std::chrono::seconds kHoldWait{10};
constexpr std::chrono::milliseconds kHoldRetry{15};
constexpr int32_t kAlreadyOpen = 52;

// The dictionary file whose data lives in `name`, or null ("Provider.kel" belongs to none).
FileDecl* TableOf(const std::string& name) {
    static const struct {
        const char* name;
        FileDecl* file;
    } kTables[] = {{"Auth.kel", Auth.Decl()},         {"Payer.kel", Payer.Decl()},
                   {"Cpt48.kel", Cpt48.Decl()},       {"Facility.kel", Facility.Decl()},
                   {"Icd48.kel", Icd48.Decl()},       {"Insured1.kel", Insured1.Decl()},
                   {"Insured2.kel", Insured2.Decl()}, {"Invoice.kel", Invoice.Decl()},
                   {"Item.kel", Item.Decl()},         {"Patient.kel", Patient.Decl()},
                   {"Referring.kel", Referring.Decl()}, {"ICD.kel", ICD.Decl()},
                   {"CIQL.kel", CIQL.Decl()},         {"OIQL.kel", OIQL.Decl()},
                   {"Rendering.kel", Rendering.Decl()}, {"Provider.K02", Provider.Decl()},
                   {"Provider.K01", Provider.Decl()}, {"Provider.dat", Provider.Decl()}};
    for (const auto& table : kTables)
        if (name == table.name)
            return table.file;
    return nullptr;
}

std::string CurrentError() {
    CString<80> text;
    text = clip(ERROR());
    return std::string(text.View()) + " (" + std::to_string(ERRORCODE()) + ")";
}

// Holds one table still while its files are copied: a transaction over it waits for a save under
// way to finish and keeps the next one waiting until it is released, while readers go on. (A
// deny-all open would hold the table too, but it keeps its read lock while it waits for the write
// lock, and so waits for a saving program that waits for it.)
class TableHold {
  public:
    explicit TableHold(FileDecl* file) : file_(file) {
        OPEN(file_, ReadWrite | DenyNone);
        if (ERRORCODE() == 0) {
            opened_ = true;
        } else if (ERRORCODE() == kLocked) {
            // Being made or locked by another program past the open's own wait.
            refusal_ = CurrentError();
            Vrn$clearerror();
            return;
        } else if (ERRORCODE() != kAlreadyOpen) {
            // A table that does not exist, or that its driver cannot open (damaged keys, a foreign
            // file), is in use by nobody: its files are copied as they are.
            Vrn$clearerror();
            return;
        }
        // Saves that follow one another closely can keep the table busy past one LOGOUT's wait:
        // try again in their pauses, for a while.
        const auto give_up = std::chrono::steady_clock::now() + kHoldWait;
        LOGOUT(kTransactionSeconds, file_);
        // A transaction of this program's own is not waited for: it cannot end while this runs.
        while (ERRORCODE() != 0 && ERRORCODE() != kLogoutActive && std::chrono::steady_clock::now() < give_up) {
            std::this_thread::sleep_for(kHoldRetry);
            LOGOUT(kTransactionSeconds, file_);
        }
        in_transaction_ = ERRORCODE() == 0;
        if (!in_transaction_)
            refusal_ = CurrentError();
        Vrn$clearerror();
    }
    ~TableHold() {
        if (in_transaction_)
            ROLLBACK();
        if (opened_)
            CLOSE(file_);
    }
    TableHold(const TableHold&) = delete;
    TableHold& operator=(const TableHold&) = delete;
    FileDecl* File() const { return file_; }
    // Why the table could not be held ("" when it is held or needs no hold).
    const std::string& Refusal() const { return refusal_; }

  private:
    FileDecl* file_;
    bool opened_ = false;
    bool in_transaction_ = false;
    std::string refusal_;
};

void ShowNotCopied(const CopyOutcome& outcome, CopyDirection direction) {
    if (outcome.not_copied.empty())
        return;
    std::string text = direction == CopyDirection::kBackup ? "These data files were not backed up:"
                                                           : "These data files were not reloaded:";
    for (const std::string& line : outcome.not_copied)
        text += "\n" + line;
    CString<4096> message(text.c_str());
    MESSAGE(message, direction == CopyDirection::kBackup ? "Backup Incomplete" : "Reload Incomplete",
            VRN_ICON_EXCLAMATION, VRN_BUTTON_OK, VRN_BUTTON_OK);
}

} // namespace

CopyOutcome CopyDataFiles(CopyDirection direction) {
    const std::string from = direction == CopyDirection::kBackup ? kDataFolder : kBackupFolder;
    const std::string to = direction == CopyDirection::kBackup ? kBackupFolder : kDataFolder;
    CopyOutcome outcome;
    // The backup folder on a first backup, the data folder on a reload onto a new machine.
    MKDIR(to);
    if (ERRORCODE() != 0) {
        outcome.not_copied.push_back(to + ": " + CurrentError());
        return outcome;
    }

    std::unique_ptr<TableHold> hold;
    for (const char* name : kBackupFileNames) {
        FileDecl* table = TableOf(name);
        // The provider table's three files are copied under one hold.
        if (hold != nullptr && hold->File() != table)
            hold.reset();
        if (table != nullptr && hold == nullptr)
            hold = std::make_unique<TableHold>(table);
        if (hold != nullptr && !hold->Refusal().empty()) {
            outcome.not_copied.push_back(std::string(name) + ": " + hold->Refusal());
            continue;
        }
        COPY(from + name, to + name);
        if (ERRORCODE() == 0)
            outcome.copied.push_back(name);
        else if (ERRORCODE() != kFileNotFound)
            outcome.not_copied.push_back(std::string(name) + ": " + CurrentError());
    }
    hold.reset();
    if (direction == CopyDirection::kReload && outcome.copied.empty() && outcome.not_copied.empty())
        outcome.not_copied.push_back(std::string("no backup files were found in ") + kBackupFolder);
    return outcome;
}

CopyOutcome BackupDataFiles() {
    CopyOutcome outcome = CopyDataFiles(CopyDirection::kBackup);
    ShowNotCopied(outcome, CopyDirection::kBackup);
    return outcome;
}

CopyOutcome ReloadBackupFiles() {
    CopyOutcome outcome = CopyDataFiles(CopyDirection::kReload);
    ShowNotCopied(outcome, CopyDirection::kReload);
    return outcome;
}

} // namespace lumarex
