// SPDX-License-Identifier: GPL-3.0-or-later
// The fields of a record as named, typed SQLite columns, and the exact conversion of each field
// type between the record buffer and an SQLite value (the rules are in record_columns.h).
#include "common/record_columns.h"

#include <cmath>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <optional>
#include <set>
#include <string_view>

#include "tarvex/ansi_text.hpp"
#include "tarvex/dates.h"

namespace lumarex::drivers {

// ---- Names -------------------------------------------------------------------------------------

std::string ColumnIdentifier(std::string_view text) {
    std::string name;
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        if (u >= 'A' && u <= 'Z')
            name += char(u - 'A' + 'a');
        else if ((u >= 'a' && u <= 'z') || (u >= '0' && u <= '9') || u == '_')
            name += char(u);
        else
            name += '_';
    }
    return name;
}

bool IsDriverColumn(const std::string& name) {
    if (name == "id" || name == "changes")
        return true;
    return name.size() > 1 && name[0] == 'k' && name.find_first_not_of("0123456789", 1) == std::string::npos;
}

namespace {

std::string FieldName(const VrnFieldDesc& field, size_t index) {
    std::string_view label = field.label != nullptr ? field.label : "";
    size_t colon = label.rfind(':');
    if (colon != std::string_view::npos)
        label = label.substr(colon + 1);
    std::string name = ColumnIdentifier(label);
    if (name.empty())
        name = "field" + std::to_string(index + 1);
    return name;
}

ColumnKind KindOf(const VrnFieldDesc& field) {
    switch (field.type) {
    case VRN_TYPE_STRING:
    case VRN_TYPE_STRING_CONSTANT:
        return ColumnKind::kString;
    case VRN_TYPE_CSTRING:
        return field.size > 0 ? ColumnKind::kCString : ColumnKind::kRaw;
    case VRN_TYPE_PSTRING:
        return field.size > 0 ? ColumnKind::kPString : ColumnKind::kRaw;
    case VRN_TYPE_SHORT:
        return field.size == 2 ? ColumnKind::kSigned : ColumnKind::kRaw;
    case VRN_TYPE_LONG:
        return field.size == 4 ? ColumnKind::kSigned : ColumnKind::kRaw;
    case VRN_TYPE_BYTE:
        return field.size == 1 ? ColumnKind::kUnsigned : ColumnKind::kRaw;
    case VRN_TYPE_USHORT:
        return field.size == 2 ? ColumnKind::kUnsigned : ColumnKind::kRaw;
    case VRN_TYPE_ULONG:
        return field.size == 4 ? ColumnKind::kUnsigned : ColumnKind::kRaw;
    case VRN_TYPE_DECIMAL:
    case VRN_TYPE_PDECIMAL:
        // 2 x bytes - 1 digits, of which `places` after the point; 16 bytes at most.
        if (field.size == 0 || field.size > 16 || field.places > 2 * field.size - 1)
            return ColumnKind::kRaw;
        return field.type == VRN_TYPE_DECIMAL ? ColumnKind::kDecimal : ColumnKind::kPDecimal;
    case VRN_TYPE_DATE:
        return field.size == 4 ? ColumnKind::kDate : ColumnKind::kRaw;
    case VRN_TYPE_TIME:
        return field.size == 4 ? ColumnKind::kTime : ColumnKind::kRaw;
    case VRN_TYPE_SREAL:
        return field.size == 4 ? ColumnKind::kSreal : ColumnKind::kRaw;
    case VRN_TYPE_REAL:
        return field.size == 8 ? ColumnKind::kReal : ColumnKind::kRaw;
    case VRN_TYPE_BFLOAT4:
        return field.size == 4 ? ColumnKind::kBfloat4 : ColumnKind::kRaw;
    case VRN_TYPE_BFLOAT8:
        return field.size == 8 ? ColumnKind::kBfloat8 : ColumnKind::kRaw;
    default:
        return ColumnKind::kRaw;
    }
}

// A whole-number decimal of up to 18 digits is an INTEGER column: exact in 64 bits, and ordered
// and compared as a number by every tool.
bool WholeDecimal(const Column& column) {
    return (column.kind == ColumnKind::kDecimal || column.kind == ColumnKind::kPDecimal) && column.places == 0 &&
           2 * column.size - 1 <= 18;
}

const char* SqlType(const Column& column) {
    if (WholeDecimal(column))
        return "INTEGER";
    switch (column.kind) {
    case ColumnKind::kSigned:
    case ColumnKind::kUnsigned:
        return "INTEGER";
    case ColumnKind::kSreal:
    case ColumnKind::kReal:
    case ColumnKind::kBfloat4:
    case ColumnKind::kBfloat8:
        return "REAL";
    case ColumnKind::kRaw:
        return "BLOB";
    default:
        return "TEXT";
    }
}

// Appends the leaves of `count` descriptor entries, the first of which is entry `first_index` of
// the record's descriptor; `shift` moves them to an element of an
// enclosing array of groups, `outer` names that group (and element). False: a field lies outside
// the record.
bool MapFields(const VrnFieldDesc* fields, uint32_t first_index, uint32_t count, uint32_t shift, const std::string& outer,
               const std::string& outer_label, uint32_t record_length, std::vector<Column>* out) {
    for (uint32_t i = 0; i < count;) {
        const VrnFieldDesc& field = fields[i];
        uint32_t dimension = field.dimension == 0 ? 1 : field.dimension;
        std::string base = outer + FieldName(field, i);
        std::string label = field.label != nullptr ? field.label : base;
        if (!outer_label.empty()) {
            size_t colon = label.rfind(':');
            label = outer_label + "." + (colon == std::string::npos ? label : label.substr(colon + 1));
        }
        uint64_t end = uint64_t(shift) + field.offset + uint64_t(field.size) * dimension;
        if (end > record_length)
            return false;
        for (uint32_t e = 0; e < dimension; e++) {
            std::string name = dimension > 1 ? base + "_" + std::to_string(e + 1) : base;
            std::string element = dimension > 1 ? label + "[" + std::to_string(e + 1) + "]" : label;
            uint32_t at = shift + field.offset + e * field.size;
            if (field.type == VRN_TYPE_GROUP) {
                if (uint64_t(i) + 1 + field.member_count > count)
                    return false;
                if (!MapFields(fields + i + 1, first_index + i + 1, field.member_count, at - field.offset, name + "_",
                               element, record_length, out))
                    return false;
                continue;
            }
            Column column;
            column.name = name;
            column.label = element;
            column.kind = KindOf(field);
            column.offset = at;
            column.size = field.size;
            column.places = field.places;
            column.field = first_index + i;
            out->push_back(std::move(column));
        }
        i += field.type == VRN_TYPE_GROUP ? 1 + field.member_count : 1;
    }
    return true;
}

// ---- Text --------------------------------------------------------------------------------------

bool IsAscii(const unsigned char* bytes, size_t size) {
    for (size_t i = 0; i < size; i++)
        if (bytes[i] >= 0x80)
            return false;
    return true;
}

// ---- Numbers -----------------------------------------------------------------------------------

int Nibble(const unsigned char* bytes, uint32_t index) {
    return index % 2 == 0 ? bytes[index / 2] >> 4 : bytes[index / 2] & 0x0F;
}

void SetNibble(unsigned char* bytes, uint32_t index, int value) {
    unsigned char& byte = bytes[index / 2];
    byte = index % 2 == 0 ? static_cast<unsigned char>((byte & 0x0F) | (value << 4))
                          : static_cast<unsigned char>((byte & 0xF0) | value);
}

// The decimal as text with exactly `places` places; false when the image is not as the runtime
// writes one (a digit above 9, a sign it does not write, a negative zero): then the bytes are kept.
bool DecimalText(const unsigned char* bytes, const Column& column, char* text, size_t* length) {
    uint32_t digits = 2 * column.size - 1;
    bool packed_tail = column.kind == ColumnKind::kPDecimal;
    uint32_t first = packed_tail ? 0 : 1;
    int sign = packed_tail ? Nibble(bytes, digits) : Nibble(bytes, 0);
    bool negative;
    if (packed_tail) {
        if (sign != 0xF && sign != 0xD)
            return false;
        negative = sign == 0xD;
    } else {
        if (sign != 0 && sign != 0xF)
            return false;
        negative = sign == 0xF;
    }
    size_t at = 0;
    if (negative)
        text[at++] = '-';
    uint32_t whole = digits - column.places;
    bool any = false, started = false;
    for (uint32_t d = 0; d < digits; d++) {
        int digit = Nibble(bytes, first + d);
        if (digit > 9)
            return false;
        any = any || digit != 0;
        if (d == whole) {
            if (!started)
                text[at++] = '0';
            started = true;
            text[at++] = '.';
        }
        if (d < whole && digit == 0 && !started)
            continue;
        started = true;
        text[at++] = char('0' + digit);
    }
    if (!started)
        text[at++] = '0';
    if (negative && !any)
        return false;
    *length = at;
    return true;
}

// Parses text (an amount, as a tool may write it: "-1234.5", "+7", "12.50") into the decimal.
bool ParseDecimal(std::string_view text, const Column& column, unsigned char* bytes, std::string* problem) {
    while (!text.empty() && text.front() == ' ')
        text.remove_prefix(1);
    while (!text.empty() && text.back() == ' ')
        text.remove_suffix(1);
    bool negative = false;
    if (!text.empty() && (text.front() == '-' || text.front() == '+')) {
        negative = text.front() == '-';
        text.remove_prefix(1);
    }
    size_t point = text.find('.');
    std::string_view whole = text.substr(0, point);
    std::string_view fraction = point == std::string_view::npos ? std::string_view() : text.substr(point + 1);
    auto all_digits = [](std::string_view part) {
        return part.find_first_not_of("0123456789") == std::string_view::npos;
    };
    if ((whole.empty() && fraction.empty()) || !all_digits(whole) || !all_digits(fraction)) {
        *problem = "'" + std::string(text) + "' is not a number";
        return false;
    }
    while (!whole.empty() && whole.front() == '0')
        whole.remove_prefix(1);
    while (fraction.size() > column.places && fraction.back() == '0')
        fraction.remove_suffix(1);
    uint32_t digits = 2 * column.size - 1;
    if (fraction.size() > column.places) {
        *problem = "the number has more than the field's " + std::to_string(column.places) + " decimal places";
        return false;
    }
    if (whole.size() > digits - column.places) {
        *problem = "the number is too large for the field";
        return false;
    }
    std::memset(bytes, 0, column.size);
    bool packed_tail = column.kind == ColumnKind::kPDecimal;
    uint32_t first = packed_tail ? 0 : 1;
    uint32_t whole_start = digits - column.places - uint32_t(whole.size());
    bool any = false;
    for (size_t i = 0; i < whole.size(); i++) {
        SetNibble(bytes, first + whole_start + uint32_t(i), whole[i] - '0');
        any = any || whole[i] != '0';
    }
    for (size_t i = 0; i < fraction.size(); i++) {
        SetNibble(bytes, first + digits - column.places + uint32_t(i), fraction[i] - '0');
        any = any || fraction[i] != '0';
    }
    negative = negative && any;
    if (packed_tail)
        SetNibble(bytes, digits, negative ? 0xD : 0xF);
    else
        SetNibble(bytes, 0, negative ? 0xF : 0);
    return true;
}

int64_t LoadInteger(const unsigned char* bytes, const Column& column) {
    switch (column.size) {
    case 1:
        return bytes[0];
    case 2: {
        uint16_t value;
        std::memcpy(&value, bytes, 2);
        return column.kind == ColumnKind::kSigned ? int64_t(int16_t(value)) : int64_t(value);
    }
    default: {
        uint32_t value;
        std::memcpy(&value, bytes, 4);
        return column.kind == ColumnKind::kSigned ? int64_t(int32_t(value)) : int64_t(value);
    }
    }
}

bool StoreInteger(int64_t value, const Column& column, unsigned char* bytes, std::string* problem) {
    int64_t low = 0, high = 0;
    uint32_t bits = column.size * 8;
    if (column.kind == ColumnKind::kSigned) {
        low = -(int64_t(1) << (bits - 1));
        high = (int64_t(1) << (bits - 1)) - 1;
    } else {
        high = (int64_t(1) << bits) - 1;
    }
    if (value < low || value > high) {
        *problem = std::to_string(value) + " is out of the field's range " + std::to_string(low) + " to " +
                   std::to_string(high);
        return false;
    }
    uint32_t word = uint32_t(uint64_t(value));
    if (column.size == 1) {
        bytes[0] = static_cast<unsigned char>(word);
    } else if (column.size == 2) {
        uint16_t half = uint16_t(word);
        std::memcpy(bytes, &half, 2);
    } else {
        std::memcpy(bytes, &word, 4);
    }
    return true;
}

// ---- Dates and times ---------------------------------------------------------------------------

// `text` holds 16 characters.
bool DateText(int32_t day_number, char* text) {
    VrnDateParts parts{};
    if (Vrn$abs2date(day_number, &parts) != 0)
        return false;
    std::snprintf(text, 16, "%04d-%02u-%02u", int(parts.year), unsigned(parts.month), unsigned(parts.day));
    return true;
}

bool TimeText(int32_t value, char* text) {
    VrnTimeParts parts{};
    if (Vrn$abs2time(value, &parts) != 0)
        return false;
    std::snprintf(text, 16, "%02u:%02u:%02u.%02u", unsigned(parts.hours), unsigned(parts.minutes),
                  unsigned(parts.seconds), unsigned(parts.hundredths));
    return true;
}

// Digits at text[at .. at + count) as a number, or -1.
int Digits(std::string_view text, size_t at, size_t count) {
    if (at + count > text.size())
        return -1;
    int value = 0;
    for (size_t i = at; i < at + count; i++) {
        if (text[i] < '0' || text[i] > '9')
            return -1;
        value = value * 10 + (text[i] - '0');
    }
    return value;
}

int32_t ParseDate(std::string_view text) {
    if (text.size() != 10 || text[4] != '-' || text[7] != '-')
        return -1;
    int year = Digits(text, 0, 4), month = Digits(text, 5, 2), day = Digits(text, 8, 2);
    if (year < 0 || month < 1 || day < 1)
        return -1;
    VrnDateParts parts{year, uint8_t(day), uint8_t(month)};
    return Vrn$date2abs(&parts);
}

// "HH:MM", "HH:MM:SS" or "HH:MM:SS.cc".
int32_t ParseTime(std::string_view text) {
    if (text.size() != 5 && text.size() != 8 && text.size() != 11)
        return -1;
    int hours = Digits(text, 0, 2), minutes = Digits(text, 3, 2), seconds = 0, hundredths = 0;
    if (text[2] != ':')
        return -1;
    if (text.size() >= 8) {
        if (text[5] != ':')
            return -1;
        seconds = Digits(text, 6, 2);
    }
    if (text.size() == 11) {
        if (text[8] != '.')
            return -1;
        hundredths = Digits(text, 9, 2);
    }
    if (hours < 0 || minutes < 0 || seconds < 0 || hundredths < 0)
        return -1;
    VrnTimeParts parts{uint8_t(hours), uint8_t(minutes), uint8_t(seconds), uint8_t(hundredths)};
    int32_t value = Vrn$time2abs(&parts);
    return value == 0 ? 1 : value; // midnight is time 1, never the empty time
}

// ---- Binding one field -------------------------------------------------------------------------

int BindRaw(sqlite3_stmt* statement, int index, const unsigned char* bytes, const Column& column) {
    return sqlite3_bind_blob(statement, index, bytes, int(column.size), SQLITE_TRANSIENT);
}

// The program's single-byte text as UTF-8 (ASCII is both already).
int BindText(sqlite3_stmt* statement, int index, const unsigned char* bytes, size_t size) {
    if (IsAscii(bytes, size))
        return sqlite3_bind_text(statement, index, reinterpret_cast<const char*>(bytes), int(size), SQLITE_TRANSIENT);
    std::string text = tarvex::AnsiToUtf8(std::string_view(reinterpret_cast<const char*>(bytes), size));
    return sqlite3_bind_text(statement, index, text.data(), int(text.size()), SQLITE_TRANSIENT);
}

int BindField(sqlite3_stmt* statement, int index, const unsigned char* bytes, const Column& column) {
    switch (column.kind) {
    case ColumnKind::kString: {
        size_t size = column.size;
        while (size > 0 && bytes[size - 1] == ' ')
            size--;
        return BindText(statement, index, bytes, size);
    }
    case ColumnKind::kCString: {
        const void* end = std::memchr(bytes, 0, column.size);
        if (end == nullptr)
            return BindRaw(statement, index, bytes, column);
        return BindText(statement, index, bytes, size_t(static_cast<const unsigned char*>(end) - bytes));
    }
    case ColumnKind::kPString:
        if (bytes[0] > column.size - 1)
            return BindRaw(statement, index, bytes, column);
        return BindText(statement, index, bytes + 1, bytes[0]);
    case ColumnKind::kSigned:
    case ColumnKind::kUnsigned:
        return sqlite3_bind_int64(statement, index, LoadInteger(bytes, column));
    case ColumnKind::kDecimal:
    case ColumnKind::kPDecimal: {
        char text[40];
        size_t length = 0;
        if (!DecimalText(bytes, column, text, &length))
            return BindRaw(statement, index, bytes, column);
        if (WholeDecimal(column)) {
            int64_t value = 0;
            for (size_t i = text[0] == '-' ? 1 : 0; i < length; i++)
                value = value * 10 + (text[i] - '0');
            return sqlite3_bind_int64(statement, index, text[0] == '-' ? -value : value);
        }
        return sqlite3_bind_text(statement, index, text, int(length), SQLITE_TRANSIENT);
    }
    case ColumnKind::kDate:
    case ColumnKind::kTime: {
        int32_t value;
        std::memcpy(&value, bytes, 4);
        if (value == 0)
            return sqlite3_bind_null(statement, index);
        char text[16];
        bool shown = column.kind == ColumnKind::kDate ? DateText(value, text) : TimeText(value, text);
        if (!shown)
            return BindRaw(statement, index, bytes, column);
        return sqlite3_bind_text(statement, index, text, -1, SQLITE_TRANSIENT);
    }
    case ColumnKind::kSreal: {
        float value;
        std::memcpy(&value, bytes, 4);
        if (!std::isfinite(value))
            return BindRaw(statement, index, bytes, column);
        return sqlite3_bind_double(statement, index, double(value));
    }
    case ColumnKind::kReal: {
        double value;
        std::memcpy(&value, bytes, 8);
        if (!std::isfinite(value))
            return BindRaw(statement, index, bytes, column);
        return sqlite3_bind_double(statement, index, value);
    }
    case ColumnKind::kBfloat4:
    case ColumnKind::kBfloat8: {
        bool four = column.kind == ColumnKind::kBfloat4;
        double value = four ? Vrn$bloadfloat4(bytes) : Vrn$bloadfloat(bytes);
        unsigned char again[8] = {};
        if (four)
            Vrn$bstorefloat4(again, value);
        else
            Vrn$bstorefloat(again, value);
        if (!std::isfinite(value) || std::memcmp(again, bytes, column.size) != 0)
            return BindRaw(statement, index, bytes, column);
        return sqlite3_bind_double(statement, index, value);
    }
    case ColumnKind::kRaw:
        break;
    }
    return BindRaw(statement, index, bytes, column);
}

// ---- Reading one field -------------------------------------------------------------------------

// The field's empty value, for a NULL.
void ClearField(unsigned char* bytes, const Column& column) {
    switch (column.kind) {
    case ColumnKind::kString:
        std::memset(bytes, ' ', column.size);
        break;
    case ColumnKind::kPDecimal:
        std::memset(bytes, 0, column.size);
        SetNibble(bytes, 2 * column.size - 1, 0xF);
        break;
    default:
        std::memset(bytes, 0, column.size);
        break;
    }
}

bool ReadText(sqlite3_stmt* statement, int index, const Column& column, unsigned char* bytes, std::string* problem) {
    const unsigned char* text = sqlite3_column_text(statement, index);
    size_t size = size_t(sqlite3_column_bytes(statement, index));
    std::optional<std::string> converted;
    if (!IsAscii(text, size)) {
        converted = tarvex::Utf8ToAnsi(std::string_view(reinterpret_cast<const char*>(text), size));
        if (!converted) {
            *problem = "the text is not UTF-8, or holds a character the program's character set (Windows-1252) "
                       "does not have";
            return false;
        }
        text = reinterpret_cast<const unsigned char*>(converted->data());
        size = converted->size();
    }
    size_t room = column.kind == ColumnKind::kString    ? column.size
                  : column.kind == ColumnKind::kCString ? column.size - 1
                                                        : std::min<size_t>(column.size - 1, 255);
    if (size > room) {
        *problem = "text of " + std::to_string(size) + " characters is longer than the field's " +
                   std::to_string(room);
        return false;
    }
    switch (column.kind) {
    case ColumnKind::kString:
        std::memcpy(bytes, text, size);
        std::memset(bytes + size, ' ', column.size - size);
        break;
    case ColumnKind::kCString:
        std::memcpy(bytes, text, size);
        std::memset(bytes + size, 0, column.size - size);
        break;
    default:
        bytes[0] = static_cast<unsigned char>(size);
        std::memcpy(bytes + 1, text, size);
        std::memset(bytes + 1 + size, 0, column.size - 1 - size);
        break;
    }
    return true;
}

bool ReadNumber(sqlite3_stmt* statement, int index, int type, const Column& column, unsigned char* bytes,
                std::string* problem) {
    if (type == SQLITE_TEXT) {
        *problem = "'" + std::string(reinterpret_cast<const char*>(sqlite3_column_text(statement, index))) +
                   "' is not a number";
        return false;
    }
    double real = sqlite3_column_double(statement, index);
    switch (column.kind) {
    case ColumnKind::kSigned:
    case ColumnKind::kUnsigned: {
        if (type == SQLITE_FLOAT && (real != std::floor(real) || std::fabs(real) > 9.0e18)) {
            *problem = std::to_string(real) + " is not a whole number";
            return false;
        }
        return StoreInteger(sqlite3_column_int64(statement, index), column, bytes, problem);
    }
    case ColumnKind::kSreal: {
        if (!std::isfinite(real) || std::fabs(real) > double(3.4028234663852886e38F)) {
            *problem = "the number is out of the field's range";
            return false;
        }
        float value = float(real);
        std::memcpy(bytes, &value, 4);
        return true;
    }
    case ColumnKind::kReal:
        std::memcpy(bytes, &real, 8);
        return true;
    case ColumnKind::kBfloat4:
        Vrn$bstorefloat4(bytes, real);
        return true;
    default:
        Vrn$bstorefloat(bytes, real);
        return true;
    }
}

bool ReadField(sqlite3_stmt* statement, int index, const Column& column, unsigned char* bytes, std::string* problem) {
    int type = sqlite3_column_type(statement, index);
    if (type == SQLITE_NULL) {
        ClearField(bytes, column);
        return true;
    }
    if (type == SQLITE_BLOB) {
        int size = sqlite3_column_bytes(statement, index);
        if (size != int(column.size)) {
            *problem = "a BLOB of " + std::to_string(size) + " bytes does not fit the field's " +
                       std::to_string(column.size);
            return false;
        }
        std::memcpy(bytes, sqlite3_column_blob(statement, index), column.size);
        return true;
    }
    if (column.kind == ColumnKind::kRaw) {
        *problem = "the field takes a BLOB of " + std::to_string(column.size) + " bytes";
        return false;
    }
    switch (column.kind) {
    case ColumnKind::kString:
    case ColumnKind::kCString:
    case ColumnKind::kPString:
        return ReadText(statement, index, column, bytes, problem);
    case ColumnKind::kDecimal:
    case ColumnKind::kPDecimal: {
        const char* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
        return ParseDecimal(std::string_view(text, size_t(sqlite3_column_bytes(statement, index))), column, bytes,
                            problem);
    }
    case ColumnKind::kDate:
    case ColumnKind::kTime: {
        const char* text = reinterpret_cast<const char*>(sqlite3_column_text(statement, index));
        std::string_view view(text, size_t(sqlite3_column_bytes(statement, index)));
        bool date = column.kind == ColumnKind::kDate;
        int32_t value = date ? ParseDate(view) : ParseTime(view);
        if (value <= 0) {
            *problem = "'" + std::string(view) + (date ? "' is not a date (YYYY-MM-DD)" : "' is not a time (HH:MM:SS.cc)");
            return false;
        }
        std::memcpy(bytes, &value, 4);
        return true;
    }
    default:
        return ReadNumber(statement, index, type, column, bytes, problem);
    }
}

} // namespace

std::unique_ptr<RecordColumns> RecordColumns::Map(const VrnTypeDesc& type, uint32_t record_length) {
    auto mapped = std::make_unique<RecordColumns>();
    if (type.field_count > 0 && type.fields == nullptr)
        return nullptr;
    if (!MapFields(type.fields, 0, type.field_count, 0, "", "", record_length, &mapped->columns_))
        return nullptr;
    std::set<std::string> taken;
    for (Column& column : mapped->columns_) {
        while (IsDriverColumn(column.name) || taken.count(column.name) > 0)
            column.name += '_';
        taken.insert(column.name);
    }
    return mapped;
}

std::string RecordColumns::Definitions() const {
    std::string sql;
    for (const Column& column : columns_) {
        if (!sql.empty())
            sql += ", ";
        sql += Quoted(column.name) + " " + SqlType(column);
    }
    return sql;
}

std::string RecordColumns::Names(const std::string& alias) const {
    std::string sql;
    for (const Column& column : columns_) {
        if (!sql.empty())
            sql += ", ";
        if (!alias.empty())
            sql += alias + ".";
        sql += Quoted(column.name);
    }
    return sql;
}

int RecordColumns::Bind(sqlite3_stmt* statement, int first, const void* record) const {
    const unsigned char* bytes = static_cast<const unsigned char*>(record);
    for (size_t i = 0; i < columns_.size(); i++) {
        int rc = BindField(statement, first + int(i), bytes + columns_[i].offset, columns_[i]);
        if (rc != SQLITE_OK)
            return rc;
    }
    return SQLITE_OK;
}

bool RecordColumns::Read(sqlite3_stmt* statement, int first, void* record, std::string* problem) const {
    unsigned char* bytes = static_cast<unsigned char*>(record);
    for (size_t i = 0; i < columns_.size(); i++) {
        std::string why;
        if (!ReadField(statement, first + int(i), columns_[i], bytes + columns_[i].offset, &why)) {
            *problem = "field " + columns_[i].label + " (column " + columns_[i].name + "): " + why;
            return false;
        }
    }
    return true;
}

const char* ColumnSqlType(const Column& column) {
    return SqlType(column);
}

std::string Quoted(const std::string& name) {
    std::string quoted = "\"";
    for (char c : name) {
        quoted += c;
        if (c == '"')
            quoted += '"';
    }
    return quoted + "\"";
}

std::string TableNameFor(const std::string& path) {
    std::string name = ColumnIdentifier(std::filesystem::path(path).stem().string());
    if (name.empty() || (name[0] >= '0' && name[0] <= '9') || name.rfind("sqlite_", 0) == 0)
        name = "t_" + name;
    return name;
}

} // namespace lumarex::drivers
