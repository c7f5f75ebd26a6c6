/* SPDX-License-Identifier: GPL-3.0-or-later */
/* The KELSTORE file driver: one SQLite database per table file (".kel"), holding the records with
 * their row id as record pointer, one indexed key-image column per key and a small metadata table.
 * Programs name KELSTORE as the driver of a FILE declaration; the runtime calls it with the
 * operation codes of tarvex/file_decl.h. Valid C and C++. */
#ifndef LUMAREX_KELSTORE_H
#define LUMAREX_KELSTORE_H

#include "tarvex/export.h"
#include "tarvex/file_decl.h"

TARVEX_BEGIN_C

/* The driver entry point (VrnDriverEntry). */
TARVEX_API intptr_t KELSTORE(int32_t operation, FileDecl* file, const intptr_t* arguments);

TARVEX_END_C

#endif
