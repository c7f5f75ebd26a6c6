// SPDX-License-Identifier: GPL-3.0-or-later
// The exported read-only view of the character tables, for the file drivers' key images.
#include "tarvex/char_tables.h"

#include "core/char_tables.h"
#include "core/thread_state.h"

using namespace tarvex;

namespace {
struct UpperCaseTable {
    uint8_t bytes[256];
};
}  // namespace

extern "C" {

TARVEX_API const uint8_t* Vrw$CollationWeights(void) { return GetCharTables().collation; }

TARVEX_API const uint8_t* Vrw$UpperCaseTable(void) {
    // Per thread, so two threads asking at once never write the same bytes.
    uint8_t* upper = PerThread<UpperCaseTable>().bytes;
    for (int c = 0; c < 256; c++) upper[c] = static_cast<uint8_t>(ToUpper(static_cast<char>(c)));
    return upper;
}

TARVEX_API uint32_t Vrw$DigraphCount(void) { return GetCharTables().digraph_count; }

TARVEX_API int32_t Vrw$DigraphOf(uint8_t character, uint8_t* first, uint8_t* second) {
    const CharTables& tables = GetCharTables();
    for (uint32_t i = 0; i < tables.digraph_count && i < kMaxDigraphs; i++) {
        const Digraph& digraph = tables.digraphs[i];
        if (digraph.character != character) continue;
        if (first) *first = digraph.first;
        if (second) *second = digraph.second;
        return 1;
    }
    return 0;
}

TARVEX_API uint64_t Vrw$CharTablesFingerprint(void) { return CharTablesFingerprint(); }

}  // extern "C"
