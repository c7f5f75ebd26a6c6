// SPDX-License-Identifier: GPL-3.0-or-later
// The backup and reload copies over real data files in a temporary drive: every file copied in
// order and checked by the sqlite3 shell, a reload over changed data, an incomplete backup folder,
// a missing backup folder created, copies that fail named to the user, and backups taken while
// another process keeps saving claims, each copy whole.
#include <gtest/gtest.h>

#include <cctype>

#include <chrono>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "tests/app_test_support.h"
#include "data/dictionary.h"
#include "kelstore/kelstore.h"
#include "platform/platform.h"
#include "procedures/procedures.h"
#include "shared/backup_copies.h"
#include "shared/data_files.h"
#include "windows/driver.h"
#include "tarvex/files.hpp"
#include "tarvex/frame.h"
#include "tarvex/program.hpp"
#include "varnel/varnel.h"

namespace lumarex {
namespace {

namespace fs = std::filesystem;
namespace platform = tarvex::platform;
using namespace tarvex;

using testing::Boxes;

std::string ReadBytes(const fs::path& path) {
    std::ifstream in(path, std::ios::binary);
    std::stringstream bytes;
    bytes << in.rdbuf();
    return bytes.str();
}

// What the sqlite3 shell answers to `sql` on `file`.
std::string Sqlite(const fs::path& file, const std::string& sql) {
    const fs::path out = fs::temp_directory_path() / ("lum-sqlite-" + std::to_string(::testing::UnitTest::GetInstance()->random_seed()) + ".txt");
    const std::string command = "sqlite3 -readonly '" + file.string() + "' \"" + sql + "\" > '" + out.string() + "' 2>&1";
    const int status = std::system(command.c_str());
    std::string answer = ReadBytes(out);
    fs::remove(out);
    while (!answer.empty() && answer.back() == '\n')
        answer.pop_back();
    return status == 0 ? answer : "sqlite3 failed: " + answer;
}

// The number of records in a table file, counted by the sqlite3 shell in its record table.
// A data file's records are in the table named after the file ("Item.kel": table item).
std::string RecordTable(const fs::path& file) {
    std::string table = file.stem().string();
    for (char& c : table)
        c = char(std::tolower(static_cast<unsigned char>(c)));
    return table;
}

std::string ShellRecordCount(const fs::path& file) {
    return Sqlite(file, "SELECT count(*) FROM " + RecordTable(file));
}

class BackupCopiesTest : public testing::DataDriveTest {
  protected:
    fs::path backup = drive.Root() / "LUMAREX" / "Backup";

    // Every table created, with patients 1..`patients`, a claim each with two lines, a provider.
    static void MakeData(int patients) {
        ProcedureFiles files;
        for (FileDecl* file : DictionaryFiles())
            files.Use(file);
        LOGOUT(2, Patient, Invoice, Item);
        ASSERT_EQ(ERRORCODE(), 0);
        for (int pat = 1; pat <= patients; pat++) {
            CLEAR(Patient);
            Patient.record.PAT = int64_t(pat);
            Patient.record.LNAME = ("Patient " + std::to_string(pat)).c_str();
            ADD(Patient);
            CLEAR(Invoice);
            Invoice.record.PAT = int64_t(pat);
            Invoice.record.INV = int64_t(pat);
            ADD(Invoice);
            for (int line = 1; line <= 2; line++) {
                CLEAR(Item);
                Item.record.PAT = int64_t(pat);
                Item.record.INV = int64_t(pat);
                Item.record.DOSF = ("2026040" + std::to_string(line)).c_str();
                ADD(Item);
            }
        }
        COMMIT();
        ASSERT_EQ(ERRORCODE(), 0);
        CLEAR(Provider);
        Provider.record.PRV = int64_t(1);
        Provider.record.PNAME = "First Clinic";
        ADD(Provider);
    }
    static std::vector<std::string> ExistingNames() {
        std::vector<std::string> names;
        for (const char* name : kBackupFileNames)
            if (std::string(name) != "Provider.kel")
                names.push_back(name);
        return names;
    }
    static int32_t PatientCount() {
        ProcedureFiles files;
        files.Use(Patient);
        return RECORDS(Patient);
    }
};

TEST_F(BackupCopiesTest, ABackupCopiesEveryFileInOrderIntoANewFolder) {
    MakeData(5);
    ASSERT_FALSE(fs::exists(backup));
    CopyOutcome outcome = BackupDataFiles();
    EXPECT_EQ(outcome.copied, ExistingNames());  // no Provider.kel: skipped without a word
    EXPECT_TRUE(outcome.not_copied.empty());
    EXPECT_TRUE(Boxes().Transcript().empty());
    EXPECT_EQ(fs::status(backup).permissions() & fs::perms::all, fs::perms::owner_all);
    for (const std::string& name : outcome.copied) {
        SCOPED_TRACE(name);
        EXPECT_EQ(fs::file_size(backup / name), fs::file_size(data / name));
        EXPECT_EQ(ReadBytes(backup / name), ReadBytes(data / name));
        EXPECT_EQ(Sqlite(backup / name, "PRAGMA integrity_check"), "ok");
        EXPECT_EQ(fs::status(backup / name).permissions() & fs::perms::all,
                  fs::perms::owner_read | fs::perms::owner_write);
    }
    EXPECT_EQ(ShellRecordCount(backup / "Patient.kel"), "5");
    EXPECT_EQ(ShellRecordCount(backup / "Item.kel"), "10");
    EXPECT_EQ(ShellRecordCount(backup / "Provider.dat"), "1");
}

TEST_F(BackupCopiesTest, AReloadPutsTheBackupOverChangedData) {
    MakeData(3);
    BackupDataFiles();
    MakeData(0);
    {
        ProcedureFiles files;
        files.Use(Patient);
        CLEAR(Patient);
        Patient.record.PAT = int64_t(9);
        ADD(Patient);
    }
    ASSERT_EQ(PatientCount(), 4);
    CopyOutcome outcome = ReloadBackupFiles();
    EXPECT_EQ(outcome.copied, ExistingNames());
    EXPECT_TRUE(outcome.not_copied.empty());
    EXPECT_TRUE(Boxes().Transcript().empty());
    EXPECT_EQ(PatientCount(), 3);
    for (const std::string& name : outcome.copied)
        EXPECT_EQ(ReadBytes(backup / name), ReadBytes(data / name)) << name;
    // No temporary copies stay behind.
    for (const auto& entry : fs::directory_iterator(data))
        EXPECT_NE(entry.path().filename().string()[0], '.') << entry.path();
}

TEST_F(BackupCopiesTest, AReloadFromAnIncompleteBackupReplacesOnlyWhatItHolds) {
    MakeData(3);
    BackupDataFiles();
    fs::remove(backup / "Patient.kel");
    fs::remove(backup / "Auth.kel");
    {
        ProcedureFiles files;
        files.Use(Patient);
        files.Use(Cpt48);
        CLEAR(Patient);
        Patient.record.PAT = int64_t(9);
        ADD(Patient);
        CLEAR(Cpt48);
        Cpt48.record.CPTCODE = "99213";
        ADD(Cpt48);
    }
    CopyOutcome outcome = ReloadBackupFiles();
    EXPECT_TRUE(outcome.not_copied.empty());
    EXPECT_EQ(outcome.copied.size(), ExistingNames().size() - 2);
    EXPECT_EQ(PatientCount(), 4);  // kept: not in the backup
    ProcedureFiles files;
    files.Use(Cpt48);
    EXPECT_EQ(RECORDS(Cpt48), 0);  // replaced by the backup's empty table
    EXPECT_TRUE(Boxes().Transcript().empty());
}

TEST_F(BackupCopiesTest, FilesThatCouldNotBeCopiedAreNamed) {
    MakeData(2);
    fs::remove(data / "Referring.kel");
    fs::create_directories(data / "Referring.kel");  // a folder where a data file should be
    CopyOutcome outcome = BackupDataFiles();
    ASSERT_EQ(outcome.not_copied.size(), 1u);
    EXPECT_EQ(outcome.not_copied[0], "Referring.kel: Access Denied (5)");
    EXPECT_EQ(outcome.copied.size(), ExistingNames().size() - 1);  // the others were still copied
    auto shown = Boxes().Transcript();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].request.caption, "Backup Incomplete");
    EXPECT_EQ(shown[0].request.text, "These data files were not backed up:\n" + outcome.not_copied[0]);
    EXPECT_EQ(shown[0].request.icon, VRN_ICON_EXCLAMATION);
}

// A KELSTORE whose files another program keeps locked.
intptr_t LockedElsewhere(int32_t operation, FileDecl* file, const intptr_t* arguments) {
    if (operation == VRN_OP_OPEN) {
        Vrn$seterror(32);
        return 0;
    }
    return KELSTORE(operation, file, arguments);
}

TEST_F(BackupCopiesTest, ATableLockedByAnotherProgramIsNotCopiedAndSaidSo) {
    MakeData(1);
    ReleaseDataFiles(0);
    Payer.Decl()->driver = &LockedElsewhere;
    CopyOutcome outcome = BackupDataFiles();
    Payer.Decl()->driver = KELSTORE;
    EXPECT_EQ(outcome.not_copied, std::vector<std::string>{"Payer.kel: File Is Already Locked (32)"});
    EXPECT_FALSE(fs::exists(backup / "Payer.kel"));
    EXPECT_EQ(outcome.copied.size(), ExistingNames().size() - 1);
    ASSERT_EQ(Boxes().Transcript().size(), 1u);
    EXPECT_EQ(Boxes().Transcript()[0].request.text,
              "These data files were not backed up:\nPayer.kel: File Is Already Locked (32)");
}

TEST_F(BackupCopiesTest, ABackupFolderThatCannotBeMadeIsReported) {
    MakeData(1);
    std::ofstream(drive.Root() / "LUMAREX" / "Backup") << "a file where the folder should be";
    CopyOutcome outcome = BackupDataFiles();
    EXPECT_TRUE(outcome.copied.empty());
    ASSERT_EQ(outcome.not_copied.size(), 1u);
    EXPECT_EQ(outcome.not_copied[0], "C:\\LUMAREX\\Backup\\: Access Denied (5)");
    ASSERT_EQ(Boxes().Transcript().size(), 1u);
}

TEST_F(BackupCopiesTest, AReloadWithoutABackupSaysSoAndChangesNothing) {
    MakeData(2);
    const std::string before = ReadBytes(data / "Patient.kel");
    CopyOutcome outcome = ReloadBackupFiles();
    EXPECT_TRUE(outcome.copied.empty());
    ASSERT_EQ(outcome.not_copied.size(), 1u);
    EXPECT_EQ(outcome.not_copied[0], "no backup files were found in C:\\LUMAREX\\Backup\\");
    auto shown = Boxes().Transcript();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].request.caption, "Reload Incomplete");
    EXPECT_EQ(ReadBytes(data / "Patient.kel"), before);
}

TEST_F(BackupCopiesTest, AReloadOntoAMachineWithoutDataMakesTheDataFolder) {
    MakeData(2);
    BackupDataFiles();
    ReleaseDataFiles(0);
    for (FileDecl* file : DictionaryFiles())
        Vrn$FILE_CLOSE(file);
    fs::remove_all(data);
    CopyOutcome outcome = ReloadBackupFiles();
    EXPECT_TRUE(outcome.not_copied.empty());
    EXPECT_EQ(outcome.copied, ExistingNames());
    EXPECT_EQ(PatientCount(), 2);
    EXPECT_TRUE(Boxes().Transcript().empty());
}

TEST_F(BackupCopiesTest, AMissingDataFileIsSkippedSilently) {
    MakeData(1);
    fs::remove(data / "Payer.kel");
    CopyOutcome outcome = BackupDataFiles();
    EXPECT_TRUE(outcome.not_copied.empty());
    EXPECT_EQ(outcome.copied.size(), ExistingNames().size() - 1);
    EXPECT_FALSE(fs::exists(backup / "Payer.kel"));
    EXPECT_TRUE(Boxes().Transcript().empty());
}

// ---- A program that died in the middle of a save ---------------------------------------------------

// Leaves `file` as a program that died halfway through a transaction leaves it: the sqlite3 shell
// deletes every second record with almost no cache, so that it writes into the file before the
// end of the transaction, and is killed there. The file then holds half a transaction, and its
// journal the way back.
void DieHalfwayThroughASave(const fs::path& file) {
    const std::string table = RecordTable(file);
    const std::string command = "sqlite3 '" + file.string() + "' \"PRAGMA cache_size=2; BEGIN; DELETE FROM " +
                                table + " WHERE rowid % 2 = 0;\" \".shell kill -9 \\$PPID\" >/dev/null 2>&1";
    std::system(command.c_str());
    ASSERT_TRUE(fs::exists(file.string() + "-journal"));
}

TEST_F(BackupCopiesTest, ABackupNeverCopiesHalfASave) {
    MakeData(200);  // 400 service lines
    ReleaseDataFiles(0);
    DieHalfwayThroughASave(data / "Item.kel");
    CopyOutcome outcome = BackupDataFiles();
    EXPECT_TRUE(outcome.not_copied.empty());
    // The copy has no journal beside it: it must hold the whole file as it was before that save.
    EXPECT_FALSE(fs::exists(backup / "Item.kel-journal"));
    EXPECT_EQ(Sqlite(backup / "Item.kel", "PRAGMA integrity_check"), "ok");
    EXPECT_EQ(ShellRecordCount(backup / "Item.kel"), "400");
}

TEST_F(BackupCopiesTest, AReloadNeverLeavesAnOldSavesJournalBesideTheNewFile) {
    MakeData(200);
    ReleaseDataFiles(0);
    BackupDataFiles();
    {
        ProcedureFiles files;
        files.Use(Item);
        CLEAR(Item);
        Item.record.INV = int64_t(999);
        ADD(Item);
    }
    DieHalfwayThroughASave(data / "Item.kel");
    CopyOutcome outcome = ReloadBackupFiles();
    EXPECT_TRUE(outcome.not_copied.empty());
    EXPECT_FALSE(fs::exists(data / "Item.kel-journal"));
    EXPECT_EQ(ReadBytes(data / "Item.kel"), ReadBytes(backup / "Item.kel"));
    EXPECT_EQ(ShellRecordCount(data / "Item.kel"), "400");
    ProcedureFiles files;
    files.Use(Item);
    EXPECT_EQ(RECORDS(Item), 400);
}

// ---- Backups while another program saves claims ------------------------------------------------------

// Run by the test below in a process of its own on the same drive: saves claims, each with
// kLinesPerClaim service lines in one transaction, until the file "stop" appears in the drive's
// root. A transaction that big rewrites many pages of the file as it commits.
constexpr int kLinesPerClaim = 20;
// The program as a clerk uses it: the frame and its menu, an item that is not part of the program
// yet, a reload cancelled, a backup confirmed, then Exit.
TEST_F(BackupCopiesTest, TheFrameBacksUpThroughItsConfirmationAndCancelCopiesNothing) {
    MakeData(3);
    static std::vector<std::string> transcript;
    transcript.clear();
    int failed = -1;
    std::thread clerk([&failed] {
        tarvex::windows::Driver driver(std::chrono::seconds(10));
        failed = tarvex::windows::RunScript(
            "wait \"ORVANTIS [CMS 1500 - 02/2012]\"\n"
            "choose \"ORVANTIS [CMS 1500 - 02/2012]\" \"&Account Menu|&Invoice Browser ...\"\n"
            "message \"The Procedure Patient Account Browser has not been defined.\"\n"
            "choose \"ORVANTIS [CMS 1500 - 02/2012]\" \"&Backup/Reload Utilities|Reload backup files\"\n"
            "press \"Confirm Reload\" \"&Cancel\"\n"
            "closed \"Confirm Reload\"\n"
            "choose \"ORVANTIS [CMS 1500 - 02/2012]\" \"&Backup/Reload Utilities|Backup files\"\n"
            "press \"Confirm Backup\" \"&OK\"\n"
            "closed \"Confirm Backup\"\n"
            "choose \"ORVANTIS [CMS 1500 - 02/2012]\" \"&Account Menu|E&xit\"\n"
            "closed \"ORVANTIS [CMS 1500 - 02/2012]\"\n",
            driver, [](std::string_view line) { transcript.emplace_back(line); });
    });
    MainFrame();
    clerk.join();
    EXPECT_EQ(failed, 0) << ::testing::PrintToString(transcript);
    EXPECT_EQ(ActionResult, kCancelled);
    ASSERT_EQ(Boxes().Transcript().size(), 1u);   // message 6 only: the cancelled reload said nothing
    EXPECT_EQ(Boxes().Transcript()[0].request.caption, "Procedure not defined");
    EXPECT_EQ(ShellRecordCount(backup / "Patient.kel"), "3");
    EXPECT_EQ(ShellRecordCount(data / "Patient.kel"), "3");
    // The frame left its place for the next start, in a file only the clerk can read.
    std::string positions = ReadBytes("LUMTRI~1.INI");
    EXPECT_NE(positions.find("[Main]"), std::string::npos) << positions;
    EXPECT_NE(positions.find("Maximize=Yes"), std::string::npos) << positions;
    EXPECT_EQ(fs::status("LUMTRI~1.INI").permissions() & fs::perms::all, fs::perms::owner_read | fs::perms::owner_write);
}

TEST(BackupWriter, DISABLED_SavesClaimsUntilStopped) {
    const fs::path root = std::getenv("TARVEX_DRIVE_C");
    BindFileDrivers(KELSTORE, VARNEL);
    ProcedureFiles files;
    files.Use(Invoice);
    files.Use(Item);
    int saved = 0;
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    for (int claim = 1; !fs::exists(root / "stop") && std::chrono::steady_clock::now() < give_up; claim++) {
        LOGOUT(2, Invoice, Item);
        if (ERRORCODE() != 0)
            continue;
        CLEAR(Invoice);
        Invoice.record.PAT = int64_t(1);
        Invoice.record.INV = int64_t(claim);
        ADD(Invoice);
        bool ok = ERRORCODE() == 0;
        for (int line = 1; ok && line <= kLinesPerClaim; line++) {
            CLEAR(Item);
            Item.record.PAT = int64_t(1);
            Item.record.INV = int64_t(claim);
            Item.record.DOSF = ("202605" + std::to_string(10 + line)).c_str();
            Item.record.DES = ("Service line " + std::to_string(line) + " of claim " + std::to_string(claim)).c_str();
            ADD(Item);
            ok = ERRORCODE() == 0;
        }
        if (ok) {
            COMMIT();
            ok = ERRORCODE() == 0;
        }
        if (!ok) {
            ROLLBACK();
            continue;
        }
        if (++saved == 1)
            std::ofstream(root / "started") << "1";
        // A clerk saves now and then, not without a pause.
        std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    EXPECT_GT(saved, 0);
}

TEST_F(BackupCopiesTest, BackupsTakenWhileAnotherProgramSavesAreWholeCopies) {
    MakeData(0);
    ReleaseDataFiles(0);
    const fs::path root = drive.Root();
    int writer_status = -1;
    std::thread writer([&] {
        const std::string command = "'" + platform::ExecutablePath() +
                                    "' --gtest_also_run_disabled_tests "
                                    "--gtest_filter=BackupWriter.DISABLED_SavesClaimsUntilStopped >/dev/null 2>&1";
        writer_status = std::system(command.c_str());
    });
    for (int wait = 0; wait < 1000 && !fs::exists(root / "started"); wait++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(fs::exists(root / "started"));

    std::vector<int32_t> claims_seen;
    for (int round = 0; round < 5; round++) {
        CopyOutcome outcome = CopyDataFiles(CopyDirection::kBackup);
        EXPECT_TRUE(outcome.not_copied.empty()) << outcome.not_copied[0];
        for (const char* name : {"Invoice.kel", "Item.kel"})
            EXPECT_EQ(Sqlite(backup / name, "PRAGMA integrity_check"), "ok") << name;
        // Read the copies with the program's own declarations: every claim in the copy of the
        // service lines has all its lines.
        const char* declared = Item.Decl()->name;
        const int32_t declared_length = Item.Decl()->name_length;
        const std::string copy_name = "C:\\LUMAREX\\Backup\\Item.kel";
        Item.Decl()->name = copy_name.c_str();
        Item.Decl()->name_length = int32_t(copy_name.size());
        OPEN(Item, ReadOnly | DenyNone);
        EXPECT_EQ(ERRORCODE(), 0);
        std::map<int32_t, int> lines;
        SET(Item);
        for (NEXT(Item); ERRORCODE() == 0; NEXT(Item))
            lines[Item.record.INV.Long()]++;
        CLOSE(Item);
        Item.Decl()->name = declared;
        Item.Decl()->name_length = declared_length;
        for (const auto& [claim, count] : lines)
            EXPECT_EQ(count, kLinesPerClaim) << "claim " << claim << " in round " << round;
        claims_seen.push_back(int32_t(lines.size()));
    }
    std::ofstream(root / "stop") << "1";
    writer.join();
    EXPECT_EQ(writer_status, 0);
    // The writer kept saving while the backups were taken.
    EXPECT_LT(claims_seen.front(), claims_seen.back());
}

}  // namespace
}  // namespace lumarex
