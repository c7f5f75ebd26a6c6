// SPDX-License-Identifier: GPL-3.0-or-later
// The cache of prepared statements behind Statement: parsing SQL costs more than stepping a
// statement, and every NEXT, GET and ADD would otherwise parse its text again.
#include <map>
#include <mutex>
#include <string>
#include <utility>
#include <vector>

#include "common/sql_store.h"

namespace lumarex::drivers {
namespace {

// Statements of one text on one connection; more than one when the same text is in use twice at
// once (a nested read), and at most this many are kept.
constexpr size_t kKeptPerText = 2;

struct StatementCache {
    std::mutex mutex;
    std::map<std::pair<sqlite3*, std::string>, std::vector<sqlite3_stmt*>> free;
};

StatementCache& Cache() {
    static StatementCache cache;
    return cache;
}

}  // namespace

sqlite3_stmt* TakeCachedStatement(sqlite3* db, const std::string& sql) {
    StatementCache& cache = Cache();
    std::lock_guard lock(cache.mutex);
    auto found = cache.free.find({db, sql});
    if (found == cache.free.end() || found->second.empty()) return nullptr;
    sqlite3_stmt* statement = found->second.back();
    found->second.pop_back();
    return statement;
}

void ReturnCachedStatement(sqlite3* db, std::string sql, sqlite3_stmt* statement) {
    StatementCache& cache = Cache();
    {
        std::lock_guard lock(cache.mutex);
        std::vector<sqlite3_stmt*>& kept = cache.free[{db, std::move(sql)}];
        if (kept.size() < kKeptPerText) {
            kept.push_back(statement);
            return;
        }
    }
    sqlite3_finalize(statement);
}

void ForgetCachedStatements(sqlite3* db) {
    std::vector<sqlite3_stmt*> finished;
    {
        StatementCache& cache = Cache();
        std::lock_guard lock(cache.mutex);
        auto it = cache.free.lower_bound({db, std::string()});
        while (it != cache.free.end() && it->first.first == db) {
            finished.insert(finished.end(), it->second.begin(), it->second.end());
            it = cache.free.erase(it);
        }
    }
    for (sqlite3_stmt* statement : finished) sqlite3_finalize(statement);
}

}  // namespace lumarex::drivers
