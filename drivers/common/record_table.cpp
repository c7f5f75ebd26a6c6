// SPDX-License-Identifier: GPL-3.0-or-later
// The record table of a file: its definition (the row id, one typed column per field, the change
// counter and the key images kept beside the record), the check that an opened file's table has
// the declaration's columns, and the conversion of a file of format version 1 (each record one
// BLOB) to it.
#include <string>
#include <vector>

#include "common/sql_store.h"
#include "tarvex/frame.h"

namespace lumarex::drivers {

std::string RecordTableName(const Layout& layout, const std::string& path) {
    std::string name = TableNameFor(path);
    // Never one of the driver's own tables.
    while (name == std::string(layout.prefix) + "_meta" || name == std::string(layout.prefix) + "_records")
        name += '_';
    return name;
}

std::string RecordTableSql(const Layout& layout, const std::vector<Key>& keys, const RecordColumns& columns,
                           const std::string& schema, const std::string& table) {
    std::string sql = "CREATE TABLE " + schema + "." + Quoted(table) + " (id INTEGER PRIMARY KEY";
    if (!columns.Columns().empty())
        sql += ", " + columns.Definitions();
    sql += ", changes INTEGER NOT NULL DEFAULT 0";
    if (!layout.separate_keys)
        for (const Key& key : keys)
            sql += ", " + key.column + " BLOB";
    return sql + ");";
}

int32_t CheckRecordTable(State* state) {
    const std::string table = "main." + Quoted(state->table);
    std::string own = "id, changes";
    for (const Key& key : state->keys)
        own += state->layout->separate_keys ? "" : ", " + key.column;
    Statement driver_columns(state->db, "SELECT " + own + " FROM " + table + " LIMIT 0");
    if (!driver_columns.Ok())
        return kInvalidDataFile; // the table was dropped or altered: not one of ours any more
    Statement fields(state->db, "SELECT " + state->columns->Names() + " FROM " + table + " LIMIT 0");
    if (fields.Ok())
        return 0;
    // A column the declaration names is not in the table (a field renamed, or another table).
    std::string message = std::string("table ") + state->table + ": " + sqlite3_errmsg(state->db);
    Vrn$setfileerror("COLUMNS", message.c_str());
    return kInvalidDeclaration;
}

int32_t ConvertEarlierFormat(State* state, uint32_t record_length) {
    sqlite3* db = state->Db();
    const Layout& layout = *state->layout;
    const std::string old_table = state->schema + "." + layout.prefix + "_records";
    const std::string table = RecordTableName(layout, state->path);
    int32_t code = Execute(db, RecordTableSql(layout, state->keys, *state->columns, state->schema, table));
    if (code != 0)
        return code;
    std::string insert = "INSERT INTO " + state->schema + "." + Quoted(table) + " (id, changes, " +
                         state->columns->Names() + ") VALUES (?1, ?2";
    for (size_t i = 0; i < state->columns->Columns().size(); i++)
        insert += ", ?" + std::to_string(i + 3);
    insert += ")";
    {
        // Every record as it was: its row id (the record pointer the key files and positions
        // hold), its change counter, its fields from the bytes it was stored as.
        Statement rows(db, "SELECT id, changes, data FROM " + old_table + " ORDER BY id");
        std::string record;
        while (rows.Step()) {
            record.assign(record_length, '\0');
            std::string data = rows.Blob(2);
            record.replace(0, std::min<size_t>(data.size(), record_length), data, 0,
                           std::min<size_t>(data.size(), record_length));
            Statement write(db, insert);
            write.BindInt(1, rows.Int(0));
            write.BindInt(2, rows.Int(1));
            write.BindRecord(*state->columns, 3, record.data());
            write.Step();
            if (write.Code() != SQLITE_DONE)
                return write.Error();
        }
        if (rows.Code() != SQLITE_DONE)
            return rows.Error();
    }
    code = Execute(db, "DROP TABLE " + old_table);
    if (code == 0)
        code = Execute(db, "INSERT INTO " + state->Meta() + " VALUES ('version', '" + std::to_string(kFormatVersion) +
                               "'), ('table', '" + table + "')");
    if (code == 0) {
        state->table = table;
        state->earlier_format = false;
    }
    return code;
}

} // namespace lumarex::drivers
