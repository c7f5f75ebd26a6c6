/* SPDX-License-Identifier: GPL-3.0-or-later */
/* The KELSTORE file driver: one SQLite database per table file (".kel"), holding the records with
 * their row id as record pointer, one indexed key-image column per key and a small metadata table.
 * Programs name KELSTORE as the driver of a FILE declaration; the runtime calls it with the
 * operation codes of tarvex/file_decl.h. It runs on the engine in drivers/common, as VARNEL does
 * (varnel/varnel.h), which keeps its keys in files of their own. Valid C and C++.
 *
 * How it treats the operations whose meaning is the driver's to choose:
 *   - LOGOUT/COMMIT/ROLLBACK: the driver registers as able to log, roll back and commit, and asks
 *     for the lock before LOGOUT, whose seconds become the transaction's wait for its locks. The
 *     enlisted files are attached to one connection and written in one SQLite transaction
 *     (rollback journal), so COMMIT changes every file or none, even when the process dies. A file
 *     that cannot be had within the seconds makes LOGOUT fail (48). At most eleven files take part (SQLite attaches ten to one connection).
 *   - LOCK(file, seconds): an exclusive lock for this connection; 32 when another keeps the file
 *     longer. UNLOCK lets it go (a file opened deny-all stays alone).
 *   - HOLD and RELEASE: the state words mark the held record; other connections are not kept from
 *     it (WATCH, LOCK or LOGOUT do that).
 *   - STREAM/FLUSH: the writes between them are one transaction; CLOSE and LOCK flush first.
 *   - APPEND adds the record and keeps its keys, like ADD: an indexed file cannot hold a record its
 *     keys miss, so nothing is left for a later BUILD.
 *   - DUPLICATE: 1 when another record than the current one holds the buffer's values under the
 *     key (under any key without DUP, for the file); a blank OPT value duplicates nothing.
 *   - SEND: "QUICKSCAN=on|off" and "Recover=n" set the option and reply with its value, the name
 *     alone replies with it; any other command replies with an empty text.
 *   - NEXT and PREVIOUS read ahead: a step reads a batch of the rows after the one it lands on
 *     (1, 2, 4, ... up to 256 on consecutive steps in one direction), and the following steps take
 *     their rows from it as long as nothing else was done with the file in between and the change
 *     counter in the database header is unchanged (no connection committed a change). No lock is
 *     held between two steps: each batch is one read of its own, so other processes' writers
 *     never wait on a sequence, and a step after their commit reads the file again from the row
 *     it stands on.
 *   - SET_PROPERTY and GET_PROPERTY: the properties of common/driver_properties.h (driver name,
 *     database files, QUICKSCAN, Recover, lock wait, taking part in a LOGOUT); other numbers are
 *     ignored (GET gives an empty text). ADD and APPEND with a length store that many bytes of
 *     the buffer, the rest of the record blank; the keys follow what is stored.
 *   - MEMO and BLOB: each in a column of its own after the fields (common/memo_columns.h). The
 *     driver keeps the current record's values: BLOB_TAKE(file, memo, address, size) gives memo
 *     `memo` (from 1) the `size` bytes at `address` (a MEMO without its padding blanks; 90 when a
 *     MEMO is given more than its most bytes), BLOB_YIELD(file, memo, address, size) copies the
 *     value into those bytes (a MEMO padded with blanks), BLOB_SIZE gives its length; a memo
 *     number the declaration lacks is 47. ADD and PUT store the values, a read brings them in;
 *     NOMEMO makes the next read leave them out, and a PUT after it keeps the stored memos the
 *     program took no value for. BLOB_SET_PROP and BLOB_GET_PROP are not supported (80).
 *   - BUILD: recomputes the key images (after the character tables changed) and, for the file,
 *     records the tables the images now follow. A file OPEN refuses with 46 is built while closed:
 *     BUILD then opens it exclusively whatever tables it follows, rebuilds and closes it. An open
 *     file must be open alone (deny-all or LOCK). BUILD of one key leaves the recorded tables. */
#ifndef LUMAREX_KELSTORE_H
#define LUMAREX_KELSTORE_H

#include "tarvex/export.h"
#include "tarvex/file_decl.h"

TARVEX_BEGIN_C

/* The driver entry point (VrnDriverEntry). */
TARVEX_API intptr_t KELSTORE(int32_t operation, FileDecl* file, const intptr_t* arguments);

TARVEX_END_C

#endif
