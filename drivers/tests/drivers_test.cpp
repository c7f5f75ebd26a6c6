// SPDX-License-Identifier: GPL-3.0-or-later
// Both drivers (KELSTORE, VARNEL) on real files in a temporary drive C:, each test run once per
// driver (file names are written with ".kel" and become ".dat" for VARNEL): key orders (NOCASE, descending,
// duplicates in insertion order), OPT keys leaving blank values out, duplicate-key refusal with
// nothing written, PUT and DELETE, POSITION with RESET and REGET after other records moved, WATCH
// across two connections, foreign and missing files, and the sqlite3 shell as an outside judge.
// Then transactions over several files (commit, rollback, a lock not had in time, a process killed
// inside one), LOCK, STREAM/FLUSH, APPEND, DUPLICATE, SEND and BUILD.
#include "kelstore/kelstore.h"
#include "varnel/varnel.h"
#ifdef LUM_WITH_PGSQL
#include "pgsql/pgsql.h"
#include "pgsql_server.h"
#endif

#include <gtest/gtest.h>

#include <ostream>
#include <sqlite3.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <random>
#include <sstream>
#include <string>
#include <thread>
#include <vector>

#include "common/driver_properties.h"
#include "common/record_columns.h"
#include "core/environment.h"
#include "core/string_stack.h"
#include "core/tests/test_support.h"
#include "tarvex/files.h"
#include "tarvex/frame.h"
#include "tarvex/type_descriptor.h"

namespace {

// The driver a test runs on: its entry, its record file's extension, and how
// many keys the test tables declare (a transaction attaches every database of its files to one
// connection, at most eleven: three VARNEL files of two keys fit, of three keys do not).
struct DriverCase {
    const char* name;
    VrnDriverEntry entry;
    const char* extension;
    bool separate_keys;
};
const DriverCase kDrivers[] = {
    {"KELSTORE", KELSTORE, ".kel", false},
    {"VARNEL", VARNEL, ".dat", true},
};
// Test listings and failures name the driver, not the bytes of the case.
void PrintTo(const DriverCase& c, std::ostream* out) {
    *out << c.name;
}
const DriverCase* driver = &kDrivers[0];
uint32_t table_keys = 3;

#ifdef LUM_WITH_PGSQL
// PGSQL keeps its tables on a private server that the first test on it starts and the end of the
// process stops (one server per test process); its tests run as one process for that reason.
const DriverCase kServerDriver = {"PGSQL", PGSQL, ".kel", false};
pgsql_testing::Server& server = pgsql_testing::ProcessServer();
bool OnServer() {
    return driver->entry == PGSQL;
}
// Starts the server the first time; false when none can start (the reason printed once).
bool ServerUp() {
    return pgsql_testing::ProcessServerUp("driver_tests");
}
#else
bool OnServer() {
    return false;
}
#endif
// Tests of what only files have (permissions, damaged or foreign files, the SQLite shell's own
// statements) do not run on the server.
#define SKIP_ON_SERVER(why)                                                                                  \
    if (OnServer())                                                                                          \
    GTEST_SKIP() << "PGSQL: " << why

std::string DriverName(const ::testing::TestParamInfo<DriverCase>& info) {
    return info.param.name;
}

// A test's file name for the driver: ".kel" (in any case) becomes the driver's extension.
std::string ForDriver(std::string name) {
    if (name.size() >= 4) {
        std::string tail = name.substr(name.size() - 4);
        for (char& c : tail)
            c = char(std::tolower(static_cast<unsigned char>(c)));
        if (tail == ".kel")
            name = name.substr(0, name.size() - 4) + driver->extension;
    }
    return name;
}

#define KEL_TEST_FIELDS(FIELD)                                                                               \
    FIELD(ID, LONG)                                                                                          \
    FIELD(CODE, STRING(6))                                                                                   \
    FIELD(NAME, STRING(10))                                                                                  \
    FIELD(AMOUNT, LONG)
TARVEX_RECORD(KelRecord, "KT", KEL_TEST_FIELDS)

#define KEL_OTHER_FIELDS(FIELD)                                                                              \
    FIELD(ID, LONG)                                                                                          \
    FIELD(CODE, STRING(7))
TARVEX_RECORD(OtherRecord, "KO", KEL_OTHER_FIELDS)

// One FILE declaration with its three keys: CODE (unique, NOCASE), NAME (DUP, OPT, NOCASE) and
// AMOUNT descending (DUP). Two tables on one name are two connections to one file.
struct Table {
    KelRecord record{};
    int32_t code_components[1] = {2};
    int32_t name_components[1] = {3};
    int32_t amount_components[1] = {-4};
    KeyDecl code_key{};
    KeyDecl name_key{};
    KeyDecl amount_key{};
    KeyDecl* keys[3] = {&code_key, &name_key, &amount_key};
    FileDecl file{};
    std::string name;

    explicit Table(std::string file_name) : name(ForDriver(std::move(file_name))) {
        Init(code_key, code_components, VRN_KEY_NOCASE | VRN_KEY_PRIMARY, "KT:CODEKEY");
        Init(name_key, name_components, VRN_KEY_DUP | VRN_KEY_OPT | VRN_KEY_NOCASE, "KT:NAMEKEY");
        Init(amount_key, amount_components, VRN_KEY_DUP, "KT:AMOUNTKEY");
        file.driver = driver->entry;
        file.name = name.c_str();
        file.name_length = VRN_LENGTH_CSTRING;
        file.key_count = table_keys;
        file.record_length = sizeof(KelRecord);
        file.record_type = &KelRecord::Type();
        file.keys = keys;
        file.record = &record;
    }
    ~Table() {
        if (file.driver_instance != nullptr)
            Vrn$FILE_CLOSE(&file);
    }
    void Init(KeyDecl& key, int32_t* components, uint32_t attributes, const char* label) {
        key.label = label;
        key.label_length = int32_t(std::strlen(label));
        key.attributes = attributes;
        key.component_count = 1;
        key.components = components;
        key.file = &file;
    }
    void Fill(int32_t id, const char* code, const char* name_text, int32_t amount) {
        record.ID = id;
        record.CODE = code;
        record.NAME = name_text;
        record.AMOUNT = amount;
    }
    int32_t Add(int32_t id, const char* code, const char* name_text, int32_t amount) {
        Fill(id, code, name_text, amount);
        Vrn$FILE_ADDf(&file);
        return Vrn$ERRCODE;
    }
    // The ids a sequence yields until it fails, and that failure's code.
    std::vector<int32_t> Walk(bool forward, int32_t* end_code = nullptr) {
        std::vector<int32_t> ids;
        for (int i = 0; i < 100; i++) {
            if (forward)
                Vrn$FILE_NEXT(&file);
            else
                Vrn$FILE_PREV(&file);
            if (Vrn$ERRCODE != 0)
                break;
            ids.push_back(record.ID);
        }
        if (end_code != nullptr)
            *end_code = Vrn$ERRCODE;
        return ids;
    }
};

class DriverTest : public ::testing::TestWithParam<DriverCase> {
  protected:
    tarvex::testing::TemporaryDrive drive;

    void SetUp() override {
        driver = &GetParam();
        table_keys = 3;
#ifdef LUM_WITH_PGSQL
        if (OnServer() && !ServerUp())
            GTEST_SKIP() << "no PostgreSQL server could start: " << server.Reason();
#endif
    }

    std::string HostFile(const std::string& name) { return (drive.Root() / ForDriver(name)).string(); }
    // The key file of key k (from 1) of a record file.
    std::string KeyFile(const std::string& name, int k) {
        std::filesystem::path path = HostFile(name);
        return path.replace_extension(".K0" + std::to_string(k)).string();
    }

    // The outside judge: a number the sqlite3 shell prints for a query on the file (the record
    // table written kel_records or var_records: the table named after the file).
    static std::string Shell(const std::string& path, std::string sql) {
        const std::string table = lumarex::drivers::TableNameFor(path);
        for (const char* written : {"kel_records", "var_records"})
            for (size_t at = 0; (at = sql.find(written, at)) != std::string::npos; at += table.size())
                sql.replace(at, 11, table);
#ifdef LUM_WITH_PGSQL
        if (OnServer()) // the table on the server, read by psql
            return server.Psql(sql);
#endif
        std::string command = "sqlite3 '" + path + "' '" + sql + "' 2>&1";
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
        std::string out;
        char buffer[256];
        while (pipe && std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr)
            out += buffer;
        while (!out.empty() && out.back() == '\n')
            out.pop_back();
        return out;
    }

    // A created and opened table holding five records.
    std::unique_ptr<Table> Filled(const char* name = "Kel.kel") {
        auto table = std::make_unique<Table>(name);
        Vrn$FILE_CREATE(&table->file);
        EXPECT_EQ(Vrn$ERRCODE, 0);
        Vrn$FILE_OPEN(&table->file, 0x22);
        EXPECT_EQ(Vrn$ERRCODE, 0);
        EXPECT_EQ(table->Add(1, "delta", "Miller", 40), 0);
        EXPECT_EQ(table->Add(2, "Alpha", "smith", 10), 0);
        EXPECT_EQ(table->Add(3, "charly", "MILLER", 30), 0);
        EXPECT_EQ(table->Add(4, "BRAVO", "", 10), 0);
        EXPECT_EQ(table->Add(5, "echo", "miller", -5), 0);
        return table;
    }
};

TEST_P(DriverTest, KeyOrdersBothWaysWithDuplicatesInInsertionOrder) {
    auto t = Filled();
    struct Case {
        KeyDecl* key;
        std::vector<int32_t> forward;
    } cases[] = {
        {&t->code_key, {2, 4, 3, 1, 5}},   // NOCASE: Alpha BRAVO charly delta echo
        {&t->name_key, {1, 3, 5, 2}},      // miller x3 in insertion order, smith; blank left out
        {&t->amount_key, {1, 3, 2, 4, 5}}, // descending; 10 twice in insertion order
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(std::string(c.key->label));
        Vrn$FILE_SETk(c.key);
        ASSERT_EQ(Vrn$ERRCODE, 0);
        int32_t end_code = 0;
        EXPECT_EQ(t->Walk(true, &end_code), c.forward);
        EXPECT_EQ(end_code, 33);
        Vrn$FILE_NEXT(&t->file); // the failed NEXT ended the sequence
        EXPECT_EQ(Vrn$ERRCODE, 33);
        Vrn$FILE_SETk(c.key);
        std::vector<int32_t> backward(c.forward.rbegin(), c.forward.rend());
        EXPECT_EQ(t->Walk(false, &end_code), backward);
        EXPECT_EQ(end_code, 33);
    }
    Vrn$FILE_SETf(&t->file);
    EXPECT_EQ(t->Walk(true), (std::vector<int32_t>{1, 2, 3, 4, 5}));
    EXPECT_EQ(Vrn$FILE_RECORDSf(&t->file), 5);
    EXPECT_EQ(Vrn$FILE_RECORDSk(&t->name_key), 4);
    EXPECT_EQ(Vrn$FILE_RECORDSk(&t->code_key), 5);
}

TEST_P(DriverTest, SetByKeyValuesAndSkip) {
    auto t = Filled();
    t->record.CODE = "CH"; // at or after "CH" without regard to case
    Vrn$FILE_SETkk(&t->code_key, &t->code_key);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(t->Walk(true), (std::vector<int32_t>{3, 1, 5}));
    t->record.CODE = "CH";
    Vrn$FILE_SETkk(&t->code_key, &t->code_key);
    EXPECT_EQ(t->Walk(false), (std::vector<int32_t>{4, 2})); // PREVIOUS: the values before
    t->record.AMOUNT = 10;                                   // descending: 10, 10, then -5
    Vrn$FILE_SETkk(&t->amount_key, &t->amount_key);
    EXPECT_EQ(t->Walk(true), (std::vector<int32_t>{2, 4, 5}));
    Vrn$FILE_SETk(&t->code_key);
    Vrn$FILE_SKIP(&t->file, 2);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_NEXT(&t->file);
    EXPECT_EQ(int32_t(t->record.ID), 3);
    Vrn$FILE_SKIP(&t->file, 5);
    EXPECT_EQ(Vrn$ERRCODE, 33);
    struct Case {
        const char* what;
        std::function<void()> set;
        std::vector<int32_t> ids;
    } cases[] = {
        {"SET(file,key) charly: record order from record 3",
         [&] {
             t->record.CODE = "CHARLY";
             Vrn$FILE_SETfk(&t->code_key);
         },
         {3, 4, 5}},
        {"SET(key,pointer) 4: descending amounts from record 4",
         [&] { Vrn$FILE_SETkl(&t->amount_key, 4); },
         {4, 5}},
        {"SET(key,key,pointer) 10 and 4",
         [&] {
             t->record.AMOUNT = 10;
             Vrn$FILE_SETkkl(&t->amount_key, 4);
         },
         {4, 5}},
        {"SET(key,key,pointer) 10 and 2",
         [&] {
             t->record.AMOUNT = 10;
             Vrn$FILE_SETkkl(&t->amount_key, 2);
         },
         {2, 4, 5}},
        {"SET(key,key,pointer) 10 and 3",
         [&] {
             t->record.AMOUNT = 10;
             Vrn$FILE_SETkkl(&t->amount_key, 3);
         },
         {4, 5}},
    };
    for (const Case& c : cases) {
        c.set();
        EXPECT_EQ(Vrn$ERRCODE, 0) << c.what;
        EXPECT_EQ(t->Walk(true), c.ids) << c.what;
    }
    Vrn$FILE_SETkl(&t->amount_key, 99);
    EXPECT_EQ(Vrn$ERRCODE, 35);
    Vrn$FILE_SETfl(&t->file, 4);
    EXPECT_EQ(t->Walk(true), (std::vector<int32_t>{4, 5}));
}

TEST_P(DriverTest, GetByKeyAndPointer) {
    auto t = Filled();
    struct Case {
        KeyDecl* key;
        const char* code;
        const char* name;
        int32_t amount;
        int32_t error;
        int32_t id;
    } cases[] = {
        {&t->code_key, "ECHO", "", 0, 0, 5}, // NOCASE
        {&t->code_key, "foxtr", "", 0, 35, 0},
        {&t->name_key, "", "MILLER", 0, 0, 1}, // first duplicate in insertion order
        {&t->name_key, "", "", 0, 35, 0},      // a blank OPT value is not in the key
        {&t->amount_key, "", "", 10, 0, 2},
    };
    for (const Case& c : cases) {
        t->Fill(0, c.code, c.name, c.amount);
        Vrn$FILE_GETfk(c.key);
        EXPECT_EQ(Vrn$ERRCODE, c.error) << c.code << c.name;
        if (c.error == 0) {
            EXPECT_EQ(int32_t(t->record.ID), c.id) << c.code << c.name;
        }
    }
    Vrn$FILE_GETfl(&t->file, 3);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(std::string(t->record.CODE.View()), "charly");
    Vrn$FILE_GETfl(&t->file, 99);
    EXPECT_EQ(Vrn$ERRCODE, 35);
}

TEST_P(DriverTest, DuplicateUniqueKeyWritesNothing) {
    auto t = Filled();
    EXPECT_EQ(t->Add(6, "ALPHA", "new", 1), 40);
    EXPECT_EQ(Vrn$FILE_RECORDSf(&t->file), 5);
    EXPECT_EQ(Shell(HostFile("Kel.kel"), "SELECT count(*) FROM kel_records"), "5");
    // A PUT that would duplicate the unique key leaves the stored record as it was.
    t->record.CODE = "echo";
    Vrn$FILE_GETfk(&t->code_key);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    t->record.CODE = "Delta";
    t->record.AMOUNT = 777;
    Vrn$FILE_PUTf(&t->file);
    EXPECT_EQ(Vrn$ERRCODE, 40);
    Vrn$FILE_GETfl(&t->file, 5);
    EXPECT_EQ(int32_t(t->record.AMOUNT), -5);
    EXPECT_EQ(Shell(HostFile("Kel.kel"), "SELECT count(*) FROM kel_records WHERE changes > 0"), "0");
}

TEST_P(DriverTest, PutAndDelete) {
    auto t = Filled();
    Vrn$FILE_PUTf(&t->file); // the last ADD left its record current
    EXPECT_EQ(Vrn$ERRCODE, 0);
    t->record.CODE = "bravo";
    Vrn$FILE_GETfk(&t->code_key);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    t->record.NAME = "Adams";
    t->record.AMOUNT = 99;
    Vrn$FILE_PUTf(&t->file);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_SETk(&t->name_key);
    EXPECT_EQ(t->Walk(true), (std::vector<int32_t>{4, 1, 3, 5, 2})); // now in the name key
    Vrn$FILE_SETk(&t->amount_key);
    EXPECT_EQ(t->Walk(true), (std::vector<int32_t>{4, 1, 3, 2, 5}));

    t->record.CODE = "delta";
    Vrn$FILE_GETfk(&t->code_key);
    Vrn$FILE_DELETE(&t->file);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_DELETE(&t->file); // the record is no longer current
    EXPECT_EQ(Vrn$ERRCODE, 33);
    EXPECT_EQ(Vrn$FILE_RECORDSf(&t->file), 4);
    EXPECT_EQ(Shell(HostFile("Kel.kel"), "SELECT count(*) FROM kel_records"), "4");
    EXPECT_EQ(Shell(HostFile("Kel.kel"), "SELECT changes FROM kel_records WHERE id = 4"), "1");
}

TEST_P(DriverTest, PositionFindsTheRecordAfterOthersMoved) {
    auto t = Filled();
    t->record.NAME = "miller";
    Vrn$FILE_SETkk(&t->name_key, &t->name_key);
    Vrn$FILE_NEXT(&t->file);
    Vrn$FILE_NEXT(&t->file); // record 3, the second of three equal names
    ASSERT_EQ(int32_t(t->record.ID), 3);
    Vrn$FILE_POSITIONk(&t->name_key);
    std::string key_position = tarvex::testing::PopText();
    Vrn$FILE_POSITIONf(&t->file);
    std::string file_position = tarvex::testing::PopText();
    ASSERT_FALSE(key_position.empty()) << key_position;

    // Others move: the first miller goes, two more millers arrive before and after in key order.
    Vrn$FILE_GETfl(&t->file, 1);
    Vrn$FILE_DELETE(&t->file);
    EXPECT_EQ(t->Add(6, "fox", "Miller", 1), 0);
    EXPECT_EQ(t->Add(7, "golf", "Mill", 1), 0);

    // RESET takes a blank-padded position as the program's 512-byte strings hold it.
    tarvex::testing::PushText(key_position + std::string(512 - key_position.size(), ' '));
    Vrn$FILE_RESETk(&t->name_key);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(t->Walk(true), (std::vector<int32_t>{3, 5, 6, 2}));
    tarvex::testing::PushText(key_position);
    Vrn$FILE_RESETk(&t->name_key);
    EXPECT_EQ(t->Walk(false), (std::vector<int32_t>{3, 7}));

    t->Fill(0, "", "", 0);
    tarvex::testing::PushText(key_position);
    Vrn$FILE_REGETk(&t->name_key);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(int32_t(t->record.ID), 3);
    tarvex::testing::PushText(file_position);
    Vrn$FILE_RESETf(&t->file);
    EXPECT_EQ(t->Walk(true), (std::vector<int32_t>{3, 4, 5, 6, 7}));

    for (const char* bad : {"", "    ", "K01XYZ", "F00000000000000", "garbage text"}) {
        tarvex::testing::PushText(bad);
        Vrn$FILE_REGETf(&t->file);
        EXPECT_EQ(Vrn$ERRCODE, 35) << "'" << bad << "'";
    }
    Vrn$FILE_GETfl(&t->file, 3);
    Vrn$FILE_DELETE(&t->file);
    tarvex::testing::PushText(file_position);
    Vrn$FILE_REGETf(&t->file);
    EXPECT_EQ(Vrn$ERRCODE, 35);
}

TEST_P(DriverTest, WatchedPutFailsWhenAnotherConnectionChangedTheRecord) {
    auto a = Filled();
    Table b("Kel.kel");
    Vrn$FILE_OPEN(&b.file, 0x42); // read/write, deny none
    ASSERT_EQ(Vrn$ERRCODE, 0);

    Vrn$FILE_WATCH(&a->file);
    Vrn$FILE_GETfl(&a->file, 2);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_GETfl(&b.file, 2);
    b.record.AMOUNT = 222;
    Vrn$FILE_PUTf(&b.file);
    ASSERT_EQ(Vrn$ERRCODE, 0);

    a->record.AMOUNT = 111;
    Vrn$FILE_PUTf(&a->file);
    EXPECT_EQ(Vrn$ERRCODE, 89);
    Vrn$FILE_GETfl(&a->file, 2); // a plain read: no longer watched, and B's change is there
    EXPECT_EQ(int32_t(a->record.AMOUNT), 222);
    a->record.AMOUNT = 111;
    Vrn$FILE_PUTf(&a->file);
    EXPECT_EQ(Vrn$ERRCODE, 0);

    // Watched, and nobody else wrote: the PUT goes through.
    Vrn$FILE_WATCH(&b.file);
    Vrn$FILE_GETfl(&b.file, 2);
    EXPECT_EQ(int32_t(b.record.AMOUNT), 111);
    b.record.AMOUNT = 333;
    Vrn$FILE_PUTf(&b.file);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(Shell(HostFile("Kel.kel"), "SELECT changes FROM kel_records WHERE id = 2"), "3");
}

TEST_P(DriverTest, AccessModes) {
    auto t = Filled();
    Vrn$FILE_CLOSE(&t->file);
    Vrn$FILE_OPEN(&t->file, 0x40); // read-only
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_PUTf(&t->file);
    EXPECT_EQ(Vrn$ERRCODE, 33);
    Vrn$FILE_GETfl(&t->file, 1);
    Vrn$FILE_PUTf(&t->file);
    EXPECT_EQ(Vrn$ERRCODE, 5);
    Vrn$FILE_EMPTY(&t->file);
    EXPECT_EQ(Vrn$ERRCODE, 63);
    Vrn$FILE_OPEN(&t->file, 0x40);
    EXPECT_EQ(Vrn$ERRCODE, 52);
    Vrn$FILE_CLOSE(&t->file);
    Vrn$FILE_CLOSE(&t->file);
    EXPECT_EQ(Vrn$ERRCODE, 37);

    Vrn$FILE_OPEN(&t->file, 0x12); // read/write, deny all
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Table other("Kel.kel");
    Vrn$FILE_OPEN(&other.file, 0x42); // the deny-all open holds the file (after the busy wait)
    EXPECT_EQ(Vrn$ERRCODE, 32);
    EXPECT_EQ(other.file.driver_instance, nullptr);
    Vrn$FILE_EMPTY(&t->file);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(Vrn$FILE_RECORDSf(&t->file), 0);
}

TEST_P(DriverTest, NameBytesAndQueryKey) {
    auto t = Filled();
    Vrn$FILE_GETflu(&t->file, 3, 4); // only the first field
    EXPECT_EQ(int32_t(t->record.ID), 3);
    EXPECT_EQ(std::string(t->record.CODE.View()), "echo  ");
    Vrn$FILE_CLOSE(&t->file);
    Vrn$FILE_NAME(&t->file); // also while closed
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(tarvex::testing::PopText(), ForDriver("Kel.kel"));
    Vrn$FILE_OPEN(&t->file, 0x42);
    Vrn$FILE_NAME(&t->file);
    EXPECT_EQ(tarvex::testing::PopText(), ForDriver("Kel.kel"));
    Vrn$FILE_SETk(&t->amount_key);
    EXPECT_EQ(t->file.driver(VRN_OP_QUERY_KEY, &t->file, nullptr), 3);
    Vrn$FILE_NEXT(&t->file);
    EXPECT_EQ(Vrn$FILE_BYTES(&t->file), int32_t(sizeof(KelRecord)));
    Vrn$FILE_BUFFER(&t->file, 0, 0, 0, 0);
    EXPECT_EQ(Vrn$ERRCODE, 80);
    // A key operation without its key, or with another file's key, is refused without a crash.
    Table other("Other.kel");
    const intptr_t foreign_key[] = {reinterpret_cast<intptr_t>(&other.code_key)};
    for (const intptr_t* arguments : {static_cast<const intptr_t*>(nullptr), foreign_key}) {
        t->file.driver(VRN_OP_GET_FILE_KEY, &t->file, arguments);
        EXPECT_EQ(Vrn$ERRCODE, 37);
    }
}

TEST_P(DriverTest, CreatedFileIsPrivateAndReadableByTheShell) {
    SKIP_ON_SERVER("file modes and folders are the files' own");
    Table nowhere("C:\\Data\\Patients.KEL");
    Vrn$FILE_CREATE(&nowhere.file);
    EXPECT_EQ(Vrn$ERRCODE, 3); // the folder does not exist
    std::filesystem::create_directory(drive.Root() / "data");
    auto u = Filled("C:\\DATA\\Patients"); // default extension, folder matched without case
    std::string path = (drive.Root() / "data" / ForDriver("Patients.kel")).string();
    ASSERT_TRUE(std::filesystem::exists(path));
    auto perms = std::filesystem::status(path).permissions();
    EXPECT_EQ(perms & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
    if (driver->separate_keys) {
        for (int k = 1; k <= 3; k++) {
            std::string key_path = std::filesystem::path(path).replace_extension(".K0" + std::to_string(k)).string();
            EXPECT_EQ(std::filesystem::status(key_path).permissions() & std::filesystem::perms::all,
                      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
            // A blank OPT value has no row in its key file.
            EXPECT_EQ(Shell(key_path, "SELECT count(*) FROM var_key"), k == 2 ? "4" : "5") << k;
        }
    } else {
        EXPECT_EQ(Shell(path, "SELECT count(*) FROM kel_records WHERE k2 IS NULL"), "1");
    }
    EXPECT_EQ(Shell(path, "SELECT count(*) FROM kel_records"), "5");
}

TEST_P(DriverTest, OtherCharacterTablesRequireARebuild) {
    auto t = Filled();
    Vrn$FILE_CLOSE(&t->file);
    tarvex::ApplyEnvironmentText("VRNCOLSEQ=ba\n");
    Vrn$FILE_OPEN(&t->file, 0x42);
    EXPECT_EQ(Vrn$ERRCODE, 46);
    EXPECT_EQ(t->file.driver_instance, nullptr);
    tarvex::ResetEnvironment();
    Vrn$FILE_OPEN(&t->file, 0x42);
    EXPECT_EQ(Vrn$ERRCODE, 0);
}

TEST_P(DriverTest, MissingForeignAndMismatchedFiles) {
    SKIP_ON_SERVER("foreign and damaged files are the files' own (pgsql_tests checks foreign tables)");
    Table missing("Missing.kel");
    Vrn$FILE_OPEN(&missing.file, 0x22);
    EXPECT_EQ(Vrn$ERRCODE, 2);
    EXPECT_EQ(missing.file.driver_instance, nullptr);

    {
        std::ofstream garbage(HostFile("Garbage.kel"), std::ios::binary);
        garbage << std::string(4096, 'x');
    }
    Shell(HostFile("Foreign.kel"), "CREATE TABLE t (a)");
    Table other_layout("Other.kel");
    Vrn$FILE_CREATE(&other_layout.file);
    ASSERT_EQ(Vrn$ERRCODE, 0);

    struct Case {
        const char* name;
        int32_t error;
    } cases[] = {{"Garbage.kel", 36}, {"Foreign.kel", 36}, {"Empty.kel", 36}};
    { std::ofstream empty(HostFile("Empty.kel")); }
    for (const Case& c : cases) {
        Table table(c.name);
        Vrn$FILE_OPEN(&table.file, 0x22);
        EXPECT_EQ(Vrn$ERRCODE, c.error) << c.name;
        EXPECT_EQ(table.file.driver_instance, nullptr) << c.name;
    }

    // The same file declared with another record: 47.
    OtherRecord other{};
    FileDecl decl{};
    std::string other_name = ForDriver("Other.kel");
    decl.driver = driver->entry;
    decl.name = other_name.c_str();
    decl.name_length = VRN_LENGTH_CSTRING;
    decl.record_length = sizeof(OtherRecord);
    decl.record_type = &OtherRecord::Type();
    decl.record = &other;
    Vrn$FILE_OPEN(&decl, 0x22);
    EXPECT_EQ(Vrn$ERRCODE, 47);
    EXPECT_EQ(decl.driver_instance, nullptr);
}

// Every operation code, on a closed file and on an open one, with zero arguments and an empty
// text where one is taken: each ends with an error code or none, never a crash, and the file is
// still whole after.
TEST_P(DriverTest, EveryOperationOnAClosedOrOpenFileEndsCleanly) {
    auto t = Filled();
    Vrn$FILE_CLOSE(&t->file);
    const intptr_t zeros[4] = {0, 0, 0, 0};
    for (bool open : {false, true}) {
        for (int32_t operation = -1; operation <= 95; operation++) {
            SCOPED_TRACE((open ? "open, operation " : "closed, operation ") + std::to_string(operation));
            if (operation == VRN_OP_CREATE || operation == VRN_OP_EMPTY)
                continue; // they would empty the file the sweep goes on with
            if (open && t->file.driver_instance == nullptr) {
                Vrn$FILE_OPEN(&t->file, 0x22);
                ASSERT_EQ(Vrn$ERRCODE, 0);
            }
            if (!open && t->file.driver_instance != nullptr)
                Vrn$FILE_CLOSE(&t->file);
            // Two texts: an operation takes at most one; what is left or pushed is popped after.
            uint32_t depth = tarvex::StackDepth();
            tarvex::testing::PushText("");
            tarvex::testing::PushText("");
            t->file.driver(operation, &t->file, zeros);
            EXPECT_GE(Vrn$ERRCODE, 0);
            EXPECT_LE(Vrn$ERRCODE, 93);
            EXPECT_GE(tarvex::StackDepth(), depth + 1);
            while (tarvex::StackDepth() > depth)
                tarvex::testing::PopText();
            Vrn$ROLLBACK(); // a LOGOUT sent straight to the driver leaves nothing behind
        }
    }
    // The sweep added and deleted records on the way (ADD, APPEND, DELETE with the buffer as it
    // stood); what is there is whole: every record in the unique key, reached through it.
    if (t->file.driver_instance != nullptr)
        Vrn$FILE_CLOSE(&t->file);
    Vrn$FILE_OPEN(&t->file, 0x22);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    int32_t records = Vrn$FILE_RECORDSf(&t->file);
    EXPECT_GE(records, 3);
    EXPECT_EQ(Vrn$FILE_RECORDSk(&t->code_key), records);
    Vrn$FILE_SETk(&t->code_key);
    EXPECT_EQ(int32_t(t->Walk(true).size()), records);
    Vrn$FILE_CLOSE(&t->file);
    if (!OnServer()) {
        EXPECT_EQ(Shell(HostFile("Kel.kel"), "PRAGMA integrity_check"), "ok");
    }
}

// ---- Properties, APPEND with a length, read-ahead, other processes ------------------------------

TEST_P(DriverTest, PropertiesAnswerAndUnknownOnesAreIgnored) {
    auto t = Filled();
    auto get = [&](int32_t property) {
        Vrn$FILE_GET_PROPERTY(&t->file, property);
        EXPECT_EQ(Vrn$ERRCODE, 0) << property;
        return tarvex::testing::PopText();
    };
    auto set = [&](int32_t property, const char* value) {
        tarvex::testing::PushText(value);
        Vrn$FILE_SET_PROPERTY(&t->file, property);
        EXPECT_EQ(Vrn$ERRCODE, 0) << property;
    };
    EXPECT_EQ(get(VRN_DRIVER_PROP_DRIVER), driver->name);
    EXPECT_EQ(get(VRN_DRIVER_PROP_FILES), driver->separate_keys ? "4" : "1");
    EXPECT_EQ(get(VRN_DRIVER_PROP_QUICKSCAN), "off");
    set(VRN_DRIVER_PROP_QUICKSCAN, "ON");
    EXPECT_EQ(get(VRN_DRIVER_PROP_QUICKSCAN), "on");
    set(VRN_DRIVER_PROP_QUICKSCAN, "maybe"); // not a value: left as it was
    EXPECT_EQ(get(VRN_DRIVER_PROP_QUICKSCAN), "on");
    tarvex::testing::PushText("QUICKSCAN"); // the SEND command reads the same option
    Vrn$FILE_SEND(&t->file);
    EXPECT_EQ(tarvex::testing::PopText(), "on");
    set(VRN_DRIVER_PROP_WAIT, "250");
    EXPECT_EQ(get(VRN_DRIVER_PROP_WAIT), "250");
    set(VRN_DRIVER_PROP_WAIT, "-1");
    EXPECT_EQ(get(VRN_DRIVER_PROP_WAIT), "250");
    set(VRN_DRIVER_PROP_DRIVER, "OTHER"); // read only
    EXPECT_EQ(get(VRN_DRIVER_PROP_DRIVER), driver->name);
    set(12345, "x");
    EXPECT_EQ(get(12345), "");
    EXPECT_EQ(get(VRN_DRIVER_PROP_TRANSACTION), "0");
    Vrn$LOGOUT(1, &t->file, static_cast<FileDecl*>(nullptr));
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(get(VRN_DRIVER_PROP_TRANSACTION), "1");
    Vrn$ROLLBACK();
    EXPECT_EQ(get(VRN_DRIVER_PROP_TRANSACTION), "0");
    // The wait set above is what a lock another connection holds is waited for.
    Table other("Kel.kel");
    Vrn$FILE_OPEN(&other.file, 0x22);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_LOCKf(&other.file);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    auto start = std::chrono::steady_clock::now();
    EXPECT_NE(t->Add(9, "india", "x", 1), 0);
    auto waited = std::chrono::steady_clock::now() - start;
    EXPECT_GE(waited, std::chrono::milliseconds(200));
    EXPECT_LT(waited, std::chrono::milliseconds(2500));
}

TEST_P(DriverTest, AppendWithALengthStoresThatMuchOfTheBuffer) {
    auto t = Filled();
    t->Fill(7, "golf", "Walker", 70);
    Vrn$FILE_APPENDfu(&t->file, 10); // ID and CODE; NAME and AMOUNT are not stored
    ASSERT_EQ(Vrn$ERRCODE, 0);
    int32_t pointer = Vrn$FILE_POINTERf(&t->file);
    t->Fill(0, "", "", 0);
    Vrn$FILE_GETfl(&t->file, pointer);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(int32_t(t->record.ID), 7);
    EXPECT_EQ(std::string(t->record.CODE.View()), "golf  ");
    EXPECT_EQ(int32_t(t->record.AMOUNT), 0);
    // The keys follow what was stored: found by CODE, absent from the OPT NAME key.
    t->record.CODE = "GOLF";
    Vrn$FILE_GETfk(&t->code_key);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(Vrn$FILE_RECORDSk(&t->name_key), 4) << "NAME was not stored";
    // A length beyond the record stores the record; a duplicate key is refused as for ADD.
    t->Fill(8, "hotel", "Stone", 80);
    Vrn$FILE_APPENDfu(&t->file, 100000);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_GETfl(&t->file, Vrn$FILE_POINTERf(&t->file));
    EXPECT_EQ(int32_t(t->record.AMOUNT), 80);
    t->Fill(9, "hotel", "Stone", 90);
    Vrn$FILE_APPENDfu(&t->file, 10);
    EXPECT_EQ(Vrn$ERRCODE, 40);
    EXPECT_EQ(Vrn$FILE_RECORDSf(&t->file), 7);
}

// A sequence read ahead still sees what other connections commit between two NEXTs, and what
// this connection writes itself.
TEST_P(DriverTest, NextSeesChangesMadeBetweenSteps) {
    auto a = Filled();
    for (int i = 6; i < 36; i++) { // record pointer = ID
        char code[16];
        std::snprintf(code, sizeof code, "z%03d", i);
        ASSERT_EQ(a->Add(i, code, "Bulk", i), 0);
    }
    Table b("Kel.kel");
    Vrn$FILE_OPEN(&b.file, 0x22);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_SETk(&a->code_key); // Alpha BRAVO charly delta echo z006 ... z035
    std::vector<int32_t> seen = a->Walk(true);
    ASSERT_EQ(seen.size(), 35u);
    Vrn$FILE_SETk(&a->code_key);
    for (int i = 0; i < 8; i++) // far enough that the next rows are read ahead
        Vrn$FILE_NEXT(&a->file);
    ASSERT_EQ(int32_t(a->record.ID), 8);
    // One step of the sequence: the ID of the record it reads.
    auto step = [&](bool forward) {
        if (forward)
            Vrn$FILE_NEXT(&a->file);
        else
            Vrn$FILE_PREV(&a->file);
        return int32_t(a->record.ID);
    };
    // The other connection deletes the next record and adds one right after this one.
    Vrn$FILE_GETfl(&b.file, 9);
    Vrn$FILE_DELETE(&b.file);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    ASSERT_EQ(b.Add(99, "z008a", "New", 1), 0);
    EXPECT_EQ(step(true), 99);
    EXPECT_EQ(step(true), 10);
    // Its own change of the record after the next one.
    for (int i = 0; i < 3; i++)
        step(true);
    ASSERT_EQ(step(true), 14);
    Vrn$FILE_GETfl(&a->file, 15);
    a->record.AMOUNT = 1515;
    Vrn$FILE_PUTf(&a->file);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(step(true), 15);
    EXPECT_EQ(int32_t(a->record.AMOUNT), 1515);
    // Backwards after forwards: the rows read ahead do not serve the other direction.
    EXPECT_EQ(step(false), 14);
    EXPECT_EQ(step(false), 13);
    // A change by the other connection to the record the batch holds next is what NEXT reads.
    for (int i = 0; i < 2; i++)
        step(true);
    ASSERT_EQ(step(true), 16);
    Vrn$FILE_GETfl(&b.file, 17);
    b.record.AMOUNT = 1717;
    Vrn$FILE_PUTf(&b.file);
    EXPECT_EQ(step(true), 17);
    EXPECT_EQ(int32_t(a->record.AMOUNT), 1717);
}

// Waits for a forked child and gives its exit code (-1 when it did not exit normally).
int ChildStatus(pid_t child) {
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

TEST_P(DriverTest, WatchedPutFailsWhenAnotherProcessChangedTheRecord) {
    auto a = Filled();
    Vrn$FILE_WATCH(&a->file);
    Vrn$FILE_GETfl(&a->file, 3);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    std::string name = a->name;
    pid_t child = fork();
    if (child == 0) {
        Table b(name);
        Vrn$FILE_OPEN(&b.file, 0x22);
        Vrn$FILE_GETfl(&b.file, 3);
        b.record.AMOUNT = 3333;
        Vrn$FILE_PUTf(&b.file);
        _exit(Vrn$ERRCODE == 0 ? 0 : 10);
    }
    ASSERT_EQ(ChildStatus(child), 0);
    a->record.AMOUNT = 1111;
    a->record.CODE = "CHANGED";
    Vrn$FILE_PUTf(&a->file);
    EXPECT_EQ(Vrn$ERRCODE, 89);
    // Nothing of the refused PUT is in the file, nor in its keys.
    EXPECT_EQ(Shell(HostFile("Kel.kel"), "SELECT changes FROM kel_records WHERE id = 3"), "1");
    Vrn$FILE_GETfl(&a->file, 3);
    EXPECT_EQ(int32_t(a->record.AMOUNT), 3333);
    EXPECT_EQ(std::string(a->record.CODE.View()), "charly");
    a->record.CODE = "changed";
    Vrn$FILE_GETfk(&a->code_key);
    EXPECT_EQ(Vrn$ERRCODE, 35);
}

// A second process writes while this one walks a sequence: no lock is kept between two NEXTs.
TEST_P(DriverTest, WalkingASequenceKeepsNoOtherProcessWaiting) {
    auto a = Filled();
    Vrn$FILE_SETf(&a->file);
    Vrn$FILE_NEXT(&a->file);
    Vrn$FILE_NEXT(&a->file);
    std::string name = a->name;
    pid_t child = fork();
    if (child == 0) {
        Table b(name);
        Vrn$FILE_OPEN(&b.file, 0x22);
        tarvex::testing::PushText("0"); // no waiting: a lock kept by the parent fails the ADD
        Vrn$FILE_SET_PROPERTY(&b.file, VRN_DRIVER_PROP_WAIT); // pops the value pushed below
        _exit(b.Add(60, "zulu", "Late", 6) == 0 ? 0 : 10);
    }
    ASSERT_EQ(ChildStatus(child), 0);
    EXPECT_EQ(a->Walk(true), (std::vector<int32_t>{3, 4, 5, 60}));
}

// ---- VARNEL's key files -------------------------------------------------------------------------

class VarnelTest : public DriverTest {};

TEST_P(VarnelTest, KeyFilesMissingDamagedOrOutOfStepAreRebuilt) {
    auto t = Filled("Provider.kel");
    Vrn$FILE_CLOSE(&t->file);
    const std::string dat = HostFile("Provider.kel");
    EXPECT_EQ(Shell(dat, "SELECT count(*) FROM var_records"), "5");
    EXPECT_EQ(Shell(KeyFile("Provider.kel", 1), "SELECT count(*) FROM var_key"), "5");
    EXPECT_EQ(Shell(KeyFile("Provider.kel", 2), "SELECT count(*) FROM var_key"), "4");
    EXPECT_EQ(Shell(KeyFile("Provider.kel", 3), "SELECT count(*) FROM var_key"), "5");
    std::filesystem::copy_file(KeyFile("Provider.kel", 2), HostFile("Old.K02"));

    // Each way a key file can be wrong: OPEN refuses with 46 and opens nothing; BUILD of the
    // closed file mends it and every key reads in order again.
    struct Case {
        const char* what;
        std::function<void()> spoil;
    } cases[] = {
        {"K02 from before the last transaction",
         [&] {
             Vrn$FILE_OPEN(&t->file, 0x22);
             Vrn$LOGOUT(1, &t->file, static_cast<FileDecl*>(nullptr));
             EXPECT_EQ(t->Add(7, "ECHO", "Dup", 1), 40); // refused: the stamp is raised by the next
             ASSERT_EQ(t->Add(6, "foxtr", "Brown", 60), 0);
             Vrn$COMMIT();
             ASSERT_EQ(Vrn$ERRCODE, 0);
             Vrn$FILE_CLOSE(&t->file);
             std::filesystem::copy_file(HostFile("Old.K02"), KeyFile("Provider.kel", 2),
                                        std::filesystem::copy_options::overwrite_existing);
         }},
        {"K01 deleted", [&] { std::filesystem::remove(KeyFile("Provider.kel", 1)); }},
        {"K03 garbage",
         [&] {
             std::ofstream garbage(KeyFile("Provider.kel", 3), std::ios::binary | std::ios::trunc);
             garbage << std::string(8192, 'k');
         }},
        {"K01 holding key 2",
         [&] {
             std::filesystem::copy_file(KeyFile("Provider.kel", 2), KeyFile("Provider.kel", 1),
                                        std::filesystem::copy_options::overwrite_existing);
         }},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        c.spoil();
        Vrn$FILE_OPEN(&t->file, 0x22);
        EXPECT_EQ(Vrn$ERRCODE, 46);
        EXPECT_EQ(t->file.driver_instance, nullptr);
        Vrn$FILE_BUILDf(&t->file);
        ASSERT_EQ(Vrn$ERRCODE, 0);
        Vrn$FILE_OPEN(&t->file, 0x22);
        ASSERT_EQ(Vrn$ERRCODE, 0);
        Vrn$FILE_SETk(&t->code_key);
        EXPECT_EQ(t->Walk(true), (std::vector<int32_t>{2, 4, 3, 1, 5, 6}));
        Vrn$FILE_SETk(&t->name_key);
        EXPECT_EQ(t->Walk(true), (std::vector<int32_t>{6, 1, 3, 5, 2}));
        Vrn$FILE_SETk(&t->amount_key);
        EXPECT_EQ(t->Walk(true), (std::vector<int32_t>{6, 1, 3, 2, 4, 5}));
        Vrn$FILE_CLOSE(&t->file);
        for (int k = 1; k <= 3; k++) {
            EXPECT_EQ(Shell(KeyFile("Provider.kel", k), "PRAGMA integrity_check"), "ok") << k;
            EXPECT_EQ(std::filesystem::status(KeyFile("Provider.kel", k)).permissions() & std::filesystem::perms::all,
                      std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
        }
    }
    // The shell reads every file the driver wrote.
    EXPECT_EQ(Shell(dat, "SELECT count(*) FROM var_records"), "6");
    EXPECT_EQ(Shell(KeyFile("Provider.kel", 1), "SELECT count(*) FROM var_key"), "6");
    EXPECT_EQ(Shell(KeyFile("Provider.kel", 2), "SELECT count(*) FROM var_key"), "5");
    EXPECT_EQ(Shell(KeyFile("Provider.kel", 3), "SELECT count(*) FROM var_key"), "6");
    // A damaged record file is 36 and BUILD does not touch it.
    {
        std::ofstream garbage(dat, std::ios::binary | std::ios::trunc);
        garbage << std::string(8192, 'd');
    }
    Vrn$FILE_OPEN(&t->file, 0x22);
    EXPECT_EQ(Vrn$ERRCODE, 36);
    Vrn$FILE_BUILDf(&t->file);
    EXPECT_EQ(Vrn$ERRCODE, 36);
}

// A write whose key file refuses it (a duplicate) leaves the record file as it was, and a
// transaction over a VARNEL file and a KELSTORE file commits both.
TEST_P(VarnelTest, AFailedKeyWriteUndoesTheRecordWrite) {
    auto t = Filled("Provider.kel");
    EXPECT_EQ(t->Add(6, "ECHO", "Other", 1), 40);
    EXPECT_EQ(Shell(HostFile("Provider.kel"), "SELECT count(*) FROM var_records"), "5");
    EXPECT_EQ(Shell(KeyFile("Provider.kel", 2), "SELECT count(*) FROM var_key"), "4");
    Vrn$FILE_GETfl(&t->file, 4); // blank NAME: no row in the NAME key file
    t->record.NAME = "Named";
    t->record.CODE = "alpha"; // the unique key refuses it after NAME was written
    Vrn$FILE_PUTf(&t->file);
    EXPECT_EQ(Vrn$ERRCODE, 40);
    EXPECT_EQ(Shell(KeyFile("Provider.kel", 2), "SELECT count(*) FROM var_key"), "4");
    EXPECT_EQ(Shell(HostFile("Provider.kel"), "SELECT sum(changes) FROM var_records"), "0");
    Vrn$FILE_CLOSE(&t->file);
    Vrn$FILE_OPEN(&t->file, 0x22); // the key files are still in step
    EXPECT_EQ(Vrn$ERRCODE, 0);
}

TEST_P(VarnelTest, MoreThanTenKeysAreRefused) {
    Table t("Wide.kel");
    KeyDecl extra[8];
    std::vector<KeyDecl*> keys(t.keys, t.keys + 3);
    for (KeyDecl& key : extra) {
        key = t.amount_key;
        keys.push_back(&key);
    }
    t.file.keys = keys.data();
    t.file.key_count = 11;
    Vrn$FILE_CREATE(&t.file);
    EXPECT_EQ(Vrn$ERRCODE, 47);
    EXPECT_FALSE(std::filesystem::exists(HostFile("Wide.kel")));
    t.file.key_count = 10; // ten is the most
    Vrn$FILE_CREATE(&t.file);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_OPEN(&t.file, 0x22);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(t.Add(1, "a", "b", 1), 0);
    EXPECT_EQ(Shell(KeyFile("Wide.kel", 9), "SELECT count(*) FROM var_key"), "1");
}

INSTANTIATE_TEST_SUITE_P(Drivers, VarnelTest, ::testing::Values(kDrivers[1]), DriverName);

// ---- Transactions, locks, streams, BUILD -----------------------------------------------------------

// Three files of one practice: patients, their claims, the claims' lines (one layout serves all).
struct Practice {
    std::unique_ptr<Table> patients, claims, lines;
};

class DriverTransactionTest : public DriverTest {
  protected:
    void SetUp() override {
        DriverTest::SetUp();
        table_keys = driver->separate_keys ? 2 : 3;
    }
    Practice Open() {
        Practice p;
        p.patients = Filled("Patient.kel");
        p.claims = Filled("Claims.kel");
        p.lines = Filled("Lines.kel");
        return p;
    }
    // The same change on each file: one record added, record 2 changed, record 5 deleted.
    static void Change(Table& t) {
        EXPECT_EQ(t.Add(6, "foxtr", "Brown", 60), 0);
        Vrn$FILE_GETfl(&t.file, 2);
        ASSERT_EQ(Vrn$ERRCODE, 0);
        t.record.AMOUNT = 222;
        Vrn$FILE_PUTf(&t.file);
        EXPECT_EQ(Vrn$ERRCODE, 0);
        Vrn$FILE_GETfl(&t.file, 5);
        Vrn$FILE_DELETE(&t.file);
        EXPECT_EQ(Vrn$ERRCODE, 0);
    }
    // What the sqlite3 shell reads from a file: records, whether 5 and 6 are there, the changes.
    std::string Outside(const char* name) {
        return Shell(HostFile(name),
                     "SELECT count(*), sum(CASE WHEN id = 5 THEN 1 ELSE 0 END), sum(CASE WHEN id = 6 THEN 1 ELSE 0 END), "
                     "sum(changes) FROM kel_records");
    }
    static bool InLogout(const Table& t) {
        return t.file.driver_instance != nullptr && (t.file.driver_instance->state & VRN_STATE_LOGOUT) != 0;
    }
};

TEST_P(DriverTransactionTest, CommitMakesEveryFileChangedAndRollbackNone) {
    for (bool commit : {true, false}) {
        SCOPED_TRACE(commit ? "COMMIT" : "ROLLBACK");
        Practice p = Open();
        Vrn$LOGOUT(2, &p.patients->file, &p.claims->file, &p.lines->file, static_cast<FileDecl*>(nullptr));
        ASSERT_EQ(Vrn$ERRCODE, 0);
        EXPECT_TRUE(InLogout(*p.patients) && InLogout(*p.claims) && InLogout(*p.lines));
        Vrn$FILE_CLOSE(&p.claims->file); // no CLOSE inside a transaction
        EXPECT_EQ(Vrn$ERRCODE, 56);
        for (Table* t : {p.patients.get(), p.claims.get(), p.lines.get()}) {
            Change(*t);
            EXPECT_EQ(Vrn$FILE_RECORDSf(&t->file), 5); // the program sees its own changes
            t->record.CODE = "FOXTR";
            Vrn$FILE_GETfk(&t->code_key);
            EXPECT_EQ(Vrn$ERRCODE, 0);
        }
        // Outside, nothing has changed yet.
        for (const char* name : {"Patient.kel", "Claims.kel", "Lines.kel"})
            EXPECT_EQ(Outside(name), "5|1|0|0") << name;

        if (commit)
            Vrn$COMMIT();
        else
            Vrn$ROLLBACK();
        EXPECT_EQ(Vrn$ERRCODE, 0);
        Vrn$COMMIT();
        EXPECT_EQ(Vrn$ERRCODE, 91);
        const std::string expected = commit ? "5|0|1|1" : "5|1|0|0";
        for (const char* name : {"Patient.kel", "Claims.kel", "Lines.kel"})
            EXPECT_EQ(Outside(name), expected) << name;
        for (Table* t : {p.patients.get(), p.claims.get(), p.lines.get()}) {
            EXPECT_FALSE(InLogout(*t));
            EXPECT_EQ(Vrn$FILE_RECORDSf(&t->file), 5);
            Vrn$FILE_GETfl(&t->file, 2);
            EXPECT_EQ(int32_t(t->record.AMOUNT), commit ? 222 : 10);
            Vrn$FILE_GETfl(&t->file, 5);
            EXPECT_EQ(Vrn$ERRCODE, commit ? 35 : 0);
            t->record.CODE = "FOXTR";
            Vrn$FILE_GETfk(&t->code_key); // the key index went with the records
            EXPECT_EQ(Vrn$ERRCODE, commit ? 0 : 35);
            // After the transaction the file writes on its own again, at once.
            EXPECT_EQ(t->Add(7, "golf", "Green", 70), 0);
        }
        for (const char* name : {"Patient.kel", "Claims.kel", "Lines.kel"})
            EXPECT_EQ(Shell(HostFile(name), "SELECT count(*) FROM kel_records"), "6") << name;
        if (!OnServer()) {
            EXPECT_EQ(Shell(HostFile("Claims.kel"), "PRAGMA integrity_check"), "ok");
        }
        p.patients.reset();
        p.claims.reset();
        p.lines.reset();
        for (const char* name : {"Patient.kel", "Claims.kel", "Lines.kel"})
            std::filesystem::remove(HostFile(name));
    }
}

TEST_P(DriverTransactionTest, LogoutFailsWith48WhenALockIsNotHadInTime) {
    Practice p = Open();
    Table other("Claims.kel");
    Vrn$FILE_OPEN(&other.file, 0x42);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_STREAM(&other.file); // another connection is writing to the claims
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(other.Add(9, "india", "", 1), 0);

    Vrn$LOGOUT(1, &p.patients->file, &p.claims->file, static_cast<FileDecl*>(nullptr));
    EXPECT_EQ(Vrn$ERRCODE, 48);
    EXPECT_FALSE(InLogout(*p.patients));
    EXPECT_FALSE(InLogout(*p.claims));
    Vrn$ROLLBACK();
    EXPECT_EQ(Vrn$ERRCODE, 91);
    // The patients, enlisted first, were let go: another writer gets them at once.
    Table patients("Patient.kel");
    Vrn$FILE_OPEN(&patients.file, 0x42);
    EXPECT_EQ(patients.Add(8, "hotel", "", 1), 0);
    EXPECT_EQ(Shell(HostFile("Patient.kel"), "SELECT count(*) FROM kel_records"), "6");

    Vrn$FILE_FLUSH(&other.file);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$LOGOUT(1, &p.patients->file, &p.claims->file, static_cast<FileDecl*>(nullptr));
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(Vrn$FILE_RECORDSf(&p.claims->file), 6); // the other's flushed record is there
    // While the transaction holds the files, another writer is refused after its wait.
    Vrn$FILE_LOCKfi(&other.file, 1);
    EXPECT_EQ(Vrn$ERRCODE, 32);
    Vrn$LOGOUT(1, &p.lines->file, static_cast<FileDecl*>(nullptr));
    EXPECT_EQ(Vrn$ERRCODE, 56);
    Vrn$COMMIT();
    EXPECT_EQ(Vrn$ERRCODE, 0);
}

TEST_P(DriverTransactionTest, ProcessKilledInsideATransactionLeavesTheFilesAsBefore) {
    SKIP_ON_SERVER("file sizes are the files' own (pgsql_tests kills a station inside a transaction)");
    GTEST_FLAG_SET(death_test_style, "fast");
    Open(); // created with five records each, and closed again before the child starts
    std::vector<uintmax_t> sizes;
    for (const char* name : {"Patient.kel", "Claims.kel", "Lines.kel"})
        sizes.push_back(std::filesystem::file_size(HostFile(name)));
    // Enough records that the record file outgrows the page cache and is written before COMMIT (a
    // VARNEL record file holds no key images, so it takes more of them).
    int adds = driver->separate_keys ? 80000 : 20000;
    auto child = [adds] {
        Table patients("Patient.kel"), claims("Claims.kel"), lines("Lines.kel");
        for (Table* t : {&patients, &claims, &lines})
            Vrn$FILE_OPEN(&t->file, 0x22);
        Vrn$LOGOUT(5, &patients.file, &claims.file, &lines.file, static_cast<FileDecl*>(nullptr));
        if (Vrn$ERRCODE != 0)
            std::exit(1);
        for (int i = 0; i < adds; i++) {
            char code[16];
            std::snprintf(code, sizeof code, "n%05d", i);
            for (Table* t : {&patients, &claims, &lines})
                if (t->Add(100 + i, code, "Killed", i) != 0)
                    std::exit(2);
        }
        Vrn$FILE_GETfl(&claims.file, 1);
        Vrn$FILE_DELETE(&claims.file);
        std::raise(SIGKILL);
    };
    EXPECT_EXIT(child(), ::testing::KilledBySignal(SIGKILL), "");
    // The child died with its changes in the files and their journals beside them.
    for (const char* name : {"Patient.kel", "Claims.kel", "Lines.kel"})
        EXPECT_TRUE(std::filesystem::exists(HostFile(name) + "-journal")) << name;
    EXPECT_GT(std::filesystem::file_size(HostFile("Patient.kel")), sizes[0]); // written into, not only cached
    const char* names[] = {"Patient.kel", "Claims.kel", "Lines.kel"};
    for (size_t i = 0; i < 3; i++) {
        const char* name = names[i];
        EXPECT_EQ(Shell(HostFile(name), "PRAGMA integrity_check"), "ok") << name;
        EXPECT_EQ(std::filesystem::file_size(HostFile(name)), sizes[i]) << name; // rolled back, cut back
        EXPECT_EQ(Shell(HostFile(name), "SELECT count(*), min(id), max(id) FROM kel_records"), "5|1|5")
            << name;
        Table t(name);
        Vrn$FILE_OPEN(&t.file, 0x22);
        ASSERT_EQ(Vrn$ERRCODE, 0) << name;
        Vrn$FILE_SETk(&t.code_key);
        EXPECT_EQ(t.Walk(true), (std::vector<int32_t>{2, 4, 3, 1, 5})) << name;
    }
}

TEST_P(DriverTransactionTest, FilesOpenedAloneTakePartAndStayAlone) {
    Practice p = Open();
    Vrn$FILE_CLOSE(&p.claims->file);
    Vrn$FILE_OPEN(&p.claims->file, 0x12); // read/write, deny all
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_LOCKf(&p.lines->file);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$LOGOUT(1, &p.patients->file, &p.claims->file, &p.lines->file, static_cast<FileDecl*>(nullptr));
    ASSERT_EQ(Vrn$ERRCODE, 0);
    for (Table* t : {p.patients.get(), p.claims.get(), p.lines.get()})
        EXPECT_EQ(t->Add(6, "foxtr", "", 6), 0);
    Vrn$COMMIT();
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(Shell(HostFile("Patient.kel"), "SELECT count(*) FROM kel_records"), "6");
    SKIP_ON_SERVER("other stations read a locked table on the server (pgsql_tests: they cannot write it)");
    // The deny-all and the locked file are again this connection's alone.
    for (const char* name : {"Claims.kel", "Lines.kel"})
        EXPECT_NE(Shell(HostFile(name), "SELECT count(*) FROM kel_records"), "6") << name;
    Vrn$FILE_UNLOCK(&p.lines->file);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(Shell(HostFile("Lines.kel"), "SELECT count(*) FROM kel_records"), "6");
    Vrn$FILE_CLOSE(&p.claims->file);
    EXPECT_EQ(Shell(HostFile("Claims.kel"), "SELECT count(*) FROM kel_records"), "6");
}

TEST_P(DriverTransactionTest, HoldMarksTheNextReadAndReleaseEndsIt) {
    auto t = Filled();
    auto held = [&] { return (t->file.driver_instance->state & VRN_STATE_HELD) != 0; };
    Vrn$FILE_HOLDfi(&t->file, 2);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_GETfl(&t->file, 2);
    EXPECT_TRUE(held());
    Vrn$FILE_RELEASE(&t->file);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_FALSE(held());
    Vrn$FILE_HOLDf(&t->file);
    Vrn$FILE_GETfl(&t->file, 3);
    EXPECT_TRUE(held());
    Vrn$FILE_PUTf(&t->file); // a PUT ends it too
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_FALSE(held());
}

TEST_P(DriverTransactionTest, LockKeepsOthersOutUntilUnlock) {
    auto a = Filled();
    Table b("Kel.kel");
    Vrn$FILE_OPEN(&b.file, 0x42);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_LOCKfi(&a->file, 1);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_NE(a->file.driver_instance->state & VRN_STATE_LOCKED, 0u);
    Vrn$FILE_LOCKfi(&a->file, 1); // LOCK twice: refused by the state
    EXPECT_NE(Vrn$ERRCODE, 0);
    EXPECT_EQ(a->Add(6, "fox", "", 1), 0); // the holder writes
    Vrn$FILE_LOCKfi(&b.file, 1);
    EXPECT_EQ(Vrn$ERRCODE, 32);
    EXPECT_EQ(b.file.driver_instance->state & VRN_STATE_LOCKED, 0u);
    Vrn$FILE_UNLOCK(&a->file);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_LOCKf(&b.file);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(Vrn$FILE_RECORDSf(&b.file), 6);
    Vrn$FILE_LOCKfi(&a->file, 1);
    EXPECT_EQ(Vrn$ERRCODE, 32);
    Vrn$FILE_UNLOCK(&b.file);
    EXPECT_EQ(Shell(HostFile("Kel.kel"), "SELECT count(*) FROM kel_records"), "6");
}

TEST_P(DriverTransactionTest, StreamBatchesWritesUntilFlushOrClose) {
    auto t = Filled();
    Vrn$FILE_STREAM(&t->file);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(t->Add(6, "fox", "", 1), 0);
    EXPECT_EQ(t->Add(7, "golf", "", 1), 0);
    EXPECT_EQ(Shell(HostFile("Kel.kel"), "SELECT count(*) FROM kel_records"), "5");
    Vrn$FILE_FLUSH(&t->file);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(Shell(HostFile("Kel.kel"), "SELECT count(*) FROM kel_records"), "7");
    Vrn$FILE_STREAM(&t->file);
    EXPECT_EQ(t->Add(8, "hotel", "", 1), 0);
    Vrn$FILE_CLOSE(&t->file);
    EXPECT_EQ(Shell(HostFile("Kel.kel"), "SELECT count(*) FROM kel_records"), "8");
}

TEST_P(DriverTransactionTest, AppendKeepsKeysAndDuplicateTellsCollisions) {
    auto t = Filled();
    t->Fill(6, "fox", "Adams", 1);
    Vrn$FILE_APPENDf(&t->file);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    t->Fill(0, "", "ADAMS", 0);
    Vrn$FILE_GETfk(&t->name_key);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(int32_t(t->record.ID), 6);
    t->Fill(7, "ALPHA", "", 1);
    Vrn$FILE_APPENDf(&t->file);
    EXPECT_EQ(Vrn$ERRCODE, 40);

    Vrn$FILE_GETfl(&t->file, 3); // the current record: its own values duplicate nothing
    struct Case {
        const char* what;
        const char* code;
        const char* name;
        int32_t file;     // DUPLICATE(file): any key without DUP
        int32_t code_key; // DUPLICATE(key)
        int32_t name_key;
    } cases[] = {
        {"the current record as read", nullptr, nullptr, 0, 0, 1},
        {"another record's code, without case", "ALPHA", nullptr, 1, 1, 1},
        {"a new code, a name others share", "golf", "SMITH", 0, 0, 1},
        {"a new code, a new name", "golf", "Zeta", 0, 0, 0},
        {"a blank OPT name is in no key", "golf", "", 0, 0, 0},
    };
    for (const Case& c : cases) {
        Vrn$FILE_GETfl(&t->file, 3);
        if (c.code != nullptr)
            t->record.CODE = c.code;
        if (c.name != nullptr)
            t->record.NAME = c.name;
        EXPECT_EQ(Vrn$FILE_DUPLICATEf(&t->file), c.file) << c.what;
        EXPECT_EQ(Vrn$FILE_DUPLICATEk(&t->code_key), c.code_key) << c.what;
        EXPECT_EQ(Vrn$FILE_DUPLICATEk(&t->name_key), c.name_key) << c.what;
        EXPECT_EQ(Vrn$ERRCODE, 0) << c.what;
    }
    // Without a current record the buffer is a new record: its values against every record.
    Vrn$FILE_GETfl(&t->file, 99);
    t->Fill(0, "charly", "", 0);
    EXPECT_EQ(Vrn$FILE_DUPLICATEf(&t->file), 1);
}

TEST_P(DriverTransactionTest, SendAnswersKnownCommandsAndEmptyOtherwise) {
    auto t = Filled();
    struct Case {
        const char* command;
        const char* reply;
    } cases[] = {
        {"QUICKSCAN", "off"},
        {"QUICKSCAN=on", "on"},
        {"QUICKSCAN", "on"},
        {" quickscan = OFF ", "off"},
        {"QUICKSCAN=maybe", ""},
        {"QUICKSCAN", "off"},
        {"Recover=5", "5"},
        {"RECOVER", "5"},
        {"Recover=x", ""},
        {"Recover=", ""},
        {"Recover=-1", ""},
        {"NOSUCH=1", ""},
        {"", ""},
        {"=on", ""},
    };
    for (const Case& c : cases) {
        tarvex::testing::PushText(c.command);
        Vrn$FILE_SEND(&t->file);
        EXPECT_EQ(Vrn$ERRCODE, 0) << c.command;
        EXPECT_EQ(tarvex::testing::PopText(), c.reply) << "'" << c.command << "'";
    }
}

TEST_P(DriverTransactionTest, BuildMakesAFileOfOtherTablesOpenableAgain) {
    auto t = Filled();
    Vrn$FILE_BUILDf(&t->file); // deny none: BUILD needs the file alone
    EXPECT_EQ(Vrn$ERRCODE, 63);
    Vrn$FILE_CLOSE(&t->file);

    tarvex::ApplyEnvironmentText("VRNCOLSEQ=EDCBA\n");
    Vrn$FILE_OPEN(&t->file, 0x22);
    EXPECT_EQ(Vrn$ERRCODE, 46);
    Vrn$FILE_BUILDf(&t->file); // closed: opened alone for the rebuild
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(t->file.driver_instance, nullptr);
    Vrn$FILE_OPEN(&t->file, 0x22);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_SETk(&t->code_key); // E D C B A now sort in that order
    EXPECT_EQ(t->Walk(true), (std::vector<int32_t>{5, 1, 3, 4, 2}));
    t->record.CODE = "Bravo";
    Vrn$FILE_GETfk(&t->code_key);
    EXPECT_EQ(int32_t(t->record.ID), 4);
    Vrn$FILE_CLOSE(&t->file);

    tarvex::ResetEnvironment();
    Vrn$FILE_OPEN(&t->file, 0x22);
    EXPECT_EQ(Vrn$ERRCODE, 46);
    // Open alone, BUILD of each key, then of the file, which records the tables.
    Vrn$FILE_OPEN(&t->file, 0x12);
    EXPECT_EQ(Vrn$ERRCODE, 46);
    Vrn$FILE_BUILDf(&t->file);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_OPEN(&t->file, 0x12);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_BUILDk(&t->name_key);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_BUILDf(&t->file);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_SETk(&t->code_key);
    EXPECT_EQ(t->Walk(true), (std::vector<int32_t>{2, 4, 3, 1, 5}));
    Vrn$FILE_SETk(&t->name_key);
    EXPECT_EQ(t->Walk(true), (std::vector<int32_t>{1, 3, 5, 2}));
    Vrn$FILE_CLOSE(&t->file);
    if (!OnServer()) {
        EXPECT_EQ(Shell(HostFile("Kel.kel"), "PRAGMA integrity_check"), "ok");
    }
    // The key indexes again, the unique ones still unique.
    if (driver->separate_keys) {
        EXPECT_EQ(Shell(KeyFile("Kel.kel", 1), "SELECT count(*), sum(\"unique\") FROM pragma_index_list(\"var_key\")"),
                  "1|1");
        EXPECT_EQ(Shell(KeyFile("Kel.kel", 2), "SELECT count(*), sum(\"unique\") FROM pragma_index_list(\"var_key\")"),
                  "1|0");
        EXPECT_EQ(Shell(KeyFile("Kel.kel", 2), "PRAGMA integrity_check"), "ok");
    } else if (OnServer()) { // three key indexes and the unique one of CODEKEY, read from the catalogue
        EXPECT_EQ(Shell(HostFile("Kel.kel"), "SELECT count(*), sum(CASE WHEN indisunique THEN 1 ELSE 0 END) "
                                             "FROM pg_index WHERE indrelid = 'kel'::regclass AND NOT indisprimary"),
                  "4|1");
    } else {
        EXPECT_EQ(Shell(HostFile("Kel.kel"),
                        "SELECT count(*), sum(\"unique\") FROM pragma_index_list(\"kel_records\")"),
                  "3|1");
    }
}

// Kills the process inside a COMMIT: SQLite's writes (and file deletions) are counted while
// `committing` is set, and the process dies just before the one that reaches the count.
struct CommitKiller {
    static inline bool committing = false;
    static inline int left = 0;
    static inline sqlite3_syscall_ptr real[4] = {};
    static constexpr const char* kCalls[4] = {"write", "pwrite", "pwrite64", "unlink"};

    static void Tick() {
        if (committing && --left == 0)
            std::raise(SIGKILL);
    }
    static ssize_t Write(int fd, const void* data, size_t size) {
        Tick();
        return reinterpret_cast<ssize_t (*)(int, const void*, size_t)>(real[0])(fd, data, size);
    }
    static ssize_t Pwrite(int fd, const void* data, size_t size, off_t at) {
        Tick();
        return reinterpret_cast<ssize_t (*)(int, const void*, size_t, off_t)>(real[1])(fd, data, size, at);
    }
    static ssize_t Pwrite64(int fd, const void* data, size_t size, off64_t at) {
        Tick();
        return reinterpret_cast<ssize_t (*)(int, const void*, size_t, off64_t)>(real[2])(fd, data, size, at);
    }
    static int Unlink(const char* path) {
        Tick();
        return reinterpret_cast<int (*)(const char*)>(real[3])(path);
    }
    // In the child only: from now on the count runs whenever `committing` is set.
    static void Install(int count) {
        left = count;
        sqlite3_vfs* vfs = sqlite3_vfs_find(nullptr);
        const sqlite3_syscall_ptr hooks[4] = {reinterpret_cast<sqlite3_syscall_ptr>(Write),
                                              reinterpret_cast<sqlite3_syscall_ptr>(Pwrite),
                                              reinterpret_cast<sqlite3_syscall_ptr>(Pwrite64),
                                              reinterpret_cast<sqlite3_syscall_ptr>(Unlink)};
        for (int i = 0; i < 4; i++) {
            real[i] = vfs->xGetSystemCall(vfs, kCalls[i]);
            if (real[i] != nullptr)
                vfs->xSetSystemCall(vfs, kCalls[i], hooks[i]);
        }
    }
};

// A child commits large transactions over three files in a loop and is killed, again and again:
// at a random moment (even rounds), or inside a COMMIT at a random one of its writes (odd rounds).
// Each time every file holds every change of a transaction or none.
TEST_P(DriverTransactionTest, KilledAtRandomWhileCommittingLeavesWholeTransactions) {
    SKIP_ON_SERVER("the SQLite journal's crash safety (pgsql_tests kills a station inside a transaction)");
    const char* names[] = {"Patient.kel", "Invoice.kel", "Item.kel"};
    {
        std::unique_ptr<Table> made[3];
        for (int i = 0; i < 3; i++)
            made[i] = Filled(names[i]);
    }
    std::mt19937 random(20261208);
    int hot_journals = 0;
    constexpr int kRounds = 8;
    for (int round = 0; round < kRounds; round++) {
        SCOPED_TRACE("round " + std::to_string(round));
        bool inside_commit = round % 2 == 1;
        int writes = 1 + int(random() % 400);
        pid_t child = fork();
        if (child == 0) {
            if (inside_commit)
                CommitKiller::Install(writes);
            Table patients(names[0]), invoices(names[1]), items(names[2]);
            Table* all[] = {&patients, &invoices, &items};
            for (Table* t : all)
                Vrn$FILE_OPEN(&t->file, 0x22);
            for (int n = 0;; n++) {
                Vrn$LOGOUT(5, &patients.file, &invoices.file, &items.file, static_cast<FileDecl*>(nullptr));
                if (Vrn$ERRCODE != 0)
                    _exit(1);
                for (Table* t : all) {
                    // Record 1 counts the transactions; 300 new records each time.
                    Vrn$FILE_GETfl(&t->file, 1);
                    t->record.AMOUNT = t->record.AMOUNT + 1;
                    Vrn$FILE_PUTf(&t->file);
                    for (int j = 0; j < 300; j++) {
                        char code[24]; // six characters while n stays below 858
                        std::snprintf(code, sizeof code, "%d%c%04d", round, 'a' + n % 26, n / 26 * 300 + j);
                        if (t->Add(1000, code, "Line", j) != 0)
                            _exit(2);
                    }
                }
                CommitKiller::committing = true;
                Vrn$COMMIT();
                CommitKiller::committing = false;
                if (Vrn$ERRCODE != 0)
                    _exit(3);
            }
        }
        if (!inside_commit) {
            std::this_thread::sleep_for(std::chrono::milliseconds(100 + random() % 400));
            kill(child, SIGKILL);
        }
        int status = 0;
        waitpid(child, &status, 0);
        ASSERT_TRUE(WIFSIGNALED(status)) << "the child ended on its own: " << WEXITSTATUS(status);
        if (std::filesystem::exists(HostFile(names[0]) + "-journal"))
            hot_journals++;
        std::string expected;
        for (const char* name : names) {
            SCOPED_TRACE(name);
            Table t(name);
            Vrn$FILE_OPEN(&t.file, 0x22); // rolls a hot journal back
            ASSERT_EQ(Vrn$ERRCODE, 0);
            Vrn$FILE_GETfl(&t.file, 1);
            int32_t transactions = t.record.AMOUNT - 40;
            int32_t records = Vrn$FILE_RECORDSf(&t.file);
            EXPECT_EQ(records, 5 + 300 * transactions);
            EXPECT_EQ(Vrn$FILE_RECORDSk(&t.code_key), records);
            Vrn$FILE_SETk(&t.code_key);
            int32_t walked = 0;
            for (Vrn$FILE_NEXT(&t.file); Vrn$ERRCODE == 0; Vrn$FILE_NEXT(&t.file))
                walked++;
            EXPECT_EQ(walked, records);
            Vrn$FILE_CLOSE(&t.file);
            std::string mine = std::to_string(transactions);
            if (expected.empty())
                expected = mine;
            EXPECT_EQ(mine, expected); // the same transactions in every file
            EXPECT_EQ(Shell(HostFile(name), "PRAGMA integrity_check"), "ok");
            for (int k = 1; driver->separate_keys && k <= 2; k++) {
                EXPECT_EQ(Shell(KeyFile(name, k), "PRAGMA integrity_check"), "ok") << k;
                // The NAME key leaves out the one record with a blank NAME.
                EXPECT_EQ(Shell(KeyFile(name, k), "SELECT count(*) FROM var_key"),
                          std::to_string(k == 2 ? records - 1 : records)) << k;
            }
        }
    }
    std::printf("[          ] %d of %d kills left a hot journal\n", hot_journals, kRounds);
}

// ---- Faults: a full disk, failed commits, files replaced or mixed up ---------------------------------

// What a file holds, id -> amount, as another connection reads it.
std::map<int32_t, int32_t> Contents(const std::string& name) {
    std::map<int32_t, int32_t> out;
    Table t(name);
    Vrn$FILE_OPEN(&t.file, 0x40);
    if (Vrn$ERRCODE != 0)
        return {{-1, Vrn$ERRCODE}};
    Vrn$FILE_SETf(&t.file);
    for (Vrn$FILE_NEXT(&t.file); Vrn$ERRCODE == 0; Vrn$FILE_NEXT(&t.file))
        out[t.record.ID] = t.record.AMOUNT;
    return out;
}

// One writer under a file-size limit, in a child process: plain writes, LOGOUT ... COMMIT and
// STREAM ... FLUSH groups of them, in an order fixed by the seed. It keeps what the file must hold
// (the writes that reported success and were committed) and sends it through `out` as "id amount"
// lines after a line with the number of failed operations. Exit codes above 0 name a file that
// stayed unusable after a failure.
[[noreturn]] void WriteUntilTheDiskIsFull(const std::string& name, off_t limit, uint32_t seed, int out) {
    std::signal(SIGXFSZ, SIG_IGN);
    std::map<int32_t, int32_t> model = Contents(name);
    Table t(name);
    Vrn$FILE_OPEN(&t.file, 0x22);
    if (Vrn$ERRCODE != 0)
        _exit(20);
    struct rlimit size_limit = {rlim_t(limit), rlim_t(limit)};
    setrlimit(RLIMIT_FSIZE, &size_limit);
    std::mt19937 random(seed);
    int failures = 0;
    int32_t next_id = 100;
    // One write on the model `m`: ADD a new record, or PUT or DELETE one the test added.
    auto change = [&](std::map<int32_t, int32_t>& m) {
        std::vector<int32_t> ours;
        for (const auto& [id, amount] : m)
            if (id >= 100)
                ours.push_back(id);
        int kind = ours.empty() ? 0 : int(random() % 4);
        if (kind <= 1) {
            int32_t id = next_id++;
            char code[16];
            std::snprintf(code, sizeof code, "c%05d", id);
            if (t.Add(id, code, "Written", id) == 0)
                m[id] = id;
            else
                failures++;
            return;
        }
        int32_t id = ours[random() % ours.size()];
        char code[16];
        std::snprintf(code, sizeof code, "c%05d", id);
        t.record.CODE = code;
        Vrn$FILE_GETfk(&t.code_key);
        if (Vrn$ERRCODE != 0) {
            failures++;
            return;
        }
        if (kind == 2) {
            t.record.AMOUNT = int32_t(random() % 100000);
            Vrn$FILE_PUTf(&t.file);
            if (Vrn$ERRCODE == 0)
                m[id] = t.record.AMOUNT;
        } else {
            Vrn$FILE_DELETE(&t.file);
            if (Vrn$ERRCODE == 0)
                m.erase(id);
        }
        failures += Vrn$ERRCODE != 0;
    };
    for (int step = 0; step < 160; step++) {
        int group = int(random() % 10);
        if (group < 6) {
            change(model);
            continue;
        }
        std::map<int32_t, int32_t> pending = model;
        if (group < 8) {
            Vrn$LOGOUT(1, &t.file, static_cast<FileDecl*>(nullptr));
            if (Vrn$ERRCODE != 0) {
                failures++;
                continue;
            }
            for (int i = 0; i < 6; i++)
                change(pending);
            Vrn$COMMIT();
            if (Vrn$ERRCODE == 0)
                model = pending;
            else
                failures++;
            // A transaction that failed is over all the same.
            if ((t.file.driver_instance->state & VRN_STATE_LOGOUT) != 0)
                _exit(21);
            continue;
        }
        Vrn$FILE_STREAM(&t.file);
        if (Vrn$ERRCODE != 0) {
            failures++;
            continue;
        }
        for (int i = 0; i < 6; i++)
            change(pending);
        Vrn$FILE_FLUSH(&t.file);
        if (Vrn$ERRCODE == 0) {
            model = pending;
            continue;
        }
        failures++;
        // CLOSE tries the flush once more and reports its outcome; the file opens again either way.
        Vrn$FILE_CLOSE(&t.file);
        if (Vrn$ERRCODE == 0)
            model = pending;
        if (t.file.driver_instance != nullptr)
            _exit(22);
        Vrn$FILE_OPEN(&t.file, 0x22);
        if (Vrn$ERRCODE != 0)
            _exit(23);
    }
    Vrn$FILE_CLOSE(&t.file);
    if (Vrn$ERRCODE != 0)
        _exit(24);
    std::string text = std::to_string(failures) + "\n";
    for (const auto& [id, amount] : model)
        text += std::to_string(id) + " " + std::to_string(amount) + "\n";
    if (write(out, text.data(), text.size()) != ssize_t(text.size()))
        _exit(25);
    _exit(0);
}

// Every write under a full disk either reports its error or is there for every other connection,
// and the file is whole: the contents after the writer ended equal exactly what it was told was
// saved, at several limits, in plain writes, transactions and streams.
TEST_P(DriverTransactionTest, WritesOnAFullDiskFailOrLast) {
    SKIP_ON_SERVER("a full disk under the record file is the files' own");
    int failures_seen = 0;
    for (off_t room : {0, 2048, 6144, 16384}) {
        SCOPED_TRACE("room " + std::to_string(room));
        const std::string name = "Full" + std::to_string(room) + ".kel";
        Filled(name.c_str()).reset();
        off_t limit = off_t(std::filesystem::file_size(HostFile(name))) + room;
        int channel[2];
        ASSERT_EQ(pipe(channel), 0);
        pid_t child = fork();
        if (child == 0) {
            close(channel[0]);
            WriteUntilTheDiskIsFull(name, limit, uint32_t(room) + 7, channel[1]);
        }
        close(channel[1]);
        std::string text;
        char buffer[4096];
        for (ssize_t n; (n = read(channel[0], buffer, sizeof buffer)) > 0;)
            text.append(buffer, size_t(n));
        close(channel[0]);
        ASSERT_EQ(ChildStatus(child), 0);
        std::istringstream lines(text);
        int failures = 0;
        lines >> failures;
        failures_seen += failures;
        std::map<int32_t, int32_t> promised;
        for (int32_t id, amount; lines >> id >> amount;)
            promised[id] = amount;
        ASSERT_FALSE(promised.empty());
        EXPECT_EQ(Contents(name), promised);
        EXPECT_EQ(Shell(HostFile(name), "PRAGMA integrity_check"), "ok");
        Table t(name);
        Vrn$FILE_OPEN(&t.file, 0x22);
        ASSERT_EQ(Vrn$ERRCODE, 0);
        EXPECT_EQ(Vrn$FILE_RECORDSk(&t.code_key), int32_t(promised.size())); // the keys agree
    }
    EXPECT_GT(failures_seen, 0); // the limits were reached
}

// A COMMIT that cannot finish (here a reader keeps the file) is rolled back and reported; the
// file is out of the transaction: it closes, opens and takes part in the next one.
TEST_P(DriverTransactionTest, AFailedCommitEndsTheTransaction) {
    SKIP_ON_SERVER("the failed commit is made with an SQLite reader");
    auto t = Filled("Claims.kel");
    sqlite3* reader = nullptr;
    ASSERT_EQ(sqlite3_open(HostFile("Claims.kel").c_str(), &reader), SQLITE_OK);
    std::string select = "BEGIN; SELECT count(*) FROM claims";
    ASSERT_EQ(sqlite3_exec(reader, select.c_str(), nullptr, nullptr, nullptr), SQLITE_OK);
    Vrn$LOGOUT(1, &t->file, static_cast<FileDecl*>(nullptr));
    ASSERT_EQ(Vrn$ERRCODE, 0);
    for (int i = 0; i < 200; i++) {
        char code[16];
        std::snprintf(code, sizeof code, "n%04d", i);
        ASSERT_EQ(t->Add(100 + i, code, "Line", i), 0);
    }
    Vrn$COMMIT();
    EXPECT_NE(Vrn$ERRCODE, 0);
    sqlite3_close(reader);
    EXPECT_FALSE(InLogout(*t));
    Vrn$ROLLBACK();
    EXPECT_EQ(Vrn$ERRCODE, 91); // nothing left to roll back
    EXPECT_EQ(Vrn$FILE_RECORDSf(&t->file), 5);
    Vrn$FILE_CLOSE(&t->file);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(t->file.driver_instance, nullptr);
    Vrn$FILE_OPEN(&t->file, 0x22);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$LOGOUT(1, &t->file, static_cast<FileDecl*>(nullptr));
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(t->Add(6, "foxtr", "Brown", 60), 0);
    Vrn$COMMIT();
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(Contents(t->name).size(), 6u);
}

// CREATE never replaces a file that is in use: open in another process (also inside a LOGOUT,
// whose journal must survive for its rollback, or deny-all), through another declaration in this
// process, or written to by any SQLite connection. A file nobody uses is replaced.
TEST_P(DriverTransactionTest, CreateRefusesAFileInUse) {
    SKIP_ON_SERVER("file modes and SQLite connections are the files' own (pgsql_tests checks CREATE of a table in use)");
    auto holder = Filled("Patient.kel");
    auto create_in_child = [&] {
        pid_t child = fork();
        if (child == 0) {
            Table other(holder->name);
            Vrn$FILE_CREATE(&other.file);
            _exit(Vrn$ERRCODE);
        }
        return ChildStatus(child);
    };
    EXPECT_EQ(create_in_child(), 32) << "open";
    Vrn$LOGOUT(1, &holder->file, static_cast<FileDecl*>(nullptr));
    ASSERT_EQ(Vrn$ERRCODE, 0);
    ASSERT_EQ(holder->Add(6, "foxtr", "Brown", 60), 0);
    EXPECT_EQ(create_in_child(), 32) << "in a LOGOUT";
    Vrn$COMMIT();
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(Contents(holder->name).size(), 6u);
    Vrn$FILE_CLOSE(&holder->file);
    Vrn$FILE_OPEN(&holder->file, 0x12);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(create_in_child(), 32) << "deny-all";
    Vrn$FILE_CLOSE(&holder->file);
    Vrn$FILE_OPEN(&holder->file, 0x42);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Table second(holder->name);
    Vrn$FILE_CREATE(&second.file);
    EXPECT_EQ(Vrn$ERRCODE, 32) << "another declaration";
    Vrn$FILE_CLOSE(&holder->file);

    sqlite3* writer = nullptr;
    ASSERT_EQ(sqlite3_open(HostFile("Patient.kel").c_str(), &writer), SQLITE_OK);
    ASSERT_EQ(sqlite3_exec(writer, "BEGIN IMMEDIATE", nullptr, nullptr, nullptr), SQLITE_OK);
    Vrn$FILE_CREATE(&second.file);
    EXPECT_EQ(Vrn$ERRCODE, 32) << "a writing connection";
    sqlite3_exec(writer, "ROLLBACK", nullptr, nullptr, nullptr);
    sqlite3_close(writer);
    EXPECT_EQ(Contents(holder->name).size(), 6u);

    Vrn$FILE_CREATE(&second.file);
    EXPECT_EQ(Vrn$ERRCODE, 0) << "nobody uses it";
    EXPECT_TRUE(Contents(holder->name).empty());
    EXPECT_EQ(std::filesystem::status(HostFile("Patient.kel")).permissions() & std::filesystem::perms::all,
              std::filesystem::perms::owner_read | std::filesystem::perms::owner_write);
}

// Names that name no file, folders, read-only files and record tables that are not there.
TEST_P(DriverTest, BadNamesFoldersAndBrokenFilesAreRefusedAtOnce) {
    for (const char* name : {"   ", "C:", "C:\\", "Pat*.kel", "Pat?.kel", "a|b.kel", "tab\there.kel"}) {
        Table t(name);
        t.name = name; // exactly as given
        t.file.name = t.name.c_str();
        Vrn$FILE_CREATE(&t.file);
        EXPECT_EQ(Vrn$ERRCODE, 45) << '"' << name << '"';
        Vrn$FILE_OPEN(&t.file, 0x22);
        EXPECT_EQ(Vrn$ERRCODE, 45) << '"' << name << '"';
    }
    EXPECT_TRUE(std::filesystem::is_empty(drive.Root()));
    SKIP_ON_SERVER("folders and broken files are the files' own");

    std::filesystem::create_directory(HostFile("Folder.kel"));
    Table folder("Folder.kel");
    Vrn$FILE_OPEN(&folder.file, 0x22);
    EXPECT_EQ(Vrn$ERRCODE, 5);
    Vrn$FILE_CREATE(&folder.file);
    EXPECT_EQ(Vrn$ERRCODE, 5);
    EXPECT_TRUE(std::filesystem::is_directory(HostFile("Folder.kel")));

    struct Case {
        const char* what;
        std::string sql;
        int32_t code;
    } cases[] = {
        {"record table dropped", "DROP TABLE broken", 36},
        // (renamed, not dropped: the triggers that watch for outside changes refer to it)
        {"change counter renamed", "ALTER TABLE broken RENAME COLUMN changes TO counter", 36},
        // A field's column under another name: another declaration's table, never read as the
        // text of the missing column's name.
        {"field renamed", "ALTER TABLE broken RENAME COLUMN amount TO total", 47},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(c.what);
        Filled("Broken.kel").reset();
        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(HostFile("Broken.kel").c_str(), &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, c.sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
        sqlite3_close(db);
        Table t("Broken.kel");
        Vrn$FILE_OPEN(&t.file, 0x22);
        EXPECT_EQ(Vrn$ERRCODE, c.code);
        EXPECT_EQ(t.file.driver_instance, nullptr);
    }

    // Write access to a file this user may only read is refused at OPEN, not at the first write.
    Filled("ReadOnly.kel").reset();
    for (const auto& entry : std::filesystem::directory_iterator(drive.Root()))
        if (entry.path().filename().string().starts_with("ReadOnly"))
            std::filesystem::permissions(entry.path(), std::filesystem::perms(0644));
    std::filesystem::permissions(drive.Root(), std::filesystem::perms(0755));
    const bool root = geteuid() == 0;
    pid_t child = fork();
    if (child == 0) {
        // As root the file's bits bind nobody: the check runs as an ordinary user.
        if (root && setuid(65534) != 0)
            _exit(30);
        std::error_code error;
        for (const auto& entry : std::filesystem::directory_iterator(drive.Root(), error))
            if (!root && entry.path().filename().string().starts_with("ReadOnly"))
                std::filesystem::permissions(entry.path(), std::filesystem::perms(0444), error);
        Table t("ReadOnly.kel");
        Vrn$FILE_OPEN(&t.file, 0x22);
        if (Vrn$ERRCODE != 5 || t.file.driver_instance != nullptr)
            _exit(31);
        Vrn$FILE_OPEN(&t.file, 0x40);
        if (Vrn$ERRCODE != 0 || Vrn$FILE_RECORDSf(&t.file) != 5)
            _exit(32);
        _exit(0);
    }
    EXPECT_EQ(ChildStatus(child), 0);
}

// BUILD mends keys; damage it cannot mend (a broken free-page list) is reported, not passed over.
TEST_P(DriverTest, BuildReportsDamageItCannotMend) {
    SKIP_ON_SERVER("damaged database files are the files' own");
    Filled("Damaged.kel").reset();
    const std::string path = HostFile("Damaged.kel");
    Shell(path, std::string("WITH RECURSIVE n(i) AS (SELECT 1 UNION ALL SELECT i + 1 FROM n WHERE i < 2000) ") +
                    "INSERT INTO kel_records (code) SELECT zeroblob(100) FROM n; DELETE FROM kel_records WHERE id > 5");
    std::fstream file(path, std::ios::in | std::ios::out | std::ios::binary);
    unsigned char header[100];
    file.read(reinterpret_cast<char*>(header), sizeof header);
    uint32_t page_size = uint32_t(header[16]) << 8 | header[17];
    uint32_t trunk = uint32_t(header[32]) << 24 | uint32_t(header[33]) << 16 | uint32_t(header[34]) << 8 | header[35];
    ASSERT_GT(trunk, 1u) << "no free pages to spoil";
    // The trunk page's count of leaf pages, far beyond what a page can list.
    file.seekp(std::streamoff(trunk - 1) * page_size + 4);
    const char count[4] = {0x00, 0x7F, 0x00, 0x00};
    file.write(count, sizeof count);
    file.close();
    Table t("Damaged.kel");
    Vrn$FILE_BUILDf(&t.file);
    EXPECT_EQ(Vrn$ERRCODE, 36);
}

// A key file belongs to its own record file: one copied from another table of the same
// declaration, at the same stamp, is refused until BUILD remakes it.
TEST_P(VarnelTest, AKeyFileOfAnotherTableIsRefused) {
    auto x = Filled("Xray.kel");
    auto y = Filled("Yank.kel");
    ASSERT_EQ(x->Add(6, "xray", "Other", 6), 0);
    ASSERT_EQ(y->Add(6, "yank", "Own", 6), 0);
    x.reset();
    y.reset();
    std::filesystem::copy_file(KeyFile("Xray.kel", 1), KeyFile("Yank.kel", 1),
                               std::filesystem::copy_options::overwrite_existing);
    Table t("Yank.kel");
    Vrn$FILE_OPEN(&t.file, 0x22);
    EXPECT_EQ(Vrn$ERRCODE, 46);
    EXPECT_EQ(t.file.driver_instance, nullptr);
    Vrn$FILE_BUILDf(&t.file);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_OPEN(&t.file, 0x22);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    t.record.CODE = "yank";
    Vrn$FILE_GETfk(&t.code_key);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(std::string(t.record.NAME.View()), "Own       ");
    t.record.CODE = "xray";
    Vrn$FILE_GETfk(&t.code_key);
    EXPECT_EQ(Vrn$ERRCODE, 35);
}

INSTANTIATE_TEST_SUITE_P(Drivers, DriverTest, ::testing::ValuesIn(kDrivers), DriverName);
INSTANTIATE_TEST_SUITE_P(Drivers, DriverTransactionTest, ::testing::ValuesIn(kDrivers), DriverName);
#ifdef LUM_WITH_PGSQL
INSTANTIATE_TEST_SUITE_P(Server, DriverTest, ::testing::Values(kServerDriver), DriverName);
INSTANTIATE_TEST_SUITE_P(Server, DriverTransactionTest, ::testing::Values(kServerDriver), DriverName);
#endif

} // namespace
