// SPDX-License-Identifier: GPL-3.0-or-later
// The PGSQL driver's entry and its record operations: the dispatch of each operation code between
// the runtime's state check and state update, creating and opening a file's table, and the reads,
// writes, sequences and positions over it (the table layout is described in pgsql.h).
#include "pgsql/pgsql.h"

#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "common/driver_dispatch.h"
#include "common/driver_properties.h"
#include "common/position_text.h"
#include "pgsql/pg_store.h"
#include "tarvex/files.h"
#include "tarvex/frame.h"
#include "tarvex/string_stack.h"
#include "tarvex/type_descriptor.h"

namespace lumarex::drivers::pg {

namespace {

constexpr const char* kDriverName = "PGSQL";

// ---- Declaration and table -----------------------------------------------------------------

// The table's name from the declaration's NAME: the base name of the file the name completes to
// (as for the SQLite drivers, so a name they refuse is refused here too: 45), as those drivers
// name the table inside their files.
int32_t TableName(FileDecl* file, std::string* name) {
    char* text = _drv_MakeCSTRING(file->name, file->name_length);
    std::string given = text != nullptr ? text : "";
    std::free(text);
    if (given.empty())
        return kInvalidFilename;
    char completed[VRN_MAX_PATH];
    int32_t code = _drv_ChkName(given.c_str(), completed, "kel", 0);
    if (code != 0)
        return code;
    char host[4096];
    if (_drv_HostPath(completed, host, sizeof host) == 0)
        return kInvalidFilename;
    *name = TableNameFor(host);
    return 0;
}

// The keys and columns of the declaration; 47 when they do not fit the record.
int32_t Compile(FileDecl* file, State* state) {
    int32_t code = CompileKeys(file, &state->keys);
    if (code != 0)
        return code;
    state->columns = RecordColumns::Map(*file->record_type, file->record_length);
    if (!state->columns)
        return kInvalidDeclaration;
    state->memos = MemoColumns::Map(*file, *state->columns);
    if (!state->memos)
        return kInvalidDeclaration;
    state->memo.Reset(*state->memos);
    state->codec = PgRecordCodec::Make(*state->columns);
    if (!state->codec)
        return kOutOfMemory;
    state->fields = state->columns->Names("r") + state->memos->Names("r");
    if (state->columns->Columns().empty() && !state->fields.empty())
        state->fields.erase(0, 2); // the memos' leading ", "
    code = TableName(file, &state->name);
    state->table = Quoted(state->name);
    state->record_length = file->record_length;
    return code;
}

// The comment a table carries: the format and the fingerprint of the character tables its key
// images follow, so a station with other tables is told to BUILD (46) instead of misordering.
std::string TableComment(const State& state) {
    char fingerprint[24];
    std::snprintf(fingerprint, sizeof fingerprint, "%016llX",
                  static_cast<unsigned long long>(state.keys.empty() ? 0 : state.keys.front().image->Fingerprint()));
    return std::string(kFormatTag) + " " + fingerprint;
}


// ---- The file ------------------------------------------------------------------------------

} // namespace

std::string Literal(const std::string& text) {
    std::string quoted = "'";
    for (char c : text) {
        quoted += c;
        if (c == '\'')
            quoted += '\'';
    }
    return quoted + "'";
}

std::string SequenceSql(const State& s, bool forward, const std::string& condition, int limit, PgParams* params,
                        const ImageRange* range, const SequenceJoins* joins) {
    bool by_key = s.sequence_key >= 0;
    bool after_joined = joins != nullptr && !joins->after.empty();
    std::string sql = "SELECT r.id, r.changes";
    std::string where, order;
    const char* direction = forward ? "" : " DESC";
    const char* compare = s.place == Place::kBefore ? (forward ? ">=" : "<=") : (forward ? ">" : "<");
    // Within one primary row several joined rows follow: the primary row itself is read again and
    // the joined files' order decides where the sequence goes on.
    const char* primary_compare = after_joined ? (forward ? ">=" : "<=") : compare;
    bool bounded = s.place == Place::kBefore || s.place == Place::kOn;
    int64_t from = s.place == Place::kBefore && !forward ? s.high : s.low;
    std::string place_columns;
    if (by_key) {
        std::string c = "r." + s.keys[size_t(s.sequence_key)].column;
        sql += ", " + c;
        where = c + " IS NOT NULL";
        order = c + direction + ", r.id" + direction;
        place_columns = c + ", r.id";
        if (bounded) {
            params->Bytea(s.image);
            params->Bigint(from);
            where += " AND (" + c + ", r.id) " + primary_compare + " ($1, $2)";
        }
        if (range != nullptr) {
            params->Bytea(range->low);
            where += " AND " + c + " >= $" + std::to_string(params->Count());
            if (!range->high.empty()) {
                params->Bytea(range->high);
                where += " AND " + c + " < $" + std::to_string(params->Count());
            }
        }
    } else {
        order = std::string("r.id") + direction;
        place_columns = "r.id";
        if (bounded) {
            params->Bigint(from);
            where = std::string("r.id ") + primary_compare + " $1";
        }
    }
    if (joins != nullptr) {
        for (const std::string& column : joins->order)
            order += ", " + column + direction;
        if (after_joined && bounded) {
            std::string values = by_key ? "$1, $2" : "$1";
            std::string columns = place_columns;
            for (size_t i = 0; i < joins->after.size(); i++) {
                params->Bytea(joins->after[i].first);
                params->Bigint(joins->after[i].second);
                columns += ", " + joins->order[2 * i] + ", " + joins->order[2 * i + 1];
                values += ", $" + std::to_string(params->Count() - 1) + ", $" + std::to_string(params->Count());
            }
            where += std::string(where.empty() ? "" : " AND ") + "(" + columns + ") " + compare + " (" + values + ")";
        }
    }
    if (!condition.empty())
        where += (where.empty() ? "" : " AND ") + condition;
    sql += ", " + s.fields;
    if (joins != nullptr)
        sql += joins->columns;
    sql += " FROM " + s.table + " AS r";
    if (joins != nullptr)
        sql += joins->from;
    if (!where.empty())
        sql += " WHERE " + where;
    return sql + " ORDER BY " + order + " LIMIT " + std::to_string(limit);
}

namespace {


class PgFile {
  public:
    PgFile(FileDecl* file, State* state) : file_(file), s_(*state) {}

    bool ImageOf(size_t k, const void* record, std::string* image) const {
        const Key& key = s_.keys[k];
        if (key.opt && key.image->IsBlank(record))
            return false;
        *image = key.image->Build(record);
        return true;
    }

    void Take(int64_t id, const std::string& data, int64_t changes, uint32_t length = UINT32_MAX) {
        s_.current = id;
        s_.current_changes = changes;
        size_t size = std::min<size_t>(length, file_->record_length);
        std::memset(file_->record, 0, size);
        std::memcpy(file_->record, data.data(), std::min(data.size(), size));
        s_.accessed = true;
        s_.memo.Load(data, file_->record_length); // the memos ride behind the record's bytes
    }

    int32_t Fault(int64_t id, const std::string& problem) {
        std::string message = "Record " + std::to_string(id) + " of table " + s_.name + ": " + problem;
        Vrn$setfileerror("FIELD", message.c_str());
        return kFileSystemError;
    }

    // Row `row` of a result (id, changes, [image,] fields from `first`; id at column `base`) as the
    // current record.
    int32_t TakeRow(const PGresult* result, int row, int first, uint32_t length = UINT32_MAX, int base = 0) {
        std::string data(file_->record_length, '\0'), problem;
        int64_t id = PgBigint(result, row, base);
        if (!s_.codec->Decode(result, row, first, data.data(), &problem))
            return Fault(id, problem);
        size_t memos = s_.memos->Count();
        if (memos > 0) {
            std::vector<std::string> values(memos);
            int column = first + int(s_.columns->Columns().size());
            for (size_t i = 0; i < memos; i++, column++)
                if (!PQgetisnull(result, row, column) &&
                    !s_.memos->FromStored(i, PgBytes(result, row, column), s_.memos->Columns()[i].text, &values[i],
                                          &problem))
                    return Fault(id, problem);
            MemoColumns::Append(values, &data);
        }
        Take(id, data, PgBigint(result, row, base + 1), length);
        return 0;
    }

    std::string Select() const { return "SELECT r.id, r.changes, " + s_.fields + " FROM " + s_.table + " AS r"; }

    int32_t ReadPointer(int64_t pointer, uint32_t length = UINT32_MAX) {
        PgParams params;
        params.Bigint(pointer);
        PgResult result(nullptr, PQclear);
        int32_t code = s_.Db().Run(Select() + " WHERE r.id = $1", params, &result);
        if (code != 0)
            return code;
        return PQntuples(result.get()) > 0 ? TakeRow(result.get(), 0, 2, length) : kNotFound;
    }

    int32_t GetByKey(size_t k) {
        std::string image;
        if (!ImageOf(k, file_->record, &image))
            return kNotFound;
        const std::string& c = s_.keys[k].column;
        PgParams params;
        params.Bytea(image);
        PgResult result(nullptr, PQclear);
        // A key without DUP has at most one record of an image, under its unique index, which the
        // server then reads (the smaller of the key's two); with DUP the first in key order.
        std::string sql = Select() + " WHERE r." + c + " = $1";
        if (!s_.keys[k].unique)
            sql += " ORDER BY r." + c + ", r.id LIMIT 1";
        int32_t code = s_.Db().Run(sql, params, &result);
        if (code != 0)
            return code;
        return PQntuples(result.get()) > 0 ? TakeRow(result.get(), 0, 2) : kNotFound;
    }

    // The key images of the record, then its fields, as parameters.
    int32_t RecordParams(const void* record, PgParams* params) {
        for (size_t k = 0; k < s_.keys.size(); k++) {
            std::string image;
            if (ImageOf(k, record, &image))
                params->Bytea(std::move(image));
            else
                params->Null(PgType::kBytea);
        }
        std::string problem;
        if (!s_.codec->Encode(record, params, &problem))
            return Fault(s_.current, problem);
        // The memos that stand for the record (all of them but after a read with NOMEMO).
        const std::vector<MemoColumn>& memos = s_.memos->Columns();
        for (size_t i = 0; i < memos.size(); i++) {
            const std::string& value = s_.memo.Values()[i];
            PgType type = memos[i].text ? PgType::kText : PgType::kBytea;
            if (!s_.memo.Current(i))
                continue;
            if (value.empty()) {
                params->Null(type);
            } else if (!memos[i].text) {
                params->Bytea(value);
            } else if (value.find('\0') != std::string::npos) {
                return Fault(s_.current, memos[i].label + " (column " + memos[i].name +
                                             "): a text with a zero byte, which the server's text cannot hold");
            } else {
                params->Text(s_.memos->Stored(i, value));
            }
        }
        return 0;
    }

    int32_t Add(uint32_t length = UINT32_MAX) {
        std::vector<char> bytes;
        const void* data = file_->record;
        if (length < file_->record_length) {
            bytes.assign(file_->record_length, 0);
            Vrn$CLEAR(bytes.data(), file_->record_type, 0);
            std::memcpy(bytes.data(), file_->record, length);
            data = bytes.data();
        }
        PgParams params;
        int32_t code = RecordParams(data, &params);
        if (code != 0)
            return code;
        std::string names, values;
        int n = 0;
        for (const Key& key : s_.keys) {
            names += (n > 0 ? ", " : "") + key.column;
            values += (n > 0 ? ", $" : "$") + std::to_string(n + 1);
            n++;
        }
        for (const Column& column : s_.columns->Columns()) {
            names += (n > 0 ? ", " : "") + Quoted(column.name);
            values += (n > 0 ? ", $" : "$") + std::to_string(n + 1);
            n++;
        }
        for (size_t i = 0; i < s_.memos->Count(); i++) {
            if (!s_.memo.Current(i))
                continue; // left out by NOMEMO: the new record's memo is empty
            names += (n > 0 ? ", " : "") + Quoted(s_.memos->Columns()[i].name);
            values += (n > 0 ? ", $" : "$") + std::to_string(n + 1);
            n++;
        }
        std::string sql = "INSERT INTO " + s_.table;
        sql += (n > 0 ? " (" + names + ") VALUES (" + values + ")" : " DEFAULT VALUES") + " ON CONFLICT DO NOTHING RETURNING id";
        // A record a key without DUP already has is left out rather than refused by the server, so
        // the refusal costs the transaction nothing and needs no savepoint around the write.
        PgResult result(nullptr, PQclear);
        code = s_.Db().Run(sql, params, &result);
        if (code != 0)
            return code;
        if (PQntuples(result.get()) == 0)
            return kDuplicateKey;
        s_.current = PgBigint(result.get(), 0, 0);
        s_.current_changes = 0;
        s_.accessed = true;
        s_.memo.Written();
        return 0;
    }

    int32_t Put(bool watched) {
        PgParams params;
        params.Bigint(s_.current);
        params.Bigint(s_.current_changes);
        int32_t code = RecordParams(file_->record, &params);
        if (code != 0)
            return code;
        std::string sql = "UPDATE " + s_.table + " SET changes = changes + 1";
        int n = 2;
        for (const Key& key : s_.keys)
            sql += ", " + key.column + " = $" + std::to_string(++n);
        for (const Column& column : s_.columns->Columns())
            sql += ", " + Quoted(column.name) + " = $" + std::to_string(++n);
        for (size_t i = 0; i < s_.memos->Count(); i++)
            if (s_.memo.Current(i))
                sql += ", " + Quoted(s_.memos->Columns()[i].name) + " = $" + std::to_string(++n);
        sql += " WHERE id = $1";
        // A watched record is written only while its version is the one read.
        sql += watched ? " AND changes = $2" : " AND $2::bigint IS NOT NULL";
        PgResult result(nullptr, PQclear);
        code = Write(s_.Db(), [&] { return s_.Db().Run(sql, params, &result); });
        if (code != 0)
            return code;
        if (std::strcmp(PQcmdTuples(result.get()), "0") == 0)
            return watched ? kRecordChanged : kNotFound;
        s_.current_changes++;
        return 0;
    }

    int32_t Delete() {
        PgParams params;
        params.Bigint(s_.current);
        PgResult result(nullptr, PQclear);
        int32_t code = Write(s_.Db(), [&] {
            return s_.Db().Run("DELETE FROM " + s_.table + " WHERE id = $1", params, &result);
        });
        if (code != 0)
            return code;
        if (std::strcmp(PQcmdTuples(result.get()), "0") == 0)
            return kNotFound;
        s_.current = 0;
        return 0;
    }

    int32_t Empty() {
        int32_t code = Write(s_.Db(), [&] { return s_.Db().Run("DELETE FROM " + s_.table); });
        if (code == 0) {
            s_.current = 0;
            s_.place = Place::kNone;
        }
        return code;
    }

    int32_t Count(int k, int64_t* records) {
        std::string sql = "SELECT count(*) FROM " + s_.table;
        if (k >= 0)
            sql += " WHERE " + s_.keys[size_t(k)].column + " IS NOT NULL";
        PgResult result(nullptr, PQclear);
        *records = 0;
        int32_t code = s_.Db().Run(sql, &result);
        if (code == 0)
            *records = PgBigint(result.get(), 0, 0);
        return code;
    }

    int32_t StoredImage(size_t k, int64_t pointer, std::string* image) {
        PgParams params;
        params.Bigint(pointer);
        PgResult result(nullptr, PQclear);
        int32_t code = s_.Db().Run("SELECT " + s_.keys[k].column + " FROM " + s_.table + " WHERE id = $1", params,
                                   &result);
        if (code != 0)
            return code;
        if (PQntuples(result.get()) == 0 || PQgetisnull(result.get(), 0, 0))
            return kNotFound;
        *image = PgBytes(result.get(), 0, 0);
        return 0;
    }

    // One step of the sequence, as one keyset query after the place the sequence stands on.
    int32_t Step(bool forward, bool read) {
        if (s_.place == Place::kNone)
            return kNotAvailable;
        PgParams params;
        PgResult result(nullptr, PQclear);
        int32_t code = s_.Db().Run(SequenceSql(s_, forward, std::string(), 1, &params), params, &result);
        if (code != 0)
            return code;
        if (PQntuples(result.get()) == 0) {
            s_.place = Place::kNone;
            return kNotAvailable;
        }
        return StandOn(result.get(), 0, read);
    }

    // The sequence stands on row `row` of a result of SequenceSql; `read` takes it into the buffer.
    int32_t StandOn(const PGresult* result, int row, bool read, int base = 0) {
        bool by_key = s_.sequence_key >= 0;
        int64_t id = PgBigint(result, row, base);
        s_.place = Place::kOn;
        s_.low = s_.high = id;
        if (by_key)
            s_.image = PgBytes(result, row, base + 2);
        return read ? TakeRow(result, row, base + (by_key ? 3 : 2), UINT32_MAX, base) : 0;
    }

    void SetOrder(int key) {
        s_.sequence_key = key;
        s_.place = Place::kEnds;
        s_.image.clear();
    }
    void SetBefore(int key, std::string image, int64_t low, int64_t high) {
        s_.sequence_key = key;
        s_.place = Place::kBefore;
        s_.image = std::move(image);
        s_.low = low;
        s_.high = high;
    }

    // POSITION: "F" and the record pointer, or "K", the key number, the pointer and the image (or
    // "-" for a record the OPT key leaves out), all hexadecimal: the form the SQLite drivers give.
    std::string Position(int k) {
        if (k < 0)
            return FilePositionText(s_.current);
        std::string image;
        int32_t code = StoredImage(size_t(k), s_.current, &image);
        if (code == kNotFound && !ImageOf(size_t(k), file_->record, &image))
            return KeyPositionText(k, s_.current, nullptr);
        return KeyPositionText(k, s_.current, &image);
    }

    int32_t Reset(int k, const std::string& text) {
        PositionText position;
        if (!DecodePositionText(text, &position))
            return kNotFound;
        if (k < 0) {
            SetBefore(-1, {}, position.pointer, position.pointer);
            return 0;
        }
        std::string image;
        if (position.key == k && position.has_image) {
            image = position.image;
        } else {
            int32_t code = StoredImage(size_t(k), position.pointer, &image);
            if (code != 0)
                return code;
        }
        SetBefore(k, std::move(image), position.pointer, position.pointer);
        return 0;
    }

    int32_t Reget(const std::string& text) {
        PositionText position;
        if (!DecodePositionText(text, &position))
            return kNotFound;
        return ReadPointer(position.pointer);
    }

    // Whether a record other than `current` holds the buffer's values under key k (k < 0: under
    // any key without DUP).
    int32_t Duplicate(int k, int64_t current, bool* found) {
        *found = false;
        for (size_t i = 0; i < s_.keys.size() && !*found; i++) {
            if (k >= 0 ? int(i) != k : !s_.keys[i].unique)
                continue;
            std::string image;
            if (!ImageOf(i, file_->record, &image))
                continue;
            PgParams params;
            params.Bytea(image);
            params.Bigint(current);
            PgResult result(nullptr, PQclear);
            int32_t code = s_.Db().Run("SELECT 1 FROM " + s_.table + " WHERE " + s_.keys[i].column +
                                           " = $1 AND id <> $2 LIMIT 1",
                                       params, &result);
            if (code != 0)
                return code;
            *found = PQntuples(result.get()) > 0;
        }
        return 0;
    }

    // BUILD: every key image computed again from the stored fields, in one server transaction,
    // and the table marked as following the character tables in force.
    int32_t Rebuild() {
        Connection& db = s_.Db();
        bool own_transaction = !db.InTransaction();
        int32_t code = own_transaction ? db.Run("BEGIN") : 0;
        if (code != 0)
            return code;
        code = Write(db, [&]() -> int32_t {
            int32_t failed = 0;
            for (size_t i : s_.missing_memos) {
                const MemoColumn& memo = s_.memos->Columns()[i];
                failed = db.Run("ALTER TABLE " + s_.table + " ADD COLUMN " + Quoted(memo.name) +
                                (memo.text ? " text" : " bytea"));
                if (failed != 0)
                    return failed;
            }
            PgResult rows(nullptr, PQclear);
            failed = db.Run(Select() + " ORDER BY r.id", &rows);
            std::string data(file_->record_length, '\0'), problem;
            for (int row = 0; failed == 0 && row < PQntuples(rows.get()); row++) {
                int64_t id = PgBigint(rows.get(), row, 0);
                if (!s_.codec->Decode(rows.get(), row, 2, data.data(), &problem))
                    return Fault(id, problem);
                PgParams params;
                params.Bigint(id);
                std::string sql = "UPDATE " + s_.table + " SET id = id";
                for (size_t k = 0; k < s_.keys.size(); k++) {
                    std::string image;
                    if (ImageOf(k, data.data(), &image))
                        params.Bytea(std::move(image));
                    else
                        params.Null(PgType::kBytea);
                    sql += ", " + s_.keys[k].column + " = $" + std::to_string(k + 2);
                }
                failed = db.Run(sql + " WHERE id = $1", params);
            }
            if (failed == 0)
                failed = db.Run("COMMENT ON TABLE " + s_.table + " IS " + Literal(TableComment(s_)));
            return failed;
        });
        if (own_transaction)
            code = code == 0 ? db.Commit() : (db.Run("ROLLBACK"), code);
        if (code == 0)
            s_.missing_memos.clear();
        return code;
    }

  private:
    FileDecl* file_;
    State& s_;
};

// ---- Creating, opening, closing --------------------------------------------------------------

// Every open file holds a session lock on its table's name: shared, or exclusive when opened deny-all.
// So a deny-all OPEN waits for the others to close (32 after the wait) and keeps later ones out,
// CREATE does not replace a table another station has open (32), and a station that dies lets go
// with its connection. The first number sets our locks apart from other programs' on the server.
int32_t TakeUseLock(Connection& db, const State& state, const char* function) {
    PgParams params;
    params.Text(state.name);
    PgResult result(nullptr, PQclear);
    int32_t code = db.Run(std::string("SELECT ") + function + "(1280658765, hashtext($1))::text", params, &result);
    if (code == 0 && PgBytes(result.get(), 0, 0) == "false")
        return kAlreadyLocked; // the try form: another holds it
    return code;
}

// Any UPDATE of a row that leaves its version as it was (one by another SQL client) raises the
// version, so a station's WATCH sees that change too. The driver's own PUT raises the version
// itself, and the WHEN clause keeps the function from being called for it. Under a transaction
// lock, so stations opening an older table at once add the trigger once.
std::string VersionTriggerSql(const State& state) {
    return "SELECT pg_advisory_xact_lock(1280658765, 0);"
           " CREATE OR REPLACE FUNCTION lum_raise_changes() RETURNS trigger LANGUAGE plpgsql AS"
           " 'BEGIN NEW.changes := OLD.changes + 1; RETURN NEW; END';"
           " DROP TRIGGER IF EXISTS lum_changes ON " + state.table + ";"
           " CREATE TRIGGER lum_changes BEFORE UPDATE ON " + state.table +
           " FOR EACH ROW WHEN (NEW.changes = OLD.changes) EXECUTE FUNCTION lum_raise_changes();";
}

// The statements that make the table of the declaration, its key indexes and its comment.
std::string CreateSql(const State& state) {
    std::string sql = "DROP TABLE IF EXISTS " + state.table + "; CREATE TABLE " + state.table +
                      " (id bigint GENERATED BY DEFAULT AS IDENTITY PRIMARY KEY, changes bigint NOT NULL DEFAULT 0";
    for (const Key& key : state.keys)
        sql += ", " + key.column + " bytea";
    std::string fields = state.codec->Definitions();
    if (!fields.empty())
        sql += ", " + fields;
    for (const MemoColumn& memo : state.memos->Columns())
        sql += ", " + Quoted(memo.name) + (memo.text ? " text" : " bytea");
    sql += ");";
    for (const Key& key : state.keys) {
        std::string index = Quoted(state.name + "_" + key.column);
        // Key order is (image, id); a key without DUP also refuses a second record of its image.
        sql += " CREATE INDEX " + index + " ON " + state.table + " (" + key.column + ", id);";
        if (key.unique)
            sql += " CREATE UNIQUE INDEX " + Quoted(state.name + "_" + key.column + "_u") + " ON " + state.table +
                   " (" + key.column + ");";
    }
    sql += " COMMENT ON TABLE " + state.table + " IS " + Literal(TableComment(state)) + "; ";
    return sql + VersionTriggerSql(state);
}

// A table made before the trigger existed gets it when a station opens or builds it; its rows
// stay as they are.
int32_t AddVersionTrigger(State* state) {
    int32_t code = state->own->Script("BEGIN; " + VersionTriggerSql(*state) + " COMMIT");
    if (code != 0 && state->own->InTransaction())
        state->own->Run("ROLLBACK");
    if (code == 0)
        state->version_trigger = true;
    return code;
}

// Lets go of the use lock before the connection closes: the server ends a closed connection's
// session a moment later, and a CREATE or deny-all OPEN right after must not find it still held.
void ReleaseUseLock(Connection& db) {
    db.Run("SELECT pg_advisory_unlock_all()");
}

int32_t Create(FileDecl* file) {
    State state;
    int32_t code = Compile(file, &state);
    if (code != 0)
        return code;
    state.own = Connection::Open(&code);
    if (!state.own)
        return code;
    code = TakeUseLock(*state.own, state, "pg_try_advisory_lock");
    if (code != 0)
        return code;
    // One transaction: a failure leaves the table that was there as it was.
    code = state.own->Script("BEGIN; " + CreateSql(state) + " COMMIT");
    if (code != 0 && state.own->InTransaction())
        state.own->Run("ROLLBACK");
    ReleaseUseLock(*state.own);
    return code;
}

// A table made before the declaration had its MEMO or BLOB fields lacks just their columns: 47,
// saying so, with `missing_memos` set for BUILD to add them (empty in every record). 90 when more
// than memo columns are missing.
int32_t FindMissingMemos(State* state, const std::string& select_own) {
    std::string fields = state->columns->Names("r");
    if (state->own->Run(select_own + (fields.empty() ? "" : ", " + fields) + " FROM " + state->table + " AS r LIMIT 0") != 0)
        return kFileSystemError;
    PgParams params;
    params.Text(state->table);
    PgResult result(nullptr, PQclear);
    int32_t code = state->own->Run(
        "SELECT attname FROM pg_attribute WHERE attrelid = to_regclass($1) AND attnum > 0 AND NOT attisdropped", params,
        &result);
    if (code != 0)
        return code;
    std::vector<std::string> present;
    for (int row = 0; row < PQntuples(result.get()); row++)
        present.push_back(PgBytes(result.get(), row, 0));
    state->missing_memos.clear();
    for (size_t i = 0; i < state->memos->Count(); i++)
        if (std::find(present.begin(), present.end(), state->memos->Columns()[i].name) == present.end())
            state->missing_memos.push_back(i);
    if (state->missing_memos.empty())
        return kFileSystemError;
    Vrn$setfileerror("MEMOS", state->memos->MissingMessage(state->missing_memos).c_str());
    return kInvalidDeclaration;
}

// Whether the table is one of ours for this declaration: there (2), of our format (47 otherwise),
// with every column the declaration names (47), its images of the character tables in force (46).
int32_t CheckTable(State* state) {
    PgParams params;
    params.Text(state->table);
    PgResult result(nullptr, PQclear);
    int32_t code = state->own->Run("SELECT obj_description(to_regclass($1), 'pg_class'), to_regclass($1) IS NULL,"
                                   " EXISTS (SELECT 1 FROM pg_trigger WHERE tgrelid = to_regclass($1)"
                                   " AND tgname = 'lum_changes')",
                                   params, &result);
    if (code != 0)
        return code;
    state->version_trigger = PQgetlength(result.get(), 0, 2) == 1 && PQgetvalue(result.get(), 0, 2)[0] != 0;
    if (PQgetlength(result.get(), 0, 1) == 1 && PQgetvalue(result.get(), 0, 1)[0] != 0)
        return kFileNotFound;
    std::string comment = PQgetisnull(result.get(), 0, 0) ? "" : PgBytes(result.get(), 0, 0);
    if (comment.rfind(kFormatTag, 0) != 0)
        return kInvalidDeclaration;
    std::string sql = "SELECT r.id, r.changes";
    for (const Key& key : state->keys)
        sql += ", r." + key.column;
    code = state->own->Run(sql + (state->fields.empty() ? "" : ", " + state->fields) + " FROM " + state->table +
                           " AS r LIMIT 0");
    if (code == kFileSystemError && state->memos->Count() > 0)
        code = FindMissingMemos(state, sql);
    if (code != 0)
        return code == kFileSystemError ? kInvalidDeclaration : code;
    return comment == TableComment(*state) ? 0 : kRebuildKeys;
}

int32_t Open(FileDecl* file, int32_t access_mode, bool for_build = false) {
    if (access_mode == 0)
        access_mode = VRN_ACCESS_DEFAULT;
    bool writable = (access_mode & 0x0F) != 0;
    auto state = std::make_unique<State>();
    int32_t code = Compile(file, state.get());
    if (code != 0)
        return code;
    state->own = Connection::Open(&code);
    if (!state->own)
        return code;
    code = TakeUseLock(*state->own, *state, (access_mode & 0xF0) == 0x10 ? "pg_advisory_lock" : "pg_advisory_lock_shared");
    if (code == 0)
        code = CheckTable(state.get());
    if (for_build && (code == kRebuildKeys || (code == kInvalidDeclaration && !state->missing_memos.empty())))
        code = 0;
    if (code == 0 && !state->version_trigger)
        code = AddVersionTrigger(state.get());
    if (code == 0 && !writable)
        code = state->own->Run("SET default_transaction_read_only = on");
    if (code != 0)
        return code;
    PgFcb* fcb = static_cast<PgFcb*>(std::calloc(1, sizeof(PgFcb)));
    if (fcb == nullptr)
        return kOutOfMemory;
    fcb->base.name = _drv_MakeCSTRING(file->name, file->name_length);
    fcb->base.owner = _drv_MakeCSTRING(file->owner, file->owner_length);
    fcb->base.options = _drv_MakeCSTRING(file->options, file->options_length);
    fcb->base.memo_count = file->memo_count;
    fcb->base.key_count = file->key_count;
    fcb->base.record_type = file->record_type;
    fcb->base.file = file;
    fcb->base.driver_name = kDriverName;
    fcb->base.state = VRN_STATE_OPEN;
    if (writable)
        fcb->base.state |= VRN_STATE_WRITABLE;
    if ((access_mode & 0xF0) == 0x10)
        fcb->base.state |= VRN_STATE_EXCLUSIVE;
    fcb->state = state.release();
    file->driver_instance = &fcb->base;
    // Able to log, roll back and commit; the LOCK that LOGOUT sends first carries its seconds.
    Vrn$activate_drv(file, access_mode, 1, 1, 1, 1, 0);
    return 0;
}

int32_t Close(FileDecl* file, PgFcb* fcb) {
    Vrn$deactivate_drv(file);
    // A LOCK or STREAM still open ends as UNLOCK or FLUSH would end it.
    int32_t code = fcb->state->own->InTransaction() ? fcb->state->own->Commit() : 0;
    ReleaseUseLock(*fcb->state->own);
    delete fcb->state;
    std::free(fcb->base.name);
    std::free(fcb->base.owner);
    std::free(fcb->base.options);
    std::free(fcb);
    file->driver_instance = nullptr;
    return code;
}

// BUILD of a closed file (one OPEN refuses with 46): opened for the rebuild alone, then closed.
int32_t BuildClosed(FileDecl* file) {
    int32_t code = Open(file, 0x12, true);
    if (code != 0)
        return code;
    PgFcb* fcb = reinterpret_cast<PgFcb*>(file->driver_instance);
    code = PgFile(file, fcb->state).Rebuild();
    int32_t closed = Close(file, fcb);
    return code != 0 ? code : closed;
}

// ---- Properties ------------------------------------------------------------------------------

void SetProperty(State* state, int32_t property, const std::string& value) {
    if (state == nullptr)
        return;
    switch (property) {
    case VRN_DRIVER_PROP_QUICKSCAN:
        Send(&state->options, "QUICKSCAN=" + value);
        break;
    case VRN_DRIVER_PROP_RECOVER:
        Send(&state->options, "Recover=" + value);
        break;
    case VRN_DRIVER_PROP_WAIT: {
        // How long the file's writes wait for a table another station locked.
        std::string digits = Trimmed(value);
        if (digits.empty() || digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string::npos)
            break;
        if (state->own->Run("SET lock_timeout = " + digits) == 0)
            state->wait_milliseconds = std::stoi(digits);
        break;
    }
    default:
        break;
    }
}

std::string GetProperty(const State* state, int32_t property) {
    if (property == VRN_DRIVER_PROP_DRIVER)
        return kDriverName;
    if (state == nullptr)
        return "";
    switch (property) {
    case VRN_DRIVER_PROP_FILES:
        return "1";
    case VRN_DRIVER_PROP_QUICKSCAN:
        return state->options.quickscan;
    case VRN_DRIVER_PROP_RECOVER:
        return std::to_string(state->options.recover);
    case VRN_DRIVER_PROP_WAIT:
        return std::to_string(state->wait_milliseconds);
    case VRN_DRIVER_PROP_TRANSACTION:
        return state->host != nullptr ? "1" : "0";
    default:
        return "";
    }
}

} // namespace

intptr_t Perform(int32_t operation, FileDecl* file, const intptr_t* arguments) {
    if (file == nullptr) {
        Vrn$seterror(kNotOpen);
        return 0;
    }
    PgFcb* fcb = reinterpret_cast<PgFcb*>(file->driver_instance);
    KeyDecl* key =
        _drv_OperationTakesKey(operation) && arguments != nullptr ? reinterpret_cast<KeyDecl*>(arguments[0]) : nullptr;
    std::string text;
    if (_drv_OperationTakesText(operation))
        text = PopText();
    size_t argument_count = ArgumentCount(operation);
    auto argument = [&](size_t index) -> intptr_t {
        return arguments != nullptr && index < argument_count ? arguments[index] : 0;
    };
    if (_drv_OperationTakesKey(operation) && (key == nullptr || KeyIndex(file, key) < 0)) {
        Post(kNotOpen);
        if (_drv_OperationGivesText(operation))
            Vrn$PushString("", 0);
        return 0;
    }
    Drv_FCB* base = fcb != nullptr ? &fcb->base : nullptr;
    if ((operation == VRN_OP_LOCK || operation == VRN_OP_LOCK_SECONDS) && base != nullptr && base->logout_lock != 0) {
        // The LOCK that LOGOUT sends before enlisting: the transaction locks the table itself,
        // waiting as long as these seconds say.
        fcb->state->logout_seconds = operation == VRN_OP_LOCK_SECONDS ? int32_t(argument(0)) : 0;
        Post(0);
        return 0;
    }
    int32_t code = _drv_check_state(base, key, operation, text.data(), uint32_t(text.size()));
    if (code != 0) {
        Post(code == -1 ? kUnsupported : code);
        if (_drv_OperationGivesText(operation))
            Vrn$PushString("", 0);
        return 0;
    }
    if (base != nullptr)
        _drv_TraceOp(base, key, text.empty() ? nullptr : text.c_str(), operation, argument(0), argument(1));

    int k = key != nullptr ? KeyIndex(file, key) : -1;
    uint32_t state_word = base != nullptr ? base->state : 0;
    State* state = fcb != nullptr ? fcb->state : nullptr;
    std::optional<PgFile> pg;
    if (state != nullptr)
        pg.emplace(file, state);
    intptr_t result = 0;
    code = 0;
    switch (operation) {
    case VRN_OP_CREATE:
        code = Create(file);
        break;
    case VRN_OP_OPEN:
    case VRN_OP_SHARE:
        code = Open(file, int32_t(argument(0)));
        if (code == 0)
            base = &reinterpret_cast<PgFcb*>(file->driver_instance)->base;
        break;
    case VRN_OP_CLOSE:
        _drv_update_state(base, key, operation, 0, 0);
        code = Close(file, fcb);
        if (code != 0)
            Vrn$SetErrorFile(file);
        Post(code);
        return 0;
    case VRN_OP_NAME: {
        char* name = _drv_MakeCSTRING(file->name, file->name_length);
        PushText(base != nullptr && base->name != nullptr ? base->name : (name != nullptr ? name : ""));
        std::free(name);
        break;
    }
    case VRN_OP_ADD:
    case VRN_OP_APPEND:
        code = pg->Add();
        break;
    case VRN_OP_ADD_LENGTH:
    case VRN_OP_APPEND_LENGTH:
        code = pg->Add(uint32_t(std::clamp<intptr_t>(argument(0), 0, intptr_t(file->record_length))));
        break;
    case VRN_OP_PUT:
        code = pg->Put((state_word & VRN_STATE_WATCHED) != 0);
        break;
    case VRN_OP_DELETE:
        code = pg->Delete();
        break;
    case VRN_OP_GET_FILE_KEY:
        code = pg->GetByKey(size_t(k));
        break;
    case VRN_OP_GET_FILE_POINTER:
        code = pg->ReadPointer(int64_t(argument(0)));
        break;
    case VRN_OP_GET_KEY_POINTER:
        code = pg->ReadPointer(int64_t(argument(1)));
        break;
    case VRN_OP_GET_FILE_POINTER_LENGTH:
        code = argument(1) < 0 ? kNotFound : pg->ReadPointer(int64_t(argument(0)), uint32_t(argument(1)));
        break;
    case VRN_OP_SET_FILE:
        pg->SetOrder(-1);
        break;
    case VRN_OP_SET_FILE_KEY: {
        // Record order, from the first record whose key is at or after the buffer's values.
        std::string image;
        pg->SetOrder(-1);
        if (pg->ImageOf(size_t(k), file->record, &image)) {
            pg->SetBefore(k, image, INT64_MIN, INT64_MAX);
            int32_t found = pg->Step(true, false);
            if (found == 0)
                pg->SetBefore(-1, {}, state->low, state->low);
            else if (found == kNotAvailable)
                pg->SetBefore(-1, {}, INT64_MAX, INT64_MAX);
            else
                code = found;
        }
        break;
    }
    case VRN_OP_SET_FILE_POINTER:
        pg->SetBefore(-1, {}, int64_t(argument(0)), int64_t(argument(0)));
        break;
    case VRN_OP_SET_KEY:
        pg->SetOrder(k);
        break;
    case VRN_OP_SET_KEY_KEY:
    case VRN_OP_SET_KEY_KEY_POINTER: {
        std::string image = state->keys[size_t(k)].image->Build(file->record);
        if (operation == VRN_OP_SET_KEY_KEY)
            pg->SetBefore(k, image, INT64_MIN, INT64_MAX);
        else
            pg->SetBefore(k, image, int64_t(argument(1)), int64_t(argument(1)));
        break;
    }
    case VRN_OP_SET_KEY_POINTER: {
        std::string image;
        code = pg->StoredImage(size_t(k), int64_t(argument(1)), &image);
        if (code == 0)
            pg->SetBefore(k, image, int64_t(argument(1)), int64_t(argument(1)));
        break;
    }
    case VRN_OP_NEXT:
    case VRN_OP_PREVIOUS:
        code = pg->Step(operation == VRN_OP_NEXT, true);
        break;
    case VRN_OP_SKIP: {
        int64_t count = int64_t(int32_t(argument(0)));
        for (int64_t i = 0; i < (count < 0 ? -count : count) && code == 0; i++)
            code = pg->Step(count > 0, false);
        break;
    }
    case VRN_OP_RECORDS_FILE:
    case VRN_OP_RECORDS_KEY: {
        int64_t records = 0;
        code = pg->Count(k, &records);
        result = intptr_t(records);
        break;
    }
    case VRN_OP_POINTER_FILE:
    case VRN_OP_POINTER_KEY:
        result = intptr_t(state->current);
        break;
    case VRN_OP_POSITION_FILE:
    case VRN_OP_POSITION_KEY:
        PushText(pg->Position(k));
        break;
    case VRN_OP_RESET_FILE:
    case VRN_OP_RESET_KEY:
        code = pg->Reset(k, text);
        break;
    case VRN_OP_REGET_FILE:
    case VRN_OP_REGET_KEY:
        code = pg->Reget(text);
        break;
    case VRN_OP_WATCH:
    case VRN_OP_HOLD:
    case VRN_OP_HOLD_SECONDS:
    case VRN_OP_RELEASE:
        // The state words carry watch, hold and held; a WATCHed record is checked at PUT.
        break;
    case VRN_OP_DUPLICATE:
    case VRN_OP_DUPLICATE_KEY: {
        bool found = false;
        code = pg->Duplicate(k, (state_word & VRN_STATE_RECORD) != 0 ? state->current : 0, &found);
        result = found ? 1 : 0;
        break;
    }
    case VRN_OP_SET_PROPERTY:
        SetProperty(state, int32_t(argument(0)), text);
        break;
    case VRN_OP_GET_PROPERTY:
        PushText(GetProperty(state, int32_t(argument(0))));
        break;
    case VRN_OP_SEND:
        PushText(state != nullptr ? Send(&state->options, text) : std::string());
        break;
    case VRN_OP_BUILD_FILE:
    case VRN_OP_BUILD_KEY:
        code = state != nullptr ? pg->Rebuild() : BuildClosed(file);
        if (code == 0 && state != nullptr && state->sequence_key >= 0)
            state->place = Place::kNone; // the images the sequence stood on changed
        break;
    case VRN_OP_EMPTY:
        code = pg->Empty();
        break;
    case VRN_OP_LOGOUT:
        code = Logout(state);
        break;
    case VRN_OP_COMMIT:
    case VRN_OP_ROLLBACK:
        code = EndTransaction(state, operation == VRN_OP_COMMIT);
        break;
    case VRN_OP_LOCK:
    case VRN_OP_LOCK_SECONDS:
        code = Lock(state, operation == VRN_OP_LOCK_SECONDS ? int32_t(argument(0)) : 0);
        break;
    case VRN_OP_UNLOCK:
        code = Unlock(state);
        break;
    case VRN_OP_STREAM:
        code = Stream(state);
        break;
    case VRN_OP_FLUSH:
        code = Flush(state);
        break;
    case VRN_OP_BYTES:
        result = state->accessed ? intptr_t(state->record_length) : 0;
        break;
    case VRN_OP_QUERY_KEY:
        result = state->sequence_key + 1;
        break;
    case VRN_OP_QUERY_VIEW:
        result = reinterpret_cast<intptr_t>(&PgView);
        break;
    case VRN_OP_NOMEMO:
        state->memo.SkipNextRead();
        break;
    case VRN_OP_BLOB_TAKE:
    case VRN_OP_BLOB_YIELD:
    case VRN_OP_BLOB_SIZE:
        code = state->memo.Operate(operation, argument(0), argument(1), argument(2), &result);
        break;
    default:
        code = kUnsupported;
        if (_drv_OperationGivesText(operation))
            Vrn$PushString("", 0);
        break;
    }
    if (code != 0)
        Vrn$SetErrorFile(file);
    Post(code);
    _drv_update_state(base, key, operation, code, 0);
    // A COMMIT that failed ended the server transaction all the same.
    if ((operation == VRN_OP_COMMIT || operation == VRN_OP_ROLLBACK) && base != nullptr && state != nullptr &&
        state->host == nullptr)
        base->state &= ~VRN_STATE_LOGOUT;
    return result;
}

int32_t StandOnRow(FileDecl* file, State* state, const PGresult* result, int row, int base) {
    return PgFile(file, state).StandOn(result, row, true, base);
}

} // namespace lumarex::drivers::pg

TARVEX_API intptr_t PGSQL(int32_t operation, FileDecl* file, const intptr_t* arguments) {
    return lumarex::drivers::pg::Perform(operation, file, arguments);
}
