/* SPDX-License-Identifier: GPL-3.0-or-later */
/* The declaration block a program emits for each FILE and VIEW. The runtime and the file drivers
 * read it; the driver stores its per-file block in `driver_instance` while the file is open.
 * Fields keep their order; pointers are native. */
#ifndef TARVEX_FILE_DECL_H
#define TARVEX_FILE_DECL_H

#include "tarvex/export.h"

/* Length conventions of the NAME, options and OWNER values. */
#define VRN_LENGTH_CSTRING (-1) /* zero-terminated */
#define VRN_LENGTH_PSTRING (-2) /* length-prefixed */

#define VRN_FILE_THREAD 0x10u

struct KeyDecl;
struct MemoDecl;
struct Drv_FCB;

typedef struct FileDecl FileDecl;
typedef void (*VrnDriverEntry)(int32_t operation, FileDecl* file, void* arguments);

struct FileDecl {
    VrnDriverEntry driver;          /* KELSTORE, VARNEL, or VIEWDRIVER */
    const char* name;               /* NAME value */
    int32_t name_length;            /* byte count, or VRN_LENGTH_CSTRING / VRN_LENGTH_PSTRING */
    const char* options;            /* second parameter of DRIVER, or null */
    int32_t options_length;
    const char* owner;              /* password, or null; never traced */
    int32_t owner_length;
    uint8_t attributes;             /* VRN_FILE_THREAD, ... */
    uint8_t key_count;
    uint8_t memo_count;
    uint32_t record_length;
    const void* record_type;        /* type descriptor of the record */
    struct KeyDecl* const* keys;
    struct MemoDecl* const* memos;
    void* record;                   /* record buffer */
    struct Drv_FCB* driver_instance; /* null while closed */
    uint8_t reserved[2];
};

#endif
