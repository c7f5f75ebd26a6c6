// SPDX-License-Identifier: GPL-3.0-or-later
// The environment file: a tolerant line parser (any bytes in, never out of bounds) and the
// application of its keys to the character tables and the environment settings. The value
// syntax of every key is described in environment.h.
#include "core/environment.h"

#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <locale>

#include "core/char_tables.h"
#include "platform/platform.h"
#include "tarvex/settings.h"

namespace tarvex {
namespace {

constexpr size_t kMaxKeyLength = 31;
constexpr size_t kMaxValueLength = 1024;
constexpr char kEndOfFile = '\x1a';
constexpr std::string_view kMessagePrefix = "VRNMSG";

EnvironmentSettings settings;

char AsciiUpper(char c) { return c >= 'a' && c <= 'z' ? static_cast<char>(c - 'a' + 'A') : c; }

std::string Upper(std::string_view text) {
    std::string result(text);
    for (char& c : result) c = AsciiUpper(c);
    return result;
}

bool IsSeparator(char c) { return c == ' ' || c == '\t' || c == ','; }
bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Decodes the character at value[i] (which may start "<code>" or "<<"), appends it to item and
// returns the index after it.
size_t DecodeCharacter(std::string_view value, size_t i, std::string& item) {
    if (value[i] != '<') {
        item += value[i];
        return i + 1;
    }
    if (i + 1 < value.size() && value[i + 1] == '<') {
        item += '<';
        return i + 2;
    }
    size_t j = i + 1;
    uint32_t code = 0;
    while (j < value.size() && IsDigit(value[j]) && code <= 255) code = code * 10 + (value[j++] - '0');
    if (j > i + 1 && j < value.size() && value[j] == '>' && code <= 255) {
        item += static_cast<char>(code);
        return j + 1;
    }
    item += '<';
    return i + 1;
}

std::vector<std::string> SplitItems(std::string_view value) {
    std::vector<std::string> items;
    size_t i = 0;
    for (;;) {
        while (i < value.size() && IsSeparator(value[i])) i++;
        if (i >= value.size()) break;
        std::string item;
        if (value[i] == '"') {
            i++;
            while (i < value.size()) {
                if (value[i] == '"') {
                    if (i + 1 < value.size() && value[i + 1] == '"') {
                        item += '"';
                        i += 2;
                        continue;
                    }
                    i++;
                    break;
                }
                i = DecodeCharacter(value, i, item);
            }
        } else {
            while (i < value.size() && !IsSeparator(value[i])) i = DecodeCharacter(value, i, item);
        }
        items.push_back(std::move(item));
    }
    return items;
}

void ParseLine(std::string_view line, std::vector<EnvironmentEntry>& entries) {
    size_t equals = line.find('=');
    if (equals == std::string_view::npos) return;
    std::string key;
    for (char c : line.substr(0, equals)) {
        if (c == ' ' || c == '\t') continue;
        if (key.size() == kMaxKeyLength) return;   // too long: the line is ignored
        key += AsciiUpper(c);
    }
    if (key.empty()) return;
    std::string_view value = line.substr(equals + 1);
    value = value.substr(0, std::min(value.size(), kMaxValueLength));
    entries.push_back(EnvironmentEntry{std::move(key), SplitItems(value)});
}

// ---- Applying the keys -------------------------------------------------------------------------------

// The order of the system's string comparison: each character's collation transform in the user's
// locale, ties broken by byte value. Sorting transforms (plain strings) keeps the ordering strict
// even where the locale's comparison of invalid single bytes is not.
void SetLocaleCollation() {
    uint8_t order[256];
    for (int c = 0; c < 256; c++) order[c] = static_cast<uint8_t>(c);
    try {
        std::locale locale("");
        const auto& collate = std::use_facet<std::collate<char>>(locale);
        std::vector<std::string> keys(256);
        for (int c = 1; c < 256; c++) {
            char character = static_cast<char>(c);
            keys[c] = collate.transform(&character, &character + 1);
        }
        std::stable_sort(order + 1, order + 256,
                         [&keys](uint8_t a, uint8_t b) { return keys[a] < keys[b]; });
    } catch (const std::exception&) {
        // No usable locale: byte order.
    }
    SetCollationOrder(order);
}

void ApplyCollation(const std::vector<std::string>& items) {
    uint8_t order[256];
    if (items.empty()) {
        for (int c = 0; c < 256; c++) order[c] = static_cast<uint8_t>(c);
        SetCollationOrder(order);
        return;
    }
    if (items.size() == 1 && Upper(items[0]) == "WINDOWS") {
        SetLocaleCollation();
        return;
    }
    // Unlisted characters first in byte order, then the listed ones as written.
    bool listed[256] = {};
    std::string sequence;
    for (const std::string& item : items) {
        for (char c : item) {
            auto u = static_cast<uint8_t>(c);
            if (listed[u]) continue;
            listed[u] = true;
            sequence += c;
        }
    }
    int next = 0;
    for (int c = 0; c < 256; c++) {
        if (!listed[c]) order[next++] = static_cast<uint8_t>(c);
    }
    for (char c : sequence) order[next++] = static_cast<uint8_t>(c);
    SetCollationOrder(order);
}

void ApplyCase(const std::vector<std::string>& items) {
    for (const std::string& item : items) {
        if (item.size() == 2) SetCasePair(static_cast<uint8_t>(item[0]), static_cast<uint8_t>(item[1]));
    }
}

void ApplyDigraphs(const std::vector<std::string>& items) {
    std::vector<Digraph> digraphs;
    for (const std::string& item : items) {
        if (item.size() != 3 || digraphs.size() == kMaxDigraphs) continue;
        digraphs.push_back(Digraph{static_cast<uint8_t>(item[0]), static_cast<uint8_t>(item[1]),
                                   static_cast<uint8_t>(item[2])});
    }
    SetDigraphs(digraphs.data(), static_cast<uint32_t>(digraphs.size()));
}

template <size_t N>
void StoreItems(const std::vector<std::string>& items, std::optional<std::array<std::string, N>>& target) {
    if (items.size() < N) return;
    std::array<std::string, N> values;
    std::copy_n(items.begin(), N, values.begin());
    target = std::move(values);
}

// The message number of a VRNMSG<n> key, or -1 when the key is not one.
int64_t MessageNumber(std::string_view key) {
    if (key.size() <= kMessagePrefix.size() || key.substr(0, kMessagePrefix.size()) != kMessagePrefix) return -1;
    int64_t number = 0;
    for (char c : key.substr(kMessagePrefix.size())) {
        if (!IsDigit(c)) return -1;
        number = number * 10 + (c - '0');
        if (number > INT32_MAX) return -1;
    }
    return number;
}

void ApplyEntry(const EnvironmentEntry& entry) {
    const std::string& key = entry.key;
    const std::vector<std::string>& items = entry.items;
    if (key == "VRNCOLSEQ") {
        ApplyCollation(items);
    } else if (key == "VRNCASE") {
        ApplyCase(items);
    } else if (key == "VRNDIGRAPH") {
        ApplyDigraphs(items);
    } else if (key == "VRNMONTH") {
        StoreItems(items, settings.month_names);
    } else if (key == "VRNMON") {
        StoreItems(items, settings.month_abbreviations);
    } else if (key == "VRNAMPM") {
        StoreItems(items, settings.am_pm);
    } else if (key == "VRNCHARSET") {
        settings.oem_charset = !items.empty() && Upper(items[0]) == "OEM";
    } else if (key == "VRNBUTTON") {
        settings.button = items;
    } else if (key == "VRNLFN") {
        settings.lfn = items;
    } else if (int64_t number = MessageNumber(key); number >= 0) {
        settings.messages[static_cast<int32_t>(number)] = items.empty() ? std::string() : items[0];
    } else {
        std::string value;
        for (const std::string& item : items) value += (value.empty() ? "" : " ") + item;
        settings.others[key] = value;
    }
}

}  // namespace

std::vector<EnvironmentEntry> ParseEnvironmentText(std::string_view text) {
    text = text.substr(0, std::min(text.size(), text.find(kEndOfFile)));
    std::vector<EnvironmentEntry> entries;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = text.substr(0, end);
        text = end == std::string_view::npos ? std::string_view() : text.substr(end + 1);
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        ParseLine(line, entries);
    }
    return entries;
}

const EnvironmentSettings& Environment() { return settings; }

const char* FindMessageOverride(int32_t code) {
    auto found = settings.messages.find(code);
    return found == settings.messages.end() ? nullptr : found->second.c_str();
}

void LoadEnvironment() {
    std::string path = platform::EnvironmentFilePath();
    if (path.empty()) return;
    std::optional<std::string> text = platform::ReadWholeFile(path);
    if (text) ApplyEnvironmentText(*text);
}

void ApplyEnvironmentText(std::string_view text) {
    for (const EnvironmentEntry& entry : ParseEnvironmentText(text)) ApplyEntry(entry);
}

void ResetEnvironment() {
    settings = EnvironmentSettings{};
    ResetCharTables();
}

}  // namespace tarvex

TARVEX_API int32_t Vrn$GetSetting(const char* name, char* out, int32_t size) {
    if (name == nullptr) return 0;
    std::string value;
    const char* variable = std::getenv(name);
    if (variable != nullptr && std::string_view(variable).find_first_not_of(" \t") != std::string_view::npos) {
        value = variable;
    } else {
        std::string key;
        for (const char* c = name; *c != '\0'; c++)
            if (*c != ' ' && *c != '\t') key += tarvex::AsciiUpper(*c);
        auto found = tarvex::Environment().others.find(key);
        if (found != tarvex::Environment().others.end()) value = found->second;
        if (value.find_first_not_of(" \t") == std::string::npos) value.clear();
    }
    if (out != nullptr && size > 0) {
        size_t copied = std::min(value.size(), static_cast<size_t>(size - 1));
        std::memcpy(out, value.data(), copied);
        out[copied] = '\0';
    }
    return static_cast<int32_t>(std::min<size_t>(value.size(), INT32_MAX));
}
