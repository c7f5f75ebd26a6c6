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
    sqlite3* db = nullptr;
    std::string path;
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

class Statement {
  public:
    Statement(sqlite3* db, const std::string& sql) : db_(db) {
        rc_ = sqlite3_prepare_v2(db, sql.c_str(), -1, &statement_, nullptr);
    }
    ~Statement() { sqlite3_finalize(statement_); }
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
    sqlite3_stmt* statement_ = nullptr;
    int rc_ = SQLITE_OK;
};

// CREATE: a new, empty file for the declaration (mode 0600), replacing one of that name.
int32_t Create(FileDecl* file);
// OPEN and SHARE: opens the file, checks it against the declaration, stores the driver's block in
// the declaration and activates the file in the register.
int32_t Open(FileDecl* file, int32_t access_mode);
// CLOSE: the reverse of Open.
void Close(FileDecl* file, KelFcb* fcb);

} // namespace lumarex::kelstore
