/* SPDX-License-Identifier: GPL-3.0-or-later */
/* Resources of a program's modules: each executable or library that carries resources links a
 * generated table of them (name, type, bytes), which registers itself with the runtime when the
 * module loads and withdraws when it unloads. The runtime searches the executable's table first,
 * then the libraries' in load order.
 *
 * Names are looked up upper-cased with every '.' replaced by '_' ("~LUMAREX.ICO" finds
 * "LUMAREX_ICO"; a leading '~' is dropped). A window description of module "LUMAREX$ACCOUN~1" is
 * the resource "ACCOUN~1_RSC" of type "DABDUMP", its bytes the module name, a NUL, then the dump. */
#ifndef TARVEX_RESOURCES_H
#define TARVEX_RESOURCES_H

#include "tarvex/export.h"

typedef struct VrnResource {
    const char* name;            /* as looked up: upper case, '_' for '.' */
    const char* type;            /* "DABDUMP", "ICON", "BITMAP", "CURSOR", ... */
    const unsigned char* bytes;
    uint32_t size;
} VrnResource;

typedef struct VrnResourceTable {
    const VrnResource* entries;
    uint32_t count;
} VrnResourceTable;

TARVEX_BEGIN_C

/* Called by a module's generated table when the module loads and unloads. */
TARVEX_API void WslUtil$RegisterResources(const VrnResourceTable* table);
TARVEX_API void WslUtil$UnregisterResources(const VrnResourceTable* table);

/* The bytes of the named resource of the given type, and their count in *size; null (and *size 0)
 * when no module has it. The bytes belong to the module and stay valid while it is loaded. */
TARVEX_API const void* WslUtil$LoadNamedResource(const char* name, const char* type, uint32_t* size);
/* Releases a pointer from WslUtil$LoadNamedResource. Resources live in their module's read-only
 * data, so there is nothing to give back; the call exists so that programs pair every load. */
TARVEX_API void WslUtil$FreeResourcePtr(const void* pointer);

TARVEX_END_C

#endif
