// SPDX-License-Identifier: GPL-3.0-or-later
// The record table of a file: its definition (the row id, one typed column per field, the change
// counter and the key images kept beside the record) with the triggers that notice changes made
// by other tools, the check that an opened file's table has the declaration's columns, and the
// conversion of a file of format version 1 (each record one BLOB) to it.
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

namespace {

// The columns of the fields the keys are made of (a GROUP component: its members').
std::string KeyFieldColumns(const std::vector<Key>& keys, const RecordColumns& columns, const VrnTypeDesc& type) {
    std::vector<bool> in_key(type.field_count, false);
    for (const Key& key : keys)
        for (uint32_t c = 0; c < key.decl->component_count; c++) {
            int32_t component = key.decl->components[c];
            uint32_t index = uint32_t(component < 0 ? -component : component) - 1;
            if (index >= type.field_count)
                continue;
            uint32_t last = type.fields[index].type == VRN_TYPE_GROUP ? index + type.fields[index].member_count : index;
            for (uint32_t i = index; i <= last && i < type.field_count; i++)
                in_key[i] = true;
        }
    std::string names;
    for (const Column& column : columns.Columns())
        if (column.field < in_key.size() && in_key[column.field])
            names += (names.empty() ? "" : ", ") + Quoted(column.name);
    return names;
}

} // namespace

namespace {

// The trigger that counts a row changed from outside as changed (see RecordTableSql below); empty
// for a table without fields or memos.
std::string UpdateTriggerSql(const RecordColumns& columns, const MemoColumns& memos, const std::string& schema,
                             const std::string& table) {
    if (columns.Columns().empty() && memos.Count() == 0)
        return "";
    const std::string names = (columns.Names() + memos.Names()).substr(columns.Columns().empty() ? 2 : 0);
    return "CREATE TRIGGER " + schema + "." + Quoted(table + "_outside_update") + " AFTER UPDATE OF " + names +
           " ON " + Quoted(table) + " WHEN NEW.changes = OLD.changes BEGIN UPDATE " + Quoted(table) +
           " SET changes = changes + 1 WHERE id = NEW.id; END;";
}

} // namespace

// Another tool changes the table with plain SQL; the program's own writes always set `changes`
// (0 on ADD, one up on PUT, -1 just before a DELETE of a file with separate keys), so the
// triggers tell the two apart and keep the other tool's change from going unseen:
//   - a row changed from outside counts as changed (one up), so a WATCHed PUT sees it (89);
//   - a row added from outside (changes left at its default, -1) starts at 0;
//   - a change of a key's field, or an added row, leaves the key images behind: the file asks
//     for BUILD at its next OPEN (46), through the character-table fingerprint (keys in the
//     record table) or the change stamp the key files must match (separate keys, where a deleted
//     row leaves its key entries behind too).
std::string RecordTableSql(const Layout& layout, const std::vector<Key>& keys, const RecordColumns& columns,
                           const MemoColumns& memos, const VrnTypeDesc& type, const std::string& schema,
                           const std::string& table) {
    const std::string name = schema + "." + Quoted(table);
    std::string sql = "CREATE TABLE " + name + " (id INTEGER PRIMARY KEY";
    if (!columns.Columns().empty())
        sql += ", " + columns.Definitions();
    sql += memos.Definitions();
    sql += ", changes INTEGER NOT NULL DEFAULT -1";
    if (!layout.separate_keys)
        for (const Key& key : keys)
            sql += ", " + key.column + " BLOB";
    sql += ");";
    const std::string meta = std::string(layout.prefix) + "_meta";
    const std::string behind = layout.separate_keys
                                   ? "UPDATE " + meta + " SET value = CAST(value AS INTEGER) + 1 WHERE name = 'stamp';"
                                   : "UPDATE " + meta + " SET value = 'changed outside' WHERE name = 'collation';";
    const std::string quoted = Quoted(table);
    auto trigger = [&](const char* what, const std::string& when) {
        return "CREATE TRIGGER " + schema + "." + Quoted(table + "_outside_" + what) + " AFTER " + when + " ON " +
               quoted + " ";
    };
    sql += trigger("insert", "INSERT") + "WHEN NEW.changes < 0 BEGIN UPDATE " + quoted +
           " SET changes = 0 WHERE id = NEW.id; " + behind + " END;";
    sql += UpdateTriggerSql(columns, memos, schema, table);
    std::string key_columns = KeyFieldColumns(keys, columns, type);
    if (!key_columns.empty())
        sql += trigger("key", "UPDATE OF " + key_columns) + "WHEN NEW.changes = OLD.changes BEGIN " + behind + " END;";
    if (layout.separate_keys)
        sql += trigger("delete", "DELETE") + "WHEN OLD.changes >= 0 BEGIN " + behind + " END;";
    return sql;
}

int32_t CheckRecordTable(State* state) {
    const std::string table = "main." + Quoted(state->table);
    std::string own = "id, changes";
    for (const Key& key : state->keys)
        own += state->layout->separate_keys ? "" : ", " + key.column;
    Statement driver_columns(state->db, "SELECT " + own + " FROM " + table + " LIMIT 0");
    if (!driver_columns.Ok())
        return kInvalidDataFile; // the table was dropped or altered: not one of ours any more
    Statement fields(state->db,
                     "SELECT " + state->columns->Names() + state->memos->Names() + " FROM " + table + " LIMIT 0");
    if (fields.Ok())
        return 0;
    // A file made before the declaration had its MEMO or BLOB fields lacks just their columns:
    // BUILD adds them (empty) and keeps every record.
    Statement record_fields(state->db, "SELECT " + state->columns->Names() + " FROM " + table + " LIMIT 0");
    if (record_fields.Ok()) {
        state->missing_memos.clear();
        for (size_t i = 0; i < state->memos->Count(); i++) {
            Statement column(state->db,
                             "SELECT " + Quoted(state->memos->Columns()[i].name) + " FROM " + table + " LIMIT 0");
            if (!column.Ok())
                state->missing_memos.push_back(i);
        }
        if (!state->missing_memos.empty()) {
            Vrn$setfileerror("MEMOS", state->memos->MissingMessage(state->missing_memos).c_str());
            return kInvalidDeclaration;
        }
    }
    // A column the declaration names is not in the table (a field renamed, or another table).
    std::string message = std::string("table ") + state->table + ": " + sqlite3_errmsg(state->db);
    Vrn$setfileerror("COLUMNS", message.c_str());
    return kInvalidDeclaration;
}

int32_t ConvertEarlierFormat(State* state, const FileDecl& file) {
    const uint32_t record_length = file.record_length;
    sqlite3* db = state->Db();
    const Layout& layout = *state->layout;
    const std::string old_table = state->schema + "." + layout.prefix + "_records";
    const std::string table = RecordTableName(layout, state->path);
    int32_t code =
        Execute(db, RecordTableSql(layout, state->keys, *state->columns, *state->memos, *file.record_type, state->schema, table));
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

int32_t AddMissingMemos(State* state) {
    sqlite3* db = state->Db();
    for (size_t i : state->missing_memos) {
        const MemoColumn& memo = state->memos->Columns()[i];
        int32_t code = Execute(db, "ALTER TABLE " + state->Table() + " ADD COLUMN " + Quoted(memo.name) +
                                       (memo.text ? " TEXT" : " BLOB"));
        if (code != 0)
            return code;
    }
    // The trigger that notices changes from outside watches the new columns too.
    int32_t code = Execute(db, "DROP TRIGGER IF EXISTS " + state->schema + "." + Quoted(state->table + "_outside_update") +
                                   ";" + UpdateTriggerSql(*state->columns, *state->memos, state->schema, state->table));
    if (code == 0)
        state->missing_memos.clear();
    return code;
}

} // namespace lumarex::drivers
