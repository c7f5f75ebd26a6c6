// SPDX-License-Identifier: GPL-3.0-or-later
// Creating, opening and rebuilding the drivers' files: name resolution, the metadata that ties a
// file to its declaration and character tables (and its key files to it), access modes, and the
// driver's per-file block.
#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <random>

#include "common/sql_store.h"
#include "tarvex/files.h"
#include "tarvex/frame.h"
#include "tarvex/type_descriptor.h"

namespace lumarex::drivers {

namespace {

uint64_t Fnv(uint64_t hash, const void* data, size_t size) {
    const uint8_t* bytes = static_cast<const uint8_t*>(data);
    for (size_t i = 0; i < size; i++) {
        hash ^= bytes[i];
        hash *= 1099511628211ull;
    }
    return hash;
}
template <class T> uint64_t FnvValue(uint64_t hash, T value) {
    return Fnv(hash, &value, sizeof value);
}

// The record layout as the file stores it: length, and each field's type, place and shape.
uint64_t LayoutFingerprint(const FileDecl& file) {
    uint64_t hash = FnvValue(14695981039346656037ull, file.record_length);
    const VrnTypeDesc* type = file.record_type;
    if (type == nullptr)
        return hash;
    hash = FnvValue(hash, type->size);
    for (uint32_t i = 0; i < type->field_count; i++) {
        const VrnFieldDesc& field = type->fields[i];
        hash = FnvValue(hash, field.type);
        hash = FnvValue(hash, field.offset);
        hash = FnvValue(hash, field.size);
        hash = FnvValue(hash, field.dimension == 0 ? 1u : field.dimension);
        hash = FnvValue(hash, field.places);
        hash = FnvValue(hash, field.member_count);
    }
    return hash;
}

// The keys' components and the attributes that shape their images and indexes.
uint64_t KeyFingerprint(const FileDecl& file) {
    uint64_t hash = FnvValue(14695981039346656037ull, file.key_count);
    for (uint32_t k = 0; k < file.key_count; k++) {
        const KeyDecl* key = file.keys[k];
        hash = FnvValue(hash, key->attributes & (VRN_KEY_DUP | VRN_KEY_OPT | VRN_KEY_NOCASE));
        for (uint32_t c = 0; c < key->component_count; c++)
            hash = FnvValue(hash, key->components[c]);
    }
    return hash;
}

int32_t ResolveName(const Layout& layout, const char* name, std::string* path) {
    if (name == nullptr || *name == '\0')
        return kInvalidFilename;
    char completed[VRN_MAX_PATH];
    int32_t code = _drv_ChkName(name, completed, layout.extension, 0);
    if (code != 0)
        return code;
    char host[4096];
    if (_drv_HostPath(completed, host, sizeof host) == 0)
        return kInvalidFilename;
    *path = host;
    return 0;
}

int32_t ResolveDecl(const Layout& layout, FileDecl* file, std::string* path) {
    char* name = _drv_MakeCSTRING(file->name, file->name_length);
    int32_t code = ResolveName(layout, name, path);
    std::free(name);
    return code;
}

// SQLite attaches at most ten databases to a connection, and a file with separate keys has its key
// files attached to its own: such a file can have at most ten keys (47 beyond).
constexpr uint32_t kMostSeparateKeys = 10;

int32_t CompileLayoutKeys(const Layout& layout, FileDecl* file, std::vector<Key>* keys) {
    if (layout.separate_keys && file->key_count > kMostSeparateKeys)
        return kInvalidDeclaration;
    return CompileKeys(file, keys);
}

uint64_t CollationFingerprint(const std::vector<Key>& keys) {
    return keys.empty() ? 0 : keys.front().image->Fingerprint();
}

void CloseState(State* state) {
    if (state == nullptr)
        return;
    if (state->db != nullptr) {
        ForgetCachedStatements(state->db);
        sqlite3_close_v2(state->db);
    }
    _drv_UnclaimFile(state->claim);
    delete state;
}

// The format tag of a key file: the record file's tag with " KEY" added.
std::string KeyFormatTag(const Layout& layout) {
    return std::string(layout.format_tag) + " KEY";
}

int32_t ReadMeta(sqlite3* db, const std::string& meta, const char* name, std::string* value) {
    Statement row(db, "SELECT value FROM " + meta + " WHERE name = ?1");
    if (!row.Ok())
        return row.Code() == SQLITE_ERROR ? kInvalidDataFile : row.Error();
    row.BindText(1, name);
    if (!row.Step())
        return row.Ok() ? kInvalidDataFile : row.Error();
    *value = row.Blob(0);
    return 0;
}

// A value that older files may lack: empty when it is not there.
std::string OptionalMeta(sqlite3* db, const std::string& meta, const char* name) {
    std::string value;
    return ReadMeta(db, meta, name, &value) == 0 ? value : std::string();
}

// Checks that the record file is ours and matches the declaration: 36 foreign, 47 another layout,
// 46 other character tables. `stamp` receives the change stamp (separate keys), `table` the record
// table's name; `earlier` is set for a file of format version 1, which is 47 with a message saying
// so (BUILD converts it).
int32_t CheckMeta(const Layout& layout, sqlite3* db, FileDecl* file, const std::vector<Key>& keys,
                  std::string* stamp, std::string* table, bool* earlier) {
    const std::string meta = std::string("main.") + layout.prefix + "_meta";
    std::string value;
    int32_t code = ReadMeta(db, meta, "format", &value);
    if (code != 0)
        return code;
    if (value != layout.format_tag)
        return kInvalidDataFile;
    *earlier = false;
    bool version_one = ReadMeta(db, meta, "version", &value) == kInvalidDataFile;
    if (version_one) {
        *table = std::string(layout.prefix) + "_records";
    } else {
        if (value != std::to_string(kFormatVersion))
            return kInvalidDataFile; // a version this program does not know
        code = ReadMeta(db, meta, "table", table);
        if (code != 0)
            return code;
    }
    const std::pair<const char*, std::string> expected[] = {
        {"record_length", std::to_string(file->record_length)},
        {"layout", std::to_string(LayoutFingerprint(*file))},
        {"key_count", std::to_string(file->key_count)},
        {"keys", std::to_string(KeyFingerprint(*file))},
    };
    for (const auto& [name, wanted] : expected) {
        code = ReadMeta(db, meta, name, &value);
        if (code != 0)
            return code;
        if (value != wanted)
            return kInvalidDeclaration;
    }
    if (layout.separate_keys) {
        code = ReadMeta(db, meta, "stamp", stamp);
        if (code != 0)
            return code;
    }
    if (version_one) {
        *earlier = true;
        Vrn$setfileerror("VERSION", "The file is of format version 1 (each record one BLOB): BUILD converts it to "
                                    "named columns, keeping every record");
        return kInvalidDeclaration;
    }
    code = ReadMeta(db, meta, "collation", &value);
    if (code != 0)
        return code;
    return value == std::to_string(CollationFingerprint(keys)) ? 0 : kRebuildKeys;
}

// Checks the key file attached as `schema`: any failure to read it as key k of the record file
// at `stamp` means the key must be rebuilt (46), whatever is wrong with it.
int32_t CheckKeyFile(const Layout& layout, sqlite3* db, const std::string& schema, size_t k,
                     const std::string& stamp) {
    const std::string meta = schema + "." + layout.prefix + "_meta";
    // Stamps count writes, so two tables of one declaration can stand at the same stamp: the
    // identity the record file and its key files share is what ties a key file to its table.
    const std::string record_meta = std::string("main.") + layout.prefix + "_meta";
    if (OptionalMeta(db, meta, "identity") != OptionalMeta(db, record_meta, "identity"))
        return kRebuildKeys;
    std::string value;
    if (ReadMeta(db, meta, "format", &value) != 0 || value != KeyFormatTag(layout))
        return kRebuildKeys;
    if (ReadMeta(db, meta, "key", &value) != 0 || value != std::to_string(k + 1))
        return kRebuildKeys;
    if (ReadMeta(db, meta, "stamp", &value) != 0 || value != stamp)
        return kRebuildKeys;
    Statement table(db, "SELECT 1 FROM " + schema + "." + layout.prefix + "_key LIMIT 1");
    table.Step();
    return table.Ok() ? 0 : kRebuildKeys;
}

// The index of a key: UNIQUE without DUP, partial (blank values left out) for OPT. A separate key
// file holds no row for a blank OPT value, so its index is never partial.
std::string IndexSql(const Layout& layout, const Key& key, const std::string& schema, const std::string& table = "") {
    bool unique = (key.decl->attributes & VRN_KEY_DUP) == 0;
    std::string head = std::string("CREATE ") + (unique ? "UNIQUE " : "") + "INDEX " + schema + "." + layout.prefix;
    if (layout.separate_keys)
        return head + "_key_image ON " + layout.prefix + "_key (image)";
    return head + "_" + key.column + " ON " + Quoted(table) + " (" + key.column + ")" +
           (key.opt ? " WHERE " + key.column + " IS NOT NULL" : "");
}

std::string MetaInsert(const std::string& meta, const char* name, const std::string& value) {
    return "INSERT INTO " + meta + " VALUES ('" + std::string(name) + "', '" + value + "');";
}

// A random text that ties a record file and its key files together.
std::string NewIdentity() {
    std::random_device random;
    std::string text;
    static const char kDigits[] = "0123456789abcdef";
    for (int i = 0; i < 8; i++) {
        uint32_t word = random();
        for (int j = 0; j < 4; j++, word >>= 4)
            text += kDigits[word & 0xF];
    }
    return text;
}

// A new, empty file readable by its owner only, before SQLite writes anything into it.
int32_t NewPrivateFile(const std::string& path) {
    std::error_code error;
    {
        std::ofstream create(path, std::ios::binary | std::ios::trunc);
        if (!create)
            return std::filesystem::exists(std::filesystem::path(path).parent_path()) ? kAccessDenied
                                                                                      : kPathNotFound;
    }
    std::filesystem::permissions(path,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::replace, error);
    return error ? kAccessDenied : 0;
}

// Makes a database by running `sql` on a new file beside `path`, then puts it in place of `path`
// in one rename: until then a file of that name stays as it was, and a failure leaves nothing.
int32_t MakeDatabase(const std::string& path, const std::string& sql) {
    const std::string fresh = path + "." + NewIdentity() + ".new";
    int32_t code = NewPrivateFile(fresh);
    if (code != 0)
        return code;
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(fresh.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK)
        code = SqliteError(db, rc);
    else {
        sqlite3_busy_timeout(db, kBusyMilliseconds);
        QuotesAreNames(db);
        code = Execute(db, "BEGIN IMMEDIATE;" + sql + "COMMIT;");
        if (code != 0 && sqlite3_get_autocommit(db) == 0)
            Execute(db, "ROLLBACK");
    }
    ForgetCachedStatements(db);
    if (sqlite3_close_v2(db) != SQLITE_OK && code == 0)
        code = DriverFailure("the new file could not be closed");
    std::error_code error;
    if (code == 0) {
        std::filesystem::rename(fresh, path, error);
        if (error)
            code = error == std::errc::permission_denied ? kAccessDenied : DriverFailure(error.message().c_str());
    }
    if (code != 0) {
        std::filesystem::remove(fresh, error);
        std::filesystem::remove(fresh + "-journal", error);
    }
    return code;
}

// Whether the database at `path` may be replaced. A file that another connection has locked or is
// writing to gives 32; a read-only one 5. A journal that a writer which died left behind is rolled
// back into the old file by taking its lock, so no journal is ever removed while it can still be
// needed; one that stays after that belongs to no transaction, and goes so that the new file
// cannot take it for its own. A foreign or damaged file may be replaced.
int32_t CheckReplaceable(const std::string& path) {
    std::error_code error;
    const std::string journal = path + "-journal";
    if (!std::filesystem::exists(path, error)) {
        std::filesystem::remove(journal, error);
        return 0;
    }
    if (!std::filesystem::is_regular_file(path, error))
        return kAccessDenied;
    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc == SQLITE_OK) {
        sqlite3_busy_timeout(db, 0);
        rc = sqlite3_exec(db, "BEGIN EXCLUSIVE; COMMIT", nullptr, nullptr, nullptr);
        if (rc == SQLITE_OK && sqlite3_db_readonly(db, "main") == 1)
            rc = SQLITE_READONLY;
        if (sqlite3_get_autocommit(db) == 0)
            sqlite3_exec(db, "ROLLBACK", nullptr, nullptr, nullptr);
    }
    sqlite3_close_v2(db);
    switch (rc & 0xFF) {
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return kAlreadyLocked;
    case SQLITE_READONLY:
    case SQLITE_PERM:
    case SQLITE_CANTOPEN:
        return kAccessDenied;
    default:
        break;
    }
    std::filesystem::remove(journal, error);
    return 0;
}

// The SQL that fills a new key file for key k at change stamp `stamp`.
std::string KeyFileSql(const Layout& layout, const Key& key, size_t k, const std::string& stamp) {
    const std::string meta = std::string(layout.prefix) + "_meta";
    return "CREATE TABLE " + meta + " (name TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;" +
           "CREATE TABLE " + layout.prefix + "_key (id INTEGER PRIMARY KEY, image BLOB NOT NULL);" +
           IndexSql(layout, key, "main") + ";" + MetaInsert(meta, "format", KeyFormatTag(layout)) +
           MetaInsert(meta, "key", std::to_string(k + 1)) + MetaInsert(meta, "stamp", stamp);
}

// Attaches the key files of the state's record file to its own connection as k1, k2, ...
int32_t AttachKeyFiles(State* state) {
    for (size_t k = 0; k < state->key_paths.size(); k++) {
        std::error_code error;
        if (!std::filesystem::is_regular_file(state->key_paths[k], error))
            return kRebuildKeys;
        Statement attach(state->db, "ATTACH DATABASE ?1 AS " + State::OwnKeySchema(k));
        attach.BindText(1, state->key_paths[k]);
        attach.Step();
        if (attach.Code() != SQLITE_DONE)
            return attach.Error();
        state->key_schemas.push_back(State::OwnKeySchema(k));
    }
    return 0;
}

// Recomputes the images of the keys from `first` to `last` of the state's file as it is reached
// now: their indexes go, every record gets its new images, the indexes come back (a unique key
// whose new images collide gives 40). The caller holds it in one savepoint.
int32_t RebuildImages(State* state, size_t first, size_t last, uint32_t record_length) {
    sqlite3* db = state->Db();
    const Layout& layout = *state->layout;
    const std::vector<Key>& keys = state->keys;
    const std::string table = state->Table();
    for (size_t k = first; k < last; k++) {
        std::string schema = layout.separate_keys ? state->key_schemas[k] : state->schema;
        std::string index = layout.separate_keys ? std::string(layout.prefix) + "_key_image"
                                                 : std::string(layout.prefix) + "_" + keys[k].column;
        int32_t code = Execute(db, "DROP INDEX IF EXISTS " + schema + "." + index);
        if (code == 0 && layout.separate_keys)
            code = Execute(db, "DELETE FROM " + state->KeyTable(k));
        if (code != 0)
            return code;
    }
    std::string update = "UPDATE " + table + " SET ";
    for (size_t k = first; k < last; k++)
        update += (k > first ? ", " : "") + keys[k].column + " = ?" + std::to_string(k - first + 2);
    update += " WHERE id = ?1";
    std::vector<char> record(record_length);
    int64_t after = INT64_MIN;
    for (;;) {
        // In batches in record order, so the reading never walks rows it is changing.
        std::vector<std::pair<int64_t, std::string>> rows;
        {
            Statement batch(db, "SELECT id, " + state->columns->Names() + " FROM " + table +
                                    " WHERE id > ?1 ORDER BY id LIMIT 500");
            batch.BindInt(1, after);
            while (batch.Step()) {
                std::string data(record_length, '\0'), problem;
                if (!batch.ReadRecord(*state->columns, 1, data.data(), &problem)) {
                    // A record another tool left unfit for its fields: its keys cannot be made.
                    std::string message = "Record " + std::to_string(batch.Int(0)) + " of table " + state->table +
                                          ": " + problem;
                    Vrn$setfileerror("FIELD", message.c_str());
                    return kFileSystemError;
                }
                rows.emplace_back(batch.Int(0), std::move(data));
            }
            if (batch.Code() != SQLITE_DONE)
                return batch.Error();
        }
        if (rows.empty())
            break;
        for (const auto& [id, data] : rows) {
            std::fill(record.begin(), record.end(), 0);
            std::memcpy(record.data(), data.data(), std::min(data.size(), record.size()));
            if (layout.separate_keys) {
                for (size_t k = first; k < last; k++) {
                    if (keys[k].opt && keys[k].image->IsBlank(record.data()))
                        continue;
                    Statement insert(db, "INSERT INTO " + state->KeyTable(k) + " (id, image) VALUES (?1, ?2)");
                    insert.BindInt(1, id);
                    insert.BindBlob(2, keys[k].image->Build(record.data()));
                    insert.Step();
                    if (insert.Code() != SQLITE_DONE)
                        return insert.Error();
                }
            } else {
                Statement statement(db, update);
                statement.BindInt(1, id);
                for (size_t k = first; k < last; k++) {
                    int index = int(k - first + 2);
                    if (keys[k].opt && keys[k].image->IsBlank(record.data()))
                        statement.BindNull(index);
                    else
                        statement.BindBlob(index, keys[k].image->Build(record.data()));
                }
                statement.Step();
                if (statement.Code() != SQLITE_DONE)
                    return statement.Error();
            }
            after = id;
        }
    }
    for (size_t k = first; k < last; k++) {
        std::string schema = layout.separate_keys ? state->key_schemas[k] : state->schema;
        int32_t code = Execute(db, IndexSql(layout, keys[k], schema, state->table));
        if (code != 0)
            return code;
    }
    return 0;
}

} // namespace

// A SQLite failure as the runtime's error code; other failures are 90 with SQLite's own text.
int32_t SqliteError(sqlite3* db, int rc) {
    switch (rc & 0xFF) {
    case SQLITE_NOTADB:
    case SQLITE_CORRUPT:
        return kInvalidDataFile;
    case SQLITE_CONSTRAINT:
        return kDuplicateKey;
    case SQLITE_READONLY:
    case SQLITE_PERM:
        return kAccessDenied;
    case SQLITE_BUSY:
    case SQLITE_LOCKED:
        return kAlreadyLocked;
    case SQLITE_CANTOPEN: // the file exists (OPEN looked first): it may not be opened
        return kAccessDenied;
    default: {
        std::string code = std::to_string(rc);
        Vrn$setfileerror(code.c_str(), db != nullptr ? sqlite3_errmsg(db) : sqlite3_errstr(rc));
        return kFileSystemError;
    }
    }
}

int32_t DriverFailure(const char* message) {
    Vrn$setfileerror("0", message);
    return kFileSystemError;
}

void QuotesAreNames(sqlite3* db) {
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DML, 0, nullptr);
    sqlite3_db_config(db, SQLITE_DBCONFIG_DQS_DDL, 0, nullptr);
}

int32_t Execute(sqlite3* db, const std::string& sql) {
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    return rc == SQLITE_OK ? 0 : SqliteError(db, rc);
}

std::string TouchSql(const State& state) {
    std::string sql = "SELECT 0";
    for (const std::string& schema : state.Schemas())
        sql += " + (SELECT count(*) FROM " + schema + "." + state.layout->prefix + "_meta)";
    return sql;
}

int32_t RaiseStamp(State* state) {
    if (!state->layout->separate_keys)
        return 0;
    for (const std::string& schema : state->Schemas()) {
        Statement raise(state->Db(), "UPDATE " + schema + "." + state->layout->prefix +
                                         "_meta SET value = CAST(value AS INTEGER) + 1 WHERE name = 'stamp'");
        raise.Step();
        if (raise.Code() != SQLITE_DONE)
            return raise.Error();
    }
    return 0;
}

std::string KeyPath(const std::string& path, size_t k) {
    char extension[16];
    std::snprintf(extension, sizeof extension, ".K%02u", unsigned(k + 1));
    return std::filesystem::path(path).replace_extension(extension).string();
}

int32_t Create(const Layout& layout, FileDecl* file) {
    std::string path;
    int32_t code = ResolveDecl(layout, file, &path);
    if (code != 0)
        return code;
    std::vector<Key> keys;
    code = CompileLayoutKeys(layout, file, &keys);
    if (code != 0)
        return code;
    auto columns = RecordColumns::Map(*file->record_type, file->record_length);
    auto memos = columns ? MemoColumns::Map(*file, *columns) : nullptr;
    if (!memos)
        return kInvalidDeclaration;

    const std::string meta = std::string(layout.prefix) + "_meta";
    const std::string table = RecordTableName(layout, path);
    std::string sql = "CREATE TABLE " + meta + " (name TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;" +
                      RecordTableSql(layout, keys, *columns, *memos, *file->record_type, "main", table);
    if (!layout.separate_keys)
        for (const Key& key : keys)
            sql += IndexSql(layout, key, "main", table) + ";";
    sql += MetaInsert(meta, "format", layout.format_tag);
    sql += MetaInsert(meta, "version", std::to_string(kFormatVersion));
    sql += MetaInsert(meta, "table", table);
    sql += MetaInsert(meta, "record_length", std::to_string(file->record_length));
    sql += MetaInsert(meta, "layout", std::to_string(LayoutFingerprint(*file)));
    sql += MetaInsert(meta, "key_count", std::to_string(file->key_count));
    sql += MetaInsert(meta, "keys", std::to_string(KeyFingerprint(*file)));
    sql += MetaInsert(meta, "collation", std::to_string(CollationFingerprint(keys)));
    const std::string identity = NewIdentity();
    if (layout.separate_keys) {
        sql += MetaInsert(meta, "stamp", "0");
        sql += MetaInsert(meta, "identity", identity);
    }
    // A file that is open anywhere keeps its claim, so the exclusive claim fails at once (32); held
    // until the new files are in place, it keeps every OPEN waiting until then.
    intptr_t claim = 0;
    std::error_code error;
    if (std::filesystem::is_regular_file(path, error)) {
        claim = _drv_ClaimFile(path.c_str(), 1, 0, &code);
        if (claim == 0 && code != kFileNotFound)
            return code;
        code = 0;
    }
    code = CheckReplaceable(path);
    for (size_t k = 0; code == 0 && layout.separate_keys && k < keys.size(); k++)
        code = CheckReplaceable(KeyPath(path, k));
    if (code == 0)
        code = MakeDatabase(path, sql);
    // The key files come after the record file: until the last is made, the file opens with 46.
    for (size_t k = 0; code == 0 && layout.separate_keys && k < keys.size(); k++) {
        std::string key_sql = KeyFileSql(layout, keys[k], k, "0") +
                              MetaInsert(std::string(layout.prefix) + "_meta", "identity", identity);
        code = MakeDatabase(KeyPath(path, k), key_sql);
    }
    _drv_UnclaimFile(claim);
    return code;
}

namespace {

// Resolves the declaration's file and connects to it with `flags`, its keys compiled and its
// metadata checked. `out` receives the state once the connection is open, also when the check
// then fails (the code says how), so that BUILD can take a file of other character tables.
int32_t Connect(const Layout& layout, FileDecl* file, int flags, std::unique_ptr<State>* out, std::string* stamp) {
    std::string path;
    int32_t code = ResolveDecl(layout, file, &path);
    if (code != 0)
        return code;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return std::filesystem::is_directory(path, error) ? kAccessDenied : kFileNotFound;
    auto state = std::make_unique<State>();
    state->layout = &layout;
    state->path = path;
    code = CompileLayoutKeys(layout, file, &state->keys);
    if (code != 0)
        return code;
    // The claim says "in use" for as long as the file is open, so no CREATE replaces it meanwhile.
    state->claim = _drv_ClaimFile(path.c_str(), 0, kBusyMilliseconds, &code);
    if (state->claim == 0)
        return code;
    int rc = sqlite3_open_v2(path.c_str(), &state->db, flags, nullptr);
    if (rc != SQLITE_OK) {
        code = SqliteError(state->db, rc);
        CloseState(state.release());
        return code;
    }
    sqlite3_busy_timeout(state->db, kBusyMilliseconds);
    QuotesAreNames(state->db);
    sqlite3_exec(state->db, kMemoryMapPragma, nullptr, nullptr, nullptr); // without it: slower, not wrong
    state->columns = RecordColumns::Map(*file->record_type, file->record_length);
    if (state->columns)
        state->memos = MemoColumns::Map(*file, *state->columns);
    if (state->memos) {
        state->memo.Reset(*state->memos);
    } else {
        CloseState(state.release());
        return kInvalidDeclaration;
    }
    code = CheckMeta(layout, state->db, file, state->keys, stamp, &state->table, &state->earlier_format);
    if (code == 0 || code == kRebuildKeys) {
        // The tables the operations use must be there with their columns: a file whose record
        // table was dropped or altered is not one of ours any more (36); one without a column
        // the declaration names was made for another declaration (47).
        int32_t check = CheckRecordTable(state.get());
        if (check != 0)
            code = check;
    }
    *out = std::move(state);
    return code;
}

} // namespace

int32_t Open(const Layout& layout, FileDecl* file, int32_t access_mode) {
    if (access_mode == 0)
        access_mode = VRN_ACCESS_DEFAULT;
    bool writable = (access_mode & 0x0F) != 0;
    int deny = access_mode & 0xF0;
    std::unique_ptr<State> state;
    std::string stamp;
    int32_t code = Connect(layout, file, writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY, &state, &stamp);
    if (!state)
        return code;
    const std::string& path = state->path;
    if (code == 0 && layout.separate_keys) {
        for (size_t k = 0; k < state->keys.size(); k++)
            state->key_paths.push_back(KeyPath(path, k));
        code = AttachKeyFiles(state.get());
        if (code == kInvalidDataFile)
            code = kRebuildKeys;
        for (size_t k = 0; code == 0 && k < state->keys.size(); k++)
            code = CheckKeyFile(layout, state->db, state->key_schemas[k], k, stamp);
    }
    // SQLite opens a file it may not write read-only without a word: write access is refused here
    // rather than at the first write.
    for (size_t i = 0; code == 0 && writable && i < state->Schemas().size(); i++) {
        if (sqlite3_db_readonly(state->db, state->Schemas()[i].c_str()) == 1)
            code = kAccessDenied;
    }
    if (code == 0 && deny == 0x10) {
        // Deny-all holds the file's lock for as long as the file is open: an exclusive lock with
        // write access, a shared lock (no other writer) without. Deny-write and deny-read are not
        // held: a lock that keeps others out would also keep this connection from committing.
        code = Execute(state->db, "PRAGMA locking_mode = EXCLUSIVE");
        if (code == 0)
            code = Execute(state->db, writable ? "BEGIN EXCLUSIVE; COMMIT" : TouchSql(*state));
    }
    if (code != 0) {
        CloseState(state.release());
        return code;
    }
    state->record_length = file->record_length;
    state->access_mode = access_mode;
    state->deny_all = deny == 0x10;

    SqlFcb* fcb = static_cast<SqlFcb*>(std::calloc(1, sizeof(SqlFcb)));
    if (fcb == nullptr) {
        CloseState(state.release());
        return 8;
    }
    fcb->base.name = _drv_MakeCSTRING(file->name, file->name_length);
    fcb->base.owner = _drv_MakeCSTRING(file->owner, file->owner_length);
    fcb->base.options = _drv_MakeCSTRING(file->options, file->options_length);
    fcb->base.memo_count = file->memo_count;
    fcb->base.key_count = file->key_count;
    fcb->base.record_type = file->record_type;
    fcb->base.file = file;
    fcb->base.driver_name = layout.driver_name;
    fcb->base.state = VRN_STATE_OPEN;
    if (writable)
        fcb->base.state |= VRN_STATE_WRITABLE;
    if (deny == 0x10)
        fcb->base.state |= VRN_STATE_EXCLUSIVE;
    fcb->state = state.release();
    file->driver_instance = &fcb->base;
    // Able to log, roll back and commit; the LOCK that LOGOUT sends first carries its seconds.
    Vrn$activate_drv(file, access_mode, 1, 1, 1, 1, 0);
    return 0;
}

int32_t Close(FileDecl* file, SqlFcb* fcb) {
    Vrn$deactivate_drv(file);
    int32_t code = Flush(fcb->state);
    if (code != 0 && sqlite3_get_autocommit(fcb->state->db) == 0)
        Execute(fcb->state->db, "ROLLBACK");
    CloseState(fcb->state);
    std::free(fcb->base.name);
    std::free(fcb->base.owner);
    std::free(fcb->base.options);
    std::free(fcb);
    file->driver_instance = nullptr;
    return code;
}

namespace {

// Opens a closed file for a rebuild alone: exclusively, whatever character tables its images
// follow (the very case OPEN refuses with 46), with every key file there: one that is missing or
// cannot be read as a key file of this table is made anew (empty, to be filled by the rebuild).
int32_t OpenForRebuild(const Layout& layout, FileDecl* file, std::unique_ptr<State>* out) {
    std::unique_ptr<State> state;
    std::string stamp;
    int32_t code = Connect(layout, file, SQLITE_OPEN_READWRITE, &state, &stamp);
    if (!state)
        return code;
    const std::string& path = state->path;
    std::error_code error;
    if (code == kRebuildKeys ||
        (code == kInvalidDeclaration && (state->earlier_format || !state->missing_memos.empty())))
        code = 0; // the rebuild recomputes the images; a file of version 1 is converted first, one
                  // without its memo columns gets them first
    for (size_t k = 0; code == 0 && layout.separate_keys && k < state->keys.size(); k++) {
        state->key_paths.push_back(KeyPath(path, k));
        const std::string& key_path = state->key_paths.back();
        std::string schema = State::OwnKeySchema(k);
        bool usable = std::filesystem::is_regular_file(key_path, error);
        if (usable) {
            Statement attach(state->db, "ATTACH DATABASE ?1 AS " + schema);
            attach.BindText(1, key_path);
            attach.Step();
            usable = attach.Code() == SQLITE_DONE;
            if (usable) {
                int32_t check = CheckKeyFile(layout, state->db, schema, k, stamp);
                // A key file of another stamp is rebuilt where it is; anything else is made anew.
                std::string value;
                usable = check == 0 || (ReadMeta(state->db, schema + "." + layout.prefix + "_meta", "key", &value) == 0 &&
                                        value == std::to_string(k + 1));
                if (!usable)
                    Execute(state->db, "DETACH DATABASE " + schema);
            }
        }
        if (!usable) {
            code = MakeDatabase(key_path, KeyFileSql(layout, state->keys[k], k, stamp));
            if (code != 0)
                break;
            Statement attach(state->db, "ATTACH DATABASE ?1 AS " + schema);
            attach.BindText(1, key_path);
            attach.Step();
            if (attach.Code() != SQLITE_DONE)
                code = attach.Error();
        }
        state->key_schemas.push_back(schema);
    }
    if (code == 0)
        code = Execute(state->db, "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE; COMMIT");
    if (code != 0) {
        CloseState(state.release());
        return code;
    }
    *out = std::move(state);
    return 0;
}

} // namespace

int32_t Rebuild(const Layout& layout, FileDecl* file, State* state, int only) {
    std::unique_ptr<State> closed;
    if (state == nullptr) {
        int32_t code = OpenForRebuild(layout, file, &closed);
        if (code != 0)
            return code;
        state = closed.get();
    }
    sqlite3* db = state->Db();
    const std::string prefix = layout.prefix;
    int32_t code = Execute(db, "SAVEPOINT sql_build");
    if (code == 0) {
        if (state->earlier_format) {
            code = ConvertEarlierFormat(state, *file);
            only = -1; // every key's images, into the new table
        }
        if (code == 0 && !state->missing_memos.empty()) {
            code = AddMissingMemos(state);
            only = -1; // the file may also follow other character tables: every key's images
        }
        size_t first = only < 0 ? 0 : size_t(only);
        size_t last = only < 0 ? state->keys.size() : size_t(only) + 1;
        if (code == 0)
            code = RebuildImages(state, first, last, file->record_length);
        if (code == 0 && only < 0)
            code = Execute(db, "UPDATE " + state->Meta() + " SET value = '" +
                                   std::to_string(CollationFingerprint(state->keys)) + "' WHERE name = 'collation'");
        // A file from before identities gets one when all its keys are rebuilt.
        if (code == 0 && only < 0 && layout.separate_keys)
            code = Execute(db, "INSERT OR IGNORE INTO " + state->Meta() + " VALUES ('identity', '" + NewIdentity() + "')");
        for (size_t k = first; code == 0 && layout.separate_keys && k < last; k++) {
            const std::string key_meta = state->key_schemas[k] + "." + prefix + "_meta";
            code = Execute(db, "DELETE FROM " + key_meta + " WHERE name = 'identity'; INSERT INTO " + key_meta +
                                   " SELECT name, value FROM " + state->Meta() + " WHERE name = 'identity'");
        }
        // Keys are mended by the rebuild; damage elsewhere in the record file is not, and is
        // reported rather than passed over.
        if (code == 0) {
            Statement check(db, "PRAGMA " + state->schema + ".quick_check(1)");
            std::string verdict = check.Step() ? check.Blob(0) : std::string();
            if (!check.Ok())
                code = check.Error();
            else if (verdict != "ok")
                code = kInvalidDataFile;
        }
        // The rebuilt key files are in step with the record file again.
        for (size_t k = first; code == 0 && layout.separate_keys && k < last; k++)
            code = Execute(db, "UPDATE " + state->key_schemas[k] + "." + prefix +
                                   "_meta SET value = (SELECT value FROM " + state->Meta() +
                                   " WHERE name = 'stamp') WHERE name = 'stamp'");
        if (code != 0)
            Execute(db, "ROLLBACK TO sql_build");
        int32_t released = Execute(db, "RELEASE sql_build");
        if (code == 0)
            code = released;
    }
    state->DropAhead();
    if (closed)
        CloseState(closed.release());
    return code;
}

} // namespace lumarex::drivers
