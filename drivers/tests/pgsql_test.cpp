// SPDX-License-Identifier: GPL-3.0-or-later
// The PGSQL driver against a private PostgreSQL server started for this process (pgsql_server.h):
// key orders (NOCASE, descending, duplicates in insertion order, OPT keys leaving blank values
// out), GET by key and pointer, duplicate-key refusal, PUT and DELETE, typed columns read by psql
// as the outside judge and read back byte for byte, server failures as 90 with the server's text.
// Then two stations: WATCH (89), LOGOUT/COMMIT/ROLLBACK over several files, a LOGOUT that cannot
// get its locks in time (48), a station killed inside a transaction, LOCK/UNLOCK, POSITION with
// RESET and REGET, and WATCH through a view the server serves.
#include "pgsql/pgsql.h"
#include "pgsql/pg_store.h"
#include "tarvex/evaluate.h"
#include "tarvex/views.h"

#include <gtest/gtest.h>

#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>
#include <vector>

#include "core/tests/test_support.h"
#include "pgsql_server.h"
#include "tarvex/files.h"
#include "tarvex/frame.h"
#include "tarvex/type_descriptor.h"

namespace {

pgsql_testing::Server server;
bool server_up = false;

// Starts the one server of the process before the first test and stops it after the last.
class ServerEnvironment : public ::testing::Environment {
  public:
    void SetUp() override {
        server_up = server.Start();
        if (!server_up)
            std::printf("pgsql_tests: no PostgreSQL server could start: %s\n", server.Reason().c_str());
    }
    void TearDown() override { server.Stop(); }
};
const auto* const environment = ::testing::AddGlobalTestEnvironment(new ServerEnvironment);

#define PG_TEST_FIELDS(FIELD)                                                                                \
    FIELD(ID, LONG)                                                                                          \
    FIELD(CODE, STRING(6))                                                                                   \
    FIELD(NAME, STRING(10))                                                                                  \
    FIELD(AMOUNT, LONG)
TARVEX_RECORD(PgRecord, "KT", PG_TEST_FIELDS)
// The same fields under other labels, for files joined in a view.
TARVEX_RECORD(JoinedRecord, "JT", PG_TEST_FIELDS)
TARVEX_RECORD(OtherRecord, "LT", PG_TEST_FIELDS)

#define PG_TYPED_FIELDS(FIELD)                                                                               \
    FIELD(ID, LONG)                                                                                          \
    FIELD(NAME, STRING(12))                                                                                  \
    FIELD(SEEN, DATE)                                                                                        \
    FIELD(RATE, REAL)                                                                                        \
    FIELD(VISITS, SHORT)
TARVEX_RECORD(TypedRecord, "TY", PG_TYPED_FIELDS)

// One FILE declaration on PGSQL with keys CODE (unique, NOCASE), NAME (DUP, OPT, NOCASE) and
// AMOUNT descending (DUP). Two tables of one name are two stations' connections to one table.
template <class Record> struct TableOf {
    Record record{};
    int32_t code_components[1] = {2};
    int32_t name_components[1] = {3};
    int32_t amount_components[1] = {-4};
    KeyDecl code_key{};
    KeyDecl name_key{};
    KeyDecl amount_key{};
    KeyDecl* keys[3] = {&code_key, &name_key, &amount_key};
    FileDecl file{};
    std::string name;

    explicit TableOf(std::string file_name) : name(std::move(file_name)) {
        Init(code_key, code_components, VRN_KEY_NOCASE | VRN_KEY_PRIMARY, "KT:CODEKEY");
        Init(name_key, name_components, VRN_KEY_DUP | VRN_KEY_OPT | VRN_KEY_NOCASE, "KT:NAMEKEY");
        Init(amount_key, amount_components, VRN_KEY_DUP, "KT:AMOUNTKEY");
        file.driver = PGSQL;
        file.name = name.c_str();
        file.name_length = VRN_LENGTH_CSTRING;
        file.key_count = 3;
        file.record_length = sizeof(Record);
        file.record_type = &Record::Type();
        file.keys = keys;
        file.record = &record;
    }
    ~TableOf() {
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
    int32_t Open(int32_t mode = 0x42) {
        Vrn$FILE_OPEN(&file, mode);
        return Vrn$ERRCODE;
    }
    int32_t Add(int32_t id, const char* code, const char* name_text, int32_t amount) {
        record.ID = id;
        record.CODE = code;
        record.NAME = name_text;
        record.AMOUNT = amount;
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
    int32_t GetCode(const char* code) {
        record.CODE = code;
        Vrn$FILE_GETfk(&code_key);
        return Vrn$ERRCODE;
    }
};

using Table = TableOf<PgRecord>;

std::string FileErrorMessage() {
    Vrn$FILEERRORMSG();
    return tarvex::testing::PopText();
}

class PgsqlTest : public ::testing::Test {
  protected:
    tarvex::testing::TemporaryDrive drive;

    void SetUp() override {
        if (!server_up)
            GTEST_SKIP() << "no PostgreSQL server could start: " << server.Reason();
    }

    // A created and opened table holding five records.
    std::unique_ptr<Table> Filled(const char* name = "C:\\DATA\\Kel.kel") {
        auto table = std::make_unique<Table>(name);
        Vrn$FILE_CREATE(&table->file);
        EXPECT_EQ(Vrn$ERRCODE, 0);
        EXPECT_EQ(table->Open(), 0);
        EXPECT_EQ(table->Add(1, "delta", "Miller", 40), 0);
        EXPECT_EQ(table->Add(2, "Alpha", "smith", 10), 0);
        EXPECT_EQ(table->Add(3, "charly", "MILLER", 30), 0);
        EXPECT_EQ(table->Add(4, "BRAVO", "", 10), 0);
        EXPECT_EQ(table->Add(5, "echo", "miller", -5), 0);
        return table;
    }
};

TEST_F(PgsqlTest, KeyOrdersBothWaysWithDuplicatesInInsertionOrder) {
    auto t = Filled();
    struct Case {
        KeyDecl* key;
        std::vector<int32_t> forward;
    } cases[] = {
        {&t->code_key, {2, 4, 3, 1, 5}},   // NOCASE: Alpha BRAVO charly delta echo
        {&t->name_key, {1, 3, 5, 2}},      // miller x3 in insertion order, smith; blank left out
        {&t->amount_key, {1, 3, 2, 4, 5}}, // descending; 10 twice in insertion order
    };
    Vrn$FILE_NEXT(&t->file); // no sequence yet
    EXPECT_EQ(Vrn$ERRCODE, 33);
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
    // SET by key values starts at the first key at or after them; SKIP moves without reading.
    t->record.CODE = "c";
    Vrn$FILE_SETkk(&t->code_key, &t->code_key);
    EXPECT_EQ(t->Walk(true), (std::vector<int32_t>{3, 1, 5}));
    Vrn$FILE_SETk(&t->code_key);
    Vrn$FILE_SKIP(&t->file, 2);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(t->Walk(true), (std::vector<int32_t>{3, 1, 5}));
}

TEST_F(PgsqlTest, GetByKeyAndPointerAndDuplicateKeysWriteNothing) {
    auto t = Filled();
    EXPECT_EQ(t->GetCode("CHARLY"), 0); // NOCASE
    EXPECT_EQ(t->record.ID, 3);
    int32_t pointer = Vrn$FILE_POINTERf(&t->file);
    EXPECT_EQ(t->GetCode("zulu"), 35);
    Vrn$FILE_GETfl(&t->file, pointer);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(t->record.ID, 3);
    Vrn$FILE_GETfl(&t->file, 999999);
    EXPECT_EQ(Vrn$ERRCODE, 35);

    EXPECT_EQ(t->Add(6, "ALPHA", "x", 1), 40); // CODE is unique without regard to case
    EXPECT_EQ(Vrn$FILE_RECORDSf(&t->file), 5);
    EXPECT_EQ(server.Psql("SELECT count(*) FROM kel WHERE id > 5"), "0");
    EXPECT_EQ(t->Add(6, "foxtro", "x", 1), 0); // the table is still writable after the refusal
    // CREATE does not replace a table another station has open.
    Table again("C:\\DATA\\Kel.kel");
    Vrn$FILE_CREATE(&again.file);
    EXPECT_EQ(Vrn$ERRCODE, 32);
    EXPECT_EQ(server.Psql("SELECT count(*) FROM kel"), "6");
}

TEST_F(PgsqlTest, PutAndDeleteChangeTheKeysAndTheRecords) {
    auto t = Filled();
    ASSERT_EQ(t->GetCode("alpha"), 0);
    t->record.CODE = "zulu";
    t->record.AMOUNT = 100;
    Vrn$FILE_PUTf(&t->file);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_SETk(&t->code_key);
    EXPECT_EQ(t->Walk(true), (std::vector<int32_t>{4, 3, 1, 5, 2}));
    Vrn$FILE_SETk(&t->amount_key);
    EXPECT_EQ(t->Walk(true).front(), 2);
    // A PUT that would give a second record a unique key's value changes nothing.
    ASSERT_EQ(t->GetCode("echo"), 0);
    t->record.CODE = "ZULU";
    Vrn$FILE_PUTf(&t->file);
    EXPECT_EQ(Vrn$ERRCODE, 40);
    EXPECT_EQ(server.Psql("SELECT code FROM kel WHERE id = 5"), "echo");
    ASSERT_EQ(t->GetCode("bravo"), 0);
    Vrn$FILE_DELETE(&t->file);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(t->GetCode("bravo"), 35);
    EXPECT_EQ(Vrn$FILE_RECORDSf(&t->file), 4);
    Vrn$FILE_PUTf(&t->file); // DELETE dropped the current record
    EXPECT_EQ(Vrn$ERRCODE, 33);
}

TEST_F(PgsqlTest, TypedColumnsReadByPsqlAndBackByteForByte) {
    int32_t id_components[1] = {1};
    KeyDecl id_key{};
    id_key.label = "TY:IDKEY";
    id_key.label_length = 8;
    id_key.attributes = VRN_KEY_PRIMARY;
    id_key.component_count = 1;
    id_key.components = id_components;
    KeyDecl* keys[1] = {&id_key};
    TypedRecord record{};
    FileDecl file{};
    file.driver = PGSQL;
    file.name = "C:\\DATA\\Typed.kel";
    file.name_length = VRN_LENGTH_CSTRING;
    file.key_count = 1;
    file.record_length = sizeof record;
    file.record_type = &TypedRecord::Type();
    file.keys = keys;
    file.record = &record;
    id_key.file = &file;
    Vrn$FILE_CREATE(&file);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_OPEN(&file, 0x42);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    record.ID = 7;
    record.NAME = "Caf\xE9 M\xFCller"; // Windows-1252: é, ü
    record.SEEN = 80000;                // a day number
    record.RATE = 0.1;
    record.VISITS = -3;
    TypedRecord written = record;
    Vrn$FILE_ADDf(&file);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(server.Psql("SELECT id_, name, visits, rate FROM typed"), "7|Café Müller|-3|0.1");
    EXPECT_EQ(server.Psql("SELECT pg_typeof(id)::text || ' ' || pg_typeof(name)::text || ' ' || "
                          "pg_typeof(seen)::text || ' ' || pg_typeof(rate)::text FROM typed"),
              "bigint text text double precision");
    record = TypedRecord{};
    record.ID = 7;
    Vrn$FILE_GETfk(&id_key);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(std::memcmp(&record, &written, sizeof record), 0);
    // A value another tool wrote that does not fit its field is refused, the field named.
    server.Psql("UPDATE typed SET name = 'much too long for twelve'");
    Vrn$FILE_GETfk(&id_key);
    EXPECT_EQ(Vrn$ERRCODE, 90);
    EXPECT_NE(FileErrorMessage().find("TY:NAME"), std::string::npos);
    Vrn$FILE_CLOSE(&file);
}

TEST_F(PgsqlTest, MissingAndForeignTablesAndServerFailures) {
    Table missing("C:\\DATA\\Nowhere.kel");
    EXPECT_EQ(missing.Open(), 2);
    server.Psql("CREATE TABLE foreign_one (a int)");
    Table foreign("C:\\DATA\\Foreign_one.kel");
    EXPECT_EQ(foreign.Open(), 47);
    // A table of ours for another declaration: a column the declaration names is not there.
    auto t = Filled("C:\\DATA\\Other.kel");
    Vrn$FILE_CLOSE(&t->file);
    server.Psql("ALTER TABLE other DROP COLUMN amount");
    EXPECT_EQ(t->Open(), 47);
    // The table dropped under an open file: the next read reports it.
    auto u = Filled("C:\\DATA\\Gone.kel");
    server.Psql("DROP TABLE gone");
    EXPECT_EQ(u->GetCode("alpha"), 2);
    // A server error without a code of its own is 90 with the server's message.
    server.Psql("ALTER TABLE kel ADD CONSTRAINT small CHECK (amount < 1000)");
    auto v = std::make_unique<Table>("C:\\DATA\\Kel.kel");
    ASSERT_EQ(v->Open(), 0);
    EXPECT_EQ(v->Add(9, "india", "x", 5000), 90);
    EXPECT_NE(FileErrorMessage().find("small"), std::string::npos);
    // No server at the address: OPEN gives 90 with the client library's reason.
    std::string saved = server.ConnInfo();
    setenv("TARVEX_PGSQL", ("host=" + server.Folder() + "/none user=lumarex dbname=postgres").c_str(), 1);
    Table unreachable("C:\\DATA\\Kel.kel");
    EXPECT_EQ(unreachable.Open(), 90);
    EXPECT_NE(FileErrorMessage().find("connect"), std::string::npos);
    unsetenv("TARVEX_PGSQL");
    EXPECT_EQ(unreachable.Open(), 90);
    EXPECT_NE(FileErrorMessage().find("TARVEX_PGSQL"), std::string::npos);
    setenv("TARVEX_PGSQL", saved.c_str(), 1);
}

// Runs `body` in a child process, a station of its own with its own connection; the child's exit
// status is what body returns. `ready` is written once body signals (through the pipe) that it got
// where the parent waits for.
struct Station {
    pid_t pid = -1;
    int ready[2] = {-1, -1};

    template <class Body> void Start(Body body) {
        ASSERT_EQ(pipe(ready), 0);
        pid = fork();
        ASSERT_GE(pid, 0);
        if (pid == 0) {
            close(ready[0]);
            _exit(body(ready[1]));
        }
        close(ready[1]);
    }
    // Waits for the child's signal; false when it ended without giving one.
    bool WaitReady() {
        char byte = 0;
        return read(ready[0], &byte, 1) == 1;
    }
    int Wait() {
        int status = 0;
        waitpid(pid, &status, 0);
        close(ready[0]);
        return WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
    }
};

void Signal(int fd) {
    char byte = 1;
    if (write(fd, &byte, 1) != 1)
        _exit(99);
}

TEST_F(PgsqlTest, WatchGivesTheSecondStation89AndItSeesTheFirstsVersion) {
    auto t = Filled();
    Vrn$FILE_WATCH(&t->file);
    ASSERT_EQ(t->GetCode("alpha"), 0);
    // Another station changes the same record meanwhile.
    Station other;
    other.Start([](int ready) {
        Table u("C:\\DATA\\Kel.kel");
        if (u.Open() != 0 || u.GetCode("alpha") != 0)
            return 1;
        u.record.AMOUNT = 77;
        Vrn$FILE_PUTf(&u.file);
        Signal(ready);
        return Vrn$ERRCODE == 0 ? 0 : 2;
    });
    ASSERT_TRUE(other.WaitReady());
    ASSERT_EQ(other.Wait(), 0);
    t->record.AMOUNT = 55;
    Vrn$FILE_PUTf(&t->file);
    EXPECT_EQ(Vrn$ERRCODE, 89);
    EXPECT_EQ(server.Psql("SELECT amount FROM kel WHERE code = 'Alpha'"), "77");
    // Read again under WATCH, the first station sees the other's version and its PUT goes through.
    Vrn$FILE_WATCH(&t->file);
    ASSERT_EQ(t->GetCode("alpha"), 0);
    EXPECT_EQ(t->record.AMOUNT, 77);
    t->record.AMOUNT = 55;
    Vrn$FILE_PUTf(&t->file);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    // Without WATCH the last PUT wins.
    Table u("C:\\DATA\\Kel.kel");
    ASSERT_EQ(u.Open(), 0);
    ASSERT_EQ(u.GetCode("alpha"), 0);
    ASSERT_EQ(t->GetCode("alpha"), 0);
    u.record.AMOUNT = 1;
    Vrn$FILE_PUTf(&u.file);
    t->record.AMOUNT = 2;
    Vrn$FILE_PUTf(&t->file);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(server.Psql("SELECT amount FROM kel WHERE code = 'Alpha'"), "2");
}

TEST_F(PgsqlTest, AnUpdateByAnotherSqlClientRaisesTheVersionSoWatchSeesIt) {
    auto t = Filled();
    auto version = [] { return server.Psql("SELECT changes FROM kel WHERE code = 'Alpha'"); };
    auto rows = [] { return server.Psql("SELECT string_agg(id || ':' || amount, ',' ORDER BY id) FROM kel"); };
    Vrn$FILE_WATCH(&t->file);
    ASSERT_EQ(t->GetCode("alpha"), 0);
    EXPECT_EQ(server.Psql("UPDATE kel SET amount = 66 WHERE code = 'Alpha'"), "");
    EXPECT_EQ(version(), "1");
    t->record.AMOUNT = 55;
    Vrn$FILE_PUTf(&t->file);
    EXPECT_EQ(Vrn$ERRCODE, 89);
    Vrn$FILE_WATCH(&t->file);
    ASSERT_EQ(t->GetCode("alpha"), 0);
    EXPECT_EQ(t->record.AMOUNT, 66);
    t->record.AMOUNT = 55;
    Vrn$FILE_PUTf(&t->file);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(version(), "2") << "the driver's own PUT raises the version once";
    // An UPDATE that sets the version itself keeps what it set.
    EXPECT_EQ(server.Psql("UPDATE kel SET changes = 40 WHERE code = 'Alpha'"), "");
    EXPECT_EQ(version(), "40");

    // A table made before the trigger: an outside UPDATE leaves the version, until a station opens
    // the table, which adds the trigger and keeps every row.
    const char* has_trigger = "SELECT count(*) FROM pg_trigger WHERE tgrelid = 'kel'::regclass AND tgname = 'lum_changes'";
    Vrn$FILE_CLOSE(&t->file);
    EXPECT_EQ(server.Psql("DROP TRIGGER lum_changes ON kel"), "");
    EXPECT_EQ(server.Psql("UPDATE kel SET amount = 67 WHERE code = 'Alpha'"), "");
    EXPECT_EQ(version(), "40");
    std::string before = rows();
    ASSERT_EQ(t->Open(0x40), 0) << "a read-only OPEN adds it too";
    EXPECT_EQ(server.Psql(has_trigger), "1");
    EXPECT_EQ(rows(), before);
    EXPECT_EQ(server.Psql("UPDATE kel SET amount = 68 WHERE code = 'Alpha'"), "");
    EXPECT_EQ(version(), "41");
    // So does BUILD of the closed table.
    Vrn$FILE_CLOSE(&t->file);
    EXPECT_EQ(server.Psql("DROP TRIGGER lum_changes ON kel"), "");
    before = rows();
    Vrn$FILE_BUILDf(&t->file);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(server.Psql(has_trigger), "1");
    EXPECT_EQ(rows(), before);
}

TEST_F(PgsqlTest, CommitChangesEveryFileAndRollbackNone) {
    auto a = Filled("C:\\DATA\\First.kel");
    auto b = Filled("C:\\DATA\\Second.kel");
    Vrn$LOGOUT(1, &a->file, &b->file, nullptr);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(a->Add(10, "kilo", "x", 1), 0);
    EXPECT_EQ(b->Add(10, "kilo", "x", 1), 0);
    EXPECT_EQ(server.Psql("SELECT count(*) FROM first"), "5"); // no other station sees them yet
    EXPECT_EQ(Vrn$FILE_RECORDSf(&a->file), 6);                 // this one does
    Vrn$ROLLBACK();
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(server.Psql("SELECT (SELECT count(*) FROM first) + (SELECT count(*) FROM second)"), "10");

    Vrn$LOGOUT(1, &a->file, &b->file, nullptr);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(a->Add(10, "kilo", "x", 1), 0);
    EXPECT_EQ(b->Add(11, "alpha", "x", 1), 40); // refused alone: the transaction goes on
    EXPECT_EQ(b->Add(12, "lima", "x", 1), 0);
    ASSERT_EQ(b->GetCode("delta"), 0);
    Vrn$FILE_DELETE(&b->file);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    Vrn$COMMIT();
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$COMMIT();
    EXPECT_EQ(Vrn$ERRCODE, 91);
    EXPECT_EQ(server.Psql("SELECT string_agg(code, ',' ORDER BY id) FROM first WHERE id > 5"), "kilo");
    EXPECT_EQ(server.Psql("SELECT string_agg(code, ',' ORDER BY id) FROM second"), "Alpha,charly,BRAVO,echo,lima");
    // The files work outside a transaction again.
    EXPECT_EQ(a->Add(13, "mike", "x", 1), 0);
    EXPECT_EQ(server.Psql("SELECT count(*) FROM first"), "7");
}

TEST_F(PgsqlTest, LogoutFailsWith48WhenALockIsNotHadInTime) {
    auto a = Filled();
    Station holder;
    holder.Start([](int ready) {
        Table u("C:\\DATA\\Kel.kel");
        if (u.Open() != 0)
            return 1;
        Vrn$FILE_LOCKfi(&u.file, 1);
        if (Vrn$ERRCODE != 0)
            return 2;
        Signal(ready);
        sleep(2);
        Vrn$FILE_UNLOCK(&u.file);
        return Vrn$ERRCODE == 0 ? 0 : 3;
    });
    ASSERT_TRUE(holder.WaitReady());
    auto started = std::chrono::steady_clock::now();
    Vrn$LOGOUT(1, &a->file, nullptr);
    double waited = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
    EXPECT_EQ(Vrn$ERRCODE, 48);
    EXPECT_GE(waited, 0.9); // it waited its second for the lock
    Vrn$LOGOUT(0, &a->file, nullptr);
    EXPECT_EQ(Vrn$ERRCODE, 48);
    Vrn$FILE_LOCKfi(&a->file, 0); // another station keeps the table: 32
    EXPECT_EQ(Vrn$ERRCODE, 32);
    EXPECT_EQ(a->GetCode("alpha"), 0); // reading goes on meanwhile
    Vrn$COMMIT();
    EXPECT_EQ(Vrn$ERRCODE, 91); // no transaction remained
    EXPECT_EQ(holder.Wait(), 0);
    Vrn$LOGOUT(5, &a->file, nullptr);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    Vrn$ROLLBACK();
    // LOCK keeps other stations' writes out until UNLOCK.
    Vrn$FILE_LOCKfi(&a->file, 1);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(a->Add(20, "oscar", "x", 1), 0);
    EXPECT_NE(server.Psql("SET lock_timeout = 200; INSERT INTO kel (code) VALUES ('papa')").find("lock timeout"),
              std::string::npos);
    Vrn$FILE_UNLOCK(&a->file);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(server.Psql("SELECT count(*) FROM kel WHERE code = 'oscar'"), "1");
}

TEST_F(PgsqlTest, AStationKilledInsideATransactionIsRolledBackAndOthersGoOn) {
    auto a = Filled();
    Station doomed;
    doomed.Start([](int ready) {
        Table u("C:\\DATA\\Kel.kel");
        if (u.Open() != 0)
            return 1;
        Vrn$LOGOUT(1, &u.file, nullptr);
        if (Vrn$ERRCODE != 0)
            return 2;
        for (int i = 0; i < 50; i++)
            if (u.Add(100 + i, ("k" + std::to_string(i)).c_str(), "x", i) != 0)
                return 3;
        if (u.GetCode("alpha") != 0)
            return 4;
        Vrn$FILE_DELETE(&u.file);
        Signal(ready);
        pause();
        return 0;
    });
    ASSERT_TRUE(doomed.WaitReady());
    kill(doomed.pid, SIGKILL);
    EXPECT_EQ(doomed.Wait(), 128 + SIGKILL);
    // The server rolled the dead station's transaction back and let go of its locks.
    Vrn$LOGOUT(5, &a->file, nullptr);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(a->Add(6, "fox", "y", 6), 0);
    Vrn$COMMIT();
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(server.Psql("SELECT string_agg(code, ',' ORDER BY id) FROM kel"), "delta,Alpha,charly,BRAVO,echo,fox");
}

TEST_F(PgsqlTest, PositionFindsTheRecordAfterOthersMovedAndBlankOnesAreRefused) {
    auto t = Filled();
    ASSERT_EQ(t->GetCode("charly"), 0);
    Vrn$FILE_POSITIONk(&t->code_key);
    std::string by_key = tarvex::testing::PopText();
    Vrn$FILE_POSITIONf(&t->file);
    std::string by_file = tarvex::testing::PopText();
    // Another station adds records before and after it and changes one of them.
    Table u("C:\\DATA\\Kel.kel");
    ASSERT_EQ(u.Open(), 0);
    EXPECT_EQ(u.Add(6, "bat", "x", 1), 0);
    EXPECT_EQ(u.Add(7, "cat", "x", 1), 0);
    ASSERT_EQ(u.GetCode("delta"), 0);
    u.record.CODE = "aardvark";
    Vrn$FILE_PUTf(&u.file);
    ASSERT_EQ(Vrn$ERRCODE, 0);

    tarvex::testing::PushText(by_key);
    Vrn$FILE_RESETk(&t->code_key);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(t->Walk(true), (std::vector<int32_t>{3, 5}));
    tarvex::testing::PushText(by_key);
    Vrn$FILE_RESETk(&t->code_key);
    EXPECT_EQ(t->Walk(false), (std::vector<int32_t>{3, 7, 4, 6, 2, 1}));
    tarvex::testing::PushText(by_file);
    Vrn$FILE_RESETf(&t->file);
    EXPECT_EQ(t->Walk(true), (std::vector<int32_t>{3, 4, 5, 6, 7}));
    ASSERT_EQ(t->GetCode("echo"), 0);
    tarvex::testing::PushText(by_file);
    Vrn$FILE_REGETf(&t->file);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(t->record.ID, 3);
    for (const char* blank : {"", "   "}) {
        tarvex::testing::PushText(blank);
        Vrn$FILE_REGETf(&t->file);
        EXPECT_EQ(Vrn$ERRCODE, 35);
    }
    tarvex::testing::PushText("not a position");
    Vrn$FILE_RESETk(&t->code_key);
    EXPECT_EQ(Vrn$ERRCODE, 35);
}

TEST_F(PgsqlTest, StreamEmptyAndBuild) {
    auto t = Filled();
    Vrn$FILE_STREAM(&t->file);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(t->Add(6, "foxtrot", "x", 1), 0);
    EXPECT_EQ(server.Psql("SELECT count(*) FROM kel"), "5");
    Vrn$FILE_FLUSH(&t->file);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(server.Psql("SELECT count(*) FROM kel"), "6");
    // A key field changed by another tool: BUILD makes the key images follow it.
    server.Psql("UPDATE kel SET code = 'aaa' WHERE id_ = 5");
    Vrn$FILE_LOCKf(&t->file);
    Vrn$FILE_BUILDf(&t->file);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_UNLOCK(&t->file);
    Vrn$FILE_SETk(&t->code_key);
    EXPECT_EQ(t->Walk(true), (std::vector<int32_t>{5, 2, 4, 3, 1, 6}));
    // Images of other character tables: OPEN asks for BUILD (46), BUILD of the closed file mends it.
    Vrn$FILE_CLOSE(&t->file);
    server.Psql("COMMENT ON TABLE kel IS 'PGSQL 1 0000000000000001'");
    EXPECT_EQ(t->Open(), 46);
    Vrn$FILE_BUILDf(&t->file);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    ASSERT_EQ(t->Open(), 0);
    Vrn$FILE_LOCKf(&t->file);
    Vrn$FILE_EMPTY(&t->file);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_UNLOCK(&t->file);
    EXPECT_EQ(Vrn$FILE_RECORDSf(&t->file), 0);
    EXPECT_EQ(server.Psql("SELECT count(*) FROM kel"), "0");
}

} // namespace

// ---- Views on the server ---------------------------------------------------------------------

// A view over the table alone, every field projected; `driver` is VIEWDRIVER (the server serves
// what it can) or VIEWENGINE (the generic engine, forced).
struct OneFileView {
    uint8_t code[5] = {0, 0, 0xFF, 0xFF, 0};
    void* components[1];
    ViewDecl decl{};
    explicit OneFileView(Table& table) {
        components[0] = &table.file;
        decl.structure = code;
        decl.components = components;
    }
    FileDecl* File() { return reinterpret_cast<FileDecl*>(&decl); }
    // Opens the view through `driver` with the filter.
    void Open(VrnDriverEntry driver, const std::string& filter) {
        decl.driver = driver;
        Vrn$FILE_OPEN(File(), 0x42);
        EXPECT_EQ(Vrn$ERRCODE, 0);
        tarvex::testing::PushText(filter);
        Vrn$FILE_SET_PROPERTY(File(), VRN_VIEW_PROP_FILTER);
    }
};

// What a reading through the view gives: the ids forwards from a SET on the key, a POSITION taken
// past the first page and the rows after RESET to it, then the ids backwards from the end.
struct ViewReading {
    std::vector<int32_t> forward, after_reset, backward;
    int32_t end_code = 0;
    bool operator==(const ViewReading&) const = default;
};

void PrintTo(const ViewReading& reading, std::ostream* out) {
    auto list = [&](const char* name, const std::vector<int32_t>& ids) {
        *out << name << " " << ids.size() << ":";
        for (size_t i = 0; i < ids.size() && i < 12; i++)
            *out << " " << ids[i];
        *out << (ids.size() > 12 ? " ... " + std::to_string(ids.back()) : std::string()) << "; ";
    };
    list("forward", reading.forward);
    list("after reset", reading.after_reset);
    list("backward", reading.backward);
    *out << "end " << reading.end_code;
}

ViewReading ReadView(Table& table, KeyDecl& key, VrnDriverEntry driver, const std::string& filter) {
    ViewReading out;
    OneFileView view(table);
    view.Open(driver, filter);
    Vrn$FILE_SETk(&key);
    std::string position;
    for (int i = 0; i < 1000; i++) {
        Vrn$FILE_NEXT(view.File());
        if (Vrn$ERRCODE != 0) {
            out.end_code = Vrn$ERRCODE;
            break;
        }
        out.forward.push_back(table.record.ID);
        if (out.forward.size() == 230) {
            Vrn$FILE_POSITIONf(view.File());
            position = tarvex::testing::PopText();
        }
    }
    if (!position.empty()) {
        tarvex::testing::PushText(position);
        Vrn$FILE_RESETf(view.File());
        EXPECT_EQ(Vrn$ERRCODE, 0);
        for (int i = 0; i < 3; i++) {
            Vrn$FILE_NEXT(view.File());
            out.after_reset.push_back(Vrn$ERRCODE == 0 ? int32_t(table.record.ID) : -Vrn$ERRCODE);
        }
    }
    Vrn$FILE_SETk(&key);
    for (int i = 0; i < 1000; i++) {
        Vrn$FILE_PREV(view.File());
        if (Vrn$ERRCODE != 0)
            break;
        out.backward.push_back(table.record.ID);
    }
    Vrn$FILE_CLOSE(view.File());
    return out;
}

void BindField(const char* name, void* address, int32_t type, uint32_t size) {
    tarvex::testing::PushText(name);
    Vrn$BindV(Vrn$Mem2Ufo(address, type, 0, size, 0));
}

TEST_F(PgsqlTest, ViewsServedOnTheServerGiveTheEnginesRowsBothWaysAcrossPages) {
    auto table = std::make_unique<Table>("C:\\DATA\\Views.kel");
    Vrn$FILE_CREATE(&table->file);
    ASSERT_EQ(table->Open(), 0);
    const char* names[] = {"Adams", "baker", "Clark", "miller", "Miller", "O'Neil", "smith", ""};
    for (int32_t i = 1; i <= 900; i++) {
        char code[16];
        std::snprintf(code, sizeof code, "c%05d", (i * 7919) % 100000);
        ASSERT_EQ(table->Add(i, code, names[i % 8], (i * 37) % 1000 - 100), 0);
    }
    Vrn$PushBind2(0);
    BindField("KT:ID", &table->record.ID, VRN_TYPE_LONG, 4);
    BindField("KT:CODE", &table->record.CODE, VRN_TYPE_STRING, 6);
    BindField("KT:NAME", &table->record.NAME, VRN_TYPE_STRING, 10);
    BindField("KT:AMOUNT", &table->record.AMOUNT, VRN_TYPE_LONG, 4);
    int32_t wanted = 270;
    BindField("WANTED", &wanted, VRN_TYPE_LONG, 4);
    struct Case {
        const char* filter;
        bool served;  // rows come from a server query
        bool narrowed; // the server gives only rows the filter passes
    };
    const Case cases[] = {
        // EXACT: a string comparison and a number range, all on the server.
        {"KT:NAME >= 'M' AND KT:AMOUNT >= 100 AND KT:AMOUNT <= 800", true, true},
        {"KT:NAME = 'O''Neil' OR KT:AMOUNT < 200", true, true},
        {"", true, true},
        // SUPERSET: the range on the server, SUB here.
        {"KT:AMOUNT >= 0 AND KT:AMOUNT < 800 AND SUB(KT:NAME, 1, 1) <> 'm'", true, false},
        // NONE: the generic engine alone.
        {"SUB(KT:CODE, 3, 1) <> '1'", false, false},
        // Equality on a key's leading field bounds the server's reading to that part of the key
        // (NOCASE: the range holds both spellings, the filter keeps one), and the program's variable
        // gives the value.
        {"KT:NAME = 'miller' AND KT:AMOUNT > 0", true, true},
        {"KT:AMOUNT = WANTED OR KT:AMOUNT = 0", true, true},
        {"WANTED = KT:AMOUNT AND KT:CODE >= 'c5'", true, true},
        {"KT:CODE = 'c07919'", true, true},
    };
    KeyDecl* keys[] = {&table->code_key, &table->name_key, &table->amount_key};
    for (const Case& c : cases) {
        for (KeyDecl* key : keys) {
            ViewReading engine = ReadView(*table, *key, VIEWENGINE, c.filter);
            uint64_t before = lumarex::drivers::pg::ServedViewRows();
            ViewReading served = ReadView(*table, *key, VIEWDRIVER, c.filter);
            uint64_t rows = lumarex::drivers::pg::ServedViewRows() - before;
            EXPECT_EQ(served, engine) << c.filter << " by " << key->label;
            EXPECT_EQ(served.end_code, 33) << c.filter;
            EXPECT_FALSE(served.forward.empty()) << c.filter;
            if (std::strstr(c.filter, " = ") == nullptr) {
                EXPECT_GT(engine.forward.size(), 210u) << c.filter << ": the reading crosses a page";
                EXPECT_EQ(served.after_reset.front(), served.forward[229]) << c.filter;
            }
            size_t given = served.forward.size() + served.after_reset.size() + served.backward.size();
            if (!c.served)
                EXPECT_EQ(rows, 0u) << c.filter;
            else if (c.narrowed)
                EXPECT_EQ(rows, given) << c.filter;
            else
                EXPECT_GT(rows, given) << c.filter;
        }
    }
    Vrn$PopBind();
}

// One combined row as a reading shows it: the order's id, then each joined file's id, name and
// amount (what its buffer holds when an outer join cleared it).
template <class Record> std::string JoinedPart(const TableOf<Record>& table) {
    std::string name(table.record.NAME.Data(), 10);
    return "/" + std::to_string(int32_t(table.record.ID)) + ":" + name.substr(0, name.find_last_not_of(' ') + 1) +
           ":" + std::to_string(int32_t(table.record.AMOUNT));
}

// Forwards from the start across pages; a POSITION taken at row 230, RESET to it with the blank
// padding a program's string gives it, three NEXT and three PREVIOUS; then, opened again, backwards
// from the end.
struct JoinedReading {
    std::vector<std::string> forward, after_reset, backward;
    int32_t end_code = 0;
    bool operator==(const JoinedReading&) const = default;
    // The rows given, without the codes of failed reads after RESET.
    size_t Rows() const {
        return forward.size() + backward.size() +
               size_t(std::count_if(after_reset.begin(), after_reset.end(),
                                    [](const std::string& row) { return row[0] != '-'; }));
    }
};

void PrintTo(const JoinedReading& reading, std::ostream* out) {
    auto list = [&](const char* name, const std::vector<std::string>& rows) {
        *out << name << " " << rows.size() << ":";
        for (size_t i = 0; i < rows.size() && i < 8; i++)
            *out << " " << rows[i];
        *out << "; ";
    };
    list("forward", reading.forward);
    list("after reset", reading.after_reset);
    list("backward", reading.backward);
    *out << "end " << reading.end_code;
}

// Orders that name people the names file holds in other spellings (NOCASE), more than once (one
// to many), not at all ("baker", "O'Neil") or blank (the OPT key leaves blank names out), and
// amounts the amounts file holds several times (-2 .. 8) or not at all.
struct JoinedTables {
    Table orders{"C:\\DATA\\Orders.kel"};
    TableOf<JoinedRecord> names{"C:\\DATA\\Names.kel"};
    TableOf<OtherRecord> amounts{"C:\\DATA\\Amounts.kel"};

    void Fill() {
        for (FileDecl* file : {&orders.file, &names.file, &amounts.file}) {
            Vrn$FILE_CREATE(file);
            ASSERT_EQ(Vrn$ERRCODE, 0);
            Vrn$FILE_OPEN(file, 0x42);
            ASSERT_EQ(Vrn$ERRCODE, 0);
        }
        const char* order_names[] = {"Adams", "baker", "Clark", "miller", "Miller", "O'Neil", "smith", ""};
        for (int32_t i = 1; i <= 300; i++) {
            char code[16];
            std::snprintf(code, sizeof code, "o%05d", (i * 7919) % 100000);
            ASSERT_EQ(orders.Add(i, code, order_names[i % 8], (i * 37) % 23 - 5), 0);
        }
        const char* known[] = {"ADAMS", "clark", "MILLER", "Smith", "miller", "zed", ""};
        for (int32_t i = 1; i <= 14; i++) {
            names.record.ID = 1000 + i;
            names.record.CODE = ("n" + std::to_string(i)).c_str();
            names.record.NAME = known[i % 7];
            names.record.AMOUNT = i % 4;
            Vrn$FILE_ADDf(&names.file);
            ASSERT_EQ(Vrn$ERRCODE, 0);
        }
        for (int32_t i = 1; i <= 30; i++) {
            amounts.record.ID = 2000 + i;
            amounts.record.CODE = ("a" + std::to_string(i)).c_str();
            amounts.record.NAME = i % 3 == 0 ? "third" : "other";
            amounts.record.AMOUNT = i % 11 - 2;
            Vrn$FILE_ADDf(&amounts.file);
            ASSERT_EQ(Vrn$ERRCODE, 0);
        }
        Vrn$PushBind2(0);
        for (auto [prefix, record] : {std::pair{"KT", static_cast<void*>(&orders.record)},
                                      std::pair{"JT", static_cast<void*>(&names.record)},
                                      std::pair{"LT", static_cast<void*>(&amounts.record)}}) {
            auto* bytes = static_cast<uint8_t*>(record);
            std::string name = prefix;
            BindField((name + ":ID").c_str(), bytes + offsetof(PgRecord, ID), VRN_TYPE_LONG, 4);
            BindField((name + ":CODE").c_str(), bytes + offsetof(PgRecord, CODE), VRN_TYPE_STRING, 6);
            BindField((name + ":NAME").c_str(), bytes + offsetof(PgRecord, NAME), VRN_TYPE_STRING, 10);
            BindField((name + ":AMOUNT").c_str(), bytes + offsetof(PgRecord, AMOUNT), VRN_TYPE_LONG, 4);
        }
    }
    ~JoinedTables() {
        if (orders.file.driver_instance != nullptr)
            Vrn$PopBind();
    }

    // The structure code: the orders file with these nodes under it. A node is the join link
    // (field count, field numbers), flags, projection (all), child count.
    static std::vector<uint8_t> Code(std::vector<std::vector<uint8_t>> nodes) {
        std::vector<uint8_t> all{0, 0, 0xFF, 0xFF, uint8_t(nodes.size())};
        for (const auto& node : nodes)
            all.insert(all.end(), node.begin(), node.end());
        return all;
    }
    static std::vector<uint8_t> ByName(uint8_t flags) { return {1, 3, 0, flags, 0xFF, 0xFF, 0}; }
    static std::vector<uint8_t> ByAmount(uint8_t flags) { return {1, 4, 0, flags, 0xFF, 0xFF, 0}; }

    // A reading of the view through `driver`: VIEWDRIVER (the server serves what it can) or
    // VIEWENGINE (the generic engine, forced). `start` starts each sequence.
    JoinedReading Read(std::vector<uint8_t> code, std::vector<void*> components, VrnDriverEntry driver,
                       const char* filter, const char* order, const std::function<void(FileDecl*)>& start) {
        JoinedReading out;
        ViewDecl decl{};
        decl.driver = driver;
        decl.structure = code.data();
        decl.components = components.data();
        FileDecl* view = reinterpret_cast<FileDecl*>(&decl);
        auto open = [&]() {
            Vrn$FILE_OPEN(view, 0x42);
            EXPECT_EQ(Vrn$ERRCODE, 0);
            tarvex::testing::PushText(filter);
            Vrn$FILE_SET_PROPERTY(view, VRN_VIEW_PROP_FILTER);
            tarvex::testing::PushText(order);
            Vrn$FILE_SET_PROPERTY(view, VRN_VIEW_PROP_ORDER);
            start(view);
        };
        auto row = [&]() {
            std::string text = std::to_string(int32_t(orders.record.ID)) + ":" + std::to_string(int32_t(orders.record.AMOUNT));
            for (void* component : components) {
                if (component == &names.name_key)
                    text += JoinedPart(names);
                if (component == &amounts.amount_key)
                    text += JoinedPart(amounts);
            }
            return text;
        };
        open();
        std::string position;
        for (int i = 0; i < 3000; i++) {
            Vrn$FILE_NEXT(view);
            if (Vrn$ERRCODE != 0) {
                out.end_code = Vrn$ERRCODE;
                break;
            }
            out.forward.push_back(row());
            if (out.forward.size() == 230) {
                Vrn$FILE_POSITIONf(view);
                position = tarvex::testing::PopText();
            }
        }
        if (!position.empty()) {
            tarvex::testing::PushText(position + std::string(40, ' '));
            Vrn$FILE_RESETf(view);
            EXPECT_EQ(Vrn$ERRCODE, 0);
            for (int i = 0; i < 6; i++) {
                i < 3 ? Vrn$FILE_NEXT(view) : Vrn$FILE_PREV(view);
                out.after_reset.push_back(Vrn$ERRCODE == 0 ? row() : std::to_string(-Vrn$ERRCODE));
            }
        }
        // A view that has read keeps its own place; a new one starts where the program starts it.
        Vrn$FILE_CLOSE(view);
        open();
        for (int i = 0; i < 3000; i++) {
            Vrn$FILE_PREV(view);
            if (Vrn$ERRCODE != 0)
                break;
            out.backward.push_back(row());
        }
        Vrn$FILE_CLOSE(view);
        return out;
    }
};

TEST_F(PgsqlTest, KeyJoinedViewsServedOnTheServerGiveTheEnginesRows) {
    JoinedTables t;
    t.Fill();
    if (HasFatalFailure())
        return;
    struct Case {
        const char* what;
        std::vector<uint8_t> structure;
        std::vector<void*> components;
        const char* filter;
        bool served;
        bool narrowed;
    };
    using T = JoinedTables;
    const uint8_t outer = 0, inner = VRN_VIEW_INNER;
    const Case cases[] = {
        {"names, outer", T::Code({T::ByName(outer)}), {&t.orders.file, &t.names.name_key}, "", true, true},
        {"names, inner", T::Code({T::ByName(inner)}), {&t.orders.file, &t.names.name_key}, "", true, true},
        {"amounts by a descending key, inner, filtered on both files", T::Code({T::ByAmount(inner)}),
         {&t.orders.file, &t.amounts.amount_key}, "KT:AMOUNT >= -1 AND LT:NAME = 'other' OR KT:NAME = 'smith'", true,
         true},
        {"both, outer, filtered on a joined file's cleared field", T::Code({T::ByName(outer), T::ByAmount(outer)}),
         {&t.orders.file, &t.names.name_key, &t.amounts.amount_key}, "JT:AMOUNT = 0 AND KT:AMOUNT < 6", true, true},
        {"both, superset", T::Code({T::ByName(inner), T::ByAmount(outer)}),
         {&t.orders.file, &t.names.name_key, &t.amounts.amount_key}, "KT:AMOUNT > 2 AND SUB(LT:CODE, 2, 1) <> '1'",
         true, false},
        {"no row passes", T::Code({T::ByName(outer)}), {&t.orders.file, &t.names.name_key}, "KT:AMOUNT > 1000", true,
         true},
        {"the engine's filter", T::Code({T::ByName(outer)}), {&t.orders.file, &t.names.name_key},
         "SUB(JT:NAME, 2, 1) <> 'i'", false, false},
    };
    for (const Case& c : cases) {
        for (KeyDecl* key : {&t.orders.code_key, &t.orders.amount_key}) {
            auto start = [key](FileDecl*) { Vrn$FILE_SETk(key); };
            JoinedReading engine = t.Read(c.structure, c.components, VIEWENGINE, c.filter, "", start);
            uint64_t before = lumarex::drivers::pg::ServedViewRows();
            JoinedReading served = t.Read(c.structure, c.components, VIEWDRIVER, c.filter, "", start);
            uint64_t rows = lumarex::drivers::pg::ServedViewRows() - before;
            EXPECT_EQ(served, engine) << c.what << " by " << key->label;
            EXPECT_EQ(served.end_code, 33) << c.what;
            if (std::strstr(c.what, "no row") != nullptr) {
                EXPECT_EQ(served.Rows(), 0u);
            } else {
                ASSERT_GE(served.forward.size(), 230u) << c.what << ": the reading crosses a page";
                EXPECT_EQ(served.after_reset.front(), served.forward[229]) << c.what;
            }
            if (!c.served)
                EXPECT_EQ(rows, 0u) << c.what;
            else if (c.narrowed)
                EXPECT_EQ(rows, served.Rows()) << c.what;
            else
                EXPECT_GT(rows, served.Rows()) << c.what;
        }
    }
}

TEST_F(PgsqlTest, OrderedViewsServedOnTheServerGiveTheEnginesRows) {
    JoinedTables t;
    t.Fill();
    if (HasFatalFailure())
        return;
    using T = JoinedTables;
    const std::vector<uint8_t> alone = T::Code({});
    const std::vector<uint8_t> with_names = T::Code({T::ByName(0)});
    std::vector<void*> orders_alone{&t.orders.file}, orders_and_names{&t.orders.file, &t.names.name_key};
    auto set_view = [](FileDecl* view) { Vrn$VIEW_SETvl(view, 0); };
    auto set_code = [&](FileDecl*) { Vrn$FILE_SETk(&t.orders.code_key); };
    auto set_amount = [&](FileDecl*) { Vrn$FILE_SETk(&t.orders.amount_key); };
    struct Case {
        const char* order;
        bool joined;
        const char* filter;
        std::function<void(FileDecl*)> start;
        bool served; // every row from the server
    };
    const Case cases[] = {
        // A key reads the ORDER: forwards (the amount key is descending), backwards, with a join.
        {"-KT:AMOUNT", false, "", set_view, true},
        {"+KT:AMOUNT", false, "KT:AMOUNT <> 3", set_view, true},
        {"-KT:AMOUNT", true, "KT:NAME <> 'smith'", set_amount, true},
        {"KT:CODE", true, "", set_view, true},
        // A SET by another key than the ORDER's: the engine reads that key's order.
        {"-KT:AMOUNT", false, "", set_code, false},
        // No key reads the ORDER: sorted by the values, ties in the reading order of the SET's key.
        {"+KT:AMOUNT, -KT:ID", false, "", set_view, true},
        {"KT:AMOUNT, KT:ID", true, "KT:AMOUNT > 0", set_amount, true},
        {"-KT:ID", true, "", set_code, true},
        {"KT:AMOUNT + 0", true, "", set_code, false},
        {"KT:CODE, KT:ID", false, "", set_view, false},
    };
    for (const Case& c : cases) {
        const std::vector<uint8_t>& code = c.joined ? with_names : alone;
        const std::vector<void*>& components = c.joined ? orders_and_names : orders_alone;
        JoinedReading engine = t.Read(code, components, VIEWENGINE, c.filter, c.order, c.start);
        uint64_t before = lumarex::drivers::pg::ServedViewRows();
        JoinedReading served = t.Read(code, components, VIEWDRIVER, c.filter, c.order, c.start);
        uint64_t rows = lumarex::drivers::pg::ServedViewRows() - before;
        EXPECT_EQ(served, engine) << c.order << " / " << c.filter;
        ASSERT_GE(served.forward.size(), 230u) << c.order;
        EXPECT_EQ(served.after_reset.front(), served.forward[229]) << c.order;
        EXPECT_EQ(rows, c.served ? served.Rows() : 0u) << c.order << " / " << c.filter;
    }
}

// What one station sees when it reads under WATCH through a view while another station PUTs the
// rows it reads: the codes of its PUTs and the amounts it reads.
struct WatchedReading {
    std::vector<int32_t> codes;
    std::vector<int32_t> amounts;
    bool operator==(const WatchedReading&) const = default;
};

void PrintTo(const WatchedReading& reading, std::ostream* out) {
    *out << "codes";
    for (int32_t code : reading.codes)
        *out << " " << code;
    *out << "; amounts";
    for (int32_t amount : reading.amounts)
        *out << " " << amount;
}

// Another station sets the amount of the record of `code`.
void OtherStationPuts(const char* code, int32_t amount) {
    Station other;
    other.Start([&](int ready) {
        Table u("C:\\DATA\\Watch.kel");
        if (u.Open() != 0 || u.GetCode(code) != 0)
            return 1;
        u.record.AMOUNT = amount;
        Vrn$FILE_PUTf(&u.file);
        Signal(ready);
        return Vrn$ERRCODE == 0 ? 0 : 2;
    });
    EXPECT_TRUE(other.WaitReady());
    EXPECT_EQ(other.Wait(), 0);
}

// Rows w0001, w0002, ... in CODE order, each with its number as amount; with `join`, each row's
// name looked up by that key of another file.
WatchedReading ReadWatched(Table& table, VrnDriverEntry driver, const std::string& filter, KeyDecl* join = nullptr) {
    WatchedReading out;
    std::vector<uint8_t> code{0, 0, 0xFF, 0xFF, 0};
    std::vector<void*> components{&table.file};
    if (join != nullptr) {
        code = {0, 0, 0xFF, 0xFF, 1, 1, 3, 0, 0, 0xFF, 0xFF, 0};
        components.push_back(join);
    }
    ViewDecl decl{};
    decl.driver = driver;
    decl.structure = code.data();
    decl.components = components.data();
    struct {
        FileDecl* view;
        FileDecl* File() const { return view; }
    } view{reinterpret_cast<FileDecl*>(&decl)};
    Vrn$FILE_OPEN(view.File(), 0x42);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    tarvex::testing::PushText(filter);
    Vrn$FILE_SET_PROPERTY(view.File(), VRN_VIEW_PROP_FILTER);
    auto next = [&](bool watch) {
        if (watch)
            Vrn$FILE_WATCH(view.File());
        Vrn$FILE_NEXT(view.File());
        out.codes.push_back(Vrn$ERRCODE);
        out.amounts.push_back(table.record.AMOUNT);
    };
    auto put = [&](int32_t amount) {
        table.record.AMOUNT = amount;
        Vrn$FILE_PUTf(view.File());
        out.codes.push_back(Vrn$ERRCODE);
    };
    Vrn$FILE_SETk(&table.code_key);
    // A watched read, the other station writes the row: our PUT is refused and writes nothing.
    next(true);
    OtherStationPuts("w0001", 701);
    put(1);
    // Read again under WATCH by position: the other's version, and the PUT goes through.
    Vrn$FILE_POSITIONf(view.File());
    Vrn$FILE_WATCH(view.File());
    Vrn$FILE_REGETf(view.File());
    out.codes.push_back(Vrn$ERRCODE);
    out.amounts.push_back(table.record.AMOUNT);
    put(2);
    // A row changed after the view read ahead of it: the watched NEXT gives it as it is now.
    next(false);
    OtherStationPuts("w0003", 900);
    next(true);
    put(3);
    // Without WATCH the last PUT wins, even over a change made after the read.
    next(false);
    OtherStationPuts("w0004", 901);
    put(4);
    Vrn$FILE_CLOSE(view.File());
    return out;
}

TEST_F(PgsqlTest, AWatchedReadThroughAServedViewGives89WhenAnotherStationChangedTheRow) {
    // Every row, an EXACT filter and a SUPERSET one, each served and through the engine alone, the
    // file alone and with a file joined to it.
    const char* filters[] = {"", "KT:AMOUNT >= 0", "KT:AMOUNT >= 0 AND SUB(KT:NAME, 1, 1) <> 'x'"};
    TableOf<JoinedRecord> names("C:\\DATA\\WatchNames.kel");
    Vrn$FILE_CREATE(&names.file);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_OPEN(&names.file, 0x42);
    names.record.ID = 1;
    names.record.CODE = "n1";
    names.record.NAME = "NOBODY";
    Vrn$FILE_ADDf(&names.file);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    for (int run = 0; run < 2 * 2 * 3; run++) {
        const char* filter = filters[run % 3];
        VrnDriverEntry driver = run / 3 % 2 == 0 ? VIEWENGINE : VIEWDRIVER;
        KeyDecl* join = run / 6 == 0 ? nullptr : &names.name_key;
        {
            std::string how = std::string(driver == VIEWENGINE ? " (engine" : " (served") + (join ? ", joined)" : ")");
            auto table = std::make_unique<Table>("C:\\DATA\\Watch.kel");
            Vrn$FILE_CREATE(&table->file);
            ASSERT_EQ(table->Open(), 0);
            for (int32_t i = 1; i <= 300; i++) {
                char code[16];
                std::snprintf(code, sizeof code, "w%04d", i);
                ASSERT_EQ(table->Add(i, code, "Nobody", i), 0);
            }
            Vrn$PushBind2(0);
            BindField("KT:AMOUNT", &table->record.AMOUNT, VRN_TYPE_LONG, 4);
            BindField("KT:NAME", &table->record.NAME, VRN_TYPE_STRING, 10);
            uint64_t before = lumarex::drivers::pg::ServedViewRows();
            WatchedReading reading = ReadWatched(*table, driver, filter, join);
            uint64_t served = lumarex::drivers::pg::ServedViewRows() - before;
            Vrn$PopBind();
            EXPECT_EQ(served > 0, driver == VIEWDRIVER) << filter << how;
            // NEXT, PUT 89; REGET, PUT; NEXT; NEXT sees 900, PUT; NEXT, PUT over the other's 901.
            const WatchedReading expected{{0, 89, 0, 0, 0, 0, 0, 0, 0}, {1, 701, 2, 900, 4}};
            EXPECT_EQ(reading, expected) << filter << how;
            EXPECT_EQ(server.Psql("SELECT string_agg(amount::text, ',' ORDER BY id) FROM watch WHERE id <= 4"),
                      "2,2,3,4")
                << filter << how;
            table.reset();
        }
    }
}

TEST_F(PgsqlTest, AServedViewTakesTheProgramsVariablesAsTheyAreAtEachRead) {
    auto table = std::make_unique<Table>("C:\\DATA\\Vars.kel");
    Vrn$FILE_CREATE(&table->file);
    ASSERT_EQ(table->Open(), 0);
    for (int32_t i = 1; i <= 500; i++) {
        char code[16];
        std::snprintf(code, sizeof code, "v%04d", i);
        ASSERT_EQ(table->Add(i, code, "Nobody", (i * 37) % 1000), 0);
    }
    int32_t least = 0;
    Vrn$PushBind2(0);
    BindField("KT:AMOUNT", &table->record.AMOUNT, VRN_TYPE_LONG, 4);
    BindField("LEAST", &least, VRN_TYPE_LONG, 4);
    // A browse that changes its variable and SETs again, and one that changes it mid-page.
    auto read = [&](VrnDriverEntry driver) {
        std::vector<int32_t> ids;
        OneFileView view(*table);
        view.Open(driver, "KT:AMOUNT >= LEAST");
        for (int32_t value : {900, 990, 500}) {
            least = value;
            Vrn$FILE_SETk(&table->code_key);
            for (int n = 0; n < 40; n++) {
                if (n == 20)
                    least = 100;
                Vrn$FILE_NEXT(view.File());
                ids.push_back(Vrn$ERRCODE == 0 ? int32_t(table->record.ID) : -Vrn$ERRCODE);
                if (Vrn$ERRCODE != 0)
                    break;
            }
        }
        Vrn$FILE_CLOSE(view.File());
        return ids;
    };
    uint64_t before = lumarex::drivers::pg::ServedViewRows();
    std::vector<int32_t> served = read(VIEWDRIVER);
    EXPECT_GT(lumarex::drivers::pg::ServedViewRows(), before);
    EXPECT_EQ(served, read(VIEWENGINE));
    EXPECT_EQ(std::count(served.begin(), served.end(), -33), 1) << "the second reading runs out";
    Vrn$PopBind();
}

TEST_F(PgsqlTest, TwoStationsBrowsingAndUpdatingTheSameClaimsUnderWatchLoseNoUpdate) {
    auto table = std::make_unique<Table>("C:\\DATA\\Shared.kel");
    Vrn$FILE_CREATE(&table->file);
    ASSERT_EQ(table->Open(), 0);
    constexpr int kRows = 30, kRounds = 8;
    for (int32_t i = 1; i <= kRows; i++) {
        char code[16];
        std::snprintf(code, sizeof code, "s%04d", i);
        ASSERT_EQ(table->Add(i, code, "Nobody", 0), 0);
    }
    // Each station browses every claim through a served view kRounds times, adding 1 to each amount
    // under WATCH; a PUT refused with 89 reads the row again by position and tries once more.
    auto station = [](int ready) {
        Table t("C:\\DATA\\Shared.kel");
        if (t.Open() != 0)
            return 1;
        Vrn$PushBind2(0);
        BindField("KT:AMOUNT", &t.record.AMOUNT, VRN_TYPE_LONG, 4);
        OneFileView view(t);
        view.Open(VIEWDRIVER, "KT:AMOUNT >= 0");
        Signal(ready);
        int refused = 0;
        for (int round = 0; round < kRounds; round++) {
            Vrn$FILE_SETk(&t.code_key);
            for (;;) {
                Vrn$FILE_WATCH(view.File());
                Vrn$FILE_NEXT(view.File());
                if (Vrn$ERRCODE == 33)
                    break;
                if (Vrn$ERRCODE != 0)
                    return 2;
                for (int attempt = 0;; attempt++) {
                    t.record.AMOUNT = t.record.AMOUNT + 1;
                    Vrn$FILE_PUTf(view.File());
                    if (Vrn$ERRCODE == 0)
                        break;
                    if (Vrn$ERRCODE != 89 || attempt > 100)
                        return 3;
                    refused++;
                    Vrn$FILE_POSITIONf(view.File());
                    Vrn$FILE_WATCH(view.File());
                    Vrn$FILE_REGETf(view.File());
                    if (Vrn$ERRCODE != 0)
                        return 4;
                }
            }
        }
        Vrn$FILE_CLOSE(view.File());
        Vrn$PopBind();
        std::fprintf(stderr, "a station had %d PUTs refused with 89\n", refused);
        return 0;
    };
    Station first, second;
    first.Start(station);
    second.Start(station);
    ASSERT_TRUE(first.WaitReady());
    ASSERT_TRUE(second.WaitReady());
    EXPECT_EQ(first.Wait(), 0);
    EXPECT_EQ(second.Wait(), 0);
    EXPECT_EQ(server.Psql("SELECT sum(amount) || ' ' || min(amount) || ' ' || max(amount) FROM shared"),
              std::to_string(2 * kRounds * kRows) + " " + std::to_string(2 * kRounds) + " " +
                  std::to_string(2 * kRounds));
}
