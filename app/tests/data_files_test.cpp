// SPDX-License-Identifier: GPL-3.0-or-later
// OpenDataFile over real files in a temporary drive: a missing file created silently with its
// keys, damaged keys rebuilt on Yes and the end of the program on No, an invalid file, a file that
// cannot be opened, a file left locked; and the use counts, released on every way out of a
// procedure.
#include <gtest/gtest.h>

#include <csetjmp>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <string>

#include "tests/app_test_support.h"
#include "data/dictionary.h"
#include "kelstore/kelstore.h"
#include "platform/platform.h"
#include "shared/data_files.h"
#include "shared/standard_messages.h"
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
using testing::ShownBoxes;

bool IsOpen(FileRef file) {
    return Vrn$STATUSfile(file.decl) != 0;
}

// Inside a death test: the captions and texts of every box shown, checked as the program ends
// against `expected_boxes`; a mismatch ends the child with code 99. The child's drive goes too,
// since the program's end runs no destructors.
std::string expected_boxes;
fs::path child_drive;
void CheckBoxesAtExit() {
    std::error_code ignored;
    fs::current_path(fs::temp_directory_path(), ignored);
    fs::remove_all(child_drive, ignored);
    if (ShownBoxes() != expected_boxes) {
        std::fprintf(stderr, "expected %s\ngot      %s\n", expected_boxes.c_str(), ShownBoxes().c_str());
        std::_Exit(99);
    }
    std::fputs("boxes ok", stderr);
}

// Runs `body` in a child process, which must end the program (HALT) with the boxes of
// `expected_boxes` shown; `body` may set them itself.
template <class Body> void ExpectTheProgramToEnd(Body body) {
    EXPECT_EXIT(
        {
            _atexit(&CheckBoxesAtExit);
            body();
            std::exit(98);
        },
        ::testing::ExitedWithCode(kHaltExitCode), "boxes ok");
}

class DataFilesTest : public testing::DataDriveTest {
  protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        DataDriveTest::SetUp();
        child_drive = drive.Root();
    }
    static void AddProvider(int number, const char* name) {
        CLEAR(Provider);
        Provider.record.PRV = int64_t(number);
        Provider.record.PNAME = name;
        ADD(Provider);
        ASSERT_EQ(ERRORCODE(), 0);
    }
};

TEST_F(DataFilesTest, AMissingFileIsCreatedSilentlyWithItsKeys) {
    ASSERT_FALSE(fs::exists(data / "Patient.kel"));
    UseDataFile(Patient);
    EXPECT_TRUE(Boxes().Transcript().empty());
    EXPECT_TRUE(IsOpen(Patient));
    EXPECT_EQ(fs::status(data / "Patient.kel").permissions() & fs::perms::all,
              fs::perms::owner_read | fs::perms::owner_write);
    // The keys exist: the unique one refuses a second patient 7, the name key finds by name.
    for (const char* name : {"Adams", "Baker"}) {
        CLEAR(Patient);
        Patient.record.PAT = int64_t(7);
        Patient.record.LNAME = name;
        ADD(Patient);
    }
    EXPECT_EQ(ERRORCODE(), 40);
    CLEAR(Patient);
    Patient.record.LNAME = "ADAMS";
    GET(Patient.Key("PAT:LNAMEKEY"));
    EXPECT_EQ(ERRORCODE(), 0);
    EXPECT_EQ(Patient.record.PAT.Long(), 7);

    // The Varnel table gets its data file and one file per key.
    UseDataFile(Provider);
    EXPECT_TRUE(fs::exists(data / "Provider.dat"));
    EXPECT_TRUE(fs::exists(data / "Provider.K01"));
    EXPECT_TRUE(fs::exists(data / "Provider.K02"));
    EXPECT_TRUE(Boxes().Transcript().empty());
}

TEST_F(DataFilesTest, DamagedKeysAreRebuiltWhenTheUserSaysYes) {
    UseDataFile(Provider);
    AddProvider(1, "First Clinic");
    AddProvider(2, "Second Clinic");
    ReleaseDataFiles(0);
    ASSERT_FALSE(IsOpen(Provider));
    fs::remove(data / "Provider.K02");

    Boxes().QueueAnswer(VRN_BUTTON_YES);
    UseDataFile(Provider);
    EXPECT_EQ(ShownBoxes(), "[Invalid Key|C:\\LUMAREX\\DATA\\Provider.dat key file is invalid.  Do you want to "
                            "rebuild the key?]");
    EXPECT_TRUE(IsOpen(Provider));
    EXPECT_TRUE(fs::exists(data / "Provider.K02"));
    CLEAR(Provider);
    Provider.record.PNAME = "second clinic";
    GET(Provider.Key("PRV:LNAMEKEY"));
    EXPECT_EQ(ERRORCODE(), 0);
    EXPECT_EQ(Provider.record.PRV.Long(), 2);
}

TEST_F(DataFilesTest, DamagedKeysEndTheProgramWhenTheUserSaysNo) {
    UseDataFile(Provider);
    AddProvider(1, "First Clinic");
    ReleaseDataFiles(0);
    fs::remove(data / "Provider.K01");
    expected_boxes = "[Invalid Key|C:\\LUMAREX\\DATA\\Provider.dat key file is invalid.  Do you want to rebuild the "
                     "key?][Halt|Invalid Key!]";
    ExpectTheProgramToEnd([&] {
        Boxes().QueueAnswer(VRN_BUTTON_NO);
        UseDataFile(Provider);
    });
}

TEST_F(DataFilesTest, AFileOfAnotherTableEndsTheProgramAsInvalid) {
    UseDataFile(Cpt48);
    ReleaseDataFiles(0);
    fs::copy_file(data / "Cpt48.kel", data / "Patient.kel");
    expected_boxes = "[Invalid File|Error: (Invalid Record Declaration (47)) accessing C:\\LUMAREX\\DATA\\Patient.kel.  "
                     "Press OK to end this application.][Halt|Invalid File!]";
    ExpectTheProgramToEnd([&] { UseDataFile(Patient); });
}

TEST_F(DataFilesTest, AFileThatIsNoDataFileEndsWithDiskError) {
    std::ofstream(data / "Patient.kel") << "this is not a data file, whatever its name says";
    expected_boxes = "[File Access Error|File (C:\\LUMAREX\\DATA\\Patient.kel) could not be opened.  Error: Invalid "
                     "Data File (36).][Halt|Disk Error]";
    ExpectTheProgramToEnd([&] { UseDataFile(Patient); });
}

TEST_F(DataFilesTest, AFileThatCannotBeOpenedEndsWithDiskError) {
    fs::create_directories(data / "Patient.kel");  // a folder where the file should be
    expected_boxes = "[File Access Error|File (C:\\LUMAREX\\DATA\\Patient.kel) could not be opened.  Error: Access "
                     "Denied (5).][Halt|Disk Error]";
    ExpectTheProgramToEnd([&] { UseDataFile(Patient); });
}

TEST_F(DataFilesTest, WithoutCreationAMissingFileEndsTheProgram) {
    expected_boxes = "[File Creation Not Allowed|The File C:\\LUMAREX\\DATA\\Patient.kelwas not found, and creation "
                     "of the file is not allowed.  Press OK to end this application.][Halt|File Creation Error!]";
    ExpectTheProgramToEnd([&] { OpenDataFile(Patient, false); });
    EXPECT_FALSE(fs::exists(data / "Patient.kel"));
}

TEST_F(DataFilesTest, AFileThatCannotBeCreatedEndsTheProgram) {
    fs::remove(data);  // no data folder: CREATE fails
    expected_boxes = "[File Creation Error|Error: (Path Not Found (3)) creating C:\\LUMAREX\\DATA\\Patient.kel.  Press "
                     "OK to end this application.][Halt|File Creation Error!]";
    ExpectTheProgramToEnd([&] { UseDataFile(Patient); });
}

// A driver that reports the file locked at its first OPEN and counts the SEND commands it is
// given; everything else goes to KELSTORE.
int locked_opens = 0;
int sends = 0;
intptr_t LockedOnce(int32_t operation, FileDecl* file, const intptr_t* arguments) {
    if (operation == VRN_OP_OPEN && locked_opens-- > 0) {
        Vrn$seterror(32);
        return 0;
    }
    if (operation == VRN_OP_SEND)
        sends++;
    return KELSTORE(operation, file, arguments);
}

TEST_F(DataFilesTest, ALockedFileIsRecoveredAndOpenedAgain) {
    UseDataFile(Patient);  // create it
    ReleaseDataFiles(0);
    Patient.Decl()->driver = &LockedOnce;
    locked_opens = 1;
    sends = 0;
    UseDataFile(Patient);
    EXPECT_EQ(sends, 1);
    EXPECT_TRUE(IsOpen(Patient));
    EXPECT_TRUE(Boxes().Transcript().empty());
    ReleaseDataFiles(0);

    // Locked twice over: the recovery did not help, and the program ends.
    expected_boxes = "[File Access Error|File (C:\\LUMAREX\\DATA\\Patient.kel) could not be opened.  Error: File Is "
                     "Already Locked (32).][Halt|Disk Error]";
    ExpectTheProgramToEnd([&] {
        Patient.Decl()->driver = &LockedOnce;
        locked_opens = 2;
        UseDataFile(Patient);
    });
    Patient.Decl()->driver = KELSTORE;
}

// ---- Use counts ----------------------------------------------------------------------------------

void BrowsePatients(bool leave_early) {
    ProcedureFiles files;
    files.Use(Patient);
    files.Use(Invoice);
    if (leave_early)
        return;
    files.Use(Item);
}

std::jmp_buf error_exit;
void FailingForm() {
    ProcedureFiles files;
    files.Use(Invoice);
    files.Use(Item);
    std::longjmp(error_exit, 1);
}

TEST_F(DataFilesTest, UseCountsShareOneOpenAndCloseWithTheLastUse) {
    UseDataFile(Patient);
    UseDataFile(Patient);
    EXPECT_EQ(DataFileUseCount(Patient), 2);
    const int32_t mark = DataFileUseMark();
    UseDataFile(Invoice);
    ReleaseDataFiles(mark);
    EXPECT_FALSE(IsOpen(Invoice));
    EXPECT_EQ(DataFileUseCount(Invoice), 0);
    ReleaseDataFiles(1);
    EXPECT_EQ(DataFileUseCount(Patient), 1);
    EXPECT_TRUE(IsOpen(Patient));
    ReleaseDataFiles(0);
    EXPECT_FALSE(IsOpen(Patient));
    ReleaseDataFiles(0);  // nothing left: no count goes below 0
    EXPECT_EQ(DataFileUseCount(Patient), 0);
}

TEST_F(DataFilesTest, UseCountsAreReleasedOnEveryWayOutOfAProcedure) {
    UseDataFile(Patient);  // the frame's own use
    BrowsePatients(false);
    EXPECT_EQ(DataFileUseCount(Patient), 1);
    EXPECT_EQ(DataFileUseCount(Invoice), 0);
    EXPECT_EQ(DataFileUseCount(Item), 0);
    EXPECT_TRUE(IsOpen(Patient));
    EXPECT_FALSE(IsOpen(Invoice));
    EXPECT_FALSE(IsOpen(Item));

    BrowsePatients(true);
    EXPECT_EQ(DataFileUseCount(Patient), 1);
    EXPECT_EQ(DataFileUseCount(Invoice), 0);
    EXPECT_FALSE(IsOpen(Invoice));

    const int32_t mark = DataFileUseMark();
    if (setjmp(error_exit) == 0) {
        FailingForm();
        FAIL() << "the form returned";
    } else {
        ReleaseDataFiles(mark);
    }
    EXPECT_EQ(DataFileUseCount(Invoice), 0);
    EXPECT_EQ(DataFileUseCount(Item), 0);
    EXPECT_FALSE(IsOpen(Invoice));
    EXPECT_FALSE(IsOpen(Item));
    EXPECT_EQ(DataFileUseCount(Patient), 1);
    EXPECT_TRUE(IsOpen(Patient));
}

}  // namespace
}  // namespace lumarex
