// SPDX-License-Identifier: GPL-3.0-or-later
// The PGSQL driver's transactions: LOGOUT enlists files in one server transaction on a connection
// of its own, COMMIT and ROLLBACK end it for all of them; LOCK and STREAM hold a server transaction
// on the file's own connection until UNLOCK and FLUSH.
#include <string>
#include <vector>

#include "pgsql/pg_store.h"

namespace lumarex::drivers::pg {

namespace {

// The process's one transaction (the runtime allows one at a time): its connection and the files
// that take part. The connection lives for one transaction only: one kept between transactions
// would be shared by a child process forked meanwhile, whose writes would then land in the
// parent's session.
struct Transaction {
    std::unique_ptr<Connection> connection;
    std::vector<State*> files;
};

Transaction& Current() {
    static Transaction transaction;
    return transaction;
}

// Locks a table against other writers and lockers (readers go on), waiting up to `seconds` (0: not
// at all); 32 when another holds it longer. The connection must be inside a transaction.
int32_t LockTable(Connection& db, const State& state, int32_t seconds, const char* mode) {
    std::string lock = "LOCK TABLE " + state.table + " IN " + mode + " MODE";
    if (seconds <= 0)
        return Write(db, [&] { return db.Run(lock + " NOWAIT"); });
    int32_t code = db.Run("SET LOCAL lock_timeout = " + std::to_string(int64_t(seconds) * 1000));
    if (code == 0)
        code = Write(db, [&] { return db.Run(lock); });
    int32_t restored = db.Run("SET LOCAL lock_timeout = " + std::to_string(kWaitMilliseconds));
    return code != 0 ? code : restored;
}

} // namespace

int32_t Logout(State* state) {
    Transaction& t = Current();
    int32_t code = 0;
    if (!t.connection) {
        t.connection = Connection::Open(&code);
        if (!t.connection)
            return code;
    }
    if (t.files.empty()) {
        code = t.connection->Run("BEGIN");
        if (code != 0) {
            t.connection.reset();
            return code;
        }
    }
    // A file this station LOCKed: its lock moves into the transaction (the writes made under it
    // commit first) and comes back when the transaction ends.
    if (state->locked && state->own->InTransaction()) {
        code = state->own->Commit();
        if (code != 0)
            return code;
    }
    // SHARE ROW EXCLUSIVE: no other station writes the table or enlists it until the end, and
    // every station still reads it.
    code = LockTable(*t.connection, *state, state->logout_seconds, state->locked ? "EXCLUSIVE" : "SHARE ROW EXCLUSIVE");
    if (code != 0) {
        if (t.files.empty())
            t.connection.reset(); // the server rolls back what the closed connection began
        return code;
    }
    state->host = t.connection.get();
    state->place = Place::kNone;
    t.files.push_back(state);
    return 0;
}

int32_t EndTransaction(State* state, bool commit) {
    if (state->host == nullptr)
        return 0; // ended by the first file's COMMIT or ROLLBACK
    Transaction& t = Current();
    Connection& db = *t.connection;
    int32_t code = commit ? db.Commit() : db.Run("ROLLBACK");
    t.connection.reset();
    for (State* file : t.files) {
        file->host = nullptr;
        if (file->locked) {
            // Taken back at once: the transaction's end let go of it a moment ago.
            int32_t relocked = file->own->InTransaction() ? 0 : file->own->Run("BEGIN");
            if (relocked == 0)
                relocked = LockTable(*file->own, *file, 5, "EXCLUSIVE");
            if (relocked != 0) {
                file->locked = false;
                if (file->own->InTransaction())
                    file->own->Run("ROLLBACK");
                if (code == 0)
                    code = relocked;
            }
        }
    }
    t.files.clear();
    return code;
}

int32_t Lock(State* state, int32_t seconds) {
    Connection& db = *state->own;
    bool began = !db.InTransaction();
    int32_t code = began ? db.Run("BEGIN") : 0;
    if (code == 0)
        code = LockTable(db, *state, seconds, "EXCLUSIVE");
    if (code != 0 && began && db.InTransaction())
        db.Run("ROLLBACK");
    if (code == 0)
        state->locked = true;
    return code;
}

int32_t Unlock(State* state) {
    state->locked = false;
    return state->streaming || !state->own->InTransaction() ? 0 : state->own->Commit();
}

int32_t Stream(State* state) {
    if (state->streaming)
        return 0;
    int32_t code = state->own->InTransaction() ? 0 : state->own->Run("BEGIN");
    state->streaming = code == 0;
    return code;
}

int32_t Flush(State* state) {
    if (!state->streaming)
        return 0;
    state->streaming = false;
    return state->locked || !state->own->InTransaction() ? 0 : state->own->Commit();
}

} // namespace lumarex::drivers::pg
