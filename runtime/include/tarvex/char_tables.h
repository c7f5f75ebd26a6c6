/* SPDX-License-Identifier: GPL-3.0-or-later */
/* Read-only access to the runtime's character tables: the collation weights that order every
 * string comparison, the upper-case form of each character, the digraphs, and a fingerprint of
 * all of them. File drivers build their key images from these so that a key orders exactly as
 * the runtime compares; they store the fingerprint beside the images and rebuild the keys when it
 * changes (a different environment file).
 *
 * The tables are set at start-up and fixed afterwards, so the answers stay valid for the run. */
#ifndef TARVEX_CHAR_TABLES_H
#define TARVEX_CHAR_TABLES_H

#include "tarvex/export.h"

TARVEX_BEGIN_C

/* 256 bytes: the sort weight of each character (a permutation of 0..255). */
TARVEX_API const uint8_t* Vrw$CollationWeights(void);
/* 256 bytes: each character's upper-case form through the case tables (itself when it is not a
 * lower-case letter). The array belongs to the calling thread and is refreshed by its next call. */
TARVEX_API const uint8_t* Vrw$UpperCaseTable(void);
/* Number of digraphs in force (0 to 16). */
TARVEX_API uint32_t Vrw$DigraphCount(void);
/* 1 when `character` sorts as the two characters `*first` then `*second` (both set), else 0 (and
 * neither is touched). Null out-pointers are allowed. */
TARVEX_API int32_t Vrw$DigraphOf(uint8_t character, uint8_t* first, uint8_t* second);
/* A 64-bit fingerprint of everything that decides comparison and case. */
TARVEX_API uint64_t Vrw$CharTablesFingerprint(void);

TARVEX_END_C

#endif
