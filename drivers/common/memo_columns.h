// SPDX-License-Identifier: GPL-3.0-or-later
// A file's MEMO and BLOB fields as columns of its record table, after the record's fields, so any
// tool reads them by name:
//   MEMO          TEXT: the program's single-byte characters as UTF-8 (the one table of
//                 tarvex/ansi_text.hpp), without the padding blanks, as a STRING is kept.
//   MEMO,BINARY   BLOB: its bytes as they are (they need not be text).
//   BLOB          BLOB: its bytes as they are.
// An empty one is NULL. A column is named after the memo's NAME attribute as a field is named
// after its label (lower-case; "memo1", "memo2", ... by its number without one), apart from the
// record's columns and the driver's own.
//
// The driver keeps the current record's memo values: a read brings them in with the record
// (unless NOMEMO asked the read to leave them out), ADD and PUT store them with it, and the
// program moves them with BLOB_TAKE and BLOB_YIELD. On their way from a row to the record buffer
// they ride behind the record's bytes (Append, Split), so a row read ahead carries its memos too.
// A stored value that does not fit its memo (longer than the MEMO takes, text the program's
// characters cannot spell) is refused with the memo named, as a field's value is.
#pragma once

#include <sqlite3.h>

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "common/record_columns.h"
#include "tarvex/file_decl.h"

namespace lumarex::drivers {

struct MemoColumn {
    std::string name;      // "notes", "memo2"
    std::string label;     // "MEMO 1 (NOTES)", for messages
    bool text = true;      // a MEMO without BINARY: TEXT; otherwise BLOB
    uint32_t max_size = 0; // the most bytes a MEMO takes; 0: no limit of its own
};

class MemoColumns {
  public:
    // The memo columns of a declaration, named apart from `fields`; null when the declaration
    // counts memos it does not give.
    static std::unique_ptr<MemoColumns> Map(const FileDecl& file, const RecordColumns& fields);

    const std::vector<MemoColumn>& Columns() const { return columns_; }
    size_t Count() const { return columns_.size(); }
    // ", \"notes\" TEXT, \"scan\" BLOB" for CREATE TABLE after the fields; empty without memos.
    std::string Definitions() const;
    // ", r.\"notes\", r.\"scan\"" (no alias: without the "r.") after the fields; empty without memos.
    std::string Names(const std::string& alias = "") const;

    // The message of a file made before the declaration had the memos `missing` (indexes).
    std::string MissingMessage(const std::vector<size_t>& missing) const;

    // BLOB_TAKE: the value memo i keeps for `bytes` (a MEMO without its padding blanks). False,
    // with the reason, when the memo cannot take that many bytes.
    bool Accept(size_t i, std::string_view bytes, std::string* value, std::string* problem) const;
    // BLOB_YIELD: the value into a buffer of `size` bytes: a MEMO padded with blanks as a STRING
    // is, a BLOB's bytes as far as they fit (the bytes after them left as they are).
    void Yield(size_t i, const std::string& value, char* buffer, size_t size) const;

    // The stored form of a value for an engine's text or byte column: UTF-8 text for a MEMO,
    // the bytes for the others. And back: a stored value (`text`: it came as text) as the
    // program's bytes, false with the memo named and the reason when it does not fit.
    std::string Stored(size_t i, const std::string& value) const;
    bool FromStored(size_t i, std::string_view stored, bool text, std::string* value, std::string* problem) const;

    // Binds the values to the parameters first, first + 1, ...: SQLITE_OK or SQLite's code.
    int Bind(sqlite3_stmt* statement, int first, const std::vector<std::string>& values) const;
    // Reads the values from the columns first, first + 1, ... of the statement's row.
    bool Read(sqlite3_stmt* statement, int first, std::vector<std::string>* values, std::string* problem) const;

    // The values behind a record's bytes in `data`, and back (false when `data` holds no such tail).
    static void Append(const std::vector<std::string>& values, std::string* data);
    static bool Split(std::string_view data, size_t record_length, size_t count, std::vector<std::string>* values);

  private:
    std::vector<MemoColumn> columns_;
};

// The current record's memo values as a driver keeps them, and whether each stands for that
// record: read with it, taken from the program since, or written with it by ADD. A PUT stores
// only those that do, so a record read with NOMEMO keeps the memos it has.
class MemoValues {
  public:
    void Reset(const MemoColumns& columns);
    // After a read: the values behind the record's bytes in `data`; after NOMEMO none of them,
    // and they stand for no record until the program takes a value.
    void Load(std::string_view data, size_t record_length);
    void SkipNextRead() { skip_ = true; }
    void Written() { current_.assign(current_.size(), true); }
    bool AllCurrent() const;
    bool Current(size_t i) const { return current_[i]; }
    const std::vector<std::string>& Values() const { return values_; }
    // BLOB_TAKE, BLOB_YIELD and BLOB_SIZE (the result) on memo `number` (from 1) with the
    // program's buffer of `size` bytes at `address`: 0; 47 for a number the declaration does not
    // have; 90, the reason as the file error, for a value the memo cannot take or no buffer.
    int32_t Operate(int32_t operation, intptr_t number, intptr_t address, intptr_t size, intptr_t* result);

  private:
    const MemoColumns* columns_ = nullptr;
    std::vector<std::string> values_;
    std::vector<bool> current_;
    bool skip_ = false;
};

} // namespace lumarex::drivers
