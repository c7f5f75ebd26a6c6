// SPDX-License-Identifier: GPL-3.0-or-later
// Both drivers' files as other tools see them, with the sqlite3 shell as the outside judge: every
// field a named, typed column of the table named after the file; a record changed with plain SQL
// read by the program as the shell left it; a value that does not fit its field refused for that
// record alone; a file of format version 1 (each record one BLOB) refused at OPEN with 47 and
// converted by BUILD with every record intact.
#include "kelstore/kelstore.h"
#include "varnel/varnel.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstdio>
#include <cstring>
#include <filesystem>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "core/tests/test_support.h"
#include "tarvex/dates.h"
#include "tarvex/files.h"
#include "tarvex/frame.h"
#include "tarvex/type_descriptor.h"

namespace {

#define CLAIM_FIELDS(FIELD)                                                                                  \
    FIELD(NO, LONG)                                                                                          \
    FIELD(NAME, STRING(12))                                                                                  \
    FIELD(AMOUNT, DECIMAL(9, 2))                                                                             \
    FIELD(SEEN, DATE)                                                                                        \
    FIELD(NOTE, CSTRING(10))                                                                                 \
    FIELD(RATE, REAL)
TARVEX_RECORD(ClaimRecord, "CLM", CLAIM_FIELDS)

struct DriverCase {
    const char* name;
    VrnDriverEntry entry;
    const char* extension;
};
const DriverCase kDrivers[] = {{"KELSTORE", KELSTORE, ".kel"}, {"VARNEL", VARNEL, ".dat"}};
void PrintTo(const DriverCase& c, std::ostream* out) {
    *out << c.name;
}

// Claims.kel (or .dat): NO unique, NAME duplicates and no case.
struct Claims {
    ClaimRecord record{};
    int32_t no_components[1] = {1};
    int32_t name_components[1] = {2};
    KeyDecl no_key{};
    KeyDecl name_key{};
    KeyDecl* keys[2] = {&no_key, &name_key};
    MemoDecl remark{};
    MemoDecl* memos[1] = {&remark};
    FileDecl file{};
    std::string name;

    explicit Claims(const DriverCase& driver) : name(std::string("Claims") + driver.extension) {
        Init(no_key, no_components, VRN_KEY_PRIMARY, "CLM:NOKEY");
        Init(name_key, name_components, VRN_KEY_DUP | VRN_KEY_NOCASE, "CLM:NAMEKEY");
        file.driver = driver.entry;
        file.name = name.c_str();
        file.name_length = VRN_LENGTH_CSTRING;
        file.key_count = 2;
        file.record_length = sizeof(ClaimRecord);
        file.record_type = &ClaimRecord::Type();
        file.keys = keys;
        file.record = &record;
    }
    ~Claims() {
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
    // Bytes after NOTE's terminator are no part of its value and read back as zeros: the record
    // starts zeroed, so it compares byte for byte with what the driver reads.
    void Fill(int32_t no, const char* name_text, const char* amount, int32_t seen, const char* note, double rate) {
        std::memset(static_cast<void*>(&record), 0, sizeof record);
        record.NO = no;
        record.NAME = name_text;
        record.AMOUNT = tarvex::Decimal<9, 2>(amount);
        record.SEEN = seen;
        record.NOTE = note;
        record.RATE = rate;
    }
};

std::string FileErrorMessage() {
    Vrn$FILEERRORMSG();
    std::string text = tarvex::testing::PopText();
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

class TypedColumnsTest : public ::testing::TestWithParam<DriverCase> {
  protected:
    tarvex::testing::TemporaryDrive drive;

    std::string Path() { return (drive.Root() / (std::string("Claims") + GetParam().extension)).string(); }
    // What the sqlite3 shell prints for the query, lines joined by '\n'.
    std::string Shell(const std::string& sql) {
        std::string command = "sqlite3 '" + Path() + "' \"" + sql + "\" 2>&1";
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
        std::string out;
        char buffer[512];
        while (pipe && std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr)
            out += buffer;
        while (!out.empty() && out.back() == '\n')
            out.pop_back();
        return out;
    }
    // A created and opened file holding three claims.
    std::unique_ptr<Claims> Filled() {
        auto claims = std::make_unique<Claims>(GetParam());
        Vrn$FILE_CREATE(&claims->file);
        EXPECT_EQ(Vrn$ERRCODE, 0);
        Vrn$FILE_OPEN(&claims->file, 0x42);
        EXPECT_EQ(Vrn$ERRCODE, 0);
        claims->Fill(1, "M\xFCller", "-1234.50", Vrn$DATE(2, 29, 2024), "first", 0.25);
        Vrn$FILE_ADDf(&claims->file);
        EXPECT_EQ(Vrn$ERRCODE, 0);
        claims->Fill(2, "Jones", "0.05", 0, "", -3.5);
        Vrn$FILE_ADDf(&claims->file);
        EXPECT_EQ(Vrn$ERRCODE, 0);
        claims->Fill(3, "Adams", "9999999.99", Vrn$DATE(12, 31, 1801), "x\"y", 1e-3);
        Vrn$FILE_ADDf(&claims->file);
        EXPECT_EQ(Vrn$ERRCODE, 0);
        return claims;
    }
};

TEST_P(TypedColumnsTest, TheShellReadsEveryFieldByNameAsATypedValue) {
    auto claims = Filled();
    EXPECT_EQ(Shell("SELECT group_concat(name || ' ' || type, ', ') FROM pragma_table_info('claims')"),
              "id INTEGER, no INTEGER, name TEXT, amount TEXT, seen TEXT, note TEXT, rate REAL, changes INTEGER" +
                  std::string(GetParam().entry == KELSTORE ? ", k1 BLOB, k2 BLOB" : ""));
    EXPECT_EQ(Shell("SELECT no, name, amount, seen, note, rate FROM claims ORDER BY no"),
              "1|M\xC3\xBCller|-1234.50|2024-02-29|first|0.25\n"
              "2|Jones|0.05|||-3.5\n"
              "3|Adams|9999999.99|1801-12-31|x\"y|0.001");
    EXPECT_EQ(Shell("SELECT typeof(no), typeof(amount), typeof(seen), typeof(rate) FROM claims WHERE no = 2"),
              "integer|text|null|real");
    // An amount compares as a number once cast, as any tool may.
    EXPECT_EQ(Shell("SELECT sum(CAST(amount AS REAL) < 0) FROM claims"), "1");
}

TEST_P(TypedColumnsTest, APlainSqlChangeIsReadAsTheShellLeftIt) {
    auto claims = Filled();
    EXPECT_EQ(Shell("UPDATE claims SET name = 'Smith', amount = 12.5, seen = '2025-01-31', note = NULL WHERE no = 3"),
              "");
    claims->record.NO = 3;
    Vrn$FILE_GETfk(&claims->no_key);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(claims->record.NAME.View(), "Smith       ");
    tarvex::Decimal<9, 2> amount("12.50");
    EXPECT_EQ(std::memcmp(&claims->record.AMOUNT, &amount, sizeof amount), 0);
    EXPECT_EQ(int32_t(claims->record.SEEN), Vrn$DATE(1, 31, 2025));
    EXPECT_EQ(claims->record.NOTE.View(), "");
    // The program's own change of the record goes back to the columns.
    claims->record.NAME = "Smith-Jones";
    Vrn$FILE_PUTf(&claims->file);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(Shell("SELECT name, amount FROM claims WHERE no = 3"), "Smith-Jones|12.50");
}

TEST_P(TypedColumnsTest, AValueThatDoesNotFitIsRefusedForItsRecordAlone) {
    auto claims = Filled();
    EXPECT_EQ(Shell("UPDATE claims SET name = 'Abernathy-Smithson' WHERE no = 2"), "");
    Vrn$FILE_SETk(&claims->no_key);
    Vrn$FILE_NEXT(&claims->file);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(int32_t(claims->record.NO), 1);
    Vrn$FILE_NEXT(&claims->file);
    EXPECT_EQ(Vrn$ERRCODE, 90);
    EXPECT_EQ(FileErrorMessage(),
              "Record 2 of table claims: field CLM:NAME (column name): text of 18 characters is longer than the "
              "field's 12");
    EXPECT_EQ(int32_t(claims->record.NO), 1); // the buffer keeps what it held

    // The other records read as before; the refused one is refused again, until it fits.
    claims->record.NO = 3;
    Vrn$FILE_GETfk(&claims->no_key);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(claims->record.NAME.View(), "Adams       ");
    claims->record.NO = 2;
    Vrn$FILE_GETfk(&claims->no_key);
    EXPECT_EQ(Vrn$ERRCODE, 90);
    EXPECT_EQ(int32_t(claims->record.NO), 2);
    EXPECT_EQ(Shell("UPDATE claims SET name = 'Abernathy' WHERE no = 2"), "");
    Vrn$FILE_SETk(&claims->no_key);
    std::vector<int32_t> walked;
    for (Vrn$FILE_NEXT(&claims->file); Vrn$ERRCODE == 0; Vrn$FILE_NEXT(&claims->file))
        walked.push_back(claims->record.NO);
    EXPECT_EQ(walked, (std::vector<int32_t>{1, 2, 3}));

    EXPECT_EQ(Shell("UPDATE claims SET seen = '2024-02-30' WHERE no = 3"), "");
    Vrn$FILE_GETfl(&claims->file, 3);
    EXPECT_EQ(Vrn$ERRCODE, 90);
    EXPECT_NE(FileErrorMessage().find("'2024-02-30' is not a date"), std::string::npos);
}

TEST_P(TypedColumnsTest, ChangesFromOutsideAreSeenByWatchAndKeysAskForBuild) {
    auto claims = Filled();
    // A field outside the keys: the record counts as changed, so a WATCHed PUT is refused.
    claims->record.NO = 2;
    Vrn$FILE_WATCH(&claims->file);
    Vrn$FILE_GETfk(&claims->no_key);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(Shell("UPDATE claims SET amount = '7.00' WHERE no = 2; SELECT changes FROM claims WHERE no = 2"), "1");
    claims->record.NOTE = "mine";
    Vrn$FILE_PUTf(&claims->file);
    EXPECT_EQ(Vrn$ERRCODE, 89);
    Vrn$FILE_CLOSE(&claims->file);
    Vrn$FILE_OPEN(&claims->file, 0x42);
    ASSERT_EQ(Vrn$ERRCODE, 0); // the keys are as they were
    Vrn$FILE_CLOSE(&claims->file);

    // A key's field changed, a record added and one deleted: the keys no longer match the records
    // until BUILD makes them again.
    EXPECT_EQ(Shell("UPDATE claims SET name = 'Zimmer' WHERE no = 1; "
                    "INSERT INTO claims (no, name, amount) VALUES (4, 'Baker', '1.00'); "
                    "DELETE FROM claims WHERE no = 2; SELECT changes FROM claims WHERE no = 4"),
              "0");
    Vrn$FILE_OPEN(&claims->file, 0x42);
    EXPECT_EQ(Vrn$ERRCODE, 46);
    Vrn$FILE_BUILDf(&claims->file);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_OPEN(&claims->file, 0x42);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    Vrn$FILE_SETk(&claims->name_key);
    std::vector<std::string> names;
    for (Vrn$FILE_NEXT(&claims->file); Vrn$ERRCODE == 0; Vrn$FILE_NEXT(&claims->file))
        names.emplace_back(claims->record.NAME.View());
    EXPECT_EQ(names, (std::vector<std::string>{"Adams       ", "Baker       ", "Zimmer      "}));
    EXPECT_EQ(Vrn$FILE_RECORDSk(&claims->no_key), 3);
    claims->Fill(2, "Jones", "0", 0, "", 0);
    Vrn$FILE_ADDf(&claims->file); // number 2 is free again in the unique key
    EXPECT_EQ(Vrn$ERRCODE, 0);
}

// Rewrites the closed file as format version 1 had it: each record one BLOB in <prefix>_records,
// no version or table name in the metadata.
void MakeVersionOne(const std::string& path, const char* prefix, bool key_columns,
                    const std::vector<ClaimRecord>& records) {
    sqlite3* db = nullptr;
    ASSERT_EQ(sqlite3_open(path.c_str(), &db), SQLITE_OK);
    std::string table = std::string(prefix) + "_records";
    std::string sql = "BEGIN; DROP TABLE claims; DELETE FROM " + std::string(prefix) +
                      "_meta WHERE name IN ('version', 'table'); CREATE TABLE " + table +
                      " (id INTEGER PRIMARY KEY, data BLOB NOT NULL, changes INTEGER NOT NULL DEFAULT 0" +
                      (key_columns ? ", k1 BLOB, k2 BLOB" : "") + ");";
    ASSERT_EQ(sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr), SQLITE_OK) << sqlite3_errmsg(db);
    sqlite3_stmt* insert = nullptr;
    ASSERT_EQ(sqlite3_prepare_v2(db, ("INSERT INTO " + table + " (id, data, changes) VALUES (?1, ?2, ?3)").c_str(), -1,
                                 &insert, nullptr),
              SQLITE_OK);
    for (size_t i = 0; i < records.size(); i++) {
        sqlite3_reset(insert);
        sqlite3_bind_int64(insert, 1, int64_t(i + 1));
        sqlite3_bind_blob(insert, 2, &records[i], int(sizeof(ClaimRecord)), SQLITE_STATIC);
        sqlite3_bind_int64(insert, 3, int64_t(i % 3));
        ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
    }
    sqlite3_finalize(insert);
    ASSERT_EQ(sqlite3_exec(db, "COMMIT", nullptr, nullptr, nullptr), SQLITE_OK);
    sqlite3_close(db);
}

TEST_P(TypedColumnsTest, AFileOfVersionOneIsRefusedAtOpenAndConvertedByBuild) {
    std::vector<ClaimRecord> records;
    std::mt19937 random(47);
    {
        Claims claims(GetParam());
        Vrn$FILE_CREATE(&claims.file);
        Vrn$FILE_OPEN(&claims.file, 0x42);
        ASSERT_EQ(Vrn$ERRCODE, 0);
        for (int32_t no = 1; no <= 60; no++) {
            char name[16], amount[32];
            std::snprintf(name, sizeof name, "N%c%03u", char('a' + random() % 26), unsigned(random() % 1000));
            std::snprintf(amount, sizeof amount, "%d.%02u", int(random() % 200000) - 100000, unsigned(random() % 100));
            claims.Fill(no, name, amount, no % 4 == 0 ? 0 : int32_t(4 + random() % 2994000), no % 2 ? "odd" : "",
                        double(random()) / 7.0);
            records.push_back(claims.record);
            Vrn$FILE_ADDf(&claims.file);
            ASSERT_EQ(Vrn$ERRCODE, 0);
        }
    }
    bool separate = GetParam().entry == VARNEL;
    MakeVersionOne(Path(), separate ? "var" : "kel", !separate, records);

    // The declaration has gained a MEMO since: the converted table has its column, empty.
    Claims claims(GetParam());
    claims.remark.name = "REMARK";
    claims.remark.max_size = 40;
    claims.file.memo_count = 1;
    claims.file.memos = claims.memos;
    Vrn$FILE_OPEN(&claims.file, 0x42);
    EXPECT_EQ(Vrn$ERRCODE, 47);
    EXPECT_NE(FileErrorMessage().find("format version 1"), std::string::npos);
    Vrn$FILE_BUILDf(&claims.file);
    ASSERT_EQ(Vrn$ERRCODE, 0) << FileErrorMessage();
    Vrn$FILE_OPEN(&claims.file, 0x42);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(Vrn$FILE_RECORDSf(&claims.file), 60);
    // Every record where it was (the same record pointer), byte for byte, and in the keys.
    for (size_t i = 0; i < records.size(); i++) {
        Vrn$FILE_GETfl(&claims.file, int32_t(i + 1));
        ASSERT_EQ(Vrn$ERRCODE, 0);
        EXPECT_EQ(std::memcmp(&claims.record, &records[i], sizeof(ClaimRecord)), 0) << "record " << i + 1;
        Vrn$FILE_GETfk(&claims.name_key);
        EXPECT_EQ(Vrn$ERRCODE, 0);
    }
    Vrn$FILE_SETk(&claims.no_key);
    int32_t walked = 0;
    for (Vrn$FILE_NEXT(&claims.file); Vrn$ERRCODE == 0; Vrn$FILE_NEXT(&claims.file))
        EXPECT_EQ(int32_t(claims.record.NO), ++walked);
    EXPECT_EQ(walked, 60);
    EXPECT_EQ(Shell("SELECT count(*), sum(changes), count(remark) FROM claims"), "60|60|0");
    const std::string remark = "converted \xE9";
    Vrn$FILE_GETfl(&claims.file, 7);
    Vrn$BLOB_TAKE(&claims.file, 1, reinterpret_cast<intptr_t>(remark.data()), intptr_t(remark.size()));
    Vrn$FILE_PUTf(&claims.file);
    ASSERT_EQ(Vrn$ERRCODE, 0) << FileErrorMessage();
    EXPECT_EQ(Shell("SELECT no, remark FROM claims WHERE remark IS NOT NULL"), "7|converted \xC3\xA9");
    EXPECT_EQ(Shell("SELECT count(*) FROM sqlite_schema WHERE name LIKE '%_records'"), "0");
}

std::string DriverName(const ::testing::TestParamInfo<DriverCase>& param) {
    return param.param.name;
}
INSTANTIATE_TEST_SUITE_P(Drivers, TypedColumnsTest, ::testing::ValuesIn(kDrivers), DriverName);

} // namespace
