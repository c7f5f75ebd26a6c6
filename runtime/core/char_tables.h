// SPDX-License-Identifier: GPL-3.0-or-later
// The process-wide character tables: collation weights, case classes with their other-case
// partners, and digraphs. Every string comparison of the runtime (CompareStrings), the case
// functions and, later, the key images of the file drivers read them. They are built in, replaced
// at start-up by the environment file, and fixed afterwards, so readers take no lock.
#pragma once

#include <cstdint>
#include <string_view>

namespace tarvex {

// Case class bits of a character.
constexpr uint8_t kCaseUpper = 1;
constexpr uint8_t kCaseLower = 2;
constexpr uint8_t kCaseDigit = 4;

constexpr uint32_t kMaxDigraphs = 16;

// A character that sorts as its two replacement characters.
struct Digraph {
    uint8_t character;
    uint8_t first;
    uint8_t second;
};

struct CharTables {
    uint8_t collation[256];    // sort weight of each character; always a permutation of 0..255
    uint8_t case_class[256];   // kCaseUpper, kCaseLower, kCaseDigit or 0
    uint8_t other_case[256];   // the other-case partner; the character itself when it has none
    Digraph digraphs[kMaxDigraphs];
    uint32_t digraph_count;
};

// The tables in force (read-only).
const CharTables& GetCharTables();

// A 64-bit fingerprint of everything that decides comparison and case (collation, case tables,
// digraphs). Stored beside key images: a different fingerprint means the images are stale.
uint64_t CharTablesFingerprint();

// Replacing the tables: start-up (the environment file) and tests only.
void ResetCharTables();   // identity collation, A-Z/a-z, digits 0-9, no digraphs
// Sets the collation from an ascending order of all 256 characters (order[0] sorts lowest).
// Ignored unless `order` is a permutation of 0..255.
void SetCollationOrder(const uint8_t (&order)[256]);
// Makes `upper` and `lower` one case pair; their former partners lose their case.
void SetCasePair(uint8_t upper, uint8_t lower);
// Replaces the digraph table (at most kMaxDigraphs entries are kept).
void SetDigraphs(const Digraph* entries, uint32_t count);

// Compares two strings: trailing blanks never matter (a shorter string is extended with blanks),
// the first differing characters decide through their collation weights; with digraphs defined,
// the rest from that point is compared with digraph characters expanded. Negative, 0 or positive.
int32_t CompareStrings(const char* first, uint32_t first_length, const char* second,
                       uint32_t second_length);
inline int32_t CompareStrings(std::string_view first, std::string_view second) {
    return CompareStrings(first.data(), static_cast<uint32_t>(first.size()), second.data(),
                          static_cast<uint32_t>(second.size()));
}

// Case through the case tables: a lower-case letter maps to its partner, anything else to itself.
char ToUpper(char c);
char ToLower(char c);
bool IsUpperChar(char c);
bool IsLowerChar(char c);
bool HasOtherCase(char c);   // the character has an other-case partner

}  // namespace tarvex
