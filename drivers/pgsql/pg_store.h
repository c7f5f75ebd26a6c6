// SPDX-License-Identifier: GPL-3.0-or-later
// The PGSQL driver's inside: its per-file block and state, the server connection with its prepared
// statements, and the error codes a server failure becomes (the table layout is in pgsql.h).
#pragma once

#include <libpq-fe.h>

#include <cstdint>
#include <memory>
#include <string>
#include <unordered_map>
#include <vector>

#include "common/driver_dispatch.h"
#include "common/key_image.h"
#include "common/memo_columns.h"
#include "common/record_columns.h"
#include "pgsql/pg_columns.h"
#include "tarvex/file_decl.h"

namespace lumarex::drivers::pg {

constexpr int32_t kFileNotFound = 2;
constexpr int32_t kAccessDenied = 5;
constexpr int32_t kOutOfMemory = 8;
constexpr int32_t kAlreadyLocked = 32;
constexpr int32_t kNotAvailable = 33;
constexpr int32_t kNotFound = 35;
constexpr int32_t kNotOpen = 37;
constexpr int32_t kDuplicateKey = 40;
constexpr int32_t kInvalidFilename = 45;
constexpr int32_t kRebuildKeys = 46;
constexpr int32_t kInvalidDeclaration = 47;
constexpr int32_t kUnsupported = 80;
constexpr int32_t kRecordChanged = 89;
constexpr int32_t kFileSystemError = 90;
// How long an ordinary write waits for a table another station locked.
constexpr int kWaitMilliseconds = 5000;
// The comment every table of ours carries: the format and the character tables its images follow.
constexpr const char* kFormatTag = "PGSQL 1";

using PgResult = std::unique_ptr<PGresult, void (*)(PGresult*)>;

// A server connection of the driver: its prepared statements by SQL text.
class Connection {
  public:
    // Connects with the connection string of the TARVEX_PGSQL setting; null with the error posted
    // as a code.
    static std::unique_ptr<Connection> Open(int32_t* code);
    ~Connection();
    Connection(const Connection&) = delete;
    Connection& operator=(const Connection&) = delete;

    // Runs `sql` with the parameters, results in binary form. 0 or the error code (the server's
    // message posted for 90); `result` holds the rows.
    int32_t Run(const std::string& sql, PgParams& params, PgResult* result = nullptr);
    // The same for a statement whose text seldom comes again (values written into it): run
    // without keeping a prepared statement on the server.
    int32_t RunOnce(const std::string& sql, PgParams& params, PgResult* result);
    int32_t Run(const std::string& sql, PgResult* result = nullptr) {
        PgParams none;
        return Run(sql, none, result);
    }
    // Runs statements separated by ';' that give no rows (creating a table and its indexes).
    int32_t Script(const std::string& sql);
    // COMMIT: 0, or 90 when the server rolled the transaction back instead.
    int32_t Commit();
    // Whether a server transaction is open on this connection.
    bool InTransaction() const { return PQtransactionStatus(conn_) != PQTRANS_IDLE; }
    PGconn* Raw() const { return conn_; }

  private:
    explicit Connection(PGconn* conn) : conn_(conn) {}
    PGconn* conn_;
    std::unordered_map<std::string, std::string> prepared_; // SQL text -> statement name
};

// A text as an SQL string literal.
std::string Literal(const std::string& text);

// The error code of a failed result (or of the connection when there is none).
int32_t ServerError(PGconn* conn, const PGresult* result);

enum class Place { kNone, kEnds, kBefore, kOn };

using drivers::Key;

struct State {
    std::unique_ptr<Connection> own;
    Connection* host = nullptr; // the transaction's connection while the file takes part in one
    std::string name;            // the table's name
    std::string table;           // quoted
    std::vector<Key> keys;
    std::unique_ptr<RecordColumns> columns;
    std::unique_ptr<PgRecordCodec> codec;
    std::unique_ptr<MemoColumns> memos; // the MEMO and BLOB fields, columns after the fields
    MemoValues memo;                    // the current record's memo values
    std::string fields; // r."pat", r."lname", ..., then the memos
    std::vector<size_t> missing_memos; // memo columns the table lacks, opened for BUILD to add
    uint32_t record_length = 0;
    int32_t logout_seconds = 0;
    int32_t wait_milliseconds = kWaitMilliseconds; // set with the lock-wait property
    SendOptions options;                            // SEND's, kept for programs that ask
    bool version_trigger = false; // the table raises the version of rows other clients update
    bool locked = false;    // LOCK holds a server transaction on the own connection
    bool streaming = false; // so does STREAM until FLUSH
    int64_t current = 0;
    int64_t current_changes = 0;
    bool accessed = false;
    int sequence_key = -1;
    Place place = Place::kNone;
    std::string image;
    int64_t low = 0;
    int64_t high = 0;

    Connection& Db() { return host != nullptr ? *host : *own; }
};

struct PgFcb {
    Drv_FCB base;
    State* state;
};

// LOGOUT, COMMIT, ROLLBACK (pg_transaction.cpp): one server transaction for every enlisted file.
int32_t Logout(State* state);
int32_t EndTransaction(State* state, bool commit);
// LOCK and UNLOCK, STREAM and FLUSH: a server transaction on the file's own connection.
int32_t Lock(State* state, int32_t seconds);
int32_t Unlock(State* state);
int32_t Stream(State* state);
int32_t Flush(State* state);
// The key images a sequence by key keeps within: from `low` up to, not including, `high` (no upper
// end when `high` is empty).
struct ImageRange {
    std::string low;
    std::string high;
};
// Files joined to the sequence's rows (a view's key joins): their columns after the row's, their
// JOIN clauses, and their order after the row's (an image and an id per joined file, never null).
// `after` holds the joined files' (image, id) of the row the sequence stands on: the next rows are
// those after that combined row (from it, when the sequence stands before it), so the rest of a
// primary row's joined rows are not skipped.
struct SequenceJoins {
    std::string columns;
    std::string from;
    std::vector<std::string> order;
    std::vector<std::pair<std::string, int64_t>> after;
};
// The sequence's next `limit` rows in the direction from where it stands (the key image third when
// it reads by key), further narrowed by `condition` (SQL over the row "r") and, reading by key, by
// `range`, as a keyset query; with `joins`, each row followed by its joined files' rows.
std::string SequenceSql(const State& state, bool forward, const std::string& condition, int limit,
                        PgParams* params, const ImageRange* range = nullptr, const SequenceJoins* joins = nullptr);
// The sequence stands on row `row` of a result of SequenceSql, taken into the record buffer; the
// file's columns start at column `base` (its id).
int32_t StandOnRow(FileDecl* file, State* state, const PGresult* result, int row, int base = 0);
// The driver's view function (pg_view.cpp), named by QUERY_VIEW.
intptr_t PgView(int32_t operation, FileDecl* view, const intptr_t* arguments);
// Rows the server has given views so far (before a SUPERSET's own filter), for tests and benches.
uint64_t ServedViewRows();

// Runs a write as one step that fails alone: inside a server transaction under a savepoint, so a
// refused write (a duplicate key) leaves the transaction going.
template <class Body> int32_t Write(Connection& db, Body body) {
    if (!db.InTransaction())
        return body();
    int32_t code = db.Run("SAVEPOINT pg_write");
    if (code != 0)
        return code;
    code = body();
    int32_t ended = db.Run(code == 0 ? "RELEASE SAVEPOINT pg_write" : "ROLLBACK TO SAVEPOINT pg_write");
    return code != 0 ? code : ended;
}

} // namespace lumarex::drivers::pg
