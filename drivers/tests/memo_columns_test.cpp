// SPDX-License-Identifier: GPL-3.0-or-later
// MEMO and BLOB fields in columns of their own, on both SQLite drivers and on PGSQL: the program's
// values stored and read back byte for byte through BLOB_TAKE, BLOB_YIELD and BLOB_SIZE (text
// with bytes 0x80-0xFF, an empty memo, one of the most bytes the MEMO takes, a BLOB with zero
// bytes), as the outside judge (the sqlite3 shell, psql) sees them; a memo changed there with
// plain SQL read back by the program, one too long for its MEMO refused for its record alone;
// NOMEMO reads that keep what the file holds; a sequence that reads each record's memos.
#include "kelstore/kelstore.h"
#include "varnel/varnel.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "core/tests/test_support.h"
#include "tarvex/ansi_text.hpp"
#include "tarvex/files.h"
#include "tarvex/frame.h"
#include "tarvex/type_descriptor.h"

#ifdef LUM_WITH_PGSQL
#include "pgsql/pgsql.h"
#include "pgsql_server.h"
#endif

namespace {

#define MEMO_TEST_FIELDS(FIELD)                                                                              \
    FIELD(ID, LONG)                                                                                          \
    FIELD(NAME, STRING(10))
TARVEX_RECORD(MemoRecord, "MT", MEMO_TEST_FIELDS)

struct DriverCase {
    const char* name;
    VrnDriverEntry entry;
    const char* extension;
};
void PrintTo(const DriverCase& c, std::ostream* out) {
    *out << c.name;
}
std::string DriverName(const ::testing::TestParamInfo<DriverCase>& info) {
    return info.param.name;
}
const DriverCase kDrivers[] = {{"KELSTORE", KELSTORE, ".kel"}, {"VARNEL", VARNEL, ".dat"}};

constexpr uint32_t kNotesSize = 250;
constexpr uint16_t kNotes = 1, kScan = 2, kCodes = 3;

// Memos.kel: ID (unique key), NAME; memos NOTES (MEMO(250)), SCAN (BLOB) and a MEMO(20),BINARY
// without a name.
struct Memos {
    MemoRecord record{};
    int32_t id_components[1] = {1};
    KeyDecl id_key{};
    KeyDecl* keys[1] = {&id_key};
    MemoDecl notes{}, scan{}, codes{};
    MemoDecl* memos[3] = {&notes, &scan, &codes};
    FileDecl file{};
    std::string name;

    explicit Memos(const DriverCase& driver) : name(std::string("Memos") + driver.extension) {
        id_key.label = "MT:IDKEY";
        id_key.label_length = 8;
        id_key.attributes = VRN_KEY_PRIMARY;
        id_key.component_count = 1;
        id_key.components = id_components;
        id_key.file = &file;
        notes.name = "NOTES";
        notes.max_size = kNotesSize;
        scan.name = "SCAN";
        scan.flags = VRN_MEMO_BLOB | VRN_MEMO_BINARY;
        codes.flags = VRN_MEMO_BINARY;
        codes.max_size = 20;
        file.driver = driver.entry;
        file.name = name.c_str();
        file.name_length = VRN_LENGTH_CSTRING;
        file.key_count = 1;
        file.memo_count = 3;
        file.memos = memos;
        file.record_length = sizeof(MemoRecord);
        file.record_type = &MemoRecord::Type();
        file.keys = keys;
        file.record = &record;
    }
    ~Memos() {
        if (file.driver_instance != nullptr)
            Vrn$FILE_CLOSE(&file);
    }
    int32_t Take(uint16_t memo, const std::string& bytes) {
        Vrn$BLOB_TAKE(&file, memo, reinterpret_cast<intptr_t>(bytes.data()), intptr_t(bytes.size()));
        return Vrn$ERRCODE;
    }
    // The memo's value: BLOB_SIZE bytes of what BLOB_YIELD gives.
    std::string Value(uint16_t memo) {
        int32_t size = Vrn$BLOB_SIZE(&file, memo);
        std::string bytes(size_t(size), '?');
        Vrn$BLOB_YIELD(&file, memo, reinterpret_cast<intptr_t>(bytes.data()), intptr_t(bytes.size()));
        return bytes;
    }
    int32_t Get(int32_t id) {
        record.ID = id;
        Vrn$FILE_GETfk(&id_key);
        return Vrn$ERRCODE;
    }
};

std::string FileErrorMessage() {
    Vrn$FILEERRORMSG();
    return tarvex::testing::PopText();
}

// The text of every byte from 0x20 to 0xFF but the blank: the typographic characters 0x80-0x9F
// included, each of which UTF-8 spells in two or three bytes.
std::string HighText() {
    std::string text;
    for (int b = 0x21; b <= 0xFF; b++)
        text += char(b);
    return text;
}

std::string BinaryBytes() {
    std::string bytes;
    for (int i = 0; i < 600; i++)
        bytes += char(i % 256);
    bytes += std::string(5, '\0'); // zero bytes at the end too
    return bytes;
}

std::string Hex(const std::string& bytes) {
    static const char* digits = "0123456789ABCDEF";
    std::string hex;
    for (unsigned char c : bytes) {
        hex += digits[c >> 4];
        hex += digits[c & 15];
    }
    return hex;
}

class MemoColumnsTest : public ::testing::TestWithParam<DriverCase> {
  protected:
    tarvex::testing::TemporaryDrive drive;

    void SetUp() override {
#ifdef LUM_WITH_PGSQL
        if (OnServer() && !pgsql_testing::ProcessServerUp("driver_tests"))
            GTEST_SKIP() << "no PostgreSQL server could start: " << pgsql_testing::ProcessServer().Reason();
#endif
    }
    bool OnServer() const {
#ifdef LUM_WITH_PGSQL
        return GetParam().entry == PGSQL;
#else
        return false;
#endif
    }

    // What the outside judge prints for the query: the sqlite3 shell on the file, psql on the
    // server. `hex` is the SQL of a column's stored bytes in hexadecimal, written for the engine.
    std::string Judge(const std::string& sql) {
#ifdef LUM_WITH_PGSQL
        if (OnServer())
            return pgsql_testing::ProcessServer().Psql(sql);
#endif
        std::string path = (drive.Root() / (std::string("Memos") + GetParam().extension)).string();
        std::string command = "sqlite3 '" + path + "' \"" + sql + "\" 2>&1";
        std::unique_ptr<FILE, int (*)(FILE*)> pipe(popen(command.c_str(), "r"), pclose);
        std::string out;
        char buffer[4096];
        while (pipe && std::fgets(buffer, sizeof buffer, pipe.get()) != nullptr)
            out += buffer;
        while (!out.empty() && out.back() == '\n')
            out.pop_back();
        return out;
    }
    std::string HexOf(const std::string& column, bool text = false) {
        if (!OnServer())
            return "hex(" + column + ")";
        return "upper(encode(" + (text ? "convert_to(" + column + ", 'UTF8')" : column) + ", 'hex'))";
    }
    std::string TypeOf(const std::string& column) {
        return OnServer() ? "pg_typeof(" + column + ")" : "typeof(" + column + ")";
    }

    std::unique_ptr<Memos> Created() {
        auto memos = std::make_unique<Memos>(GetParam());
        Vrn$FILE_CREATE(&memos->file);
        EXPECT_EQ(Vrn$ERRCODE, 0) << FileErrorMessage();
        Vrn$FILE_OPEN(&memos->file, 0x42);
        EXPECT_EQ(Vrn$ERRCODE, 0) << FileErrorMessage();
        return memos;
    }
    // Record `id` with the three memo values, added.
    void Add(Memos& memos, int32_t id, const std::string& notes, const std::string& scan, const std::string& codes) {
        memos.record.ID = id;
        memos.record.NAME = ("rec" + std::to_string(id)).c_str();
        ASSERT_EQ(memos.Take(kNotes, notes), 0) << FileErrorMessage();
        ASSERT_EQ(memos.Take(kScan, scan), 0);
        ASSERT_EQ(memos.Take(kCodes, codes), 0);
        Vrn$FILE_ADDf(&memos.file);
        ASSERT_EQ(Vrn$ERRCODE, 0) << FileErrorMessage();
    }
};

TEST_P(MemoColumnsTest, MemosAndBlobsComeBackByteForByteAndToolsReadThem) {
    auto memos = Created();
    const std::string high = HighText(), binary = BinaryBytes();
    const std::string longest(kNotesSize, 'x');
    std::string codes("\x01\x00\xFF\x80 z", 6);
    Add(*memos, 1, high, binary, codes);
    Add(*memos, 2, "", "", "");
    Add(*memos, 3, longest, std::string(1, '\0'), "");
    Add(*memos, 4, "padded   ", "", ""); // a MEMO drops its padding blanks, as a STRING does

    struct Expected {
        int32_t id;
        std::string notes, scan, codes;
    } expected[] = {{1, high, binary, codes}, {2, "", "", ""}, {3, longest, std::string(1, '\0'), ""},
                    {4, "padded", "", ""}};
    for (const Expected& e : expected) {
        SCOPED_TRACE(e.id);
        ASSERT_EQ(memos->Get(e.id), 0) << FileErrorMessage();
        EXPECT_EQ(memos->Value(kNotes), e.notes);
        EXPECT_EQ(memos->Value(kScan), e.scan);
        EXPECT_EQ(memos->Value(kCodes), e.codes);
    }
    // A MEMO fills a longer buffer with blanks, as a STRING; a BLOB leaves the bytes after it.
    ASSERT_EQ(memos->Get(4), 0);
    char buffer[10];
    std::memset(buffer, '#', sizeof buffer);
    Vrn$BLOB_YIELD(&memos->file, kNotes, reinterpret_cast<intptr_t>(buffer), 9);
    EXPECT_EQ(std::string(buffer, 10), "padded   #");

    // The outside judge: TEXT in UTF-8 for the MEMO, the bytes for the BLOB and the MEMO,BINARY,
    // NULL for an empty one.
    EXPECT_EQ(Judge("SELECT " + TypeOf("notes") + ", " + TypeOf("scan") + ", " + TypeOf("memo3") +
                    " FROM memos WHERE id = 1"),
              OnServer() ? "text|bytea|bytea" : "text|blob|blob");
    EXPECT_EQ(Judge("SELECT " + HexOf("notes", true) + " FROM memos WHERE id = 1"), Hex(tarvex::AnsiToUtf8(high)));
    EXPECT_EQ(Judge("SELECT " + HexOf("scan") + " FROM memos WHERE id = 1"), Hex(binary));
    EXPECT_EQ(Judge("SELECT length(scan), " + HexOf("memo3") + " FROM memos WHERE id = 1"),
              std::to_string(binary.size()) + "|" + Hex(codes));
    EXPECT_EQ(Judge("SELECT count(*) FROM memos WHERE notes IS NULL AND scan IS NULL AND memo3 IS NULL"), "1");
    EXPECT_EQ(Judge("SELECT notes FROM memos WHERE id = 4"), "padded");
}

TEST_P(MemoColumnsTest, AValueTooLongOrAMemoNotDeclaredIsRefusedAndChangesNothing) {
    auto memos = Created();
    Add(*memos, 1, "kept", "", "");
    ASSERT_EQ(memos->Get(1), 0);
    EXPECT_EQ(memos->Take(kNotes, std::string(kNotesSize + 1, 'y')), 90);
    EXPECT_NE(FileErrorMessage().find("NOTES"), std::string::npos);
    EXPECT_EQ(memos->Take(kCodes, std::string(21, 'c')), 90);
    EXPECT_EQ(memos->Value(kNotes), "kept");
    EXPECT_EQ(memos->Take(4, "x"), 47);
    EXPECT_EQ(memos->Take(0, "x"), 47);
    Vrn$BLOB_SIZE(&memos->file, 9);
    EXPECT_EQ(Vrn$ERRCODE, 47);
    Vrn$BLOB_TAKE(&memos->file, kNotes, 0, 5);
    EXPECT_EQ(Vrn$ERRCODE, 90);
    Vrn$FILE_PUTf(&memos->file);
    ASSERT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(Judge("SELECT notes FROM memos"), "kept");
    // A closed file has no memos to give.
    Vrn$FILE_CLOSE(&memos->file);
    EXPECT_EQ(memos->Take(kNotes, "x"), 37);
}

TEST_P(MemoColumnsTest, AMemoChangedWithPlainSqlIsReadAsLeftAndOneTooLongIsRefusedForItsRecord) {
    auto memos = Created();
    Add(*memos, 1, "first", "", "");
    Add(*memos, 2, "second", "", "");
    // UTF-8 from the other tool, in the program's characters: u-umlaut 0xFC, euro sign 0x80.
    EXPECT_EQ(Judge("UPDATE memos SET notes = 'Gr\xC3\xBC\xC3\x9F" "e \xE2\x82\xAC" "5' WHERE id = 1"), "");
    EXPECT_EQ(Judge("UPDATE memos SET notes = '" + std::string(kNotesSize + 1, 'z') + "' WHERE id = 2"), "");
    ASSERT_EQ(memos->Get(1), 0) << FileErrorMessage();
    EXPECT_EQ(memos->Value(kNotes), "Gr\xFC\xDF" "e \x80" "5");
    EXPECT_EQ(memos->Get(2), 90);
    std::string message = FileErrorMessage();
    EXPECT_NE(message.find("NOTES"), std::string::npos) << message;
    EXPECT_NE(message.find(std::to_string(kNotesSize + 1)), std::string::npos) << message;
    EXPECT_EQ(std::string(memos->record.NAME.View()), "rec1      "); // nothing of it reached the buffer
    // A text the program's characters cannot spell (a Greek letter) is refused the same way.
    EXPECT_EQ(Judge("UPDATE memos SET notes = '\xCE\xA9' WHERE id = 2"), "");
    EXPECT_EQ(memos->Get(2), 90);
    // The sequence goes on past neither: the refused record fails its own read only.
    Vrn$FILE_SETk(&memos->id_key);
    Vrn$FILE_NEXT(&memos->file);
    EXPECT_EQ(Vrn$ERRCODE, 0);
    EXPECT_EQ(memos->record.ID, 1);
}

TEST_P(MemoColumnsTest, ReadsWithNomemoLeaveTheMemosOutAndAPutKeepsWhatTheFileHolds) {
    auto memos = Created();
    Add(*memos, 1, "notes of one", "scan", "c");
    Vrn$FILE_NOMEMO(&memos->file);
    ASSERT_EQ(memos->Get(1), 0);
    EXPECT_EQ(Vrn$BLOB_SIZE(&memos->file, kNotes), 0);
    memos->record.NAME = "renamed";
    ASSERT_EQ(memos->Take(kCodes, "new"), 0); // taken: written with the record
    Vrn$FILE_PUTf(&memos->file);
    ASSERT_EQ(Vrn$ERRCODE, 0) << FileErrorMessage();
    ASSERT_EQ(memos->Get(1), 0); // NOMEMO was for one read only
    EXPECT_EQ(std::string(memos->record.NAME.View()), "renamed   ");
    EXPECT_EQ(memos->Value(kNotes), "notes of one");
    EXPECT_EQ(memos->Value(kScan), "scan");
    EXPECT_EQ(memos->Value(kCodes), "new");
}

TEST_P(MemoColumnsTest, ASequenceReadsEachRecordsMemosAndBuildKeepsThem) {
    auto memos = Created();
    for (int32_t id = 1; id <= 40; id++)
        Add(*memos, id, "memo " + std::to_string(id), std::string(size_t(id), char(id)), "");
    for (int pass = 0; pass < 2; pass++) {
        SCOPED_TRACE(pass == 0 ? "before BUILD" : "after BUILD");
        Vrn$FILE_SETk(&memos->id_key);
        int32_t seen = 0;
        for (Vrn$FILE_NEXT(&memos->file); Vrn$ERRCODE == 0; Vrn$FILE_NEXT(&memos->file)) {
            int32_t id = memos->record.ID;
            EXPECT_EQ(id, ++seen);
            EXPECT_EQ(memos->Value(kNotes), "memo " + std::to_string(id));
            EXPECT_EQ(memos->Value(kScan), std::string(size_t(id), char(id)));
        }
        EXPECT_EQ(seen, 40);
        Vrn$FILE_CLOSE(&memos->file);
        Vrn$FILE_BUILDf(&memos->file);
        ASSERT_EQ(Vrn$ERRCODE, 0) << FileErrorMessage();
        Vrn$FILE_OPEN(&memos->file, 0x42);
        ASSERT_EQ(Vrn$ERRCODE, 0);
    }
}

// A file made while the declaration had no memos yet: opening it with the memos declared gives 47
// saying what BUILD does; BUILD adds the columns with every record kept, and the memos then work
// as in a file made with them (a change from outside included).
TEST_P(MemoColumnsTest, AFileMadeBeforeItsMemosIsRefusedUntilBuildAddsTheirColumns) {
    {
        Memos older(GetParam());
        older.file.memo_count = 0;
        older.file.memos = nullptr;
        Vrn$FILE_CREATE(&older.file);
        ASSERT_EQ(Vrn$ERRCODE, 0) << FileErrorMessage();
        Vrn$FILE_OPEN(&older.file, 0x42);
        ASSERT_EQ(Vrn$ERRCODE, 0) << FileErrorMessage();
        for (int32_t id = 1; id <= 25; id++) {
            older.record.ID = id;
            older.record.NAME = ("old" + std::to_string(id)).c_str();
            Vrn$FILE_ADDf(&older.file);
            ASSERT_EQ(Vrn$ERRCODE, 0) << FileErrorMessage();
        }
    }
    Memos memos(GetParam());
    Vrn$FILE_OPEN(&memos.file, 0x42);
    EXPECT_EQ(Vrn$ERRCODE, 47);
    std::string message = FileErrorMessage();
    EXPECT_NE(message.find("NOTES"), std::string::npos) << message;
    EXPECT_NE(message.find("BUILD adds"), std::string::npos) << message;
    EXPECT_EQ(memos.file.driver_instance, nullptr);
    EXPECT_EQ(Judge("SELECT count(*) FROM memos"), "25"); // the refused OPEN changed nothing

    Vrn$FILE_BUILDf(&memos.file);
    ASSERT_EQ(Vrn$ERRCODE, 0) << FileErrorMessage();
    Vrn$FILE_OPEN(&memos.file, 0x42);
    ASSERT_EQ(Vrn$ERRCODE, 0) << FileErrorMessage();
    EXPECT_EQ(Vrn$FILE_RECORDSf(&memos.file), 25);
    Vrn$FILE_SETk(&memos.id_key);
    int32_t seen = 0;
    for (Vrn$FILE_NEXT(&memos.file); Vrn$ERRCODE == 0; Vrn$FILE_NEXT(&memos.file)) {
        EXPECT_EQ(memos.record.ID, ++seen);
        EXPECT_EQ(std::string(memos.record.NAME.View()), ("old" + std::to_string(seen)).append(7 - std::to_string(seen).size(), ' '));
        EXPECT_EQ(memos.Value(kNotes), "");
        EXPECT_EQ(memos.Value(kScan), "");
    }
    EXPECT_EQ(seen, 25);

    ASSERT_EQ(memos.Get(9), 0);
    ASSERT_EQ(memos.Take(kNotes, "added later \xE9"), 0);
    ASSERT_EQ(memos.Take(kScan, std::string("\0\x01\xFF", 3)), 0);
    Vrn$FILE_PUTf(&memos.file);
    ASSERT_EQ(Vrn$ERRCODE, 0) << FileErrorMessage();
    ASSERT_EQ(memos.Get(9), 0);
    EXPECT_EQ(memos.Value(kNotes), "added later \xE9");
    EXPECT_EQ(memos.Value(kScan), std::string("\0\x01\xFF", 3));
    EXPECT_EQ(Judge("SELECT id, notes, " + HexOf("scan") + " FROM memos WHERE notes IS NOT NULL OR scan IS NOT NULL"),
              "9|added later \xC3\xA9|0001FF");
    if (!OnServer()) {
        // The file's trigger now watches the added columns: a memo changed from outside counts as
        // a change of its record, so a WATCHed PUT is refused.
        Vrn$FILE_WATCH(&memos.file);
        ASSERT_EQ(memos.Get(9), 0);
        EXPECT_EQ(Judge("UPDATE memos SET notes = 'outside' WHERE id = 9"), "");
        Vrn$FILE_PUTf(&memos.file);
        EXPECT_EQ(Vrn$ERRCODE, 89);
    }
    Vrn$FILE_CLOSE(&memos.file);
    Vrn$FILE_OPEN(&memos.file, 0x42); // and the file opens as one made with its memos
    EXPECT_EQ(Vrn$ERRCODE, 0) << FileErrorMessage();
}

INSTANTIATE_TEST_SUITE_P(Drivers, MemoColumnsTest, ::testing::ValuesIn(kDrivers), DriverName);
#ifdef LUM_WITH_PGSQL
const DriverCase kServerDriver = {"PGSQL", PGSQL, ".kel"};
INSTANTIATE_TEST_SUITE_P(Server, MemoColumnsTest, ::testing::Values(kServerDriver), DriverName);
#endif

} // namespace
