// SPDX-License-Identifier: GPL-3.0-or-later
// MEMO and BLOB fields as columns of the record table (the rules are in memo_columns.h).
#include "common/memo_columns.h"

#include <algorithm>
#include <cstring>
#include <set>

#include "tarvex/ansi_text.hpp"
#include "tarvex/frame.h"

namespace lumarex::drivers {

std::unique_ptr<MemoColumns> MemoColumns::Map(const FileDecl& file, const RecordColumns& fields) {
    auto mapped = std::make_unique<MemoColumns>();
    if (file.memo_count > 0 && file.memos == nullptr)
        return nullptr;
    std::set<std::string> taken;
    for (const Column& column : fields.Columns())
        taken.insert(column.name);
    for (uint32_t i = 0; i < file.memo_count; i++) {
        const MemoDecl* decl = file.memos[i];
        if (decl == nullptr)
            return nullptr;
        MemoColumn column;
        std::string given = decl->name != nullptr ? ColumnIdentifier(decl->name) : std::string();
        column.name = given.empty() ? "memo" + std::to_string(i + 1) : given;
        while (IsDriverColumn(column.name) || taken.count(column.name) > 0)
            column.name += '_';
        taken.insert(column.name);
        bool blob = (decl->flags & VRN_MEMO_BLOB) != 0;
        column.text = !blob && (decl->flags & VRN_MEMO_BINARY) == 0;
        column.max_size = blob ? 0 : decl->max_size;
        column.label = std::string(blob ? "BLOB " : "MEMO ") + std::to_string(i + 1) +
                       (decl->name != nullptr && decl->name[0] != '\0' ? std::string(" (") + decl->name + ")" : "");
        mapped->columns_.push_back(std::move(column));
    }
    return mapped;
}

std::string MemoColumns::Definitions() const {
    std::string sql;
    for (const MemoColumn& column : columns_)
        sql += ", " + Quoted(column.name) + (column.text ? " TEXT" : " BLOB");
    return sql;
}

std::string MemoColumns::Names(const std::string& alias) const {
    std::string sql;
    for (const MemoColumn& column : columns_)
        sql += ", " + (alias.empty() ? "" : alias + ".") + Quoted(column.name);
    return sql;
}

bool MemoColumns::Accept(size_t i, std::string_view bytes, std::string* value, std::string* problem) const {
    const MemoColumn& column = columns_[i];
    if (column.text)
        while (!bytes.empty() && bytes.back() == ' ')
            bytes.remove_suffix(1);
    if (column.max_size > 0 && bytes.size() > column.max_size) {
        *problem = column.label + ": " + std::to_string(bytes.size()) + " bytes, and it takes at most " +
                   std::to_string(column.max_size);
        return false;
    }
    value->assign(bytes.data(), bytes.size());
    return true;
}

void MemoColumns::Yield(size_t i, const std::string& value, char* buffer, size_t size) const {
    size_t copied = std::min(size, value.size());
    if (copied > 0)
        std::memcpy(buffer, value.data(), copied);
    if (columns_[i].text && size > copied)
        std::memset(buffer + copied, ' ', size - copied);
}

std::string MemoColumns::Stored(size_t i, const std::string& value) const {
    return columns_[i].text ? tarvex::AnsiToUtf8(value) : value;
}

bool MemoColumns::FromStored(size_t i, std::string_view stored, bool text, std::string* value,
                             std::string* problem) const {
    const MemoColumn& column = columns_[i];
    // Text in a byte column (another tool wrote a string) is taken as its bytes; only a MEMO's
    // text is the program's characters spelt in UTF-8.
    if (text && column.text) {
        std::optional<std::string> bytes = tarvex::Utf8ToAnsi(stored);
        if (!bytes) {
            *problem = column.label + " (column " + column.name +
                       "): text that is not UTF-8 or has a character the program's character set does not have";
            return false;
        }
        *value = std::move(*bytes);
    } else {
        value->assign(stored.data(), stored.size());
    }
    if (column.max_size > 0 && value->size() > column.max_size) {
        *problem = column.label + " (column " + column.name + "): " + std::to_string(value->size()) +
                   " bytes, and it takes at most " + std::to_string(column.max_size);
        return false;
    }
    return true;
}

int MemoColumns::Bind(sqlite3_stmt* statement, int first, const std::vector<std::string>& values) const {
    for (size_t i = 0; i < columns_.size(); i++) {
        int index = first + int(i);
        int rc = SQLITE_OK;
        if (i >= values.size() || values[i].empty()) {
            rc = sqlite3_bind_null(statement, index);
        } else if (columns_[i].text) {
            std::string text = tarvex::AnsiToUtf8(values[i]);
            rc = sqlite3_bind_text64(statement, index, text.data(), text.size(), SQLITE_TRANSIENT, SQLITE_UTF8);
        } else {
            rc = sqlite3_bind_blob64(statement, index, values[i].data(), values[i].size(), SQLITE_TRANSIENT);
        }
        if (rc != SQLITE_OK && rc != SQLITE_RANGE) // a statement may leave a memo out (PUT after NOMEMO)
            return rc;
    }
    return SQLITE_OK;
}

bool MemoColumns::Read(sqlite3_stmt* statement, int first, std::vector<std::string>* values,
                       std::string* problem) const {
    values->assign(columns_.size(), std::string());
    for (size_t i = 0; i < columns_.size(); i++) {
        int index = first + int(i);
        int type = sqlite3_column_type(statement, index);
        if (type == SQLITE_NULL)
            continue;
        bool text = type != SQLITE_BLOB;
        const void* bytes = text ? static_cast<const void*>(sqlite3_column_text(statement, index))
                                 : sqlite3_column_blob(statement, index);
        size_t size = size_t(sqlite3_column_bytes(statement, index));
        std::string_view stored(bytes != nullptr ? static_cast<const char*>(bytes) : "", size);
        if (!FromStored(i, stored, text, &(*values)[i], problem))
            return false;
    }
    return true;
}

void MemoColumns::Append(const std::vector<std::string>& values, std::string* data) {
    for (const std::string& value : values) {
        uint32_t size = uint32_t(value.size());
        data->append(reinterpret_cast<const char*>(&size), 4);
        data->append(value);
    }
}

bool MemoColumns::Split(std::string_view data, size_t record_length, size_t count, std::vector<std::string>* values) {
    values->assign(count, std::string());
    size_t at = record_length;
    for (size_t i = 0; i < count; i++) {
        uint32_t size = 0;
        if (at + 4 > data.size())
            return false;
        std::memcpy(&size, data.data() + at, 4);
        at += 4;
        if (size > data.size() - at)
            return false;
        (*values)[i].assign(data.data() + at, size);
        at += size;
    }
    return true;
}

void MemoValues::Reset(const MemoColumns& columns) {
    columns_ = &columns;
    values_.assign(columns.Count(), std::string());
    current_.assign(columns.Count(), true);
    skip_ = false;
}

void MemoValues::Load(std::string_view data, size_t record_length) {
    size_t count = values_.size();
    if (count > 0) {
        bool loaded = !skip_ && MemoColumns::Split(data, record_length, count, &values_);
        if (!loaded)
            values_.assign(count, std::string());
        current_.assign(count, loaded);
    }
    skip_ = false;
}

bool MemoValues::AllCurrent() const {
    return std::find(current_.begin(), current_.end(), false) == current_.end();
}

int32_t MemoValues::Operate(int32_t operation, intptr_t number, intptr_t address, intptr_t size, intptr_t* result) {
    constexpr int32_t kInvalidDeclaration = 47, kFileSystemError = 90;
    if (columns_ == nullptr || number < 1 || size_t(number) > values_.size())
        return kInvalidDeclaration;
    size_t i = size_t(number - 1);
    if (operation == VRN_OP_BLOB_SIZE) {
        *result = intptr_t(values_[i].size());
        return 0;
    }
    if (size < 0 || (address == 0 && size > 0)) {
        Vrn$setfileerror("MEMO", "a memo's buffer with no address or a negative size");
        return kFileSystemError;
    }
    if (operation == VRN_OP_BLOB_YIELD) {
        columns_->Yield(i, values_[i], reinterpret_cast<char*>(address), size_t(size));
        return 0;
    }
    std::string value, problem;
    if (!columns_->Accept(i, std::string_view(reinterpret_cast<const char*>(address), size_t(size)), &value,
                          &problem)) {
        Vrn$setfileerror("MEMO", problem.c_str());
        return kFileSystemError;
    }
    values_[i] = std::move(value);
    current_[i] = true;
    return 0;
}

std::string MemoColumns::MissingMessage(const std::vector<size_t>& missing) const {
    std::string names;
    for (size_t i : missing)
        names += (names.empty() ? "" : ", ") + columns_[i].label + " (column " + columns_[i].name + ")";
    return "The file was made before the declaration had " + names + ": BUILD adds the column, keeping every record";
}

} // namespace lumarex::drivers
