// SPDX-License-Identifier: GPL-3.0-or-later
// Transactions, locks and streams of the drivers' files.
//
// A transaction (LOGOUT ... COMMIT or ROLLBACK) is one SQLite transaction on one connection of its
// own: its main database is the first file enlisted, and every further file is attached to it.
// With the rollback journal (the files never use WAL), SQLite commits a transaction that wrote to
// several attached databases through a super-journal that names each file's journal (a file with
// separate keys brings its key files along, each attached too), so a process
// that dies anywhere in the commit leaves either every file changed or none: the next connection
// finds the hot journals and rolls them back together. While a file is enlisted its operations go
// through that connection (State::Db and State::Table). The transaction holds the write lock of
// every file from LOGOUT on, so LOGOUT waits for it as long as the LOGOUT's seconds allow.
#include <mutex>
#include <string>
#include <vector>

#include "common/sql_store.h"

namespace lumarex::drivers {

namespace {

// The one transaction of the process.
struct Transaction {
    sqlite3* host = nullptr;
    std::vector<State*> files; // in the order they were enlisted
    int next_schema = 1;
};

std::mutex transaction_mutex;
Transaction transaction;

bool InTransaction(sqlite3* db) {
    return db != nullptr && sqlite3_get_autocommit(db) == 0;
}

// Back to each file's own connection, the host closed; nothing left of the transaction.
void Dissolve() {
    for (State* state : transaction.files) {
        state->host = nullptr;
        state->schema = "main";
        for (size_t k = 0; k < state->key_schemas.size(); k++)
            state->key_schemas[k] = State::OwnKeySchema(k);
        state->logout_seconds = -1;
        state->stamp_raised = false;
        state->DropAhead();
        RetakeOwnLock(state);
    }
    transaction.files.clear();
    if (transaction.host != nullptr) {
        ForgetCachedStatements(transaction.host);
        sqlite3_close_v2(transaction.host);
    }
    transaction.host = nullptr;
    transaction.next_schema = 1;
}

} // namespace

int32_t ReleaseOwnLock(State* state) {
    if (!state->deny_all && !state->locked)
        return 0;
    // Normal locking takes effect at the next access, which then lets the lock go.
    return Execute(state->db, "PRAGMA locking_mode = NORMAL; " + TouchSql(*state));
}

int32_t RetakeOwnLock(State* state) {
    if (!state->deny_all && !state->locked)
        return 0;
    bool writable = (state->access_mode & 0x0F) != 0;
    int32_t code = Execute(state->db, "PRAGMA locking_mode = EXCLUSIVE");
    if (code == 0)
        code = Execute(state->db, writable ? "BEGIN EXCLUSIVE; COMMIT" : TouchSql(*state));
    return code;
}

int32_t Logout(State* state) {
    std::lock_guard lock(transaction_mutex);
    if (state->host != nullptr)
        return kUnsupported;
    // Writes a STREAM has batched so far are the program's before the transaction starts.
    int32_t code = Flush(state);
    if (code != 0)
        return code;
    int milliseconds = state->logout_seconds >= 0 ? state->logout_seconds * 1000 : kBusyMilliseconds;
    code = ReleaseOwnLock(state);
    if (code != 0)
        return code;

    // The record file, then its key files: the first file of the first enlisted is the host's main
    // database, every other one is attached under a schema name of its own.
    std::vector<std::string> paths{state->path};
    paths.insert(paths.end(), state->key_paths.begin(), state->key_paths.end());
    std::vector<std::string> schemas;
    auto detach = [&] {
        for (const std::string& name : schemas)
            if (name != "main")
                Execute(transaction.host, "DETACH DATABASE " + name);
        if (!schemas.empty() && schemas.front() == "main")
            Dissolve();
    };
    if (transaction.host == nullptr) {
        int rc = sqlite3_open_v2(state->path.c_str(), &transaction.host, SQLITE_OPEN_READWRITE, nullptr);
        if (rc != SQLITE_OK) {
            code = SqliteError(transaction.host, rc);
            Dissolve();
            RetakeOwnLock(state);
            return code;
        }
        QuotesAreNames(transaction.host);
        schemas.push_back("main");
    } else if (InTransaction(transaction.host)) {
        // A database is attached only outside a transaction. Nothing was written yet (the files are
        // enlisted in one LOGOUT), so the locks taken so far are let go and taken again below.
        Execute(transaction.host, "ROLLBACK");
    }
    for (size_t i = schemas.size(); i < paths.size(); i++) {
        std::string name = "sql_t" + std::to_string(transaction.next_schema++);
        Statement attach(transaction.host, "ATTACH DATABASE ?1 AS " + name);
        attach.BindText(1, paths[i]);
        attach.Step();
        if (attach.Code() != SQLITE_DONE) {
            code = attach.Error();
            detach();
            RetakeOwnLock(state);
            return code;
        }
        schemas.push_back(name);
    }
    sqlite3_busy_timeout(transaction.host, milliseconds);
    // IMMEDIATE takes the write lock of every database of the connection now: the files are the
    // transaction's until it ends, and LOGOUT fails when one is not free within the seconds.
    code = Execute(transaction.host, "BEGIN IMMEDIATE");
    if (code != 0) {
        detach();
        RetakeOwnLock(state);
        return code;
    }
    state->DropAhead();
    state->schema = schemas.front();
    for (size_t k = 0; k < state->key_schemas.size(); k++)
        state->key_schemas[k] = schemas[k + 1];
    state->host = transaction.host;
    transaction.files.push_back(state);
    return 0;
}

int32_t EndTransaction(State* state, bool commit) {
    std::lock_guard lock(transaction_mutex);
    if (state->host == nullptr)
        return 0; // an earlier file's COMMIT or ROLLBACK ended it for all
    int32_t code = 0;
    if (InTransaction(transaction.host)) {
        code = Execute(transaction.host, commit ? "COMMIT" : "ROLLBACK");
        // A commit that cannot finish (a reader keeps a file, the disk is full) is undone, so no
        // file is half in; the transaction is over either way.
        if (code != 0 && InTransaction(transaction.host))
            Execute(transaction.host, "ROLLBACK");
    } else if (commit) {
        // A failure inside the transaction (the disk full, an I/O error) made SQLite undo all of
        // it: the writes the program was told of are gone, and COMMIT must say so.
        code = DriverFailure("the transaction was rolled back after a failed write");
    }
    Dissolve();
    return code;
}

int32_t Lock(State* state, int32_t seconds) {
    if (state->locked)
        return kAlreadyLocked;
    if (state->deny_all) {
        state->locked = true; // the file is already this connection's alone
        return 0;
    }
    // A STREAM's batch is written first: the lock is taken between transactions.
    int32_t code = Flush(state);
    if (code != 0)
        return code;
    sqlite3_busy_timeout(state->db, seconds > 0 ? seconds * 1000 : 0);
    code = Execute(state->db, "PRAGMA locking_mode = EXCLUSIVE");
    if (code == 0) {
        bool writable = (state->access_mode & 0x0F) != 0;
        code = Execute(state->db, writable ? "BEGIN EXCLUSIVE; COMMIT" : TouchSql(*state));
    }
    if (code != 0) {
        // Back to normal locking without waiting: whatever the failed attempt held is let go.
        sqlite3_busy_timeout(state->db, 0);
        if (InTransaction(state->db))
            Execute(state->db, "ROLLBACK");
        Execute(state->db, "PRAGMA locking_mode = NORMAL; " + TouchSql(*state));
        sqlite3_busy_timeout(state->db, state->wait_milliseconds);
        return code;
    }
    sqlite3_busy_timeout(state->db, state->wait_milliseconds);
    state->locked = true;
    return 0;
}

int32_t Unlock(State* state) {
    if (!state->locked)
        return 0;
    state->locked = false;
    if (state->deny_all)
        return 0;
    int32_t code = Flush(state);
    if (code != 0)
        return code;
    return Execute(state->db, "PRAGMA locking_mode = NORMAL; " + TouchSql(*state));
}

int32_t Stream(State* state) {
    if (state->host != nullptr || InTransaction(state->db))
        return 0; // already inside one transaction
    state->stamp_raised = false;
    int32_t code = Execute(state->db, "BEGIN IMMEDIATE");
    state->streaming = code == 0;
    return code;
}

int32_t Flush(State* state) {
    if (!InTransaction(state->db)) {
        if (!state->streaming)
            return 0;
        // The stream's transaction is gone: a failed write made SQLite undo it, with the writes
        // batched before it.
        state->streaming = false;
        return DriverFailure("the stream's writes were rolled back after a failed write");
    }
    // A commit that cannot finish leaves the stream open, so FLUSH can be tried again.
    int32_t code = Execute(state->db, "COMMIT");
    if (code == 0) {
        state->stamp_raised = false;
        state->streaming = false;
    }
    return code;
}

int32_t CheckTransactionAlive(const State& state) {
    if (state.host != nullptr && !InTransaction(state.host))
        return DriverFailure("the transaction was rolled back after a failed write");
    if (state.host == nullptr && state.streaming && !InTransaction(state.db))
        return DriverFailure("the stream's writes were rolled back after a failed write");
    return 0;
}

} // namespace lumarex::drivers
