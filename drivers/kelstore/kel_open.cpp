// SPDX-License-Identifier: GPL-3.0-or-later
// Creating and opening KELSTORE files: name resolution, the metadata that ties a file to its
// declaration and character tables, access modes, and the driver's per-file block.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>

#include "kelstore/kel_store.h"
#include "tarvex/files.h"
#include "tarvex/frame.h"
#include "tarvex/type_descriptor.h"

namespace lumarex::kelstore {

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

int32_t ResolveName(const char* name, std::string* path) {
    if (name == nullptr || *name == '\0')
        return kInvalidFilename;
    char completed[VRN_MAX_PATH];
    int32_t code = _drv_ChkName(name, completed, "kel", 0);
    if (code != 0)
        return code;
    char host[4096];
    if (_drv_HostPath(completed, host, sizeof host) == 0)
        return kInvalidFilename;
    *path = host;
    return 0;
}

// Compiles every key of the declaration; 47 when one does not fit the record.
int32_t CompileKeys(FileDecl* file, std::vector<Key>* keys) {
    if (file->record_type == nullptr || file->record_length < file->record_type->size)
        return kInvalidDeclaration;
    if (file->key_count > 0 && file->keys == nullptr)
        return kInvalidDeclaration;
    for (uint32_t k = 0; k < file->key_count; k++) {
        KeyDecl* decl = file->keys[k];
        if (decl == nullptr)
            return kInvalidDeclaration;
        Key key;
        key.decl = decl;
        key.image = KeyImage::Compile(*file->record_type, *decl);
        if (!key.image)
            return kInvalidDeclaration;
        key.opt = (decl->attributes & VRN_KEY_OPT) != 0;
        key.column = "k" + std::to_string(k + 1);
        keys->push_back(std::move(key));
    }
    return 0;
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
    delete state;
}

int32_t ReadMeta(sqlite3* db, const char* name, std::string* value) {
    Statement row(db, "SELECT value FROM kel_meta WHERE name = ?1");
    if (!row.Ok())
        return row.Code() == SQLITE_ERROR ? kInvalidDataFile : row.Error();
    row.BindText(1, name);
    if (!row.Step())
        return row.Ok() ? kInvalidDataFile : row.Error();
    *value = row.Blob(0);
    return 0;
}

// Checks that the file is ours and matches the declaration: 36 foreign, 47 another layout, 46
// other character tables.
int32_t CheckMeta(sqlite3* db, FileDecl* file, const std::vector<Key>& keys) {
    std::string value;
    int32_t code = ReadMeta(db, "format", &value);
    if (code != 0)
        return code;
    if (value != kFormatTag)
        return kInvalidDataFile;
    const std::pair<const char*, std::string> expected[] = {
        {"record_length", std::to_string(file->record_length)},
        {"layout", std::to_string(LayoutFingerprint(*file))},
        {"key_count", std::to_string(file->key_count)},
        {"keys", std::to_string(KeyFingerprint(*file))},
    };
    for (const auto& [name, wanted] : expected) {
        code = ReadMeta(db, name, &value);
        if (code != 0)
            return code;
        if (value != wanted)
            return kInvalidDeclaration;
    }
    code = ReadMeta(db, "collation", &value);
    if (code != 0)
        return code;
    return value == std::to_string(CollationFingerprint(keys)) ? 0 : kRebuildKeys;
}

// The index of a key: UNIQUE without DUP, partial (blank values left out) for OPT.
std::string IndexSql(const Key& key, const std::string& schema) {
    bool unique = (key.decl->attributes & VRN_KEY_DUP) == 0;
    return std::string("CREATE ") + (unique ? "UNIQUE " : "") + "INDEX " + schema + ".kel_" + key.column +
           " ON kel_records (" + key.column + ")" + (key.opt ? " WHERE " + key.column + " IS NOT NULL" : "");
}

// Recomputes the images of the keys from `first` to `last` on the connection's file under
// `schema`: their indexes go, every record gets its new images, the indexes come back (a unique
// key whose new images collide gives 40). The caller holds it in one savepoint.
int32_t RebuildImages(sqlite3* db, const std::string& schema, const std::vector<Key>& keys, size_t first,
                      size_t last, uint32_t record_length) {
    const std::string table = schema + ".kel_records";
    for (size_t k = first; k < last; k++) {
        int32_t code = Execute(db, "DROP INDEX IF EXISTS " + schema + ".kel_" + keys[k].column);
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
            Statement batch(db, "SELECT id, data FROM " + table + " WHERE id > ?1 ORDER BY id LIMIT 500");
            batch.BindInt(1, after);
            while (batch.Step())
                rows.emplace_back(batch.Int(0), batch.Blob(1));
            if (batch.Code() != SQLITE_DONE)
                return batch.Error();
        }
        if (rows.empty())
            break;
        for (const auto& [id, data] : rows) {
            std::fill(record.begin(), record.end(), 0);
            std::memcpy(record.data(), data.data(), std::min(data.size(), record.size()));
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
            after = id;
        }
    }
    for (size_t k = first; k < last; k++) {
        int32_t code = Execute(db, IndexSql(keys[k], schema));
        if (code != 0)
            return code;
    }
    return 0;
}

} // namespace

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

// One prepared statement, finalised when it goes out of scope.
int32_t Execute(sqlite3* db, const std::string& sql) {
    int rc = sqlite3_exec(db, sql.c_str(), nullptr, nullptr, nullptr);
    return rc == SQLITE_OK ? 0 : SqliteError(db, rc);
}

// The file name of the declaration completed with the default extension, and its Linux path.
int32_t Create(FileDecl* file) {
    char* name = _drv_MakeCSTRING(file->name, file->name_length);
    std::string path;
    int32_t code = ResolveName(name, &path);
    std::free(name);
    if (code != 0)
        return code;
    std::vector<Key> keys;
    code = CompileKeys(file, &keys);
    if (code != 0)
        return code;

    // A new, empty file readable by its owner only, before SQLite writes anything into it.
    std::error_code error;
    std::filesystem::remove(path, error);
    std::filesystem::remove(path + "-journal", error);
    {
        std::ofstream create(path, std::ios::binary | std::ios::trunc);
        if (!create)
            return std::filesystem::exists(std::filesystem::path(path).parent_path()) ? kAccessDenied
                                                                                      : kPathNotFound;
    }
    std::filesystem::permissions(path,
                                 std::filesystem::perms::owner_read | std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::replace, error);
    if (error)
        return kAccessDenied;

    sqlite3* db = nullptr;
    int rc = sqlite3_open_v2(path.c_str(), &db, SQLITE_OPEN_READWRITE, nullptr);
    if (rc != SQLITE_OK) {
        code = SqliteError(db, rc);
        ForgetCachedStatements(db);
        sqlite3_close_v2(db);
        return code;
    }
    sqlite3_busy_timeout(db, kBusyMilliseconds);
    std::string sql = "BEGIN IMMEDIATE;"
                      "CREATE TABLE kel_meta (name TEXT PRIMARY KEY, value TEXT NOT NULL) WITHOUT ROWID;"
                      "CREATE TABLE kel_records (id INTEGER PRIMARY KEY, data BLOB NOT NULL, "
                      "changes INTEGER NOT NULL DEFAULT 0";
    for (const Key& key : keys)
        sql += ", " + key.column + " BLOB";
    sql += ");";
    for (const Key& key : keys)
        sql += IndexSql(key, "main") + ";";
    sql += "INSERT INTO kel_meta VALUES ('format', '" + std::string(kFormatTag) + "');";
    sql += "INSERT INTO kel_meta VALUES ('record_length', '" + std::to_string(file->record_length) + "');";
    sql += "INSERT INTO kel_meta VALUES ('layout', '" + std::to_string(LayoutFingerprint(*file)) + "');";
    sql += "INSERT INTO kel_meta VALUES ('key_count', '" + std::to_string(file->key_count) + "');";
    sql += "INSERT INTO kel_meta VALUES ('keys', '" + std::to_string(KeyFingerprint(*file)) + "');";
    sql += "INSERT INTO kel_meta VALUES ('collation', '" + std::to_string(CollationFingerprint(keys)) + "');";
    sql += "COMMIT;";
    code = Execute(db, sql);
    ForgetCachedStatements(db);
    sqlite3_close_v2(db);
    if (code != 0)
        std::filesystem::remove(path, error);
    return code;
}

int32_t Open(FileDecl* file, int32_t access_mode) {
    char* name = _drv_MakeCSTRING(file->name, file->name_length);
    std::string path;
    int32_t code = ResolveName(name, &path);
    std::free(name);
    if (code != 0)
        return code;
    std::error_code error;
    if (!std::filesystem::is_regular_file(path, error))
        return kFileNotFound;

    auto state = std::make_unique<State>();
    code = CompileKeys(file, &state->keys);
    if (code != 0)
        return code;
    if (access_mode == 0)
        access_mode = VRN_ACCESS_DEFAULT;
    bool writable = (access_mode & 0x0F) != 0;
    int deny = access_mode & 0xF0;
    int rc = sqlite3_open_v2(path.c_str(), &state->db,
                             writable ? SQLITE_OPEN_READWRITE : SQLITE_OPEN_READONLY, nullptr);
    if (rc != SQLITE_OK) {
        code = SqliteError(state->db, rc);
        CloseState(state.release());
        return code;
    }
    sqlite3_busy_timeout(state->db, kBusyMilliseconds);
    code = CheckMeta(state->db, file, state->keys);
    if (code == 0 && deny == 0x10) {
        // Deny-all holds the file's lock for as long as the file is open: an exclusive lock with
        // write access, a shared lock (no other writer) without. Deny-write and deny-read are not
        // held: a lock that keeps others out would also keep this connection from committing.
        code = Execute(state->db, "PRAGMA locking_mode = EXCLUSIVE");
        if (code == 0)
            code = Execute(state->db, writable ? "BEGIN EXCLUSIVE; COMMIT" : "SELECT count(*) FROM kel_meta");
    }
    if (code != 0) {
        CloseState(state.release());
        return code;
    }
    state->path = path;
    state->record_length = file->record_length;
    state->access_mode = access_mode;
    state->deny_all = deny == 0x10;

    KelFcb* fcb = static_cast<KelFcb*>(std::calloc(1, sizeof(KelFcb)));
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
    fcb->base.driver_name = "KELSTORE";
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

void Close(FileDecl* file, KelFcb* fcb) {
    Vrn$deactivate_drv(file);
    Flush(fcb->state);
    CloseState(fcb->state);
    std::free(fcb->base.name);
    std::free(fcb->base.owner);
    std::free(fcb->base.options);
    std::free(fcb);
    file->driver_instance = nullptr;
}

int32_t Rebuild(FileDecl* file, State* state, int only) {
    std::unique_ptr<State> closed;
    if (state == nullptr) {
        // A closed file is opened for the rebuild alone: exclusively, and whatever character
        // tables its images follow (the very case OPEN refuses with 46).
        char* name = _drv_MakeCSTRING(file->name, file->name_length);
        std::string path;
        int32_t code = ResolveName(name, &path);
        std::free(name);
        if (code != 0)
            return code;
        std::error_code error;
        if (!std::filesystem::is_regular_file(path, error))
            return kFileNotFound;
        closed = std::make_unique<State>();
        code = CompileKeys(file, &closed->keys);
        if (code != 0)
            return code;
        int rc = sqlite3_open_v2(path.c_str(), &closed->db, SQLITE_OPEN_READWRITE, nullptr);
        if (rc != SQLITE_OK) {
            code = SqliteError(closed->db, rc);
            CloseState(closed.release());
            return code;
        }
        sqlite3_busy_timeout(closed->db, kBusyMilliseconds);
        code = CheckMeta(closed->db, file, closed->keys);
        if (code == 0 || code == kRebuildKeys)
            code = Execute(closed->db, "PRAGMA locking_mode = EXCLUSIVE; BEGIN EXCLUSIVE; COMMIT");
        if (code != 0) {
            CloseState(closed.release());
            return code;
        }
        closed->path = path;
        state = closed.get();
    }
    sqlite3* db = state->Db();
    int32_t code = Execute(db, "SAVEPOINT kel_build");
    if (code == 0) {
        size_t first = only < 0 ? 0 : size_t(only);
        size_t last = only < 0 ? state->keys.size() : size_t(only) + 1;
        code = RebuildImages(db, state->schema, state->keys, first, last, file->record_length);
        if (code == 0 && only < 0)
            code = Execute(db, "UPDATE " + state->schema + ".kel_meta SET value = '" +
                                   std::to_string(CollationFingerprint(state->keys)) +
                                   "' WHERE name = 'collation'");
        if (code != 0)
            Execute(db, "ROLLBACK TO kel_build");
        int32_t released = Execute(db, "RELEASE kel_build");
        if (code == 0)
            code = released;
    }
    if (closed)
        CloseState(closed.release());
    return code;
}

} // namespace lumarex::kelstore
