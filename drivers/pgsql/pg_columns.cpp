// SPDX-License-Identifier: GPL-3.0-or-later
// The record's typed columns in PostgreSQL (pg_columns.h): binary parameters and results, and the
// round trip through the scratch SQLite statement that holds the one set of conversions.
#include "pgsql/pg_columns.h"

#include <cstring>

namespace lumarex::drivers {

namespace {

// The type OIDs of PostgreSQL's built-in types (fixed by the server's catalogue).
constexpr Oid kBigintOid = 20;
constexpr Oid kDoubleOid = 701;
constexpr Oid kTextOid = 25;
constexpr Oid kByteaOid = 17;

std::string BigEndian(uint64_t value) {
    std::string bytes(8, '\0');
    for (int i = 7; i >= 0; i--) {
        bytes[size_t(i)] = char(value & 0xFF);
        value >>= 8;
    }
    return bytes;
}

uint64_t FromBigEndian(const char* bytes) {
    uint64_t value = 0;
    for (int i = 0; i < 8; i++)
        value = value << 8 | static_cast<unsigned char>(bytes[i]);
    return value;
}

PgType FromSqlType(const Column& column) {
    std::string type = ColumnSqlType(column);
    if (type == "INTEGER")
        return PgType::kBigint;
    if (type == "REAL")
        return PgType::kDouble;
    if (type == "BLOB")
        return PgType::kBytea;
    return PgType::kText;
}

const char* TypeName(PgType type) {
    switch (type) {
    case PgType::kBigint:
        return "bigint";
    case PgType::kDouble:
        return "double precision";
    case PgType::kBytea:
        return "bytea";
    default:
        return "text";
    }
}

} // namespace

void PgParams::Push(Oid type, std::string bytes, bool null) {
    types_.push_back(type);
    lengths_.push_back(int(bytes.size()));
    values_.push_back(std::move(bytes));
    nulls_.push_back(null);
    formats_.push_back(1);
}

void PgParams::Bigint(int64_t value) {
    Push(kBigintOid, BigEndian(uint64_t(value)), false);
}

void PgParams::Double(double value) {
    uint64_t bits;
    std::memcpy(&bits, &value, 8);
    Push(kDoubleOid, BigEndian(bits), false);
}

void PgParams::Text(std::string value) {
    Push(kTextOid, std::move(value), false);
}

void PgParams::Bytea(std::string value) {
    Push(kByteaOid, std::move(value), false);
}

void PgParams::Null(PgType type) {
    Oid oid = type == PgType::kBigint ? kBigintOid
              : type == PgType::kDouble ? kDoubleOid
              : type == PgType::kBytea  ? kByteaOid
                                        : kTextOid;
    Push(oid, std::string(), true);
}

const char* const* PgParams::Values() {
    pointers_.resize(values_.size());
    for (size_t i = 0; i < values_.size(); i++)
        pointers_[i] = nulls_[i] ? nullptr : values_[i].data();
    return pointers_.data();
}

void PgParams::Clear() {
    types_.clear();
    values_.clear();
    nulls_.clear();
    pointers_.clear();
    lengths_.clear();
    formats_.clear();
}

std::unique_ptr<PgRecordCodec> PgRecordCodec::Make(const RecordColumns& columns) {
    std::unique_ptr<PgRecordCodec> codec(new PgRecordCodec(columns));
    for (const Column& column : columns.Columns())
        codec->types_.push_back(FromSqlType(column));
    if (sqlite3_open_v2(":memory:", &codec->scratch_, SQLITE_OPEN_READWRITE | SQLITE_OPEN_CREATE, nullptr) !=
        SQLITE_OK)
        return nullptr;
    std::string sql = "SELECT ";
    for (size_t i = 0; i < codec->types_.size(); i++)
        sql += (i > 0 ? ", ?" : "?") + std::to_string(i + 1);
    if (codec->types_.empty())
        sql += "0";
    if (sqlite3_prepare_v2(codec->scratch_, sql.c_str(), -1, &codec->select_, nullptr) != SQLITE_OK)
        return nullptr;
    return codec;
}

PgRecordCodec::~PgRecordCodec() {
    sqlite3_finalize(select_);
    sqlite3_close(scratch_);
}

std::string PgRecordCodec::Definitions() const {
    std::string sql;
    const std::vector<Column>& columns = columns_.Columns();
    for (size_t i = 0; i < columns.size(); i++) {
        if (!sql.empty())
            sql += ", ";
        sql += Quoted(columns[i].name) + " " + TypeName(types_[i]);
    }
    return sql;
}

bool PgRecordCodec::Encode(const void* record, PgParams* params, std::string* problem) {
    sqlite3_reset(select_);
    if (columns_.Bind(select_, 1, record) != SQLITE_OK || sqlite3_step(select_) != SQLITE_ROW) {
        *problem = sqlite3_errmsg(scratch_);
        sqlite3_reset(select_);
        return false;
    }
    const std::vector<Column>& columns = columns_.Columns();
    bool fits = true;
    for (size_t i = 0; i < columns.size() && fits; i++) {
        int index = int(i);
        int type = sqlite3_column_type(select_, index);
        PgType column = types_[i];
        if (type == SQLITE_NULL) {
            params->Null(column);
        } else if (column == PgType::kBigint && type == SQLITE_INTEGER) {
            params->Bigint(sqlite3_column_int64(select_, index));
        } else if (column == PgType::kDouble && (type == SQLITE_FLOAT || type == SQLITE_INTEGER)) {
            params->Double(sqlite3_column_double(select_, index));
        } else if ((column == PgType::kText && type == SQLITE_TEXT) ||
                   (column == PgType::kBytea && type == SQLITE_BLOB)) {
            const void* bytes = type == SQLITE_TEXT ? static_cast<const void*>(sqlite3_column_text(select_, index))
                                                    : sqlite3_column_blob(select_, index);
            std::string value(static_cast<const char*>(bytes), size_t(sqlite3_column_bytes(select_, index)));
            if (column == PgType::kText && value.find('\0') != std::string::npos) {
                *problem = "field " + columns[i].label + " (column " + columns[i].name +
                           "): a text with a zero byte, which the server's text cannot hold";
                fits = false;
            } else if (column == PgType::kText) {
                params->Text(std::move(value));
            } else {
                params->Bytea(std::move(value));
            }
        } else {
            *problem = "field " + columns[i].label + " (column " + columns[i].name +
                       "): bytes that are no value of the column's type";
            fits = false;
        }
    }
    sqlite3_reset(select_);
    sqlite3_clear_bindings(select_);
    return fits;
}

bool PgRecordCodec::Decode(const PGresult* result, int row, int first, void* record, std::string* problem) {
    sqlite3_reset(select_);
    for (size_t i = 0; i < types_.size(); i++) {
        int column = first + int(i), index = int(i) + 1;
        if (PQgetisnull(result, row, column)) {
            sqlite3_bind_null(select_, index);
            continue;
        }
        const char* bytes = PQgetvalue(result, row, column);
        int length = PQgetlength(result, row, column);
        switch (types_[i]) {
        case PgType::kBigint:
            sqlite3_bind_int64(select_, index, length == 8 ? int64_t(FromBigEndian(bytes)) : 0);
            break;
        case PgType::kDouble: {
            uint64_t bits = length == 8 ? FromBigEndian(bytes) : 0;
            double value;
            std::memcpy(&value, &bits, 8);
            sqlite3_bind_double(select_, index, value);
            break;
        }
        case PgType::kText:
            sqlite3_bind_text(select_, index, bytes, length, SQLITE_STATIC);
            break;
        case PgType::kBytea:
            sqlite3_bind_blob(select_, index, bytes, length, SQLITE_STATIC);
            break;
        }
    }
    bool fits = sqlite3_step(select_) == SQLITE_ROW;
    if (!fits)
        *problem = sqlite3_errmsg(scratch_);
    else
        fits = columns_.Read(select_, 0, record, problem);
    sqlite3_reset(select_);
    sqlite3_clear_bindings(select_);
    return fits;
}

int64_t PgBigint(const PGresult* result, int row, int column) {
    if (PQgetisnull(result, row, column) || PQgetlength(result, row, column) != 8)
        return 0;
    return int64_t(FromBigEndian(PQgetvalue(result, row, column)));
}

std::string PgBytes(const PGresult* result, int row, int column) {
    return std::string(PQgetvalue(result, row, column), size_t(PQgetlength(result, row, column)));
}

} // namespace lumarex::drivers
