// SPDX-License-Identifier: GPL-3.0-or-later
// Records as typed SQLite columns: the column names of plain fields, arrays and GROUP members; the
// values each field type shows to an SQLite tool (golden, as typeof() and quote() print them);
// random records of every type back byte for byte; values an outside tool may write, and those
// that do not fit their field refused with the field named.
#include "common/record_columns.h"

#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cmath>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "tarvex/dates.h"
#include "tarvex/type_descriptor.h"

namespace {

using lumarex::drivers::RecordColumns;

#define ALL_TYPES_FIELDS(FIELD)                                                                              \
    FIELD(NAME, STRING(10))                                                                                  \
    FIELD(CNAME, CSTRING(8))                                                                                 \
    FIELD(PNAME, PSTRING(8))                                                                                 \
    FIELD(FLAGS, BYTE)                                                                                       \
    FIELD(COUNT, SHORT)                                                                                      \
    FIELD(PORT, USHORT)                                                                                      \
    FIELD(SEEN, DATE)                                                                                        \
    FIELD(AT, TIME)                                                                                          \
    FIELD(TOTAL, LONG)                                                                                       \
    FIELD(BIG, ULONG)                                                                                        \
    FIELD(RATIO, SREAL)                                                                                      \
    FIELD(RATE, REAL)                                                                                        \
    FIELD(AMOUNT, DECIMAL(9, 2))                                                                             \
    FIELD(PAMOUNT, PDECIMAL(7, 3))                                                                           \
    FIELD(OLDF, BFLOAT4)                                                                                     \
    FIELD(OLDD, BFLOAT8)                                                                                     \
    FIELD(WHOLE, DECIMAL(5, 0))                                                                              \
    FIELD(HUGE, DECIMAL(31, 0))                                                                              \
    FIELD(ID, LONG)
TARVEX_RECORD(AllTypes, "AT", ALL_TYPES_FIELDS)

// An array of strings and an array of two groups, as the runtime describes them.
const VrnFieldDesc kNestedFields[] = {
    {"NS:CODE", nullptr, 0, 4, 1, 0, VRN_TYPE_STRING, 0},
    {"NS:DX", nullptr, 4, 3, 3, 0, VRN_TYPE_STRING, 0},
    {"NS:ADDR", nullptr, 13, 10, 2, 2, VRN_TYPE_GROUP, 0},
    {"NS:CITY", nullptr, 13, 6, 1, 0, VRN_TYPE_STRING, 0},
    {"NS:ZIP", nullptr, 19, 4, 1, 0, VRN_TYPE_LONG, 0},
};
const VrnTypeDesc kNested = {"Nested", "NS", 33, 5, kNestedFields};

// A table of the record's columns in an in-memory database, written and read through the codec.
class Columns {
  public:
    explicit Columns(const VrnTypeDesc& type) : map_(RecordColumns::Map(type, type.size)), size_(type.size) {
        sqlite3_open(":memory:", &db_);
        Exec("CREATE TABLE t (id INTEGER PRIMARY KEY, " + map_->Definitions() + ")");
    }
    ~Columns() { sqlite3_close(db_); }

    const RecordColumns& Map() const { return *map_; }
    void Exec(const std::string& sql) {
        char* message = nullptr;
        ASSERT_EQ(sqlite3_exec(db_, sql.c_str(), nullptr, nullptr, &message), SQLITE_OK) << message << " in " << sql;
    }
    void Write(const void* record) {
        std::string sql = "INSERT OR REPLACE INTO t VALUES (1";
        for (size_t i = 0; i < map_->Columns().size(); i++)
            sql += ", ?" + std::to_string(i + 1);
        sqlite3_stmt* insert = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db_, (sql + ")").c_str(), -1, &insert, nullptr), SQLITE_OK);
        EXPECT_EQ(map_->Bind(insert, 1, record), SQLITE_OK);
        EXPECT_EQ(sqlite3_step(insert), SQLITE_DONE);
        sqlite3_finalize(insert);
    }
    // The record read back, or the refusal's text in `problem`.
    bool Read(std::vector<unsigned char>* record, std::string* problem) {
        record->assign(size_, 0xAA);
        sqlite3_stmt* row = nullptr;
        EXPECT_EQ(sqlite3_prepare_v2(db_, ("SELECT " + map_->Names() + " FROM t WHERE id = 1").c_str(), -1, &row,
                                     nullptr),
                  SQLITE_OK);
        EXPECT_EQ(sqlite3_step(row), SQLITE_ROW);
        bool ok = map_->Read(row, 0, record->data(), problem);
        sqlite3_finalize(row);
        return ok;
    }
    // What a tool sees of a column: "type:value" as typeof() and quote() print them.
    std::string Shown(const std::string& column) {
        sqlite3_stmt* row = nullptr;
        std::string sql = "SELECT typeof(\"" + column + "\") || ':' || quote(\"" + column + "\") FROM t WHERE id = 1";
        EXPECT_EQ(sqlite3_prepare_v2(db_, sql.c_str(), -1, &row, nullptr), SQLITE_OK) << sql;
        std::string out = sqlite3_step(row) == SQLITE_ROW
                              ? reinterpret_cast<const char*>(sqlite3_column_text(row, 0))
                              : "?";
        sqlite3_finalize(row);
        return out;
    }
    // Writes one column with plain SQL and reads the record back: "" or the refusal.
    std::string Outside(const std::string& assignment, std::vector<unsigned char>* record) {
        Exec("UPDATE t SET " + assignment + " WHERE id = 1");
        std::string problem;
        return Read(record, &problem) ? "" : problem;
    }

  private:
    std::unique_ptr<RecordColumns> map_;
    uint32_t size_;
    sqlite3* db_ = nullptr;
};

TEST(RecordColumnsTest, NamesFollowLabelsArraysAndGroups) {
    Columns all(AllTypes::Type());
    std::vector<std::string> names;
    for (const auto& column : all.Map().Columns())
        names.push_back(column.name);
    EXPECT_EQ(names, (std::vector<std::string>{"name", "cname", "pname", "flags", "count", "port", "seen", "at",
                                               "total", "big", "ratio", "rate", "amount", "pamount", "oldf", "oldd",
                                               "whole", "huge", "id_"})); // "id" is the record pointer's column

    auto nested = RecordColumns::Map(kNested, kNested.size);
    ASSERT_TRUE(nested);
    std::vector<std::string> nested_names;
    std::vector<uint32_t> offsets;
    for (const auto& column : nested->Columns()) {
        nested_names.push_back(column.name);
        offsets.push_back(column.offset);
    }
    EXPECT_EQ(nested_names, (std::vector<std::string>{"code", "dx_1", "dx_2", "dx_3", "addr_1_city", "addr_1_zip",
                                                      "addr_2_city", "addr_2_zip"}));
    EXPECT_EQ(offsets, (std::vector<uint32_t>{0, 4, 7, 10, 13, 19, 23, 29}));
    EXPECT_EQ(nested->Columns()[6].label, "NS:ADDR[2].CITY");
    EXPECT_EQ(nested->Definitions().substr(0, 35), "\"code\" TEXT, \"dx_1\" TEXT, \"dx_2\" TE");

    // A field beyond the record length is no mapping at all.
    EXPECT_FALSE(RecordColumns::Map(kNested, 30));
    EXPECT_EQ(lumarex::drivers::TableNameFor("/data/Patient.kel"), "patient");
    EXPECT_EQ(lumarex::drivers::TableNameFor("/data/My Claims-2.dat"), "my_claims_2");
    EXPECT_EQ(lumarex::drivers::TableNameFor("/data/2024.kel"), "t_2024");
}

TEST(RecordColumnsTest, EveryTypeShowsAsItsTypedValue) {
    Columns all(AllTypes::Type());
    AllTypes record;
    std::memset(static_cast<void*>(&record), 0, sizeof record); // see the cleared record below
    record.NAME = "M\xFCller"; // u-umlaut
    record.CNAME = "abc";
    record.PNAME = "x\x80"; // the euro sign
    record.FLAGS = 255;
    record.COUNT = -32768;
    record.PORT = 65535;
    record.SEEN = Vrn$DATE(2, 29, 2024);
    VrnTimeParts time{13, 5, 9, 7};
    record.AT = Vrn$time2abs(&time);
    record.TOTAL = INT32_MIN;
    record.BIG = UINT32_MAX;
    record.RATIO = 0.5F;
    record.RATE = 1234.5678;
    record.AMOUNT = tarvex::Decimal<9, 2>("-1234.50");
    record.PAMOUNT = tarvex::PDecimal<7, 3>("0.005");
    Vrn$bstorefloat4(&record.OLDF, 1.0);
    Vrn$bstorefloat(&record.OLDD, -2.5);
    record.WHOLE = tarvex::Decimal<5, 0>("-12345");
    record.HUGE = tarvex::Decimal<31, 0>("1234567890123456789012345678901");
    record.ID = 7;
    all.Write(&record);
    const std::pair<const char*, const char*> expected[] = {
        {"name", "text:'M\xC3\xBCller'"}, {"cname", "text:'abc'"},           {"pname", "text:'x\xE2\x82\xAC'"},
        {"flags", "integer:255"},         {"count", "integer:-32768"},       {"port", "integer:65535"},
        {"seen", "text:'2024-02-29'"},    {"at", "text:'13:05:09.07'"},      {"total", "integer:-2147483648"},
        {"big", "integer:4294967295"},    {"ratio", "real:0.5"},             {"rate", "real:1234.5678"},
        {"amount", "text:'-1234.50'"},    {"pamount", "text:'0.005'"},       {"oldf", "real:1.0"},
        {"oldd", "real:-2.5"},            {"whole", "integer:-12345"},       {"id_", "integer:7"},
        {"huge", "text:'1234567890123456789012345678901'"},
    };
    for (const auto& [column, shown] : expected)
        EXPECT_EQ(all.Shown(column), shown) << column;
    std::vector<unsigned char> back;
    std::string problem;
    ASSERT_TRUE(all.Read(&back, &problem)) << problem;
    EXPECT_EQ(std::memcmp(back.data(), &record, sizeof record), 0);

    // A cleared record: empty text, NULL dates and times, zero amounts with their places. (CLEAR
    // leaves the bytes after a CSTRING's terminator and a PSTRING's characters: they are no part
    // of the value and read back as zeros, so the comparison starts from a zeroed record, not
    // from one built by the field types, which leave those bytes as they find them.)
    std::memset(static_cast<void*>(&record), 0, sizeof record);
    Vrn$CLEAR(&record, &AllTypes::Type(), 0);
    all.Write(&record);
    EXPECT_EQ(all.Shown("name"), "text:''");
    EXPECT_EQ(all.Shown("seen"), "null:NULL");
    EXPECT_EQ(all.Shown("at"), "null:NULL");
    EXPECT_EQ(all.Shown("amount"), "text:'0.00'");
    EXPECT_EQ(all.Shown("pamount"), "text:'0.000'");
    ASSERT_TRUE(all.Read(&back, &problem)) << problem;
    EXPECT_EQ(std::memcmp(back.data(), &record, sizeof record), 0);

    // Bytes no column form shows exactly are kept as they are.
    record.SEEN = 2;                      // not a day number
    record.RATE = std::nan("");           // not finite
    std::memset(static_cast<void*>(&record.AMOUNT), 0x8A, 1); // a sign the runtime never writes, a digit above 9
    all.Write(&record);
    EXPECT_EQ(all.Shown("seen"), "blob:X'02000000'");
    EXPECT_EQ(all.Shown("amount").substr(0, 10), "blob:X'8A0");
    EXPECT_EQ(all.Shown("rate").substr(0, 7), "blob:X'");
    ASSERT_TRUE(all.Read(&back, &problem)) << problem;
    EXPECT_EQ(std::memcmp(back.data(), &record, sizeof record), 0);
}

// Random records of every type, including bytes no column shows (then kept as a BLOB): written
// and read back, every byte is where it was.
TEST(RecordColumnsTest, RandomRecordsComeBackByteForByte) {
    Columns all(AllTypes::Type());
    std::mt19937 random(21);
    auto bytes = [&](void* at, size_t size) {
        for (size_t i = 0; i < size; i++)
            static_cast<unsigned char*>(at)[i] = static_cast<unsigned char>(random());
    };
    for (int round = 0; round < 2000; round++) {
        AllTypes record{};
        bytes(&record, sizeof record);
        // Text fields as the runtime leaves them: nothing after a CSTRING's terminator or a
        // PSTRING's characters.
        size_t clength = random() % 8;
        for (size_t i = 0; i < 8; i++)
            record.CNAME.Data()[i] = i < clength ? char(1 + random() % 255) : '\0';
        size_t plength = random() % 8;
        unsigned char* pstring = reinterpret_cast<unsigned char*>(&record.PNAME);
        pstring[0] = static_cast<unsigned char>(plength);
        for (size_t i = 1; i < 8; i++)
            pstring[i] = i <= plength ? static_cast<unsigned char>(random()) : 0;
        if (round % 2 == 0) {
            // Half the rounds with values the columns show as such, not as bytes.
            record.SEEN = int32_t(4 + random() % 2994623);
            record.AT = int32_t(1 + random() % 8640000);
            record.AMOUNT = tarvex::Decimal<9, 2>(std::to_string(int(random() % 2000000000) - 1000000000).c_str());
            record.PAMOUNT = tarvex::PDecimal<7, 3>(std::to_string(int(random() % 20000) - 10000).c_str());
            record.RATE = std::ldexp(double(random()) - 2147483648.0, int(random() % 200) - 100);
        }
        all.Write(&record);
        std::vector<unsigned char> back;
        std::string problem;
        ASSERT_TRUE(all.Read(&back, &problem)) << "round " << round << ": " << problem;
        ASSERT_EQ(std::memcmp(back.data(), &record, sizeof record), 0) << "round " << round;
    }
}

TEST(RecordColumnsTest, OutsideWritesReadAsTheToolLeftThemOrAreRefused) {
    Columns all(AllTypes::Type());
    AllTypes record{};
    Vrn$CLEAR(&record, &AllTypes::Type(), 0);
    all.Write(&record);
    std::vector<unsigned char> back;
    auto field = [&](const auto& member) {
        return back.data() + (reinterpret_cast<const unsigned char*>(&member) - reinterpret_cast<unsigned char*>(&record));
    };

    // Accepted, and read as the tool meant them.
    EXPECT_EQ(all.Outside("name = 'Smith', amount = 12.5, total = '42', at = '09:30', seen = '1801-01-01'", &back), "");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(field(record.NAME)), 10), "Smith     ");
    tarvex::Decimal<9, 2> amount("12.50");
    EXPECT_EQ(std::memcmp(field(record.AMOUNT), &amount, 5), 0);
    int32_t value;
    std::memcpy(&value, field(record.TOTAL), 4);
    EXPECT_EQ(value, 42);
    std::memcpy(&value, field(record.AT), 4);
    EXPECT_EQ(value, 9 * 360000 + 30 * 6000 + 1);
    std::memcpy(&value, field(record.SEEN), 4);
    EXPECT_EQ(value, 4);
    EXPECT_EQ(all.Outside("name = 'Gr\xC3\xBC\xC3\x9F' || 'e', amount = '-0.00', pamount = NULL", &back), "");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(field(record.NAME)), 10), "Gr\xFC\xDF" "e     ");
    EXPECT_EQ(field(record.AMOUNT)[0], 0); // negative zero is zero
    EXPECT_EQ(field(record.PAMOUNT)[3], 0x0F);

    // Refused, the field named.
    const std::pair<const char*, const char*> refused[] = {
        {"name = 'ABCDEFGHIJK'", "field AT:NAME (column name): text of 11 characters is longer than the field's 10"},
        {"cname = 'ABCDEFGH'", "field AT:CNAME (column cname): text of 8 characters is longer than the field's 7"},
        {"seen = '2024-02-30'", "field AT:SEEN (column seen): '2024-02-30' is not a date (YYYY-MM-DD)"},
        {"seen = '20240201'", "field AT:SEEN (column seen): '20240201' is not a date (YYYY-MM-DD)"},
        {"at = '24:00'", "field AT:AT (column at): '24:00' is not a time (HH:MM:SS.cc)"},
        {"amount = '12.345'", "field AT:AMOUNT (column amount): the number has more than the field's 2 decimal places"},
        {"amount = 123456789", "field AT:AMOUNT (column amount): the number is too large for the field"},
        {"amount = 'ten'", "field AT:AMOUNT (column amount): 'ten' is not a number"},
        {"whole = 123456", "field AT:WHOLE (column whole): the number is too large for the field"},
        {"whole = 1.5", "field AT:WHOLE (column whole): the number has more than the field's 0 decimal places"},
        {"count = 40000", "field AT:COUNT (column count): 40000 is out of the field's range -32768 to 32767"},
        {"big = -1", "field AT:BIG (column big): -1 is out of the field's range 0 to 4294967295"},
        {"total = 'abc'", "field AT:TOTAL (column total): 'abc' is not a number"},
        {"total = 2.5", "field AT:TOTAL (column total): 2.500000 is not a whole number"},
        {"rate = 'x'", "field AT:RATE (column rate): 'x' is not a number"},
        {"ratio = 1e300", "field AT:RATIO (column ratio): the number is out of the field's range"},
        {"name = '\xCE\xA9'", "field AT:NAME (column name): the text is not UTF-8, or holds a character the "
                              "program's character set (Windows-1252) does not have"},
        {"name = CAST(X'C328' AS TEXT)", "field AT:NAME (column name): the text is not UTF-8, or holds a character "
                                         "the program's character set (Windows-1252) does not have"},
        {"flags = X'0102'", "field AT:FLAGS (column flags): a BLOB of 2 bytes does not fit the field's 1"},
    };
    for (const auto& [assignment, problem] : refused) {
        all.Write(&record);
        EXPECT_EQ(all.Outside(assignment, &back), problem) << assignment;
    }
}

} // namespace
