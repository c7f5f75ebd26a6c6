/* SPDX-License-Identifier: GPL-3.0-or-later */
/* The VARNEL file driver: the records of a table in a SQLite database (".dat"), each key in a
 * SQLite database of its own named after it with the key's number (".K01", ".K02", ... in key
 * order). Programs name VARNEL as the driver of a FILE declaration. Valid C and C++.
 *
 * It runs on the same engine as KELSTORE and treats every operation the same way (see
 * kelstore/kelstore.h); what differs is where the keys live:
 *   - The key files are attached to the record file's connection, and to the transaction's
 *     connection during LOGOUT, so every write (and every COMMIT) changes the record file and all
 *     its key files together or none of them.
 *   - Each write raises a change stamp kept in the record file and in every key file. OPEN posts
 *     46 when a key file is missing, is not a key file of this table, or shows another stamp than
 *     the record file (it was not written with it); BUILD then remakes what is missing or
 *     unreadable, rebuilds every key and brings the stamps in step again.
 *   - A damaged or foreign record file is 36, a record file of another declaration 47.
 *   - SQLite attaches at most ten databases to a connection: a file declares at most ten keys
 *     (CREATE and OPEN post 47 beyond), and one LOGOUT takes at most eleven databases in all (the
 *     record files and their key files; 48 beyond). */
#ifndef LUMAREX_VARNEL_H
#define LUMAREX_VARNEL_H

#include "tarvex/export.h"
#include "tarvex/file_decl.h"

TARVEX_BEGIN_C

/* The driver entry point (VrnDriverEntry). */
TARVEX_API intptr_t VARNEL(int32_t operation, FileDecl* file, const intptr_t* arguments);

TARVEX_END_C

#endif
