// SPDX-License-Identifier: GPL-3.0-or-later
// The character tables and string comparison. The tables are plain process-wide data: written at
// start-up before any program thread runs, read without locks afterwards.
#include "core/char_tables.h"

#include <algorithm>
#include <cstring>

namespace tarvex {
namespace {

constexpr CharTables BuiltInTables() {
    CharTables tables{};
    for (int c = 0; c < 256; c++) {
        tables.collation[c] = static_cast<uint8_t>(c);
        tables.other_case[c] = static_cast<uint8_t>(c);
        tables.case_class[c] = 0;
    }
    for (int c = 'A'; c <= 'Z'; c++) {
        tables.case_class[c] = kCaseUpper;
        tables.other_case[c] = static_cast<uint8_t>(c - 'A' + 'a');
        tables.case_class[c - 'A' + 'a'] = kCaseLower;
        tables.other_case[c - 'A' + 'a'] = static_cast<uint8_t>(c);
    }
    for (int c = '0'; c <= '9'; c++) tables.case_class[c] = kCaseDigit;
    tables.digraph_count = 0;
    return tables;
}

CharTables tables = BuiltInTables();
// Index + 1 of each character's digraph entry, 0 when it has none; derived from tables.digraphs.
uint8_t digraph_slot[256] = {};

// Walks a string from a position on, yielding digraph characters as their two replacements.
class ExpandedWalk {
public:
    ExpandedWalk(const uint8_t* text, uint32_t length) : text_(text), left_(length) {}
    // The next character, or -1 when the string is exhausted.
    int Next() {
        if (pending_ >= 0) {
            int c = pending_;
            pending_ = -1;
            return c;
        }
        if (left_ == 0) return -1;
        uint8_t c = *text_++;
        left_--;
        if (uint8_t slot = digraph_slot[c]) {
            const Digraph& digraph = tables.digraphs[slot - 1];
            pending_ = digraph.second;
            return digraph.first;
        }
        return c;
    }

private:
    const uint8_t* text_;
    uint32_t left_;
    int pending_ = -1;
};

int32_t CompareExpanded(const uint8_t* first, uint32_t first_length, const uint8_t* second,
                        uint32_t second_length) {
    ExpandedWalk a(first, first_length);
    ExpandedWalk b(second, second_length);
    for (;;) {
        int ca = a.Next();
        int cb = b.Next();
        if (ca < 0 && cb < 0) return 0;
        if (ca < 0) ca = ' ';
        if (cb < 0) cb = ' ';
        int32_t difference = tables.collation[ca] - tables.collation[cb];
        if (difference != 0) return difference;
    }
}

void ClearCase(uint8_t c) {
    tables.case_class[c] &= static_cast<uint8_t>(~(kCaseUpper | kCaseLower));
    tables.other_case[c] = c;
}

}  // namespace

const CharTables& GetCharTables() { return tables; }

uint64_t CharTablesFingerprint() {
    // FNV-1a over the bytes that decide comparison and case.
    uint64_t hash = 0xcbf29ce484222325ull;
    auto mix = [&hash](const uint8_t* bytes, size_t count) {
        for (size_t i = 0; i < count; i++) {
            hash ^= bytes[i];
            hash *= 0x100000001b3ull;
        }
    };
    mix(tables.collation, sizeof tables.collation);
    mix(tables.case_class, sizeof tables.case_class);
    mix(tables.other_case, sizeof tables.other_case);
    uint8_t count = static_cast<uint8_t>(tables.digraph_count);
    mix(&count, 1);
    for (uint32_t i = 0; i < tables.digraph_count; i++) {
        const Digraph& d = tables.digraphs[i];
        uint8_t bytes[3] = {d.character, d.first, d.second};
        mix(bytes, 3);
    }
    return hash;
}

void ResetCharTables() {
    tables = BuiltInTables();
    std::memset(digraph_slot, 0, sizeof digraph_slot);
}

void SetCollationOrder(const uint8_t (&order)[256]) {
    bool seen[256] = {};
    for (uint8_t c : order) {
        if (seen[c]) return;
        seen[c] = true;
    }
    for (int i = 0; i < 256; i++) tables.collation[order[i]] = static_cast<uint8_t>(i);
}

void SetCasePair(uint8_t upper, uint8_t lower) {
    if (upper == lower) return;
    ClearCase(tables.other_case[upper]);
    ClearCase(tables.other_case[lower]);
    ClearCase(upper);
    ClearCase(lower);
    tables.case_class[upper] = kCaseUpper;
    tables.other_case[upper] = lower;
    tables.case_class[lower] = kCaseLower;
    tables.other_case[lower] = upper;
}

void SetDigraphs(const Digraph* entries, uint32_t count) {
    count = std::min(count, kMaxDigraphs);
    std::memset(digraph_slot, 0, sizeof digraph_slot);
    tables.digraph_count = 0;
    for (uint32_t i = 0; i < count; i++) {
        const Digraph& entry = entries[i];
        if (digraph_slot[entry.character]) continue;   // the first entry for a character counts
        tables.digraphs[tables.digraph_count] = entry;
        digraph_slot[entry.character] = static_cast<uint8_t>(++tables.digraph_count);
    }
    for (uint32_t i = tables.digraph_count; i < kMaxDigraphs; i++) tables.digraphs[i] = Digraph{0, 0, 0};
}

int32_t CompareStrings(const char* first, uint32_t first_length, const char* second,
                       uint32_t second_length) {
    const auto* a = reinterpret_cast<const uint8_t*>(first);
    const auto* b = reinterpret_cast<const uint8_t*>(second);
    uint32_t longer = std::max(first_length, second_length);
    for (uint32_t i = 0; i < longer; i++) {
        uint8_t ca = i < first_length ? a[i] : ' ';
        uint8_t cb = i < second_length ? b[i] : ' ';
        if (ca == cb) continue;
        if (tables.digraph_count != 0) {
            uint32_t rest_a = i < first_length ? first_length - i : 0;
            uint32_t rest_b = i < second_length ? second_length - i : 0;
            int32_t result = CompareExpanded(a + (rest_a ? i : 0), rest_a, b + (rest_b ? i : 0), rest_b);
            if (result != 0) return result;
            return 0;
        }
        // The collation is a permutation, so different bytes always have different weights.
        return tables.collation[ca] - tables.collation[cb];
    }
    return 0;
}

char ToUpper(char c) {
    auto u = static_cast<uint8_t>(c);
    return (tables.case_class[u] & kCaseLower) ? static_cast<char>(tables.other_case[u]) : c;
}

char ToLower(char c) {
    auto u = static_cast<uint8_t>(c);
    return (tables.case_class[u] & kCaseUpper) ? static_cast<char>(tables.other_case[u]) : c;
}

bool IsUpperChar(char c) { return (tables.case_class[static_cast<uint8_t>(c)] & kCaseUpper) != 0; }
bool IsLowerChar(char c) { return (tables.case_class[static_cast<uint8_t>(c)] & kCaseLower) != 0; }
bool HasOtherCase(char c) {
    auto u = static_cast<uint8_t>(c);
    return tables.other_case[u] != u;
}

}  // namespace tarvex
