// SPDX-License-Identifier: GPL-3.0-or-later
// Deletes and changes with the relations kept, over real files in a temporary drive: a patient
// deleted with its claims and their service lines in one transaction, a failure in the middle of
// that delete undoing all of it, a transaction that cannot be framed, a change refused by a key,
// and two processes changing one record.
#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <fstream>
#include <thread>
#include <utility>
#include <vector>
#include <filesystem>
#include <string>

#include "tests/app_test_support.h"
#include "data/dictionary.h"
#include "kelstore/kelstore.h"
#include "platform/platform.h"
#include "shared/data_files.h"
#include "shared/integrity.h"
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

std::string Clipped(std::string_view text) {
    return std::string(text.substr(0, text.find_last_not_of(' ') + 1));
}

// A KELSTORE that fails one operation: the `failing_count`-th `failing_operation` from now.
int32_t failing_operation = 0;
int failing_count = 0;
intptr_t FailingOnce(int32_t operation, FileDecl* file, const intptr_t* arguments) {
    if (operation == failing_operation && failing_count > 0 && --failing_count == 0) {
        Vrn$seterror(5);
        return 0;
    }
    return KELSTORE(operation, file, arguments);
}
void FailItems(int32_t operation, int count) {
    Item.Decl()->driver = &FailingOnce;
    failing_operation = operation;
    failing_count = count;
}

class IntegrityTest : public testing::DataDriveTest {
  protected:
    void SetUp() override {
        DataDriveTest::SetUp();
        Fill();
        // As a patient browse would have it: only the patient file in use.
        UseDataFile(Patient);
    }
    void TearDown() override {
        Item.Decl()->driver = KELSTORE;
        DataDriveTest::TearDown();
    }

    // Patients 1 and 2; patient 1 has claims 101 (provider 1) and 102 (provider 2), patient 2 has
    // claim 201; three service lines on every claim.
    static void Fill() {
        ProcedureFiles files;
        files.Use(Patient);
        files.Use(Invoice);
        files.Use(Item);
        for (int pat : {1, 2}) {
            CLEAR(Patient);
            Patient.record.PAT = int64_t(pat);
            Patient.record.LNAME = pat == 1 ? "Adams" : "Baker";
            ADD(Patient);
            ASSERT_EQ(ERRORCODE(), 0);
        }
        for (int inv : {101, 102, 201}) {
            CLEAR(Invoice);
            Invoice.record.PAT = int64_t(inv / 100);
            Invoice.record.PRV = int64_t(inv % 100);
            Invoice.record.INV = int64_t(inv);
            ADD(Invoice);
            ASSERT_EQ(ERRORCODE(), 0);
            for (int day = 1; day <= 3; day++) {
                CLEAR(Item);
                Item.record.PAT = Invoice.record.PAT;
                Item.record.PRV = Invoice.record.PRV;
                Item.record.INV = Invoice.record.INV;
                Item.record.DOSF = ("2026030" + std::to_string(day)).c_str();
                Item.record.FEE = int64_t(10 * day);
                ADD(Item);
                ASSERT_EQ(ERRORCODE(), 0);
            }
        }
    }
    // Records in each file: "patients/claims/lines".
    static std::string Counts() {
        ProcedureFiles files;
        files.Use(Patient);
        files.Use(Invoice);
        files.Use(Item);
        return std::to_string(RECORDS(Patient)) + "/" + std::to_string(RECORDS(Invoice)) + "/" +
               std::to_string(RECORDS(Item));
    }
    // The claim numbers of the service lines, in record order.
    static std::string LineClaims() {
        ProcedureFiles files;
        files.Use(Item);
        std::string claims;
        SET(Item);
        for (NEXT(Item); ERRORCODE() == 0; NEXT(Item))
            claims += std::to_string(Item.record.INV.Long()) + " ";
        return claims;
    }
    static void GetPatient(int pat, bool watch = false) {
        CLEAR(Patient);
        Patient.record.PAT = int64_t(pat);
        if (watch)
            WATCH(Patient);
        GET(Patient.Key("PAT:PATKEY"));
        ASSERT_EQ(ERRORCODE(), 0);
    }
    static void ExpectOnlyThePatientFileInUse() {
        EXPECT_EQ(DataFileUseCount(Patient), 1);
        EXPECT_EQ(DataFileUseCount(Invoice), 0);
        EXPECT_EQ(DataFileUseCount(Item), 0);
        EXPECT_EQ(Vrn$STATUSfile(Invoice.Decl()), 0);
        EXPECT_EQ(Vrn$STATUSfile(Item.Decl()), 0);
    }
};

TEST_F(IntegrityTest, APatientIsDeletedWithItsClaimsAndTheirServiceLines) {
    ASSERT_EQ(Counts(), "2/3/9");
    GetPatient(1);
    EXPECT_EQ(RiDeleteRecord(Patient), 0);
    EXPECT_EQ(ShownBoxes(), "");
    EXPECT_EQ(Counts(), "1/1/3");
    EXPECT_EQ(LineClaims(), "201 201 201 ");
    CLEAR(Patient);
    Patient.record.PAT = int64_t(2);
    GET(Patient.Key("PAT:PATKEY"));
    EXPECT_EQ(ERRORCODE(), 0);
    ExpectOnlyThePatientFileInUse();
}

TEST_F(IntegrityTest, AFailureInTheMiddleOfADeleteUndoesAllOfIt) {
    GetPatient(1);
    // Claim 101 and its three lines go, then the first line of claim 102 cannot be deleted.
    FailItems(VRN_OP_DELETE, 4);
    EXPECT_EQ(RiDeleteRecord(Patient), 1);
    EXPECT_EQ(ShownBoxes(), "[Delete Operation Error|An error (Access Denied (5)) was experienced when attempting "
                            "to delete a record from the file Item.]");
    Item.Decl()->driver = KELSTORE;
    EXPECT_EQ(Counts(), "2/3/9");
    EXPECT_EQ(LineClaims(), "101 101 101 102 102 102 201 201 201 ");
    ExpectOnlyThePatientFileInUse();

    // With nothing failing the same delete goes through.
    Boxes().ClearTranscript();
    GetPatient(1);
    EXPECT_EQ(RiDeleteRecord(Patient), 0);
    EXPECT_EQ(Counts(), "1/1/3");
}

TEST_F(IntegrityTest, AReadErrorInTheMiddleOfADeleteUndoesAllOfIt) {
    GetPatient(1);
    FailItems(VRN_OP_NEXT, 3);  // the read of claim 101's third line, two lines gone already
    EXPECT_EQ(RiDeleteRecord(Patient), 1);
    EXPECT_EQ(ShownBoxes(), "[Record Retrieval Error|Error: (Access Denied (5)) attempting to access a record from "
                            "the Item file.  Returning to previous window.]");
    Item.Decl()->driver = KELSTORE;
    EXPECT_EQ(Counts(), "2/3/9");
    ExpectOnlyThePatientFileInUse();
}

TEST_F(IntegrityTest, AClaimIsDeletedWithItsServiceLinesOnly) {
    {
        ProcedureFiles files;
        files.Use(Invoice);
        CLEAR(Invoice);
        Invoice.record.INV = int64_t(102);
        GET(Invoice.Key("INV:INVKEY"));
        ASSERT_EQ(ERRORCODE(), 0);
        EXPECT_EQ(RiDeleteRecord(Invoice), 0);
        EXPECT_EQ(DataFileUseCount(Invoice), 1);
    }
    EXPECT_EQ(ShownBoxes(), "");
    EXPECT_EQ(Counts(), "2/2/6");
    EXPECT_EQ(LineClaims(), "101 101 101 201 201 201 ");
    ExpectOnlyThePatientFileInUse();
}

TEST_F(IntegrityTest, ARecordOfAnUnrelatedFileIsDeletedAlone) {
    ProcedureFiles files;
    files.Use(Cpt48);
    for (const char* code : {"99213", "99214"}) {
        CLEAR(Cpt48);
        Cpt48.record.CPTCODE = code;
        ADD(Cpt48);
    }
    CLEAR(Cpt48);
    Cpt48.record.CPTCODE = "99213";
    GET(Cpt48.Key("CPT:CPTCODEKEY"));
    ASSERT_EQ(ERRORCODE(), 0);
    EXPECT_EQ(RiDeleteRecord(Cpt48), 0);
    EXPECT_EQ(RECORDS(Cpt48), 1);
    GET(Cpt48.Key("CPT:CPTCODEKEY"));
    EXPECT_EQ(ERRORCODE(), 35);
    EXPECT_EQ(Counts(), "2/3/9");
}

TEST_F(IntegrityTest, EveryFileDeletesAndChangesItsRecords) {
    // One record in each file, by the fields of its first key.
    const std::vector<std::pair<FileDecl*, void (*)()>> fill = {
        {Provider.Decl(), [] { Provider.record.PRV = int64_t(4); }},
        {Patient.Decl(), [] { Patient.record.PAT = int64_t(4); }},
        {Invoice.Decl(), [] { Invoice.record.PRV = int64_t(4); Invoice.record.INV = int64_t(4); }},
        {Cpt48.Decl(), [] { Cpt48.record.CPTCODE = "99213"; }},
        {Item.Decl(), [] { Item.record.PRV = int64_t(4); }},
        {Icd48.Decl(), [] { Icd48.record.ICDCODE = "J06.9"; }},
        {Insured1.Decl(), [] { Insured1.record.INS1ID = "P4"; }},
        {Insured2.Decl(), [] { Insured2.record.INS2ID = "S4"; }},
        {Facility.Decl(), [] { Facility.record.FACILITYID = "F4"; }},
        {Referring.Decl(), [] { Referring.record.F17R = "Dr Four"; }},
        {Rendering.Decl(), [] { Rendering.record.F24J = "1234567890"; }},
        {Auth.Decl(), [] { Auth.record.PAT = int64_t(4); }},
        {Payer.Decl(), [] { Payer.record.HICNAME = "Payer Four"; }},
        {ICD.Decl(), [] { ICD.record.ICDV = "0"; }},
        {CIQL.Decl(), [] { CIQL.record.CICODE = "431"; }},
        {OIQL.Decl(), [] { OIQL.record.OICODE = "454"; }},
    };
    ASSERT_EQ(fill.size(), kDictionaryFileCount);
    for (const auto& [file, set_key] : fill) {
        SCOPED_TRACE(FileLabel(file));
        ProcedureFiles files;
        files.Use(file);
        const int32_t before = RECORDS(file);
        Vrn$CLEAR(file->record, file->record_type, 0);
        set_key();
        ADD(file);
        ASSERT_EQ(ERRORCODE(), 0);
        // Read it back by its first key, change it, then delete it.
        SET(file->keys[0], file->keys[0]);
        NEXT(file);
        ASSERT_EQ(ERRORCODE(), 0);
        EXPECT_EQ(RiUpdateRecord(file), 0);
        EXPECT_EQ(RiDeleteRecord(file), 0);
        EXPECT_EQ(RECORDS(file), before);
        EXPECT_EQ(ShownBoxes(), "");
    }
}

TEST_F(IntegrityTest, ATransactionThatCannotBeFramedDeletesNothing) {
    GetPatient(1);
    ProcedureFiles files;
    files.Use(Cpt48);
    LOGOUT(2, Cpt48);  // another transaction is under way
    ASSERT_EQ(ERRORCODE(), 0);
    EXPECT_EQ(RiDeleteRecord(Patient), 1);
    EXPECT_EQ(ShownBoxes(), "[Transaction Framing Error|Error: (LOGOUT Already Active (56)) attempting to frame the "
                            "delete transaction on Patient.  Delete transaction cancelled.]");
    EXPECT_EQ(Counts(), "2/3/9");

    Boxes().ClearTranscript();
    LOGOUT(2, Cpt48);
    GetPatient(2);
    Patient.record.LNAME = "Baker-Cole";
    EXPECT_EQ(RiUpdateRecord(Patient), 1);
    EXPECT_EQ(ShownBoxes(), "[Transaction Framing Error|Error: (LOGOUT Already Active (56)) attempting to frame the "
                            "update transaction on Patient.  Update transaction cancelled.]");
    GetPatient(2);
    EXPECT_EQ(Clipped(Patient.record.LNAME.View()), "Baker");
}

TEST_F(IntegrityTest, AChangeIsWrittenOrReportedWithItsCause) {
    GetPatient(2);
    Patient.record.LNAME = "Baker-Cole";
    EXPECT_EQ(RiUpdateRecord(Patient), 0);
    GetPatient(2);
    EXPECT_EQ(Clipped(Patient.record.LNAME.View()), "Baker-Cole");

    // Patient number 1 exists already: the unique key refuses the change.
    Patient.record.PAT = int64_t(1);
    EXPECT_EQ(RiUpdateRecord(Patient), 1);
    EXPECT_EQ(ShownBoxes(), "[Update Operation Error|An error (Creates Duplicate Key (40)) was experienced when "
                            "attempting to update a record from the file.  Probable Cause: Patient.]");
    GetPatient(2);
    EXPECT_EQ(Clipped(Patient.record.LNAME.View()), "Baker-Cole");
    EXPECT_EQ(Counts(), "2/3/9");
}

// ---- Two stations ----------------------------------------------------------------------------------

// Run as the other station by the test below, in a process of its own on the same drive: changes
// patient 1's name to $LUM_OTHER_STATION_NAME.
TEST(IntegrityOtherStation, DISABLED_ChangesPatientOne) {
    const char* name = std::getenv("LUM_OTHER_STATION_NAME");
    ASSERT_NE(name, nullptr);
    BindFileDrivers(KELSTORE, VARNEL);
    ProcedureFiles files;
    files.Use(Patient);
    CLEAR(Patient);
    Patient.record.PAT = int64_t(1);
    GET(Patient.Key("PAT:PATKEY"));
    ASSERT_EQ(ERRORCODE(), 0);
    Patient.record.LNAME = name;
    EXPECT_EQ(RiUpdateRecord(Patient), 0);
    EXPECT_TRUE(Boxes().Transcript().empty());
}

int RunOtherStation(const std::string& name) {
    setenv("LUM_OTHER_STATION_NAME", name.c_str(), 1);
    const std::string command = "'" + platform::ExecutablePath() +
                                "' --gtest_also_run_disabled_tests "
                                "--gtest_filter=IntegrityOtherStation.DISABLED_ChangesPatientOne >/dev/null 2>&1";
    return std::system(command.c_str());
}

TEST_F(IntegrityTest, TheSecondOfTwoStationsSeesTheFirstStationsVersion) {
    GetPatient(1, true);
    ASSERT_EQ(RunOtherStation("Adams-Other"), 0);
    Patient.record.LNAME = "Adams-Mine";
    EXPECT_EQ(RiUpdateRecord(Patient), kRecordChangedElsewhere);
    EXPECT_EQ(ShownBoxes(), "[Update Operation Error|This record was changed by another station.]");
    EXPECT_EQ(Clipped(Patient.record.LNAME.View()), "Adams-Other");
    GetPatient(1);
    EXPECT_EQ(Clipped(Patient.record.LNAME.View()), "Adams-Other");

    // The same told quietly, as a form that offers to recall one's changes does.
    Boxes().ClearTranscript();
    GetPatient(1, true);
    ASSERT_EQ(RunOtherStation("Adams-Third"), 0);
    Patient.record.LNAME = "Adams-Mine";
    EXPECT_EQ(RiUpdateRecord(Patient, true), kRecordChangedElsewhere);
    EXPECT_EQ(ShownBoxes(), "[Record Was Not Updated|This record was changed by another station. Those changes will "
                            "now be displayed. Use the Ditto Button or Ctrl+' to recall your changes.]");
    EXPECT_EQ(Clipped(Patient.record.LNAME.View()), "Adams-Third");

    // Read again (watched), the record is this station's to change.
    Boxes().ClearTranscript();
    GetPatient(1, true);
    Patient.record.LNAME = "Adams-Mine";
    EXPECT_EQ(RiUpdateRecord(Patient), 0);
    GetPatient(1);
    EXPECT_EQ(Clipped(Patient.record.LNAME.View()), "Adams-Mine");
    EXPECT_EQ(ShownBoxes(), "");
}

// Run as the other station by the test below: holds a transaction over the patient file, with a
// change made in it, for three seconds; says so with the file "holding" in the drive's root.
TEST(IntegrityOtherStation, DISABLED_HoldsThePatientFile) {
    const fs::path root = std::getenv("TARVEX_DRIVE_C");
    BindFileDrivers(KELSTORE, VARNEL);
    ProcedureFiles files;
    files.Use(Patient);
    LOGOUT(2, Patient);
    ASSERT_EQ(ERRORCODE(), 0);
    CLEAR(Patient);
    Patient.record.PAT = int64_t(3);
    ADD(Patient);
    ASSERT_EQ(ERRORCODE(), 0);
    std::ofstream(root / "holding") << "1";
    std::this_thread::sleep_for(std::chrono::seconds(3));
    ROLLBACK();
}

TEST_F(IntegrityTest, AStationThatHoldsTheFileTooLongCancelsTheChange) {
    int status = -1;
    std::thread other([&] {
        const std::string command = "'" + platform::ExecutablePath() +
                                    "' --gtest_also_run_disabled_tests "
                                    "--gtest_filter=IntegrityOtherStation.DISABLED_HoldsThePatientFile >/dev/null 2>&1";
        status = std::system(command.c_str());
    });
    for (int wait = 0; wait < 500 && !fs::exists(drive.Root() / "holding"); wait++)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    ASSERT_TRUE(fs::exists(drive.Root() / "holding"));
    GetPatient(2);
    Patient.record.LNAME = "Baker-Cole";
    const auto started = std::chrono::steady_clock::now();
    EXPECT_EQ(RiUpdateRecord(Patient), 1);
    const auto waited = std::chrono::steady_clock::now() - started;
    other.join();
    EXPECT_EQ(status, 0);
    EXPECT_EQ(ShownBoxes(), "[Transaction Framing Error|Error: (Unable To Log Transaction (48)) attempting to frame "
                            "the update transaction on Patient.  Update transaction cancelled.]");
    // It waited for the other station (the framing's timeout), but not for the whole hold.
    EXPECT_GE(waited, std::chrono::milliseconds(1500));
    GetPatient(2);
    EXPECT_EQ(Clipped(Patient.record.LNAME.View()), "Baker");
}

}  // namespace
}  // namespace lumarex
