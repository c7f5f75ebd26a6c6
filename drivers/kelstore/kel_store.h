// SPDX-License-Identifier: GPL-3.0-or-later
// What the parts of the KELSTORE driver share: the error codes it posts, its per-file block and
// the state behind it, a prepared-statement wrapper, and the opening and creating of files.
//
// Layout of a file: table kel_records holds each record as a BLOB under its row id (the record
// pointer) with a change counter for WATCH and one key-image column per key (k1, k2, ...), each
// under its own index: UNIQUE for keys without DUP, partial (blank values stored as NULL and left
// out) for OPT keys. Table kel_meta holds the format tag, the record length, the layout and key
// fingerprints, the key count and the fingerprint of the character tables the images follow.
// Key order is (image, row id), so duplicates come back in insertion order.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "common/key_image.h"
#include "tarvex/file_decl.h"

namespace lumarex::kelstore {

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
constexpr const char* kFormatTag = "KELSTORE 1";
constexpr int kBusyMilliseconds = 5000;

// Where the sequence stands. kEnds: NEXT reads the first record, PREVIOUS the last. kBefore: NEXT
// reads the first record at or after (image, low), PREVIOUS the last at or before (image, high).
// kOn: after a record was read at (image, low): NEXT reads the one after, PREVIOUS the one before.
enum class Place { kNone, kEnds, kBefore, kOn };

struct Key {
    KeyDecl* decl = nullptr;
    std::unique_ptr<KeyImage> image;
    bool opt = false;
    std::string column; // "k1"
};

struct State {
    sqlite3* db = nullptr; // the file's own connection
    std::string path;
    // During a transaction the file is reached through the transaction's connection, under the
    // schema name it is attached as ("main" for the first file enlisted).
    sqlite3* host = nullptr;
    std::string schema = "main";
    int32_t logout_seconds = -1; // from the LOCK that Vrn$LOGOUT sends before enlisting
    bool deny_all = false;       // opened deny-all: the own connection keeps an exclusive lock
    bool locked = false;         // LOCK holds an exclusive lock on the own connection
    std::string quickscan = "off";
    int64_t recover = 0;
    std::vector<Key> keys;
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

    // The connection and table that operations use now.
    sqlite3* Db() const { return host != nullptr ? host : db; }
    std::string Table() const { return schema + ".kel_records"; }
};

// The driver's block: the runtime's part first, as the contract asks.
struct KelFcb {
    Drv_FCB base;
    State* state;
};

// A SQLite failure as the runtime's error code; other failures are 90 with SQLite's own text.
int32_t SqliteError(sqlite3* db, int rc);
// Runs SQL text without results: 0 or the error code.
int32_t Execute(sqlite3* db, const std::string& sql);

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
    int32_t Error() const { return SqliteError(db_, rc_); }

  private:
    sqlite3* db_;
    std::string sql_;
    sqlite3_stmt* statement_ = nullptr;
    int rc_ = SQLITE_OK;
};

// CREATE: a new, empty file for the declaration (mode 0600), replacing one of that name.
int32_t Create(FileDecl* file);
// OPEN and SHARE: opens the file, checks it against the declaration, stores the driver's block in
// the declaration and activates the file in the register.
int32_t Open(FileDecl* file, int32_t access_mode);
// CLOSE: the reverse of Open (a STREAM still open is flushed first).
void Close(FileDecl* file, KelFcb* fcb);
// BUILD: recomputes the key images of key `only` (-1: every key, which also records the current
// character tables so the file opens again). With `state` null the file is closed: it is opened
// exclusively for the rebuild, whatever tables its images follow, and closed again.
int32_t Rebuild(FileDecl* file, State* state, int only);

// Transactions, locks and streams (kel_transaction.cpp).
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
// Lets go of, and takes back, the exclusive lock the own connection keeps (deny-all or LOCK).
int32_t ReleaseOwnLock(State* state);
int32_t RetakeOwnLock(State* state);

} // namespace lumarex::kelstore
