// SPDX-License-Identifier: GPL-3.0-or-later
// Moving the program's sixteen files from the SQLite files to a PostgreSQL database (a private
// server, shared with the view tests of this process) and back: the records come back byte for
// byte, and a target that holds records is replaced only when asked.
#include <gtest/gtest.h>
#ifdef LUM_WITH_PGSQL // built where libpq is there to build PGSQL

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "core/environment.h"
#include "core/tests/test_support.h"
#include "data/driver_services.h"
#include "data/dictionary.h"
#include "data/move_data.h"
#include "kelstore/kelstore.h"
#include "varnel/varnel.h"
#include "pgsql/pgsql.h"
#include "pgsql_server.h"
#include "tarvex/files.hpp"
#include "tarvex/frame.h"

namespace {

using namespace tarvex;
using lumarex::Invoice;
using lumarex::Patient;
using lumarex::Provider;
using lumarex::Item;

const lumarex::DataHome kFiles{KELSTORE, VARNEL};
const lumarex::DataHome kServer{PGSQL, PGSQL};

// Every record of every dictionary file, in record order, as bytes.
std::vector<std::vector<std::string>> Contents() {
    std::vector<std::vector<std::string>> all;
    for (FileDecl* file : lumarex::DictionaryFiles()) {
        std::vector<std::string>& records = all.emplace_back();
        Vrn$FILE_OPEN(file, 0x40);
        EXPECT_EQ(Vrn$ERRCODE, 0);
        Vrn$FILE_SETf(file);
        for (Vrn$FILE_NEXT(file); Vrn$ERRCODE == 0; Vrn$FILE_NEXT(file))
            records.emplace_back(static_cast<const char*>(file->record), file->record_length);
        Vrn$FILE_CLOSE(file);
    }
    return all;
}

class MoveDataTest : public ::testing::TestWithParam<int> {
  protected:
    tarvex::testing::TemporaryDrive drive;

    void SetUp() override {
        if (!pgsql_testing::ProcessServerUp("app_tests"))
            GTEST_SKIP() << "no PostgreSQL server could start: " << pgsql_testing::ProcessServer().Reason();
        std::filesystem::create_directories(drive.Root() / "LUMAREX" / "DATA");
        lumarex::BindFileDrivers(KELSTORE, VARNEL);
        for (FileDecl* file : lumarex::DictionaryFiles()) {
            Vrn$FILE_CREATE(file);
            ASSERT_EQ(Vrn$ERRCODE, 0);
        }
        for (FileDecl* file : {Provider.Decl(), Patient.Decl(), Invoice.Decl(), Item.Decl()}) {
            Vrn$FILE_OPEN(file, 0x42);
            ASSERT_EQ(Vrn$ERRCODE, 0);
        }
        for (int prv = 1; prv <= 2; prv++) {
            Vrn$CLEAR(&Provider.record, &lumarex::ProviderRecord::Type(), 0);
            Provider.record.PRV = int64_t(prv);
            Provider.record.PNAME = prv == 1 ? "Cl\xEDnica Uno" : "Second Clinic"; // Windows-1252 i-acute
            ADD(Provider);
        }
        for (int pat = 1; pat <= 20; pat++) {
            Vrn$CLEAR(&Patient.record, &lumarex::PatientRecord::Type(), 0);
            Patient.record.PAT = int64_t(pat);
            Patient.record.LNAME = pat % 3 == 0 ? "M\xFCller" : "Smith"; // duplicates under the name key
            Patient.record.BDATE = "19700101";
            ADD(Patient);
            for (int n = 1; n <= 5; n++) {
                Vrn$CLEAR(&Invoice.record, &lumarex::InvoiceRecord::Type(), 0);
                Invoice.record.PAT = int64_t(pat);
                Invoice.record.PRV = int64_t(1 + n % 2);
                Invoice.record.INV = int64_t(pat * 100 + n);
                Invoice.record.DATE = "20260101";
                Invoice.record.BDUE = int64_t(pat * n - 7);
                ADD(Invoice);
                Vrn$CLEAR(&Item.record, &lumarex::ItemRecord::Type(), 0);
                Item.record.INV = int64_t(pat * 100 + n);
                Item.record.PAT = int64_t(pat);
                Item.record.CPT = "99213";
                Item.record.FEE = int64_t(n * 10);
                ADD(Item);
            }
        }
        ASSERT_EQ(Vrn$ERRCODE, 0);
        for (FileDecl* file : {Provider.Decl(), Patient.Decl(), Invoice.Decl(), Item.Decl()})
            Vrn$FILE_CLOSE(file);
    }
};

TEST_P(MoveDataTest, FilesToTheServerAndBackComeBackByteForByte) {
    std::vector<std::vector<std::string>> before = Contents();
    ASSERT_EQ(before[2].size(), 100u); // Invoice
    std::string report;
    ASSERT_EQ(lumarex::MoveData(kFiles, kServer, false, &report), 0) << report;
    EXPECT_EQ(pgsql_testing::ProcessServer().Psql("SELECT count(*) FROM invoice"), "100");
    EXPECT_EQ(pgsql_testing::ProcessServer().Psql("SELECT pname FROM provider ORDER BY prv LIMIT 1"), "Clínica Uno");

    // Neither home is overwritten without being asked, and the refusal changes nothing.
    EXPECT_NE(lumarex::MoveData(kFiles, kServer, false, &report), 0);
    EXPECT_NE(report.find("replaced only when asked"), std::string::npos) << report;
    EXPECT_NE(lumarex::MoveData(kServer, kFiles, false, &report), 0);
    EXPECT_NE(report.find("replaced only when asked"), std::string::npos) << report;
    lumarex::BindFileDrivers(KELSTORE, VARNEL);
    EXPECT_EQ(Contents(), before);

    // A record changed on the server comes back with the change, every other byte as it was.
    pgsql_testing::ProcessServer().Psql("UPDATE patient SET add1 = '12 Elm St' WHERE pat = 4");
    ASSERT_EQ(lumarex::MoveData(kServer, kFiles, true, &report), 0) << report;
    lumarex::BindFileDrivers(KELSTORE, VARNEL);
    std::vector<std::vector<std::string>> after = Contents();
    ASSERT_EQ(after.size(), before.size());
    for (size_t f = 0; f < before.size(); f++) {
        if (lumarex::DictionaryFiles()[f] != Patient.Decl()) {
            EXPECT_EQ(after[f], before[f]) << f;
            continue;
        }
        ASSERT_EQ(after[f].size(), before[f].size());
        for (size_t r = 0; r < before[f].size(); r++) {
            if (r != 3) {
                EXPECT_EQ(after[f][r], before[f][r]) << r;
            } else {
                EXPECT_NE(after[f][r], before[f][r]);
                EXPECT_NE(after[f][r].find("12 Elm St   "), std::string::npos);
            }
        }
    }
}

// Patient's record and keys as the file Chart, with a MEMO of notes and a BLOB beside each record.
struct Chart {
    std::vector<char> record;
    std::vector<KeyDecl> keys;
    std::vector<KeyDecl*> key_blocks;
    MemoDecl notes{}, scan{};
    MemoDecl* memos[2] = {&notes, &scan};
    FileDecl decl{};

    Chart() : record(Patient.Decl()->record_length), decl(*Patient.Decl()) {
        decl.name = "C:\\LUMAREX\\DATA\\Chart.kel";
        decl.name_length = VRN_LENGTH_CSTRING;
        decl.driver_instance = nullptr;
        decl.record = record.data();
        for (uint32_t k = 0; k < decl.key_count; k++)
            keys.push_back(*Patient.Decl()->keys[k]);
        for (KeyDecl& key : keys) {
            key.file = &decl;
            key_blocks.push_back(&key);
        }
        decl.keys = key_blocks.data();
        notes.name = "NOTES";
        notes.max_size = 300;
        scan.name = "SCAN";
        scan.flags = VRN_MEMO_BLOB | VRN_MEMO_BINARY;
        decl.memo_count = 2;
        decl.memos = memos;
    }
    ~Chart() {
        if (decl.driver_instance != nullptr)
            Vrn$FILE_CLOSE(&decl);
    }
    // Every record (by the patient key) with its two memos.
    std::vector<std::string> Contents() {
        std::vector<std::string> rows;
        Vrn$FILE_OPEN(&decl, 0x40);
        EXPECT_EQ(Vrn$ERRCODE, 0);
        Vrn$FILE_SETk(decl.keys[0]);
        for (Vrn$FILE_NEXT(&decl); Vrn$ERRCODE == 0; Vrn$FILE_NEXT(&decl)) {
            std::string row(record.data(), record.size());
            for (uint16_t memo = 1; memo <= 2; memo++) {
                std::string value(size_t(Vrn$BLOB_SIZE(&decl, memo)), '\0');
                Vrn$BLOB_YIELD(&decl, memo, reinterpret_cast<intptr_t>(value.data()), intptr_t(value.size()));
                row += "|" + value;
            }
            rows.push_back(row);
        }
        Vrn$FILE_CLOSE(&decl);
        return rows;
    }
};

TEST_P(MoveDataTest, MemosAndBlobsMoveWithTheirRecordsBothWays) {
    Chart chart;
    chart.decl.driver = KELSTORE;
    Vrn$FILE_CREATE(&chart.decl);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_OPEN(&chart.decl, 0x42);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    auto* patient = reinterpret_cast<lumarex::PatientRecord*>(chart.record.data());
    for (int pat = 1; pat <= 30; pat++) {
        Vrn$CLEAR(patient, &lumarex::PatientRecord::Type(), 0);
        patient->PAT = int64_t(pat);
        patient->LNAME = "Chart";
        // Empty ones, text with the program's characters 0x80-0xFF, bytes with zeros among them.
        std::string notes = pat % 4 == 0 ? "" : "Visit " + std::to_string(pat) + ": Gr\xFC\xDF" "e \x80";
        std::string scan = pat % 3 == 0 ? "" : std::string("\0\x01\xFF\0", 4) + std::string(size_t(pat * 50), char(pat));
        Vrn$BLOB_TAKE(&chart.decl, 1, reinterpret_cast<intptr_t>(notes.data()), intptr_t(notes.size()));
        Vrn$BLOB_TAKE(&chart.decl, 2, reinterpret_cast<intptr_t>(scan.data()), intptr_t(scan.size()));
        Vrn$FILE_ADDf(&chart.decl);
        ASSERT_EQ(Vrn$ERRCODE, 0);
    }
    Vrn$FILE_CLOSE(&chart.decl);
    const std::vector<std::string> before = chart.Contents();
    ASSERT_EQ(before.size(), 30u);

    std::string report;
    FileDecl* const files[] = {&chart.decl};
    ASSERT_EQ(lumarex::MoveFiles(files, kServer, false, &report), 0) << report;
    EXPECT_EQ(pgsql_testing::ProcessServer().Psql("SELECT count(notes), count(scan), sum(length(scan)) FROM chart"),
              "23|20|" + std::to_string(20 * 4 + 50 * (465 - 3 * (1 + 2 + 3 + 4 + 5 + 6 + 7 + 8 + 9 + 10))));
    chart.decl.driver = PGSQL;
    EXPECT_EQ(chart.Contents(), before);

    // Back into the file, replacing it: every memo as it left.
    ASSERT_EQ(lumarex::MoveFiles(files, kFiles, true, &report), 0) << report;
    chart.decl.driver = KELSTORE;
    EXPECT_EQ(chart.Contents(), before);
}

// The files are replaced only once every copy is made and checked: a move that fails part way
// leaves each file as it was, the files copied before the failure too, and no staged copy behind.
TEST_P(MoveDataTest, AMoveIntoTheFilesThatFailsPartWayLeavesEveryFileAsItWas) {
    const std::vector<std::vector<std::string>> before = Contents();
    std::string report;
    ASSERT_EQ(lumarex::MoveData(kFiles, kServer, true, &report), 0) << report;
    // A patient (copied before the service lines) changed on the server, and a service line's
    // claim changed with plain SQL, whose key images stay behind: the check refuses that file.
    pgsql_testing::ProcessServer().Psql("UPDATE patient SET add1 = '12 Elm St' WHERE pat = 4");
    pgsql_testing::ProcessServer().Psql("UPDATE item SET inv = 99999 WHERE inv = 101");
    EXPECT_NE(lumarex::MoveData(kServer, kFiles, true, &report), 0);
    EXPECT_NE(report.find("differs from the source"), std::string::npos) << report;
    const std::filesystem::path data = drive.Root() / "LUMAREX" / "DATA";
    EXPECT_FALSE(std::filesystem::exists(data / "lummove.staging"));
    lumarex::BindFileDrivers(KELSTORE, VARNEL);
    EXPECT_EQ(Contents(), before);

    // Once the server is mended the move lands whole: the patient's change is in the files, which
    // are readable by their owner only, as every data file is.
    pgsql_testing::ProcessServer().Psql("UPDATE item SET inv = 101 WHERE inv = 99999");
    ASSERT_EQ(lumarex::MoveData(kServer, kFiles, true, &report), 0) << report;
    EXPECT_FALSE(std::filesystem::exists(data / "lummove.staging"));
    lumarex::BindFileDrivers(KELSTORE, VARNEL);
    std::vector<std::vector<std::string>> after = Contents();
    EXPECT_NE(after[1], before[1]);   // Patient
    EXPECT_EQ(after[2], before[2]);   // Invoice
    for (const char* name : {"Patient.kel", "Provider.dat", "Provider.K01"})
        EXPECT_EQ(std::filesystem::status(data / name).permissions() & std::filesystem::perms::all,
                  std::filesystem::perms::owner_read | std::filesystem::perms::owner_write)
            << name;
}

// A file a program has open is not replaced under it: the move stops before replacing anything.
TEST_P(MoveDataTest, AMoveIntoAFileAProgramHasOpenReplacesNothing) {
    Chart chart, open_elsewhere;
    chart.decl.driver = open_elsewhere.decl.driver = KELSTORE;
    Vrn$FILE_CREATE(&chart.decl);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    std::string report;
    FileDecl* const files[] = {&chart.decl};
    ASSERT_EQ(lumarex::MoveFiles(files, kServer, true, &report), 0) << report;
    chart.decl.driver = PGSQL;   // a chart added on the server
    Vrn$FILE_OPEN(&chart.decl, 0x42);
    auto* patient = reinterpret_cast<lumarex::PatientRecord*>(chart.record.data());
    Vrn$CLEAR(patient, &lumarex::PatientRecord::Type(), 0);
    patient->PAT = int64_t(7);
    Vrn$FILE_ADDf(&chart.decl);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_CLOSE(&chart.decl);
    Vrn$FILE_OPEN(&open_elsewhere.decl, 0x42);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(lumarex::MoveFiles(files, kFiles, true, &report), 32);
    EXPECT_NE(report.find("in use by a program; nothing was replaced"), std::string::npos) << report;
    Vrn$FILE_CLOSE(&open_elsewhere.decl);
    chart.decl.driver = KELSTORE;
    EXPECT_TRUE(chart.Contents().empty());
    EXPECT_FALSE(std::filesystem::exists(drive.Root() / "LUMAREX" / "DATA" / "lummove.staging"));
}

// The setting as a test sets it, and as it was afterwards.
class DatabaseSetting {
  public:
    DatabaseSetting() {
        const char* was = std::getenv(lumarex::kDatabaseSetting);
        had_ = was != nullptr;
        was_ = had_ ? was : "";
    }
    ~DatabaseSetting() {
        if (had_)
            setenv(lumarex::kDatabaseSetting, was_.c_str(), 1);
        else
            unsetenv(lumarex::kDatabaseSetting);
        lumarex::BindFileDrivers(KELSTORE, VARNEL);
    }
    void Set(const char* value) {
        if (value != nullptr)
            setenv(lumarex::kDatabaseSetting, value, 1);
        else
            unsetenv(lumarex::kDatabaseSetting);
    }

  private:
    bool had_ = false;
    std::string was_;
};

TEST(DataHome, TheSettingBindsAllSixteenFilesToTheServerOrNoneOfThem) {
    DatabaseSetting setting;
    struct Case {
        const char* value;
        bool server;
    } cases[] = {{nullptr, false}, {"", false}, {"  \t ", false}, {"dbname=lumarex", true},
                 {"host=/run/postgresql dbname=lumarex", true}};
    auto check = [](bool server) {
        EXPECT_EQ(lumarex::DatabaseNamed(), server);
        const lumarex::DataHome& home = lumarex::BindDataHome(kFiles, kServer);
        EXPECT_EQ(&home, server ? &kServer : &kFiles);
        for (FileDecl* file : lumarex::DictionaryFiles())
            EXPECT_EQ(file->driver, server ? PGSQL : file == Provider.Decl() ? VARNEL : KELSTORE);
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.value != nullptr ? c.value : "(not set)");
        setting.Set(c.value);
        check(c.server);
    }
    // The environment file's entry names the database as well; blanks there name none.
    setting.Set(nullptr);
    tarvex::ApplyEnvironmentText("TARVEX_PGSQL=\"host=/run/postgresql dbname=lumarex\"");
    check(true);
    tarvex::ApplyEnvironmentText("TARVEX_PGSQL=\"   \"");
    check(false);
    tarvex::ResetEnvironment();
}

// The connection string in the environment file alone: the driver connects with it.
TEST_P(MoveDataTest, TheEnvironmentFileNamesTheDatabase) {
    DatabaseSetting setting;
    setting.Set(nullptr);
    tarvex::ApplyEnvironmentText("TARVEX_PGSQL=\"" + pgsql_testing::ProcessServer().ConnInfo() + "\"");
    EXPECT_EQ(&lumarex::BindDataHome(kFiles, kServer), &kServer);
    Vrn$FILE_CREATE(Patient.Decl());
    EXPECT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_OPEN(Patient.Decl(), 0x42);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_CLOSE(Patient.Decl());
    tarvex::ResetEnvironment();
    Vrn$FILE_OPEN(Patient.Decl(), 0x42); // and without it, no database is named
    EXPECT_EQ(Vrn$ERRCODE, 90);
}

TEST_P(MoveDataTest, APasswordInTheSettingNeverReachesATraceOrAnError) {
    DatabaseSetting setting;
    const std::string secret = "Pw-Secret-4711";
    std::string conninfo = pgsql_testing::ProcessServer().ConnInfo() + " password=" + secret;
    setting.Set(conninfo.c_str());
    ASSERT_EQ(&lumarex::BindDataHome(kFiles, kServer), &kServer);
    std::string trace = (drive.Root() / "pgsql.log").string();
    tarvex::SetTraceFile(trace);
    for (FileDecl* file : lumarex::DictionaryFiles()) {
        Vrn$FILE_CREATE(file);
        ASSERT_EQ(Vrn$ERRCODE, 0);
    }
    Vrn$FILE_OPEN(Patient.Decl(), 0x42);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Patient.record.PAT = int64_t(999);
    GET(Patient.Key("PAT:PATKEY")); // not there: an error line in the trace
    EXPECT_EQ(Vrn$ERRCODE, 35);
    Vrn$FILE_CLOSE(Patient.Decl());
    // A database that refuses the connection: its message is the driver's error text.
    std::string wrong = "host=" + pgsql_testing::ProcessServer().Folder() + " dbname=no_such_db password=" + secret;
    setting.Set(wrong.c_str());
    Vrn$FILE_OPEN(Patient.Decl(), 0x42);
    EXPECT_NE(Vrn$ERRCODE, 0);
    Vrn$FILEERRORMSG();
    std::string message = tarvex::testing::PopText();
    // Strings the client library cannot read, or that fail on the password itself: its reason
    // would quote them.
    const std::string unreadable[] = {
        "host=" + pgsql_testing::ProcessServer().Folder() + " password=" + secret + " " + secret + "x",
        "host=" + pgsql_testing::ProcessServer().Folder() + " password='" + secret,
        "postgresql://lumarex:" + secret + "@[nowhere/x",
        "host=" + pgsql_testing::ProcessServer().Folder() + " port=" + secret + " password=" + secret,
    };
    for (const std::string& text : unreadable) {
        setting.Set(text.c_str());
        Vrn$FILE_OPEN(Patient.Decl(), 0x42);
        EXPECT_EQ(Vrn$ERRCODE, 90);
        Vrn$FILEERRORMSG();
        message += "\n" + tarvex::testing::PopText();
    }
    tarvex::SetTraceFile("");
    std::ifstream in(trace);
    std::stringstream text;
    text << in.rdbuf();
    EXPECT_NE(text.str().find("PGSQL"), std::string::npos) << text.str();
    EXPECT_EQ(text.str().find(secret), std::string::npos) << text.str();
    EXPECT_EQ(message.find(secret), std::string::npos) << message;
}

INSTANTIATE_TEST_SUITE_P(Server, MoveDataTest, ::testing::Values(0));

} // namespace
#endif
