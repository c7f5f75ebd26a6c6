// SPDX-License-Identifier: GPL-3.0-or-later
// A record as named, typed SQLite columns: which column each field (each array element, each GROUP
// member) gets, and the exact conversion of each field type between the record buffer and an SQLite
// value, so any SQLite tool reads the practice's data by name.
//
//   STRING, CSTRING, PSTRING  TEXT: the characters without the padding blanks (STRING), up to the
//                              terminator (CSTRING) or the length byte's count (PSTRING); the
//                              program's single-byte characters (Windows-1252) as UTF-8 and back.
//   BYTE ... ULONG             INTEGER.
//   DECIMAL, PDECIMAL          TEXT with exactly the declared places ("-1234.50"): exact for all 31
//                              digits (a scaled INTEGER holds 18), and shown by every tool as the
//                              amount itself; an outside tool may write 12.5 or '12.5'. A whole
//                              number of up to 18 digits (places 0: claim and patient numbers) is
//                              an INTEGER, so tools order and compare it as a number.
//   DATE                       TEXT 'YYYY-MM-DD'; the empty date (0) is NULL.
//   TIME                       TEXT 'HH:MM:SS.cc'; the empty time (0) is NULL.
//   SREAL, REAL, BFLOAT4/8     REAL.
// A field whose bytes the column cannot show exactly (a DATE that is no date, a DECIMAL with a
// damaged digit, a REAL that is not finite) keeps its raw bytes as a BLOB of the field's width,
// so no record ever changes by being written and read back. On reading, a value that does not fit
// its field (text too long, a date that is no date, a number out of range) is refused with a text
// naming the field and the fault; nothing of it reaches the record.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "tarvex/type_descriptor.h"

namespace lumarex::drivers {

enum class ColumnKind {
    kString,
    kCString,
    kPString,
    kSigned,   // SHORT, LONG
    kUnsigned, // BYTE, USHORT, ULONG
    kDecimal,
    kPDecimal,
    kDate,
    kTime,
    kSreal,
    kReal,
    kBfloat4,
    kBfloat8,
    kRaw, // a type without a column form of its own: its bytes
};

struct Column {
    std::string name;  // "lname", "dx_3" (array element), "address_city" (GROUP member)
    std::string label; // for messages: "PAT:LNAME", "INV:DX[3]"
    ColumnKind kind = ColumnKind::kRaw;
    uint32_t offset = 0;
    uint32_t size = 0;
    uint8_t places = 0;
    uint32_t field = 0; // the field's index in the descriptor (0-based), shared by array elements
};

class RecordColumns {
  public:
    // The columns of a record type: its leaves in declaration order, a GROUP's members named after
    // the group, array elements numbered from 1. A name is the label without its prefix, lower-case;
    // a name taken already (or one of the driver's own columns: id, changes, k1, k2, ...) gets a
    // trailing '_'. Null when a field lies outside `record_length`.
    static std::unique_ptr<RecordColumns> Map(const VrnTypeDesc& type, uint32_t record_length);

    const std::vector<Column>& Columns() const { return columns_; }
    // "\"pat\" TEXT, \"lname\" TEXT, ..." for CREATE TABLE.
    std::string Definitions() const;
    // "a.\"pat\", a.\"lname\", ..." (no alias: without the "a.").
    std::string Names(const std::string& alias = "") const;

    // Binds the record's fields to the parameters first, first + 1, ...: SQLITE_OK or SQLite's code.
    // Text is bound as a copy, so the record may change once this returns.
    int Bind(sqlite3_stmt* statement, int first, const void* record) const;
    // Builds the record from the columns first, first + 1, ... of the statement's row. False, with
    // `problem` saying which field and why, when a value does not fit: the record is then undefined.
    bool Read(sqlite3_stmt* statement, int first, void* record, std::string* problem) const;

  private:
    std::vector<Column> columns_;
};

// The SQLite type of a column ("INTEGER", "REAL", "TEXT" or "BLOB"), as CREATE TABLE declares it;
// other engines storing the same columns map their types from it.
const char* ColumnSqlType(const Column& column);

// A column or table name as an SQL identifier: in double quotes, quotes doubled.
std::string Quoted(const std::string& name);
// A label as a column name: lower-case letters, digits and '_' (any other character a '_').
std::string ColumnIdentifier(std::string_view text);
// Whether a name is one of the driver's own columns of the record table: id, changes, k1, k2, ...
bool IsDriverColumn(const std::string& name);
// The table name for a record file: its base name without extension, lower-case, letters, digits
// and '_' only ("Patient.kel" -> "patient").
std::string TableNameFor(const std::string& path);

} // namespace lumarex::drivers
