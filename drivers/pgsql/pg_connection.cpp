// SPDX-License-Identifier: GPL-3.0-or-later
// The PGSQL driver's server connections: connecting with the connection string of the TARVEX_PGSQL
// setting (the environment variable, else the environment file's entry),
// statements prepared once per connection and text, and server failures as the runtime's codes.
#include <cstdlib>
#include <cstring>
#include <string>

#include "pgsql/pg_store.h"
#include "tarvex/frame.h"
#include "tarvex/program.hpp"

namespace lumarex::drivers::pg {

namespace {

int32_t Failure(const char* sqlstate, std::string message) {
    while (!message.empty() && (message.back() == '\n' || message.back() == ' '))
        message.pop_back();
    Vrn$setfileerror(sqlstate, message.c_str());
    return kFileSystemError;
}

} // namespace

int32_t ServerError(PGconn* conn, const PGresult* result) {
    const char* field = result != nullptr ? PQresultErrorField(result, PG_DIAG_SQLSTATE) : nullptr;
    std::string sqlstate = field != nullptr ? field : "";
    if (sqlstate == "23505")
        return kDuplicateKey; // unique_violation
    if (sqlstate == "55P03" || sqlstate == "40P01")
        return kAlreadyLocked; // lock_not_available, deadlock_detected
    if (sqlstate == "42P01")
        return kFileNotFound; // undefined_table
    if (sqlstate == "42501" || sqlstate == "25006")
        return kAccessDenied; // insufficient_privilege, read_only_sql_transaction
    std::string message = result != nullptr ? PQresultErrorMessage(result) : "";
    if (message.empty() && conn != nullptr)
        message = PQerrorMessage(conn);
    if (message.empty())
        message = "the server gave no answer";
    return Failure(sqlstate.empty() ? "0" : sqlstate.c_str(), message);
}

namespace {

// The password a connection string holds (empty when none): kept out of every message, since the
// client library's reason for a failure may quote a piece of the string.
std::string PasswordOf(const std::string& conninfo) {
    char* error = nullptr;
    PQconninfoOption* options = PQconninfoParse(conninfo.c_str(), &error);
    PQfreemem(error);
    std::string password;
    for (PQconninfoOption* option = options; option != nullptr && option->keyword != nullptr; option++)
        if (std::strcmp(option->keyword, "password") == 0 && option->val != nullptr)
            password = option->val;
    PQconninfoFree(options);
    return password;
}

} // namespace

std::unique_ptr<Connection> Connection::Open(int32_t* code) {
    const std::string conninfo = tarvex::SETTING("TARVEX_PGSQL");
    if (conninfo.empty()) {
        *code = Failure("0", "No database is named: neither TARVEX_PGSQL nor the environment file's TARVEX_PGSQL entry "
                             "holds a connection string");
        return nullptr;
    }
    char* unreadable = nullptr;
    PQconninfoOption* parsed = PQconninfoParse(conninfo.c_str(), &unreadable);
    PQconninfoFree(parsed);
    if (parsed == nullptr) {
        // The library's reason quotes the string, password and all: it is not passed on.
        PQfreemem(unreadable);
        *code = Failure("0", "The connection string of TARVEX_PGSQL cannot be read (its text is not shown: it may "
                             "hold a password)");
        return nullptr;
    }
    PGconn* conn = PQconnectdb(conninfo.c_str());
    if (conn == nullptr) {
        *code = kOutOfMemory;
        return nullptr;
    }
    if (PQstatus(conn) != CONNECTION_OK) {
        std::string reason = PQerrorMessage(conn);
        const std::string password = PasswordOf(conninfo);
        for (size_t at; !password.empty() && (at = reason.find(password)) != std::string::npos;)
            reason.replace(at, password.size(), "********");
        *code = Failure("0", reason);
        PQfinish(conn);
        return nullptr;
    }
    std::unique_ptr<Connection> connection(new Connection(conn));
    // Text in UTF-8 whatever the server's default; a write waits a while for a table another
    // station locked, then fails (32) rather than hanging.
    *code = connection->Script("SET client_encoding = 'UTF8'; SET client_min_messages = warning; SET lock_timeout = " + std::to_string(kWaitMilliseconds));
    if (*code != 0)
        return nullptr;
    return connection;
}

Connection::~Connection() {
    PQfinish(conn_);
}

int32_t Connection::Run(const std::string& sql, PgParams& params, PgResult* result) {
    PGresult* raw = nullptr;
    if (params.Count() == 0) {
        raw = PQexecParams(conn_, sql.c_str(), 0, nullptr, nullptr, nullptr, nullptr, 1);
    } else {
        auto known = prepared_.find(sql);
        std::string name = known != prepared_.end() ? known->second : std::string();
        if (name.empty()) {
            name = "pg" + std::to_string(prepared_.size() + 1);
            PgResult prepared(PQprepare(conn_, name.c_str(), sql.c_str(), params.Count(), params.Types()), PQclear);
            if (PQresultStatus(prepared.get()) != PGRES_COMMAND_OK)
                return ServerError(conn_, prepared.get());
            prepared_.emplace(sql, name);
        }
        raw = PQexecPrepared(conn_, name.c_str(), params.Count(), params.Values(), params.Lengths(),
                             params.Formats(), 1);
    }
    PgResult owned(raw, PQclear);
    ExecStatusType status = PQresultStatus(raw);
    if (raw == nullptr || (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK))
        return ServerError(conn_, raw);
    if (result != nullptr)
        *result = std::move(owned);
    return 0;
}

int32_t Connection::RunOnce(const std::string& sql, PgParams& params, PgResult* result) {
    PgResult owned(PQexecParams(conn_, sql.c_str(), params.Count(), params.Types(), params.Values(),
                                params.Lengths(), params.Formats(), 1),
                   PQclear);
    ExecStatusType status = PQresultStatus(owned.get());
    if (owned == nullptr || (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK))
        return ServerError(conn_, owned.get());
    *result = std::move(owned);
    return 0;
}

int32_t Connection::Script(const std::string& sql) {
    PgResult result(PQexec(conn_, sql.c_str()), PQclear);
    ExecStatusType status = PQresultStatus(result.get());
    if (result == nullptr || (status != PGRES_COMMAND_OK && status != PGRES_TUPLES_OK))
        return ServerError(conn_, result.get());
    return 0;
}

int32_t Connection::Commit() {
    PgResult result(nullptr, PQclear);
    int32_t code = Run("COMMIT", &result);
    if (code == 0 && std::strcmp(PQcmdStatus(result.get()), "COMMIT") != 0)
        return Failure("0", "The server rolled the transaction back instead of committing it");
    return code;
}

} // namespace lumarex::drivers::pg
