/* SPDX-License-Identifier: GPL-3.0-or-later */
/* Views: a virtual file over a primary FILE and the files joined to it.
 *
 * A program emits one ViewDecl per VIEW as static data and drives it with the ordinary file
 * operations of tarvex/files.h, passing the block where a FileDecl is expected (only its first
 * field, the driver entry, is read by the dispatchers): OPEN, SET on the primary file then NEXT
 * and PREVIOUS on the view, POSITION, RESET, REGET, WATCH, SET_PROPERTY for the filter, CLOSE.
 * Its driver is VIEWDRIVER, the runtime's own: it hands the view to the primary file's driver
 * when that driver answers QUERY_VIEW with a driver function, and otherwise runs it itself over
 * the component files' drivers.
 *
 * ---- The structure code --------------------------------------------------------------------------
 * A byte string describing the tree of files, one node per file, the primary file first, children
 * in pre-order; 16-bit values are little-endian. A node is:
 *   1. join link, one byte k: 0 for the primary file; 1..254: k 16-bit field numbers of the parent
 *      file follow, giving the values of the first k components of the joined file's key, in key
 *      order; 255 (VRN_VIEW_JOIN_CONDITION): a zero-terminated join condition follows instead;
 *   2. flags, one byte: VRN_VIEW_INNER (a parent row without a matching child row is skipped;
 *      without it the parent row is kept, the child's buffer cleared);
 *   3. projection: a 16-bit count; VRN_VIEW_PROJECT_ALL for every field and MEMO/BLOB; otherwise
 *      count entries, each a 16-bit field number, or VRN_VIEW_PROJECT_MEMO and a 16-bit memo number;
 *   4. child count, one byte, and that many child nodes.
 *
 * ---- The component array ---------------------------------------------------------------------------
 * One address per node, in the order of the structure code: the primary file's FileDecl; for a node
 * joined by key, the KeyDecl of the joined file's key (its file is the key's owner); for a node
 * joined by a condition, the joined file's FileDecl.
 *
 * ---- Properties ----------------------------------------------------------------------------------
 * SET_PROPERTY takes the property number as its argument and the value from the string stack;
 * GET_PROPERTY takes the property number (an index for 29478 and 31974 in the bits above the low
 * 16: VRN_VIEW_PROPERTY_AT) and pushes the value as text; numbers are written in decimal. */
#ifndef TARVEX_VIEWS_H
#define TARVEX_VIEWS_H

#include "tarvex/export.h"
#include "tarvex/file_decl.h"

#define VRN_VIEW_JOIN_CONDITION 255
#define VRN_VIEW_INNER 0x01u
#define VRN_VIEW_PROJECT_ALL 0xFFFFu
#define VRN_VIEW_PROJECT_MEMO 0xFFFFu

#define VRN_VIEW_PROP_FILTER 31928      /* the FILTER text */
#define VRN_VIEW_PROP_ORDER 31974       /* the ORDER text, or with an index one ORDER item */
#define VRN_VIEW_PROP_FILES 29477       /* GET: the number of files of the view */
#define VRN_VIEW_PROP_FILE 29478        /* GET with an index (1-based): the address of that file */
#define VRN_VIEW_PROP_TRACE_FILES 29479 /* the trace-into-files flag */
#define VRN_VIEW_PROPERTY_AT(property, index) ((int32_t)(((uint32_t)(index) << 16) | (uint32_t)(property)))

typedef struct ViewDecl {
    VrnDriverEntry driver;        /* VIEWDRIVER; the primary driver's view function while delegated */
    const uint8_t* structure;     /* the structure code */
    void* const* components;      /* FileDecl or KeyDecl addresses, one per node */
    const char* filter;           /* declared FILTER, zero-terminated, or null */
    const char* order;            /* declared ORDER, zero-terminated, or null */
} ViewDecl;

TARVEX_BEGIN_C

/* The view driver. A program names it in ViewDecl.driver. */
TARVEX_API intptr_t VIEWDRIVER(int32_t operation, FileDecl* view, const intptr_t* arguments);

/* The generic view engine alone, without asking the primary driver (QUERY_VIEW) first. A driver's
 * view function hands it every operation it does not serve itself; calling VIEWDRIVER there would
 * ask QUERY_VIEW again and come back to the same function. The engine keeps its own instance of
 * the view, so a view function that serves reads still hands it OPEN, CLOSE and the properties. */
TARVEX_API intptr_t VIEWENGINE(int32_t operation, FileDecl* view, const intptr_t* arguments);

/* For a view function that reads the primary file itself: how many leading components of `key` (a
 * key of the primary file) the view's FILTER fixes, through top-level AND terms `field = value` whose
 * value names no field of the view, exactly as the engine bounds its own scans. Their values, as the
 * program's variables give them now, are written into those fields of `record` (a buffer laid out
 * as the primary file's record); the other bytes are left alone. 0 for an unknown view. The error
 * state is kept. */
TARVEX_API int32_t VIEWBOUNDS(FileDecl* view, KeyDecl* key, void* record);

TARVEX_END_C

#endif
