/* SPDX-License-Identifier: GPL-3.0-or-later */
/* Queues: the 4GL's in-memory tables. A QUEUE is a record buffer that the program reads and writes
 * field by field, plus an ordered list of stored copies of that buffer. Operations copy whole
 * records between the buffer and the list, find entries by position (1-based) or by key, keep
 * entries in key order when asked, and sort stably.
 *
 * A program emits one QueueDecl per QUEUE (static data or on a procedure's frame) or gets one from
 * Vrn$NEWqueue. The instance behind it is created by the first operation and destroyed by
 * Vrn$FREEqueue; a later operation creates a fresh, empty one.
 *
 * Keys: the "key" variants take a 0-terminated array of field numbers (1-based, as counted by the
 * record's type descriptor; negative = descending), at most 16 of them. The "skey" variants pop
 * the key from the string stack as text: field labels separated by commas and/or blanks, each
 * optionally preceded by "+" (ascending) or "-" (descending), at most 255 characters; a label
 * matches with or without the record's prefix ("PAT:LNAME" or "LNAME"), without regard to case.
 *
 * Errors (ERRORCODE; every operation clears a pending error first):
 *    7  the declaration is null
 *    8  a record copy cannot be allocated, or the queue already holds 1,000,000 entries (the
 *       largest size class): nothing is added
 *   30  GET, PUT or DELETE at position 0 or beyond the last entry; keyed GET without key fields or
 *       without a match
 *   75  a key field number out of range, an unknown label, or more than 16 key fields; the
 *       operation is not performed
 * A failed operation leaves the entries and POINTER as they were.
 *
 * A queue must not be used by two threads at once; different queues may be used (sorted
 * included) on different threads at the same time. */
#ifndef TARVEX_QUEUE_H
#define TARVEX_QUEUE_H

#include "tarvex/export.h"
#include "tarvex/type_descriptor.h"

#define VRN_QUEUE_MAX_ENTRIES 1000000
#define VRN_QUEUE_MAX_KEY_FIELDS 16
#define VRN_QUEUE_MAX_KEY_TEXT 255

struct QueueInstance;

typedef struct QueueDecl {
    void* buffer;                     /* the record buffer (the QUEUE structure) */
    const VrnTypeDesc* type;          /* its type descriptor */
    struct QueueInstance* instance;   /* null until the first operation, and after FREE */
    uint32_t record_length;
} QueueDecl;

TARVEX_BEGIN_C

/* ADD: a copy of the buffer at the end; before `position` (0 or beyond RECORDS appends); at its
 * place in key order, after all entries with an equal key. POINTER = the new entry's position. */
TARVEX_API void Vrn$ADDqueue(QueueDecl* queue);
TARVEX_API void Vrn$ADDqueueptr(QueueDecl* queue, int32_t position);
TARVEX_API void Vrn$ADDqueuekey(QueueDecl* queue, const int32_t* key);
TARVEX_API void Vrn$ADDqueueskey(QueueDecl* queue);

/* GET: the entry at `position`, or the first entry whose key equals the buffer's, into the buffer;
 * POINTER = its position. GET by position 0 also sets POINTER to 0. */
TARVEX_API void Vrn$GETqueueptr(QueueDecl* queue, int32_t position);
TARVEX_API void Vrn$GETqueuekey(QueueDecl* queue, const int32_t* key);
TARVEX_API void Vrn$GETqueueskey(QueueDecl* queue);

/* PUT: overwrites the entry at POINTER with the buffer; the keyed forms move it to its place in key
 * order (after equal keys) and POINTER follows it. */
TARVEX_API void Vrn$PUTqueue(QueueDecl* queue);
TARVEX_API void Vrn$PUTqueuekey(QueueDecl* queue, const int32_t* key);
TARVEX_API void Vrn$PUTqueueskey(QueueDecl* queue);

/* DELETE: removes the entry at POINTER; POINTER keeps its value. */
TARVEX_API void Vrn$DELETEqueue(QueueDecl* queue);

/* SORT: all entries by the key, stably; POINTER is not changed. */
TARVEX_API void Vrn$SORTqueuekey(QueueDecl* queue, const int32_t* key);
TARVEX_API void Vrn$SORTqueueskey(QueueDecl* queue);

TARVEX_API int32_t Vrn$RECORDSqueue(QueueDecl* queue);
TARVEX_API int32_t Vrn$POINTERqueue(QueueDecl* queue);
/* A counter that changes with every ADD, PUT, DELETE and SORT (seeded from CLOCK). */
TARVEX_API uint32_t Vrn$NUMCHANGESqueue(QueueDecl* queue);

/* Frees every entry and the instance (a null declaration is ignored). */
TARVEX_API void Vrn$FREEqueue(QueueDecl* queue);
/* A new declaration with a buffer of the record's length behind it (blank and zero), or null with
 * ERRORCODE 75 for a null descriptor, 8 when memory runs out. */
TARVEX_API QueueDecl* Vrn$NEWqueue(const VrnTypeDesc* type);
/* FREE, then releases a block made by Vrn$NEWqueue (any other declaration is only freed). */
TARVEX_API void Vrn$DISPOSEqueue(QueueDecl* queue);

/* WHERE on the queue's buffer: the number of the field stored at `field`, or 0. */
TARVEX_API int32_t Vrn$WHEREqueue(QueueDecl* queue, const void* field);

TARVEX_END_C

#endif
