// SPDX-License-Identifier: GPL-3.0-or-later
// The dictionary's records as the typed columns the drivers store: every file maps every field to
// a column named after it, and random records of every file go to the columns and come back byte
// for byte (strings of any single-byte characters, decimals of any digits and sign).
#include <gtest/gtest.h>
#include <sqlite3.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "common/record_columns.h"
#include "data/dictionary.h"

namespace lumarex {
namespace {

using drivers::RecordColumns;

// A value the runtime could have left in the field: blank-padded text, or packed digits with the
// sign the runtime writes.
void RandomField(const VrnFieldDesc& field, unsigned char* bytes, std::mt19937& random) {
    if (field.type == VRN_TYPE_STRING) {
        size_t length = random() % (field.size + 1);
        for (size_t i = 0; i < field.size; i++)
            bytes[i] = i < length ? static_cast<unsigned char>(1 + random() % 255) : ' ';
        return;
    }
    ASSERT_EQ(field.type, VRN_TYPE_DECIMAL) << field.label;
    bool any = false;
    for (uint32_t nibble = 1; nibble < 2 * field.size; nibble++) {
        unsigned digit = random() % 10;
        any = any || digit != 0;
        unsigned char& byte = bytes[nibble / 2];
        byte = nibble % 2 == 0 ? static_cast<unsigned char>((byte & 0x0F) | digit << 4)
                               : static_cast<unsigned char>((byte & 0xF0) | digit);
    }
    bool negative = any && random() % 2 == 0;
    bytes[0] = static_cast<unsigned char>((bytes[0] & 0x0F) | (negative ? 0xF0 : 0));
}

TEST(DictionaryColumnsTest, EveryFileRoundTripsThroughItsColumns) {
    std::mt19937 random(1500);
    for (FileDecl* file : DictionaryFiles()) {
        const VrnTypeDesc& type = *file->record_type;
        auto columns = RecordColumns::Map(type, file->record_length);
        ASSERT_TRUE(columns) << type.name;
        ASSERT_EQ(columns->Columns().size(), type.field_count) << type.name;
        for (uint32_t i = 0; i < type.field_count; i++) {
            std::string label = type.fields[i].label;
            std::string name = label.substr(label.find(':') + 1);
            for (char& c : name)
                c = char(std::tolower(static_cast<unsigned char>(c)));
            EXPECT_EQ(columns->Columns()[i].name, name) << label;
        }

        sqlite3* db = nullptr;
        ASSERT_EQ(sqlite3_open(":memory:", &db), SQLITE_OK);
        ASSERT_EQ(sqlite3_exec(db, ("CREATE TABLE t (" + columns->Definitions() + ")").c_str(), nullptr, nullptr,
                               nullptr),
                  SQLITE_OK)
            << type.name;
        std::string insert_sql = "INSERT INTO t VALUES (?1";
        for (size_t i = 1; i < columns->Columns().size(); i++)
            insert_sql += ", ?" + std::to_string(i + 1);
        sqlite3_stmt* insert = nullptr;
        sqlite3_stmt* select = nullptr;
        ASSERT_EQ(sqlite3_prepare_v2(db, (insert_sql + ")").c_str(), -1, &insert, nullptr), SQLITE_OK);
        ASSERT_EQ(sqlite3_prepare_v2(db, ("SELECT " + columns->Names() + " FROM t WHERE rowid = ?1").c_str(), -1,
                                     &select, nullptr),
                  SQLITE_OK);
        std::vector<unsigned char> record(file->record_length), back(file->record_length);
        for (int round = 1; round <= 300; round++) {
            for (uint32_t i = 0; i < type.field_count; i++)
                RandomField(type.fields[i], record.data() + type.fields[i].offset, random);
            sqlite3_reset(insert);
            ASSERT_EQ(columns->Bind(insert, 1, record.data()), SQLITE_OK);
            ASSERT_EQ(sqlite3_step(insert), SQLITE_DONE);
            sqlite3_reset(select);
            sqlite3_bind_int64(select, 1, sqlite3_last_insert_rowid(db));
            ASSERT_EQ(sqlite3_step(select), SQLITE_ROW);
            std::string problem;
            ASSERT_TRUE(columns->Read(select, 0, back.data(), &problem)) << type.name << ": " << problem;
            ASSERT_EQ(back, record) << type.name << " round " << round;
        }
        // Nothing went in as a BLOB: every value is text or a whole number a tool reads as it is.
        sqlite3_stmt* blobs = nullptr;
        std::string count = "SELECT 0";
        for (const auto& column : columns->Columns())
            count += " + (SELECT count(*) FROM t WHERE typeof(\"" + column.name + "\") NOT IN ('text', 'integer'))";
        ASSERT_EQ(sqlite3_prepare_v2(db, count.c_str(), -1, &blobs, nullptr), SQLITE_OK);
        ASSERT_EQ(sqlite3_step(blobs), SQLITE_ROW);
        EXPECT_EQ(sqlite3_column_int(blobs, 0), 0) << type.name;
        sqlite3_finalize(blobs);
        sqlite3_finalize(insert);
        sqlite3_finalize(select);
        sqlite3_close(db);
    }
}

TEST(DictionaryColumnsTest, ClaimNumbersAreIntegersAndAmountsExactText) {
    auto columns = RecordColumns::Map(InvoiceRecord::Type(), sizeof(InvoiceRecord));
    ASSERT_TRUE(columns);
    std::string definitions = columns->Definitions();
    for (const char* expected : {"\"prv\" INTEGER", "\"pat\" INTEGER", "\"inv\" INTEGER", "\"date\" TEXT",
                                 "\"bdue\" TEXT", "\"labcharge\" TEXT"})
        EXPECT_NE(definitions.find(expected), std::string::npos) << expected;
}

} // namespace
} // namespace lumarex
