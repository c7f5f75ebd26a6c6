// SPDX-License-Identifier: GPL-3.0-or-later
// The SQLite engine both file drivers run on: the error codes it posts, the per-file block and the
// state behind it, a prepared-statement wrapper, the opening and creating of files, transactions.
//
// A table's records live in a table named after the file ("Patient.kel": table patient), each
// under its row id (the record pointer, column id) with a change counter for WATCH (changes) and
// each field in a named, typed column of its own (record_columns.h), so any SQLite tool reads
// them. Table <prefix>_meta holds the format tag and version, the record table's name, the record
// length, the layout and key fingerprints, the key count and the fingerprint of the character
// tables the key images follow. Files of version 1 kept each record as one BLOB in table
// <prefix>_records; BUILD converts them. Where the key images live is the one thing the drivers
// differ in (Layout):
//   - in the record table: one image column per key (k1, k2, ...) under its own index, UNIQUE for
//     keys without DUP, partial (blank values stored as NULL and left out) for OPT keys;
//   - in a database of its own per key (the record file's name with extension .K01, .K02, ...):
//     table <prefix>_key (id, image) under an index on image (UNIQUE without DUP; a blank OPT value
//     has no row), and its own <prefix>_meta with the key's number and the change stamp. The
//     record file's meta holds the change stamp too: every write raises it in the record file and
//     in every key file within the same transaction, so a key file left behind (restored from an
//     old copy, or not written) shows another stamp and must be rebuilt (46).
// Key order is (image, row id), so duplicates come back in insertion order.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/driver_dispatch.h"
#include "common/key_image.h"
#include "common/memo_columns.h"
#include "common/record_columns.h"
#include "tarvex/file_decl.h"

namespace lumarex::drivers {

using drivers::KeyImage;

constexpr int32_t kFileNotFound = 2;
constexpr int32_t kPathNotFound = 3;
constexpr int32_t kAccessDenied = 5;
constexpr int32_t kAlreadyLocked = 32;
constexpr int32_t kNotAvailable = 33;
constexpr int32_t kNotFound = 35;
constexpr int32_t kInvalidDataFile = 36;
constexpr int32_t kNotOpen = 37;
constexpr int32_t kDuplicateKey = 40;
constexpr int32_t kInvalidFilename = 45;
constexpr int32_t kRebuildKeys = 46;
constexpr int32_t kInvalidDeclaration = 47;
constexpr int32_t kUnsupported = 80;
constexpr int32_t kRecordChanged = 89;
constexpr int32_t kFileSystemError = 90;
constexpr int32_t kInvalidKeyFile = 38;
constexpr int kBusyMilliseconds = 5000;
// The format version of the record files: 2 stores each field in a column of its own.
constexpr int kFormatVersion = 2;
// A file's connection reads its pages through a memory map of up to this many bytes: a sequence
// then reads pages and the change counter without a system call each. Writes still go through the
// journal as without it, so crash safety is unchanged.
constexpr const char* kMemoryMapPragma = "PRAGMA mmap_size = 1073741824";

// Where the sequence stands. kEnds: NEXT reads the first record, PREVIOUS the last. kBefore: NEXT
// reads the first record at or after (image, low), PREVIOUS the last at or before (image, high).
// kOn: after a record was read at (image, low): NEXT reads the one after, PREVIOUS the one before.
enum class Place { kNone, kEnds, kBefore, kOn };

// What tells one driver's files from the other's.
struct Layout {
    const char* driver_name; // "KELSTORE", for the block and the trace
    const char* extension;   // the record file's default extension
    const char* format_tag;  // in <prefix>_meta, "format"
    const char* prefix;      // of every table and index name
    bool separate_keys;      // each key in a database file of its own
};

// The read-ahead of NEXT and PREVIOUS: rows after the one last read, in the sequence's order.
struct AheadRow {
    int64_t id = 0;
    int64_t changes = 0;
    std::string data;
    std::string image;
};

// The SQL of the record writes and the field list of the reads, made once for the schema the file
// is reached under (a record has dozens of columns: the texts are long to build).
struct RecordSql {
    std::string schema;
    std::string fields;         // r."pat", r."lname", ...
    std::string insert;         // ADD: the key images (keys in the record table), then the fields
    std::string update;         // PUT: ?1 the record, the key images from ?3, then the fields
    std::string update_watched; // the same, only while the change counter is still ?2
    // The memo columns: in `fields` and `insert` after the fields; a PUT sets those that stand for
    // the current record (`update` sets all of them, `update_head` none: the PUT adds its own).
    std::string update_head;
    std::vector<std::string> memo_sets; // ", \"notes\" = ?n" for each memo
};


struct State {
    const Layout* layout = nullptr;
    sqlite3* db = nullptr; // the file's own connection (key files attached as k1, k2, ...)
    std::string path;
    std::vector<std::string> key_paths; // separate keys only
    // During a transaction the file is reached through the transaction's connection, under the
    // schema name it is attached as ("main" for the first file enlisted).
    sqlite3* host = nullptr;
    std::string schema = "main";
    std::vector<std::string> key_schemas; // separate keys only
    int32_t logout_seconds = -1; // from the LOCK that Vrn$LOGOUT sends before enlisting
    bool deny_all = false;       // opened deny-all: the own connection keeps an exclusive lock
    bool locked = false;         // LOCK holds an exclusive lock on the own connection
    SendOptions options;
    bool stamp_raised = false; // in the transaction now open (separate keys)
    bool streaming = false;    // STREAM began a transaction on the own connection, FLUSH ends it
    int32_t wait_milliseconds = kBusyMilliseconds; // of the own connection, for a lock another holds
    intptr_t claim = 0; // the shared claim on the record file while it is open (see _drv_ClaimFile)
    std::vector<Key> keys;
    std::string table;                       // the record table's name
    std::unique_ptr<RecordColumns> columns; // the record's fields as the table's columns
    std::unique_ptr<MemoColumns> memos;     // the MEMO and BLOB fields, columns after the fields
    MemoValues memo;                        // the current record's memo values
    bool earlier_format = false;            // format version 1, opened for BUILD to convert
    std::vector<size_t> missing_memos;      // memo columns the table lacks, opened for BUILD to add
    RecordSql record_sql;
    uint32_t record_length = 0;
    int32_t access_mode = 0;
    // The current record.
    int64_t current = 0;
    int64_t current_changes = 0;
    bool accessed = false;
    // The sequence: -1 record order, else the key's index.
    int sequence_key = -1;
    Place place = Place::kNone;
    std::string image; // key order only; empty image = record order
    int64_t low = 0;
    int64_t high = 0;
    // Rows read ahead of the sequence (see Step in sql_driver.cpp), served while nothing else was
    // done with the file and its change counter stands where it stood when they were read.
    std::vector<AheadRow> ahead;
    size_t ahead_next = 0;
    bool ahead_forward = true;
    uint32_t ahead_counter = 0;
    size_t ahead_batch = 0;

    // The connection and tables that operations use now.
    sqlite3* Db() const { return host != nullptr ? host : db; }
    std::string Table() const { return schema + "." + Quoted(table); }
    std::string Meta() const { return schema + "." + layout->prefix + "_meta"; }
    // Where key k's images are, and under which column.
    std::string KeyTable(size_t k) const {
        return layout->separate_keys ? key_schemas[k] + "." + layout->prefix + "_key" : Table();
    }
    std::string KeyColumn(size_t k) const { return layout->separate_keys ? "image" : keys[k].column; }
    // Every database of the file as it is reached now: the record file's schema first.
    std::vector<std::string> Schemas() const {
        std::vector<std::string> all{schema};
        all.insert(all.end(), key_schemas.begin(), key_schemas.end());
        return all;
    }
    // The schema names the key files have on the file's own connection.
    static std::string OwnKeySchema(size_t k) { return "k" + std::to_string(k + 1); }
    void DropAhead() {
        ahead.clear();
        ahead_next = 0;
        ahead_batch = 0;
    }
};

// The driver's block: the runtime's part first, as the contract asks.
struct SqlFcb {
    Drv_FCB base;
    State* state;
};

// A SQLite failure as the runtime's error code; other failures are 90 with SQLite's own text.
int32_t SqliteError(sqlite3* db, int rc);
// A failure of our own that has no SQLite code: 90 with `message` as the driver's text.
int32_t DriverFailure(const char* message);
// Runs SQL text without results: 0 or the error code.
int32_t Execute(sqlite3* db, const std::string& sql);
// Makes a text in double quotes always a name on the connection: SQLite otherwise reads a quoted
// name that is not there as a string, so a missing column would pass every check and be read as
// its own name.
void QuotesAreNames(sqlite3* db);

// Prepared statements are kept per connection and text once used, so a NEXT or GET does not parse
// its SQL again; a statement taken from the cache belongs to one Statement until it is handed back.
sqlite3_stmt* TakeCachedStatement(sqlite3* db, const std::string& sql);
void ReturnCachedStatement(sqlite3* db, std::string sql, sqlite3_stmt* statement);
// Finalizes every cached statement of a connection; called before the connection closes.
void ForgetCachedStatements(sqlite3* db);

class Statement {
  public:
    Statement(sqlite3* db, const std::string& sql) : db_(db), sql_(sql) {
        statement_ = TakeCachedStatement(db, sql);
        rc_ = statement_ ? SQLITE_OK : sqlite3_prepare_v2(db, sql.c_str(), -1, &statement_, nullptr);
    }
    // Reset ends the statement's read or write, so a cached statement holds no lock.
    ~Statement() {
        if (statement_ == nullptr) return;
        sqlite3_reset(statement_);
        sqlite3_clear_bindings(statement_);
        ReturnCachedStatement(db_, std::move(sql_), statement_);
    }
    Statement(const Statement&) = delete;
    Statement& operator=(const Statement&) = delete;
    bool Ok() const { return rc_ == SQLITE_OK || rc_ == SQLITE_ROW || rc_ == SQLITE_DONE; }
    // Whether the statement takes parameter `index` (queries built for one direction leave some out).
    bool Has(int index) const { return Ok() && index <= sqlite3_bind_parameter_count(statement_); }
    int Code() const { return rc_; }
    void BindInt(int index, int64_t value) {
        if (Has(index))
            rc_ = sqlite3_bind_int64(statement_, index, value);
    }
    void BindBlob(int index, const std::string& bytes) {
        if (Has(index))
            rc_ = sqlite3_bind_blob(statement_, index, bytes.data(), int(bytes.size()), SQLITE_TRANSIENT);
    }
    void BindBytes(int index, const void* bytes, size_t size) {
        if (Has(index))
            rc_ = sqlite3_bind_blob(statement_, index, bytes, int(size), SQLITE_TRANSIENT);
    }
    void BindText(int index, const std::string& text) {
        if (Has(index))
            rc_ = sqlite3_bind_text(statement_, index, text.c_str(), int(text.size()), SQLITE_TRANSIENT);
    }
    void BindNull(int index) {
        if (Has(index))
            rc_ = sqlite3_bind_null(statement_, index);
    }
    // True while a row is there; Code() tells a failure from the end.
    bool Step() {
        if (!Ok())
            return false;
        rc_ = sqlite3_step(statement_);
        return rc_ == SQLITE_ROW;
    }
    int64_t Int(int column) { return sqlite3_column_int64(statement_, column); }
    std::string Blob(int column) {
        const void* data = sqlite3_column_blob(statement_, column);
        int size = sqlite3_column_bytes(statement_, column);
        return data != nullptr ? std::string(static_cast<const char*>(data), size_t(size)) : std::string();
    }
    bool IsNull(int column) { return sqlite3_column_type(statement_, column) == SQLITE_NULL; }
    // The record's fields to the parameters from `first` on, and back from the row's columns from
    // `first` on (false, with the reason, for a value that does not fit its field).
    void BindRecord(const RecordColumns& columns, int first, const void* record) {
        if (Ok())
            rc_ = columns.Bind(statement_, first, record);
    }
    bool ReadRecord(const RecordColumns& columns, int first, void* record, std::string* problem) {
        return columns.Read(statement_, first, record, problem);
    }
    void BindMemos(const MemoColumns& memos, int first, const std::vector<std::string>& values) {
        if (Ok())
            rc_ = memos.Bind(statement_, first, values);
    }
    bool ReadMemos(const MemoColumns& memos, int first, std::vector<std::string>* values, std::string* problem) {
        return memos.Read(statement_, first, values, problem);
    }
    int32_t Error() const { return SqliteError(db_, rc_); }

  private:
    sqlite3* db_;
    std::string sql_;
    sqlite3_stmt* statement_ = nullptr;
    int rc_ = SQLITE_OK;
};

// A statement that reads every database of the file (so a pending change of locking mode is applied
// to each of them).
std::string TouchSql(const State& state);
// The change stamp of a write: raised in the record file and every key file (separate keys only).
int32_t RaiseStamp(State* state);
// The key file of key k of a record file ("Provider.dat" -> "Provider.K01").
std::string KeyPath(const std::string& path, size_t k);

// CREATE: a new, empty file for the declaration (mode 0600), replacing one of that name unless
// that one is in use: open in this or another process (claimed), locked or inside a transaction
// of any SQLite connection, which gives 32. The new file is made beside the old one and renamed
// over it, so a failure leaves the old file as it was.
int32_t Create(const Layout& layout, FileDecl* file);
// OPEN and SHARE: opens the file, checks it against the declaration, stores the driver's block in
// the declaration and activates the file in the register.
int32_t Open(const Layout& layout, FileDecl* file, int32_t access_mode);
// CLOSE: the reverse of Open. A STREAM still open is flushed first; when that fails its writes are
// rolled back, the file is closed all the same and the flush's error is returned.
int32_t Close(FileDecl* file, SqlFcb* fcb);
// BUILD: recomputes the key images of key `only` (-1: every key, which also records the current
// character tables so the file opens again). With `state` null the file is closed: it is opened
// exclusively for the rebuild, whatever tables its images follow, and closed again.
// A missing or damaged key file is made anew first (separate keys).
int32_t Rebuild(const Layout& layout, FileDecl* file, State* state, int only);

// The record table (record_table.cpp). Its name for a record file at `path`; its CREATE TABLE;
// 0 when the opened file's table has every column of the declaration, else 47 (named in the file
// error; 36 when the driver's own columns are not there; 47 with `missing_memos` set when only
// memo columns are missing); the conversion of a file of format
// version 1 to it, within the caller's savepoint (the key images are rebuilt after it).
std::string RecordTableName(const Layout& layout, const std::string& path);
std::string RecordTableSql(const Layout& layout, const std::vector<Key>& keys, const RecordColumns& columns,
                           const MemoColumns& memos, const VrnTypeDesc& type, const std::string& schema,
                           const std::string& table);
int32_t CheckRecordTable(State* state);
int32_t ConvertEarlierFormat(State* state, const FileDecl& file);
// Adds the memo columns a file made before its declaration had them lacks (empty in every record),
// within the caller's savepoint.
int32_t AddMissingMemos(State* state);

// Transactions, locks and streams (sql_transaction.cpp).
// LOGOUT: enlists the file in the process's transaction (one connection, the files attached).
int32_t Logout(State* state);
// COMMIT or ROLLBACK: the first call ends the transaction of every enlisted file; later calls for
// the other files find it ended and succeed.
int32_t EndTransaction(State* state, bool commit);
// LOCK: an exclusive lock on the file for this connection, waiting up to `seconds`; 32 when
// another connection keeps it longer.
int32_t Lock(State* state, int32_t seconds);
int32_t Unlock(State* state);
// STREAM and FLUSH: writes between them form one transaction on the own connection.
int32_t Stream(State* state);
int32_t Flush(State* state);
// Before a write: 0, or 90 when the transaction or stream the file is in was undone by an earlier
// failure, so a write never lands outside the transaction the program believes it is in.
int32_t CheckTransactionAlive(const State& state);
// Lets go of, and takes back, the exclusive lock the own connection keeps (deny-all or LOCK).
int32_t ReleaseOwnLock(State* state);
int32_t RetakeOwnLock(State* state);

// The entry point of a driver: performs one operation of the runtime on a file of the layout.
intptr_t Perform(const Layout& layout, int32_t operation, FileDecl* file, const intptr_t* arguments);

} // namespace lumarex::drivers
