// SPDX-License-Identifier: GPL-3.0-or-later
// Moving the practice's data between its two homes: the SQLite files (KELSTORE, and VARNEL for
// Provider) and a PostgreSQL database (PGSQL for all sixteen). Every file is copied record by
// record in record order, so duplicates keep their order under every key, then checked: the same
// number of records, and the same records in the same order under every key.
#pragma once

#include <span>
#include <string>

#include "tarvex/file_decl.h"

namespace lumarex {

// Where the files live: the driver of Provider and the driver of the other fifteen.
struct DataHome {
    VrnDriverEntry kelstore;
    VrnDriverEntry varnel;
};

// The setting that names the practice's database: a libpq connection string ("host=/run/postgresql
// dbname=lumarex") in the environment variable, or else in the entry of that key in the program's
// environment file (lumapp.ENV). The PGSQL driver connects with it; the program reads it only to
// choose where its files live, and never writes it anywhere (a password in it stays out of traces
// and fault reports; it belongs in ~/.pgpass all the same).
constexpr const char* kDatabaseSetting = "TARVEX_PGSQL";

// Whether the settings name a database: the variable or the entry holds something other than blanks.
bool DatabaseNamed();
// Binds the sixteen files to their home as the settings choose it: to `server` when they name a
// database, else to `files`. Returns the home chosen.
const DataHome& BindDataHome(const DataHome& files, const DataHome& server);

// Copies every dictionary file from `from` to `to`. A target that holds records is refused unless
// `replace` is set. Where the target's driver takes every file into one transaction (PGSQL) the
// copy is one transaction: it lands whole or not at all. The SQLite files cannot share one (at
// most eleven in a transaction): each copy is made in a staging folder beside the data files and
// checked, and only once all are do they replace the data files, each in one rename, while no
// program has those open. A failure before that leaves every data file as it was. 0, or the error code with `report` naming the file and the fault. The dictionary's
// declarations are bound to `from` on return.
int32_t MoveData(const DataHome& from, const DataHome& to, bool replace, std::string* report);
// The same for `files`, each bound to its source's driver: Provider's copy goes to `to.varnel`,
// every other file's to `to.kelstore`. Every record is copied with its MEMO and BLOB values, and
// the check compares those too.
int32_t MoveFiles(std::span<FileDecl* const> files, const DataHome& to, bool replace, std::string* report);

} // namespace lumarex
