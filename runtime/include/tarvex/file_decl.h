/* SPDX-License-Identifier: GPL-3.0-or-later */
/* The blocks shared between a program, the runtime and the file drivers.
 *
 * A program emits one FileDecl per FILE and VIEW, one KeyDecl per KEY or INDEX and one MemoDecl per
 * MEMO or BLOB, as static data that lives for the whole run. A driver allocates a Drv_FCB (usually
 * as the first member of its own per-file block) when a file opens and stores its address in the
 * FileDecl's `driver_instance` until the file closes.
 *
 * Fields keep the order the system gives them; pointers are native. Byte offsets are not part of
 * the contract: read fields by name.
 *
 * The calling contract (what a driver must do) is written out in tarvex/files.h. */
#ifndef TARVEX_FILE_DECL_H
#define TARVEX_FILE_DECL_H

#include "tarvex/export.h"

/* Length conventions of the NAME, options and OWNER values (and of _drv_MakeCSTRING): a positive
 * length is a blank-padded field of that many bytes. */
#define VRN_LENGTH_CSTRING (-1) /* zero-terminated */
#define VRN_LENGTH_PSTRING (-2) /* the first byte is a signed length, the text follows */

/* FileDecl attribute byte. The other bits are free for drivers to read as they choose. */
#define VRN_FILE_THREAD 0x10u /* one instance of the file per thread */

/* KeyDecl attribute word. */
#define VRN_KEY_DUP 0x0001u
#define VRN_KEY_OPT 0x0002u
#define VRN_KEY_NOCASE 0x0004u
#define VRN_KEY_PRIMARY 0x0010u
#define VRN_KEY_OWN_BUILT_STATE 0x0040u /* the key keeps its built state in VRN_KEY_BUILT */
#define VRN_KEY_INDEX 0x4000u           /* an INDEX; without it the block is a KEY */
#define VRN_KEY_BUILT 0x10000u          /* set and cleared by the state services only */

/* MemoDecl flag byte. */
#define VRN_MEMO_BINARY 0x02u
#define VRN_MEMO_BLOB 0x04u /* without it the field is a MEMO */

/* Bits of the file state word (Drv_FCB.state). */
#define VRN_STATE_OPEN 0x0001u
#define VRN_STATE_RECORD 0x0002u         /* a current record is in the buffer */
#define VRN_STATE_LOGOUT 0x0004u         /* the file takes part in the active transaction */
#define VRN_STATE_STREAM 0x0008u         /* STREAM in force until FLUSH */
#define VRN_STATE_LOCKED 0x0010u         /* LOCK */
#define VRN_STATE_SEQUENCE 0x0020u       /* SET or RESET started a processing sequence */
#define VRN_STATE_WRITABLE 0x0040u       /* opened with write access (the driver sets it at OPEN) */
#define VRN_STATE_EXCLUSIVE 0x0080u      /* exclusive use, or LOCK (the driver sets it at OPEN) */
#define VRN_STATE_KEY_BUILT 0x0100u      /* in a row: the key's built bit; in the word: in a view */
#define VRN_STATE_IN_VIEW 0x0100u        /* kept by the driver between INVIEW and ENDVIEW */
#define VRN_STATE_WATCH_PENDING 0x0200u  /* WATCH called; the next read takes it */
#define VRN_STATE_WATCHED 0x0400u        /* the current record was read under WATCH */
#define VRN_STATE_HOLD_PENDING 0x0800u   /* HOLD called; the next read takes it */
#define VRN_STATE_HELD 0x1000u           /* the current record was read under HOLD */
#define VRN_STATE_SEQUENCE_START 0x2000u /* SET/RESET positioned and no read failed since */
#define VRN_STATE_BUILDING 0x4000u       /* a BUILD runs; the driver sets and clears it */

/* Bits of the operation-flags word (the row's class, accumulated by the state update). */
#define VRN_OPFLAG_ACTIVE 0x1u    /* the operation worked on the open file */
#define VRN_OPFLAG_RESYNC 0x2u    /* the driver must re-read its position: the file changed hands or a failure left it unsure */
#define VRN_OPFLAG_POSITION 0x4u  /* the operation moved the sequence */
#define VRN_OPFLAG_NO_RECORD 0x8u /* the operation does not touch the record (NAME, OPEN, SEND, ...) */

/* Drv_FCB.fixed_strings: the copy is fixed and never refreshed from the declaration. */
#define VRN_FIXED_NAME 0x1u
#define VRN_FIXED_OWNER 0x2u
#define VRN_FIXED_OPTIONS 0x4u

/* Drv_FCB.trace_attributes: declaration attributes that tracing writes out. */
#define VRN_TRACE_ENCRYPT 0x01u
#define VRN_TRACE_CREATE 0x02u
#define VRN_TRACE_RECLAIM 0x04u

/* Operation codes: the first argument of every call of a driver entry point. */
#define VRN_OP_ADD 1
#define VRN_OP_BOF 2
#define VRN_OP_BUILD_FILE 3
#define VRN_OP_APPEND 4
#define VRN_OP_BUILD_DYNAMIC 5
#define VRN_OP_BUILD_KEY 6
#define VRN_OP_CLOSE 7
#define VRN_OP_COMMIT 8
#define VRN_OP_COPY 9
#define VRN_OP_CREATE 10
#define VRN_OP_DELETE 11
#define VRN_OP_DUPLICATE 12
#define VRN_OP_EMPTY 13
#define VRN_OP_EOF 14
#define VRN_OP_GET_FILE_KEY 15
#define VRN_OP_GET_FILE_POINTER 16
#define VRN_OP_GET_KEY_POINTER 17
#define VRN_OP_HOLD 18
#define VRN_OP_HOLD_SECONDS 19
#define VRN_OP_LOCK 20
#define VRN_OP_LOCK_SECONDS 21
#define VRN_OP_LOGOUT 22
#define VRN_OP_NAME 23
#define VRN_OP_NEXT 24
#define VRN_OP_OPEN 25
#define VRN_OP_PACK 26
#define VRN_OP_POINTER_FILE 27
#define VRN_OP_POINTER_KEY 28
#define VRN_OP_FLUSH 29
#define VRN_OP_PUT 30
#define VRN_OP_PREVIOUS 31
#define VRN_OP_RECORDS_FILE 32
#define VRN_OP_RECORDS_KEY 33
#define VRN_OP_BUILD_DYNAMIC_FILTER 34
#define VRN_OP_RELEASE 36
#define VRN_OP_REMOVE 37
#define VRN_OP_RENAME 38
#define VRN_OP_ROLLBACK 40
#define VRN_OP_SET_FILE 41
#define VRN_OP_SET_FILE_KEY 42
#define VRN_OP_SET_FILE_POINTER 43
#define VRN_OP_SET_KEY 44
#define VRN_OP_SET_KEY_KEY 45
#define VRN_OP_SET_KEY_POINTER 46
#define VRN_OP_SET_KEY_KEY_POINTER 47
#define VRN_OP_SHARE 48
#define VRN_OP_SKIP 49
#define VRN_OP_UNLOCK 50
#define VRN_OP_ADD_LENGTH 51
#define VRN_OP_BYTES 52
#define VRN_OP_GET_FILE_POINTER_LENGTH 53
#define VRN_OP_PUT_POINTER 54
#define VRN_OP_PUT_POINTER_LENGTH 55
#define VRN_OP_STREAM 56
#define VRN_OP_DUPLICATE_KEY 57
#define VRN_OP_WATCH 58
#define VRN_OP_APPEND_LENGTH 59
#define VRN_OP_SEND 60
#define VRN_OP_POSITION_FILE 61
#define VRN_OP_POSITION_KEY 62
#define VRN_OP_RESET_FILE 63
#define VRN_OP_RESET_KEY 64
#define VRN_OP_NOMEMO 65
#define VRN_OP_REGET_FILE 66
#define VRN_OP_REGET_KEY 67
#define VRN_OP_NULL 68
#define VRN_OP_SETNULL 69
#define VRN_OP_SETNONULL 70
#define VRN_OP_SET_PROPERTY 71
#define VRN_OP_GET_PROPERTY 72
#define VRN_OP_QUERY_KEY 73
#define VRN_OP_QUERY_VIEW 74
#define VRN_OP_BLOB_YIELD 75
#define VRN_OP_BLOB_TAKE 76
#define VRN_OP_BLOB_SIZE 77
#define VRN_OP_BLOB_SET_PROPERTY 78
#define VRN_OP_BLOB_GET_PROPERTY 79
#define VRN_OP_BUFFER 80
#define VRN_OP_SET_VIEW 81
#define VRN_OP_CLEAR 82
#define VRN_OP_RESET_VIEW_FILE 83
#define VRN_OP_BUILD_EVENT 84
#define VRN_OP_SET_PROPERTY_KEY 85
#define VRN_OP_GET_PROPERTY_KEY 86
#define VRN_OP_INTERNAL_87 87
#define VRN_OP_DO_PROPERTY 88
#define VRN_OP_DO_PROPERTY_KEY 89
#define VRN_OP_DO_PROPERTY_BLOB 90
#define VRN_OP_INTERNAL_91 91
#define VRN_OP_INVIEW 92
#define VRN_OP_ENDVIEW 93
#define VRN_OP_LAST 93

struct KeyDecl;
struct MemoDecl;
struct Drv_FCB;
struct VrnTypeDesc;

typedef struct FileDecl FileDecl;
typedef struct KeyDecl KeyDecl;
typedef struct MemoDecl MemoDecl;
typedef struct Drv_FCB Drv_FCB;

/* A driver entry point. `arguments` points at the operation's arguments (those after the file,
 * each widened to intptr_t; null when there are none). The driver leaves its error code in the
 * error state (Vrn$seterror; 0 on success). An operation whose result is an integer returns it;
 * every other operation returns 0, and a text result goes on the string stack. */
typedef intptr_t (*VrnDriverEntry)(int32_t operation, FileDecl* file, const intptr_t* arguments);

struct FileDecl {
    VrnDriverEntry driver;           /* KELSTORE, VARNEL, or VIEWDRIVER */
    const char* name;                /* NAME value */
    int32_t name_length;             /* byte count, or VRN_LENGTH_CSTRING / VRN_LENGTH_PSTRING */
    const char* options;             /* second parameter of DRIVER, or null */
    int32_t options_length;
    const char* owner;               /* password, or null; never traced */
    int32_t owner_length;
    uint8_t attributes;              /* VRN_FILE_THREAD, ... */
    uint8_t key_count;
    uint8_t memo_count;
    uint32_t record_length;
    const struct VrnTypeDesc* record_type; /* the record's type descriptor (tarvex/type_descriptor.h) */
    KeyDecl* const* keys;            /* key_count blocks, in declaration order */
    MemoDecl* const* memos;          /* memo_count blocks */
    void* record;                    /* record buffer, record_length bytes */
    Drv_FCB* driver_instance;        /* the driver's block while open in this thread, else null */
    uint8_t reserved[2];
};

struct KeyDecl {
    void* driver_key;                /* null in the static data; a driver may keep its key block here */
    const char* name;                /* NAME attribute (zero-terminated), or null */
    const char* label;               /* "PAT:PATKEY", not zero-terminated */
    int32_t label_length;
    uint32_t reserved;
    uint32_t attributes;             /* VRN_KEY_* */
    uint8_t component_count;
    const int32_t* components;       /* 1-based field numbers; negative = descending */
    FileDecl* file;                  /* the owning file */
};

struct MemoDecl {
    void* driver_memo;               /* null in the static data */
    const char* name;                /* NAME attribute (zero-terminated), or null */
    uint8_t reserved[17];
    uint8_t flags;                   /* VRN_MEMO_* */
    uint32_t max_size;               /* bytes of a MEMO */
};

/* The part of a driver's per-file block that the runtime's services read and write. A driver puts
 * it first in its own block; the rest belongs to the driver. The three strings are heap copies made
 * with _drv_MakeCSTRING; the driver frees them with free() when the file is released. */
struct Drv_FCB {
    char* name;                      /* file name, zero-terminated */
    char* owner;                     /* OWNER value, or null */
    char* options;                   /* driver-options string, or null */
    uint8_t trace_attributes;        /* VRN_TRACE_* */
    uint32_t memo_count;
    uint32_t key_count;
    const struct VrnTypeDesc* record_type;
    uint32_t operation_flags;        /* cleared by every state check, accumulated by every update */
    uint32_t state;                  /* VRN_STATE_* */
    uint32_t fixed_strings;          /* VRN_FIXED_* */
    uint8_t logout_lock;             /* 1 while Vrn$LOGOUT locks the file */
    FileDecl* file;                  /* the program's declaration */
    const char* driver_name;         /* "KELSTORE", for tracing; null counts as "?" */
};

#endif
