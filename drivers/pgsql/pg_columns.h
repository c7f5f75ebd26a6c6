// SPDX-License-Identifier: GPL-3.0-or-later
// The record's typed columns in PostgreSQL: the same columns, names and exact conversions as the
// SQLite drivers' (common/record_columns.h), carried over to PostgreSQL values. The conversion
// itself is not written twice: a record is bound to a scratch in-memory SQLite statement through
// RecordColumns and the values it yields become PostgreSQL parameters; a row read back goes the
// other way. So a record stored on the server reads back byte for byte as from a file.
//
//   SQLite INTEGER -> bigint, REAL -> double precision, TEXT -> text, BLOB -> bytea.
// A field whose bytes have no column form (a date that is no date, a string without its
// terminator) is kept by SQLite as a BLOB in its typed column; PostgreSQL's columns are typed
// strictly, so such a record is refused with the field named rather than stored altered.
#pragma once

#include <libpq-fe.h>
#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/record_columns.h"

namespace lumarex::drivers {

enum class PgType { kBigint, kDouble, kText, kBytea };

// Parameters of one statement, all sent in binary form.
class PgParams {
  public:
    void Bigint(int64_t value);
    void Double(double value);
    void Text(std::string value);
    void Bytea(std::string value);
    void Null(PgType type);
    int Count() const { return int(values_.size()); }
    const Oid* Types() const { return types_.data(); }
    // Pointers into the values: valid until the next change.
    const char* const* Values();
    const int* Lengths() const { return lengths_.data(); }
    const int* Formats() const { return formats_.data(); }
    void Clear();

  private:
    void Push(Oid type, std::string bytes, bool null);
    std::vector<Oid> types_;
    std::vector<std::string> values_;
    std::vector<bool> nulls_;
    std::vector<const char*> pointers_;
    std::vector<int> lengths_;
    std::vector<int> formats_;
};

class PgRecordCodec {
  public:
    // Null when the scratch statement cannot be made (out of memory).
    static std::unique_ptr<PgRecordCodec> Make(const RecordColumns& columns);
    ~PgRecordCodec();
    PgRecordCodec(const PgRecordCodec&) = delete;
    PgRecordCodec& operator=(const PgRecordCodec&) = delete;

    // "\"pat\" bigint, \"lname\" text, ..." for CREATE TABLE.
    std::string Definitions() const;
    PgType TypeOf(size_t column) const { return types_[column]; }
    // Appends the record's fields to `params`; false, with the field named, for a value its
    // column cannot hold.
    bool Encode(const void* record, PgParams* params, std::string* problem);
    // Builds the record from the columns first, first + 1, ... of row `row` of a result fetched
    // in binary form; false, with the field named, for a value that does not fit its field.
    bool Decode(const PGresult* result, int row, int first, void* record, std::string* problem);

  private:
    PgRecordCodec(const RecordColumns& columns) : columns_(columns) {}
    const RecordColumns& columns_;
    std::vector<PgType> types_;
    sqlite3* scratch_ = nullptr;
    sqlite3_stmt* select_ = nullptr; // SELECT ?1, ?2, ...: the values as bound
};

// Binary-form values of a result column.
int64_t PgBigint(const PGresult* result, int row, int column);
std::string PgBytes(const PGresult* result, int row, int column);

} // namespace lumarex::drivers
