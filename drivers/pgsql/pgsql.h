/* SPDX-License-Identifier: GPL-3.0-or-later */
/* The PGSQL file driver: the program's files as tables of one PostgreSQL database that several
 * stations use at once. Each file is a table named after it ("C:\LUMAREX\DATA\Patient.kel": table
 * patient) with the same named, typed columns as the SQLite drivers' files, its row id (column id)
 * as record pointer, a per-row version (changes) for WATCH and one memcomparable key image per key
 * (k1, k2, ...) under its own index. Programs name PGSQL as the driver of a FILE declaration.
 * Valid C and C++.
 *
 * The database: the libpq connection string of the setting TARVEX_PGSQL (for example
 * "host=/run/postgresql dbname=lumarex"): the environment variable, or else the entry of that key in
 * the program's environment file (Vrn$GetSetting). It is never part of the declaration's options, so
 * a trace never shows it, and a password in it never reaches an error text.
 *
 * How it treats the operations whose meaning is the driver's to choose:
 *   - Each open file has a server connection of its own. LOGOUT/COMMIT/ROLLBACK: the enlisted files
 *     are reached through one further connection inside one server transaction, any number of
 *     files; LOGOUT locks each file's table against other writers, waiting up to the LOGOUT
 *     seconds (0: not at all), and a table not had in time fails the LOGOUT (48). A station that
 *     dies inside a transaction loses its connection, and the server rolls the transaction back.
 *   - A write refused inside a transaction is undone alone, and the transaction goes on, as on the
 *     SQLite drivers: an ADD a key without DUP refuses writes nothing (40) without a server error,
 *     a PUT or DELETE runs under a savepoint. A server error that ends the transaction (COMMIT finds
 *     it rolled back) makes COMMIT fail with 90, never report success.
 *   - WATCH: a PUT after a watched read changes the record only while its version is the one read;
 *     otherwise 89 and nothing is written. Every table has a trigger that raises the version of a
 *     row any other SQL client updates without raising it, added on OPEN or BUILD to a table made
 *     before it (its rows kept).
 *   - LOCK(file, seconds): the table locked against other writers and lockers within a server
 *     transaction on the file's connection, waiting up to the seconds (32 when not had); the
 *     writes until UNLOCK (or CLOSE) commit with UNLOCK. STREAM/FLUSH: the writes between them are
 *     one server transaction.
 *   - HOLD and RELEASE: the state words mark the held record, as on the SQLite drivers.
 *   - OPEN holds a session lock on the table's name, shared or (deny all) exclusive: a deny-all
 *     OPEN waits up to five seconds for the other stations to close the table, then fails (32),
 *     and keeps later OPENs out the same way; CREATE refuses a table another station has open (32).
 *     A read-only OPEN makes the connection read-only. Deny-write and deny-read are not held.
 *   - SEND, SET_PROPERTY, GET_PROPERTY: those of the SQLite drivers (common/driver_properties.h);
 *     the lock wait is how long a write waits for a table another station locked; the files
 *     property is 1.
 *   - MEMO and BLOB: columns of their own (text for a MEMO, bytea for a BLOB or MEMO,BINARY),
 *     moved by BLOB_TAKE, BLOB_YIELD, BLOB_SIZE and NOMEMO as on the SQLite drivers
 *     (kelstore/kelstore.h); a MEMO holding a zero byte cannot be stored (90), the server's text
 *     has none.
 *   - Views: QUERY_VIEW names the driver's view function (pg_view.cpp). A view over PGSQL files,
 *     the primary file's and those joined to it by key where SQL compares the join fields exactly as
 *     the engine does, whose FILTER the evaluator writes as SQL exactly or as a superset, reads as
 *     keyset-paged server queries in the engine's order (NEXT, PREVIOUS, POSITION, RESET): the
 *     primary file's reading order, then each joined file's in its join key, an outer join without
 *     a match clearing the joined file's buffer; within the part of the key that the filter's
 *     `field = value` terms fix (VIEWBOUNDS), with the program's variables as they are at each
 *     read; the engine evaluates a superset's full filter on the rows that come. An ORDER that a
 *     key of the primary file reads is served in that key's order; one that no key reads, over
 *     integer and decimal fields, sorted by its values with ties in the reading order. WATCH,
 *     HOLD, PUT and DELETE through such a view reach the primary file as through the engine. Any
 *     other view, and every other operation, goes to the runtime's generic engine (VIEWENGINE).
 *   - Errors from the server: a duplicate key 40, a lock not had in time 32, a missing table 2,
 *     missing rights 5; any other is 90 with the server's message as the driver's text. */
#ifndef LUMAREX_PGSQL_H
#define LUMAREX_PGSQL_H

#include "tarvex/export.h"
#include "tarvex/file_decl.h"

TARVEX_BEGIN_C

/* The driver entry point (VrnDriverEntry). */
TARVEX_API intptr_t PGSQL(int32_t operation, FileDecl* file, const intptr_t* arguments);

TARVEX_END_C

#endif
