// SPDX-License-Identifier: GPL-3.0-or-later
// The drivers' common entry and their record operations: the dispatch of each operation code
// between the runtime's state check and state update, and the reads, writes, sequences and
// positions over one file (the file layouts are described in sql_store.h).
#include <algorithm>
#include <cctype>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <optional>
#include <string>
#include <vector>

#include "common/driver_dispatch.h"
#include "common/driver_properties.h"
#include "common/position_text.h"
#include "common/sql_store.h"
#include "tarvex/files.h"
#include "tarvex/frame.h"
#include "tarvex/string_stack.h"
#include "tarvex/type_descriptor.h"

namespace lumarex::drivers {

namespace {

// ---- The file ----------------------------------------------------------------------------------

class SqlFile {
  public:
    SqlFile(FileDecl* file, State* state) : file_(file), s_(*state) {}

    bool Separate() const { return s_.layout->separate_keys; }

    // Key k as a row source: r is the record, the image is Img(k) and the key's row id KeyId(k).
    std::string From(size_t k) const {
        return Separate() ? s_.KeyTable(k) + " AS x JOIN " + s_.Table() + " AS r ON r.id = x.id"
                          : s_.Table() + " AS r";
    }
    std::string Img(size_t k) const { return Separate() ? "x.image" : "r." + s_.keys[k].column; }
    std::string KeyId(size_t) const { return Separate() ? "x.id" : "r.id"; }

    // The image of key `k` for the record bytes, NULL (false) for an OPT key with blank values.
    bool ImageOf(size_t k, const void* record, std::string* image) const {
        const Key& key = s_.keys[k];
        if (key.opt && key.image->IsBlank(record))
            return false;
        *image = key.image->Build(record);
        return true;
    }

    // Makes a record the current one and loads it into the record buffer; a GET with a length
    // fills only that many bytes of the buffer.
    void Take(int64_t id, const std::string& data, int64_t changes, uint32_t length = UINT32_MAX) {
        s_.current = id;
        s_.current_changes = changes;
        size_t size = std::min<size_t>(length, file_->record_length);
        std::memset(file_->record, 0, size);
        std::memcpy(file_->record, data.data(), std::min(data.size(), size));
        s_.accessed = true;
        s_.memo.Load(data, file_->record_length); // the memos ride behind the record's bytes
    }
    // The record's columns in a query over the record table as r.
    const std::string& Fields() { return Sql().fields; }

    const RecordSql& Sql() {
        RecordSql& sql = s_.record_sql;
        if (!sql.insert.empty() && sql.schema == s_.schema)
            return sql;
        sql.schema = s_.schema;
        sql.fields = s_.columns->Names("r") + s_.memos->Names("r");
        size_t images = Separate() ? 0 : s_.keys.size();
        const std::vector<Column>& columns = s_.columns->Columns();
        sql.insert = "INSERT INTO " + s_.Table() + " (changes";
        std::string values = "VALUES (0";
        for (size_t k = 0; k < images; k++) {
            sql.insert += ", " + s_.keys[k].column;
            values += ", ?" + std::to_string(k + 1);
        }
        sql.insert += ", " + s_.columns->Names() + s_.memos->Names();
        size_t memos = s_.memos->Count();
        for (size_t i = 0; i < columns.size() + memos; i++)
            values += ", ?" + std::to_string(images + i + 1);
        sql.insert += ") " + values + ")";
        sql.update_head = "UPDATE " + s_.Table() + " SET changes = changes + 1";
        for (size_t k = 0; k < images; k++)
            sql.update_head += ", " + s_.keys[k].column + " = ?" + std::to_string(k + 3);
        for (size_t i = 0; i < columns.size(); i++)
            sql.update_head += ", " + Quoted(columns[i].name) + " = ?" + std::to_string(images + i + 3);
        sql.memo_sets.clear();
        for (size_t i = 0; i < memos; i++)
            sql.memo_sets.push_back(", " + Quoted(s_.memos->Columns()[i].name) + " = ?" +
                                    std::to_string(images + columns.size() + i + 3));
        sql.update = sql.update_head;
        for (const std::string& set : sql.memo_sets)
            sql.update += set;
        sql.update += " WHERE id = ?1";
        sql.update_watched = sql.update + " AND changes = ?2";
        return sql;
    }

    // The record of a row whose fields start at column `first`, as the buffer's bytes. A value
    // that does not fit its field (another tool wrote it) is 90, the record and the field named in
    // the file error; nothing of the row reaches the buffer.
    int32_t Decode(Statement& row, int64_t id, int first, std::string* data) {
        std::string problem;
        return DecodeQuietly(row, first, data, &problem) ? 0 : Fault(id, problem);
    }
    bool DecodeQuietly(Statement& row, int first, std::string* data, std::string* problem) {
        data->assign(file_->record_length, '\0');
        if (!row.ReadRecord(*s_.columns, first, data->data(), problem))
            return false;
        if (s_.memos->Count() == 0)
            return true;
        std::vector<std::string> memos;
        if (!row.ReadMemos(*s_.memos, first + int(s_.columns->Columns().size()), &memos, problem))
            return false;
        MemoColumns::Append(memos, data);
        return true;
    }
    int32_t Fault(int64_t id, const std::string& problem) {
        std::string message = "Record " + std::to_string(id) + " of table " + s_.table + ": " + problem;
        Vrn$setfileerror("FIELD", message.c_str());
        return kFileSystemError;
    }

    // A row (id, changes, fields...) of a query made the current record.
    int32_t TakeRow(Statement& row, uint32_t length = UINT32_MAX) {
        std::string data;
        int32_t code = Decode(row, row.Int(0), 2, &data);
        if (code == 0)
            Take(row.Int(0), data, row.Int(1), length);
        return code;
    }

    int32_t ReadPointer(int64_t pointer, uint32_t length = UINT32_MAX) {
        Statement row(s_.Db(), "SELECT r.id, r.changes, " + Fields() + " FROM " + s_.Table() + " AS r WHERE r.id = ?1");
        row.BindInt(1, pointer);
        if (row.Step())
            return TakeRow(row, length);
        return row.Ok() ? kNotFound : row.Error();
    }

    int32_t GetByKey(size_t k) {
        std::string image;
        if (!ImageOf(k, file_->record, &image))
            return kNotFound;
        Statement row(s_.Db(), "SELECT r.id, r.changes, " + Fields() + " FROM " + From(k) + " WHERE " + Img(k) +
                                   " = ?1 ORDER BY " + Img(k) + ", " + KeyId(k) + " LIMIT 1");
        row.BindBlob(1, image);
        if (row.Step())
            return TakeRow(row);
        return row.Ok() ? kNotFound : row.Error();
    }

    // Runs SQL through the statement cache: 0 or the error code.
    int32_t Run(const std::string& sql) {
        Statement statement(s_.Db(), sql);
        statement.Step();
        return statement.Code() == SQLITE_DONE ? 0 : statement.Error();
    }

    // A write that spans several statements (the record and its key files) is one savepoint, so
    // a failure at any of them leaves every file as it was.
    // The change stamp is raised once per transaction: inside a LOGOUT or STREAM only by the
    // first write that succeeds (every later one commits with it or not at all).
    // Outside a transaction the savepoint is the transaction: its RELEASE is the commit, and
    // when that fails (the disk full) the write is rolled back and reported, so the connection
    // never stays inside a transaction that later writes would pile into unseen.
    template <class Body> int32_t Atomically(Body body) {
        int32_t code = CheckTransactionAlive(s_);
        if (code != 0)
            return code;
        if (!Separate())
            return body();
        sqlite3* db = s_.Db();
        bool in_transaction = sqlite3_get_autocommit(db) == 0;
        code = Run("SAVEPOINT sql_write");
        if (code != 0)
            return code;
        code = body();
        if (code == 0 && !(in_transaction && s_.stamp_raised))
            code = RaiseStamp(&s_);
        if (code != 0 && sqlite3_get_autocommit(db) == 0)
            Run("ROLLBACK TO sql_write");
        if (sqlite3_get_autocommit(db) != 0)
            s_.stamp_raised = false; // a failure may have ended the whole transaction
        int32_t released = sqlite3_get_autocommit(db) == 0 ? Execute(db, "RELEASE sql_write") : 0;
        if (released != 0 && !in_transaction && sqlite3_get_autocommit(db) == 0)
            Execute(db, "ROLLBACK");
        if (code == 0 && released == 0)
            s_.stamp_raised = in_transaction;
        return code != 0 ? code : released;
    }

    // PUT's SQL: every memo column when each stands for the current record (the usual case, its
    // text made once), else only those that do.
    std::string UpdateSql(bool watched) {
        const RecordSql& sql = Sql();
        if (s_.memo.AllCurrent())
            return watched ? sql.update_watched : sql.update;
        std::string text = sql.update_head;
        for (size_t i = 0; i < sql.memo_sets.size(); i++)
            if (s_.memo.Current(i))
                text += sql.memo_sets[i];
        return text + " WHERE id = ?1" + (watched ? " AND changes = ?2" : "");
    }

    // Binds the key images of the record from parameter `first` on (keys in the record table).
    void BindImages(Statement& statement, int first, const void* record) {
        for (size_t k = 0; k < s_.keys.size(); k++) {
            std::string image;
            if (ImageOf(k, record, &image))
                statement.BindBlob(first + int(k), image);
            else
                statement.BindNull(first + int(k));
        }
    }

    // Writes the key images of `record`, stored as `id`, into the key files; `fresh`: a new record.
    int32_t WriteKeyFiles(int64_t id, bool fresh, const void* record) {
        for (size_t k = 0; k < s_.keys.size(); k++) {
            std::string image;
            bool present = ImageOf(k, record, &image);
            if (!present) {
                if (fresh)
                    continue;
                Statement remove(s_.Db(), "DELETE FROM " + s_.KeyTable(k) + " WHERE id = ?1");
                remove.BindInt(1, id);
                remove.Step();
                if (remove.Code() != SQLITE_DONE)
                    return remove.Error();
                continue;
            }
            Statement write(s_.Db(), "INSERT INTO " + s_.KeyTable(k) +
                                         " (id, image) VALUES (?1, ?2) ON CONFLICT(id) DO UPDATE SET image = excluded.image");
            write.BindInt(1, id);
            write.BindBlob(2, image);
            write.Step();
            if (write.Code() != SQLITE_DONE)
                return write.Error();
        }
        return 0;
    }

    // ADD (and APPEND): the buffer as a new record; with a length, only that many of its bytes,
    // the rest of the stored record blank (strings spaces, numbers zero, as CLEAR leaves them).
    int32_t Add(uint32_t length = UINT32_MAX) {
        std::vector<char> bytes;
        const void* data = file_->record;
        if (length < file_->record_length) {
            bytes.assign(file_->record_length, 0);
            Vrn$CLEAR(bytes.data(), file_->record_type, 0);
            std::memcpy(bytes.data(), file_->record, length);
            data = bytes.data();
        }
        int64_t added = 0;
        auto write = [&]() -> int32_t {
            size_t images = Separate() ? 0 : s_.keys.size();
            {
                Statement insert(s_.Db(), Sql().insert);
                if (!Separate())
                    BindImages(insert, 1, data);
                insert.BindRecord(*s_.columns, int(images) + 1, data);
                insert.BindMemos(*s_.memos, int(images + s_.columns->Columns().size()) + 1, s_.memo.Values());
                insert.Step();
                if (insert.Code() != SQLITE_DONE)
                    return insert.Error();
            }
            int64_t id = sqlite3_last_insert_rowid(s_.Db());
            added = id;
            if (Separate()) {
                int32_t code = WriteKeyFiles(id, true, data);
                if (code != 0)
                    return code;
            }
            s_.current = id;
            s_.current_changes = 0;
            s_.accessed = true;
            s_.memo.Written();
            return 0;
        };
        if (Separate() && (s_.host != nullptr || s_.streaming) && sqlite3_get_autocommit(s_.Db()) == 0)
            return AddInTransaction(data, write, &added);
        return Atomically(write);
    }

    // ADD of a file with separate keys inside a LOGOUT or STREAM, without the savepoint Atomically
    // takes: inside a transaction a savepoint copies every page the record and its key files touch
    // into its own journal first, which costs more than the ADD itself. An ADD is refused by a
    // unique key alone, and that is checked before anything is written. A write that fails after
    // that (the disk full) is undone by deleting what this ADD wrote; should even that fail, the
    // whole transaction is rolled back (the program's next write and its COMMIT report it), so a
    // half-written record is never committed.
    template <class Body> int32_t AddInTransaction(const void* data, Body write, const int64_t* added) {
        int32_t code = CheckTransactionAlive(s_);
        if (code != 0)
            return code;
        for (size_t k = 0; k < s_.keys.size(); k++) {
            std::string image;
            if (!s_.keys[k].unique || !ImageOf(k, data, &image))
                continue;
            Statement taken(s_.Db(), "SELECT 1 FROM " + s_.KeyTable(k) + " WHERE image = ?1");
            taken.BindBlob(1, image);
            if (taken.Step())
                return kDuplicateKey;
            if (taken.Code() != SQLITE_DONE)
                return taken.Error();
        }
        code = write();
        if (code == 0 && !s_.stamp_raised) {
            code = RaiseStamp(&s_);
            s_.stamp_raised = code == 0;
        }
        if (code == 0 || *added == 0 || sqlite3_get_autocommit(s_.Db()) != 0)
            return code; // done, or nothing of it was written, or SQLite undid the transaction
        auto undo = [&](const std::string& sql) {
            Statement statement(s_.Db(), sql + " WHERE id = ?1");
            statement.BindInt(1, *added);
            statement.Step();
            return statement.Code() == SQLITE_DONE;
        };
        // Marked as the program's own delete first, as DELETE does, so no trigger takes it for
        // another tool's.
        bool undone = undo("UPDATE " + s_.Table() + " SET changes = -1") && undo("DELETE FROM " + s_.Table());
        for (size_t k = 0; undone && k < s_.keys.size(); k++)
            undone = undo("DELETE FROM " + s_.KeyTable(k));
        if (!undone) {
            Execute(s_.Db(), "ROLLBACK");
            s_.stamp_raised = false;
        }
        return code;
    }

    int32_t Put(bool watched) {
        return Atomically([&]() -> int32_t {
            size_t images = Separate() ? 0 : s_.keys.size();
            {
                Statement update(s_.Db(), UpdateSql(watched));
                update.BindInt(1, s_.current);
                update.BindInt(2, s_.current_changes);
                if (!Separate())
                    BindImages(update, 3, file_->record);
                update.BindRecord(*s_.columns, int(images) + 3, file_->record);
                update.BindMemos(*s_.memos, int(images + s_.columns->Columns().size()) + 3, s_.memo.Values());
                update.Step();
                if (update.Code() != SQLITE_DONE)
                    return update.Error();
            }
            if (sqlite3_changes(s_.Db()) == 0)
                return watched ? kRecordChanged : kNotFound;
            if (Separate()) {
                int32_t code = WriteKeyFiles(s_.current, false, file_->record);
                if (code != 0)
                    return code;
            }
            s_.current_changes++;
            return 0;
        });
    }

    int32_t Delete() {
        return Atomically([&]() -> int32_t {
            if (Separate()) {
                // Marked as the program's own delete, which takes the key entries with it.
                Statement mark(s_.Db(), "UPDATE " + s_.Table() + " SET changes = -1 WHERE id = ?1");
                mark.BindInt(1, s_.current);
                mark.Step();
                if (mark.Code() != SQLITE_DONE)
                    return mark.Error();
            }
            {
                Statement remove(s_.Db(), "DELETE FROM " + s_.Table() + " WHERE id = ?1");
                remove.BindInt(1, s_.current);
                remove.Step();
                if (remove.Code() != SQLITE_DONE)
                    return remove.Error();
            }
            if (sqlite3_changes(s_.Db()) == 0)
                return kNotFound;
            for (size_t k = 0; k < s_.keys.size() && Separate(); k++) {
                Statement remove(s_.Db(), "DELETE FROM " + s_.KeyTable(k) + " WHERE id = ?1");
                remove.BindInt(1, s_.current);
                remove.Step();
                if (remove.Code() != SQLITE_DONE)
                    return remove.Error();
            }
            s_.current = 0;
            return 0;
        });
    }

    // EMPTY: no record left, in the record file or any key file.
    int32_t Empty() {
        return Atomically([&]() -> int32_t {
            int32_t code = Separate() ? Execute(s_.Db(), "UPDATE " + s_.Table() + " SET changes = -1") : 0;
            if (code == 0)
                code = Execute(s_.Db(), "DELETE FROM " + s_.Table());
            for (size_t k = 0; code == 0 && k < s_.keys.size() && Separate(); k++)
                code = Execute(s_.Db(), "DELETE FROM " + s_.KeyTable(k));
            if (code == 0) {
                s_.current = 0;
                s_.place = Place::kNone;
            }
            return code;
        });
    }

    // The records of the file (k < 0) or of key k (an OPT key leaves out blank values).
    int32_t Count(int k, int64_t* records) {
        std::string sql = "SELECT count(*) FROM " + (k >= 0 ? s_.KeyTable(size_t(k)) : s_.Table());
        if (k >= 0 && !Separate())
            sql += " WHERE " + s_.KeyColumn(size_t(k)) + " IS NOT NULL";
        Statement count(s_.Db(), sql);
        *records = 0;
        if (!count.Step())
            return count.Error();
        *records = count.Int(0);
        return 0;
    }

    // The stored image of record `pointer` under key k: 0 found, 35 absent or not in the key.
    int32_t StoredImage(size_t k, int64_t pointer, std::string* image) {
        Statement row(s_.Db(), "SELECT " + s_.KeyColumn(k) + " FROM " + s_.KeyTable(k) + " WHERE id = ?1");
        row.BindInt(1, pointer);
        if (!row.Step())
            return row.Ok() ? kNotFound : row.Error();
        if (row.IsNull(0))
            return kNotFound;
        *image = row.Blob(0);
        return 0;
    }

    // The change counter in the header of the record file, read through the connection's own
    // handle without a lock: every commit of any connection raises it. False when unknown.
    bool ChangeCounter(uint32_t* counter) {
        sqlite3_file* handle = nullptr;
        if (sqlite3_file_control(s_.Db(), s_.schema.c_str(), SQLITE_FCNTL_FILE_POINTER, &handle) != SQLITE_OK ||
            handle == nullptr || handle->pMethods == nullptr)
            return false;
        unsigned char bytes[4];
        if (handle->pMethods->xRead(handle, bytes, 4, 24) != SQLITE_OK)
            return false;
        *counter = uint32_t(bytes[0]) << 24 | uint32_t(bytes[1]) << 16 | uint32_t(bytes[2]) << 8 | bytes[3];
        return true;
    }

    // Moves the sequence onto a row: `read` copies the record into the buffer.
    void Land(int64_t id, const std::string& data, int64_t changes, std::string image, bool read) {
        s_.place = Place::kOn;
        s_.low = s_.high = id;
        if (s_.sequence_key >= 0)
            s_.image = std::move(image);
        if (read)
            Take(id, data, changes);
    }

    // One step of the sequence. `read` copies the record into the buffer; otherwise only the
    // sequence moves (SKIP). 33 when the sequence has no record in that direction.
    //
    // A step reads the rows after the one it lands on too, a batch that grows with consecutive
    // steps in one direction (1, 2, 4, ... 256), and the following steps take their rows from it
    // while (a) nothing but NEXT, PREVIOUS or SKIP was done with the file since (every other
    // operation drops the batch) and (b) the change counter of the record file is where it stood
    // before the batch was read, so no connection, of this process or another, committed a change
    // since. Otherwise the step queries again after the row it stands on. Nothing is held between
    // two steps: each query is its own read, so writers of other processes never wait on a batch.
    int32_t Step(bool forward, bool read) {
        if (s_.place == Place::kNone)
            return kNotAvailable;
        bool by_key = s_.sequence_key >= 0;
        uint32_t counter = 0;
        bool counted = ChangeCounter(&counter);
        if (s_.place == Place::kOn && s_.ahead_next < s_.ahead.size() && s_.ahead_forward == forward && counted &&
            counter == s_.ahead_counter) {
            AheadRow& row = s_.ahead[s_.ahead_next++];
            Land(row.id, row.data, row.changes, std::move(row.image), read);
            return 0;
        }
        size_t batch = s_.place == Place::kOn && s_.ahead_forward == forward && s_.ahead_batch > 0
                           ? std::min<size_t>(s_.ahead_batch * 2, 256)
                           : 1;
        s_.DropAhead();
        // Columns: id, changes, the key image (key order), the fields.
        std::string sql = "SELECT r.id, r.changes";
        std::string where;
        std::string order;
        if (by_key) {
            size_t k = size_t(s_.sequence_key);
            std::string c = Img(k), id = KeyId(k);
            sql += ", " + c + ", " + Fields() + " FROM " + From(k);
            where = Separate() ? "" : c + " IS NOT NULL";
            std::string also = where.empty() ? "" : " AND ";
            const char* direction = forward ? "" : " DESC";
            order = c + direction + ", " + id + direction;
            if (s_.place == Place::kBefore)
                where += also + (forward ? "(" + c + ", " + id + ") >= (?1, ?2)" : "(" + c + ", " + id + ") <= (?1, ?3)");
            else if (s_.place == Place::kOn)
                where += also + (forward ? "(" + c + ", " + id + ") > (?1, ?2)" : "(" + c + ", " + id + ") < (?1, ?2)");
        } else {
            sql += ", " + Fields() + " FROM " + s_.Table() + " AS r";
            order = forward ? "r.id" : "r.id DESC";
            if (s_.place == Place::kBefore)
                where = forward ? "r.id >= ?2" : "r.id <= ?3";
            else if (s_.place == Place::kOn)
                where = forward ? "r.id > ?2" : "r.id < ?2";
        }
        if (!where.empty())
            sql += " WHERE " + where;
        sql += " ORDER BY " + order + " LIMIT ?4";
        Statement row(s_.Db(), sql);
        if (s_.place == Place::kBefore || s_.place == Place::kOn) {
            if (by_key)
                row.BindBlob(1, s_.image);
            row.BindInt(2, s_.low);
            if (s_.place == Place::kBefore)
                row.BindInt(3, s_.high);
        }
        row.BindInt(4, int64_t(batch));
        if (!row.Step()) {
            if (!row.Ok())
                return row.Error();
            s_.place = Place::kNone;
            return kNotAvailable;
        }
        int first = by_key ? 3 : 2;
        int64_t id = row.Int(0), changes = row.Int(1);
        std::string image = by_key ? row.Blob(2) : std::string();
        // A record whose values do not fit the declaration fails its read; the rows after it are
        // not read ahead, so each is refused on its own when the sequence reaches it.
        std::string data, problem, ignored;
        bool fits = !read || DecodeQuietly(row, first, &data, &problem);
        while (row.Step()) {
            AheadRow ahead{row.Int(0), row.Int(1), {}, by_key ? row.Blob(2) : std::string()};
            if (!DecodeQuietly(row, first, &ahead.data, &ignored))
                break; // read again when the sequence comes to it, and refused then
            s_.ahead.push_back(std::move(ahead));
        }
        if (row.Code() != SQLITE_DONE && row.Code() != SQLITE_ROW) {
            s_.DropAhead();
            return row.Error();
        }
        s_.ahead_forward = forward;
        s_.ahead_batch = batch;
        if (!counted)
            s_.ahead.clear(); // nothing tells whether they are still current
        s_.ahead_counter = counter;
        Land(id, data, changes, std::move(image), read && fits);
        return fits ? 0 : Fault(id, problem);
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
    // "-" for a record the OPT key leaves out), all hexadecimal, so blank padding never matters.
    std::string Position(int k) {
        if (k < 0)
            return FilePositionText(s_.current);
        std::string image;
        int32_t code = StoredImage(size_t(k), s_.current, &image);
        if (code == kNotFound && !ImageOf(size_t(k), file_->record, &image))
            return KeyPositionText(k, s_.current, nullptr);
        return KeyPositionText(k, s_.current, &image);
    }

    // RESET: the sequence stands before the position, in the key's order (k >= 0) or record order.
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

    // Whether a record other than the current one (`current`, 0 for none) holds the buffer's
    // values under key k. A blank OPT value duplicates nothing: it is not in the key.
    int32_t Duplicates(size_t k, int64_t current, bool* found) {
        *found = false;
        std::string image;
        if (!ImageOf(k, file_->record, &image))
            return 0;
        Statement row(s_.Db(), "SELECT 1 FROM " + s_.KeyTable(k) + " WHERE " + s_.KeyColumn(k) +
                                   " = ?1 AND id <> ?2 LIMIT 1");
        row.BindBlob(1, image);
        row.BindInt(2, current);
        if (row.Step())
            *found = true;
        return row.Ok() ? 0 : row.Error();
    }

    // DUPLICATE: key k, or (k < 0) any key without DUP.
    int32_t Duplicate(int k, int64_t current, bool* found) {
        *found = false;
        for (size_t i = 0; i < s_.keys.size() && !*found; i++) {
            bool unique = (s_.keys[i].decl->attributes & VRN_KEY_DUP) == 0;
            if (k >= 0 ? int(i) != k : !unique)
                continue;
            int32_t code = Duplicates(i, current, found);
            if (code != 0)
                return code;
        }
        return 0;
    }

    int32_t Reget(const std::string& text) {
        PositionText position;
        if (!DecodePositionText(text, &position))
            return kNotFound;
        return ReadPointer(position.pointer);
    }

  private:
    FileDecl* file_;
    State& s_;
};

// Operations after which the rows read ahead still follow the sequence: they neither write nor
// move it.
bool KeepsReadAhead(int32_t operation) {
    switch (operation) {
    case VRN_OP_NEXT:
    case VRN_OP_PREVIOUS:
    case VRN_OP_SKIP:
    case VRN_OP_INVIEW:
    case VRN_OP_ENDVIEW:
    case VRN_OP_POSITION_FILE:
    case VRN_OP_POSITION_KEY:
    case VRN_OP_POINTER_FILE:
    case VRN_OP_POINTER_KEY:
    case VRN_OP_QUERY_KEY:
    case VRN_OP_QUERY_VIEW:
    case VRN_OP_NAME:
    case VRN_OP_GET_PROPERTY:
    case VRN_OP_GET_PROPERTY_KEY:
    case VRN_OP_NOMEMO:      // the rows read ahead carry their memos: a read takes them or not
    case VRN_OP_BLOB_TAKE:   // the program's memo values, not the file
    case VRN_OP_BLOB_YIELD:
    case VRN_OP_BLOB_SIZE:
        return true;
    default:
        return false;
    }
}

// SET_PROPERTY: the properties a file sets take their value from the text; the others (those
// only read, and numbers the drivers do not know) are ignored, as the view engine ignores them.
void SetProperty(State* state, int32_t property, const std::string& value) {
    if (state == nullptr)
        return; // a closed file keeps nothing
    switch (property) {
    case VRN_DRIVER_PROP_QUICKSCAN:
        Send(&state->options, "QUICKSCAN=" + value);
        break;
    case VRN_DRIVER_PROP_RECOVER:
        Send(&state->options, "Recover=" + value);
        break;
    case VRN_DRIVER_PROP_WAIT: {
        std::string digits = Trimmed(value);
        if (digits.empty() || digits.size() > 6 || digits.find_first_not_of("0123456789") != std::string::npos)
            break;
        state->wait_milliseconds = std::stoi(digits);
        sqlite3_busy_timeout(state->db, state->wait_milliseconds);
        break;
    }
    default:
        break;
    }
}

// GET_PROPERTY: the value as text; an empty text for a number the drivers do not know, and for
// all but the driver's name while the file is closed.
std::string GetProperty(const Layout& layout, const State* state, int32_t property) {
    if (property == VRN_DRIVER_PROP_DRIVER)
        return layout.driver_name;
    if (state == nullptr)
        return "";
    switch (property) {
    case VRN_DRIVER_PROP_FILES:
        return std::to_string(1 + state->key_paths.size());
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

intptr_t Perform(const Layout& layout, int32_t operation, FileDecl* file, const intptr_t* arguments) {
    if (file == nullptr) {
        Vrn$seterror(kNotOpen);
        return 0;
    }
    SqlFcb* fcb = reinterpret_cast<SqlFcb*>(file->driver_instance);
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
    if ((operation == VRN_OP_LOCK || operation == VRN_OP_LOCK_SECONDS) && base != nullptr &&
        base->logout_lock != 0) {
        // The LOCK that LOGOUT sends before enlisting: the transaction takes the lock itself, and
        // waits for it as long as these seconds say.
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
    // Rows read ahead serve consecutive steps only: an operation that may write or move the
    // sequence drops them. Those that only look (the view engine's INVIEW, ENDVIEW and POINTER
    // around every row, POSITION, QUERY_KEY, ...) keep them.
    if (state != nullptr && !KeepsReadAhead(operation))
        state->DropAhead();
    std::optional<SqlFile> sql;
    if (state != nullptr)
        sql.emplace(file, state);
    intptr_t result = 0;
    code = 0;
    switch (operation) {
    case VRN_OP_CREATE:
        code = Create(layout, file);
        break;
    case VRN_OP_OPEN:
    case VRN_OP_SHARE:
        code = Open(layout, file, int32_t(argument(0)));
        if (code == 0) {
            fcb = reinterpret_cast<SqlFcb*>(file->driver_instance);
            base = &fcb->base;
        }
        break;
    case VRN_OP_CLOSE:
        _drv_update_state(base, key, operation, 0, 0);
        code = Close(file, fcb);
        if (code != 0)
            Vrn$SetErrorFile(file);
        Post(code);
        return 0;
    case VRN_OP_NAME: {
        char* name = base != nullptr && base->name != nullptr
                         ? nullptr
                         : _drv_MakeCSTRING(file->name, file->name_length);
        const char* shown =
            name != nullptr ? name : (base != nullptr && base->name != nullptr ? base->name : "");
        PushText(shown);
        std::free(name);
        break;
    }
    case VRN_OP_ADD:
        code = sql->Add();
        break;
    case VRN_OP_PUT:
        code = sql->Put((state_word & VRN_STATE_WATCHED) != 0);
        break;
    case VRN_OP_DELETE:
        code = sql->Delete();
        break;
    case VRN_OP_GET_FILE_KEY:
        code = sql->GetByKey(size_t(k));
        break;
    case VRN_OP_GET_FILE_POINTER:
        code = sql->ReadPointer(int64_t(argument(0)));
        break;
    case VRN_OP_GET_KEY_POINTER:
        code = sql->ReadPointer(int64_t(argument(1)));
        break;
    case VRN_OP_GET_FILE_POINTER_LENGTH:
        code = argument(1) < 0 ? kNotFound : sql->ReadPointer(int64_t(argument(0)), uint32_t(argument(1)));
        break;
    case VRN_OP_SET_FILE:
        sql->SetOrder(-1);
        break;
    case VRN_OP_SET_FILE_KEY: {
        // Record order, starting at the first record whose key is at or after the buffer's values.
        std::string image;
        sql->SetOrder(-1);
        if (sql->ImageOf(size_t(k), file->record, &image)) {
            sql->SetBefore(k, image, INT64_MIN, INT64_MAX);
            int32_t found = sql->Step(true, false);
            if (found == 0) {
                sql->SetBefore(-1, {}, state->low, state->low);
            } else if (found == kNotAvailable) {
                sql->SetBefore(-1, {}, INT64_MAX, INT64_MAX);
            } else {
                code = found;
            }
        }
        break;
    }
    case VRN_OP_SET_FILE_POINTER:
        sql->SetBefore(-1, {}, int64_t(argument(0)), int64_t(argument(0)));
        break;
    case VRN_OP_SET_KEY:
        sql->SetOrder(k);
        break;
    case VRN_OP_SET_KEY_KEY:
    case VRN_OP_SET_KEY_KEY_POINTER: {
        std::string image = state->keys[size_t(k)].image->Build(file->record);
        if (operation == VRN_OP_SET_KEY_KEY)
            sql->SetBefore(k, image, INT64_MIN, INT64_MAX);
        else
            sql->SetBefore(k, image, int64_t(argument(1)), int64_t(argument(1)));
        break;
    }
    case VRN_OP_SET_KEY_POINTER: {
        std::string image;
        code = sql->StoredImage(size_t(k), int64_t(argument(1)), &image);
        if (code == 0)
            sql->SetBefore(k, image, int64_t(argument(1)), int64_t(argument(1)));
        break;
    }
    case VRN_OP_NEXT:
    case VRN_OP_PREVIOUS:
        code = sql->Step(operation == VRN_OP_NEXT, true);
        break;
    case VRN_OP_SKIP: {
        int64_t count = int64_t(int32_t(argument(0)));
        for (int64_t i = 0; i < (count < 0 ? -count : count) && code == 0; i++)
            code = sql->Step(count > 0, false);
        break;
    }
    case VRN_OP_RECORDS_FILE:
    case VRN_OP_RECORDS_KEY: {
        int64_t records = 0;
        code = sql->Count(k, &records);
        result = intptr_t(records);
        break;
    }
    case VRN_OP_POINTER_FILE:
    case VRN_OP_POINTER_KEY:
        result = intptr_t(state->current);
        break;
    case VRN_OP_POSITION_FILE:
    case VRN_OP_POSITION_KEY: {
        std::string position = sql->Position(k);
        PushText(position);
        break;
    }
    case VRN_OP_RESET_FILE:
    case VRN_OP_RESET_KEY:
        code = sql->Reset(k, text);
        break;
    case VRN_OP_REGET_FILE:
    case VRN_OP_REGET_KEY:
        code = sql->Reget(text);
        break;
    case VRN_OP_WATCH:
    case VRN_OP_HOLD:
    case VRN_OP_HOLD_SECONDS:
    case VRN_OP_RELEASE:
        // The state words carry watch, hold and held; a WATCHed record is checked at PUT.
        break;
    case VRN_OP_APPEND:
        // The keys are kept as for ADD: an indexed file cannot hold a record its keys miss.
        code = sql->Add();
        break;
    case VRN_OP_ADD_LENGTH:
    case VRN_OP_APPEND_LENGTH:
        code = sql->Add(uint32_t(std::clamp<intptr_t>(argument(0), 0, intptr_t(file->record_length))));
        break;
    case VRN_OP_SET_PROPERTY:
        SetProperty(state, int32_t(argument(0)), text);
        break;
    case VRN_OP_GET_PROPERTY:
        PushText(GetProperty(layout, state, int32_t(argument(0))));
        break;
    case VRN_OP_DUPLICATE:
    case VRN_OP_DUPLICATE_KEY: {
        bool found = false;
        code = sql->Duplicate(k, (state_word & VRN_STATE_RECORD) != 0 ? state->current : 0, &found);
        result = found ? 1 : 0;
        break;
    }
    case VRN_OP_SEND:
        PushText(state != nullptr ? Send(&state->options, text) : std::string());
        break;
    case VRN_OP_BUILD_FILE:
    case VRN_OP_BUILD_KEY:
        code = Rebuild(layout, file, state, k);
        if (code == 0 && state != nullptr && state->sequence_key >= 0)
            state->place = Place::kNone; // the images the sequence stood on changed
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
    case VRN_OP_EMPTY:
        code = sql->Empty();
        break;
    case VRN_OP_BYTES:
        if (state->accessed) {
            result = intptr_t(state->record_length);
        } else {
            std::error_code error;
            auto size = std::filesystem::file_size(state->path, error);
            result = error ? 0 : intptr_t(size);
        }
        break;
    case VRN_OP_QUERY_KEY:
        result = state->sequence_key + 1;
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
    // A COMMIT that failed was rolled back: the transaction is over for the file all the same, so
    // it closes, logs out and opens again as after any other end of a transaction.
    if ((operation == VRN_OP_COMMIT || operation == VRN_OP_ROLLBACK) && base != nullptr && state != nullptr &&
        state->host == nullptr)
        base->state &= ~VRN_STATE_LOGOUT;
    return result;
}

} // namespace lumarex::drivers

