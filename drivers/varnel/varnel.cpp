// SPDX-License-Identifier: GPL-3.0-or-later
// The VARNEL driver: the shared SQLite engine with the records in the ".dat" file and each key in
// a file of its own (".K01", ".K02", ...).
#include "varnel/varnel.h"

#include "common/sql_store.h"

namespace {

constexpr lumarex::drivers::Layout kVarnelLayout{"VARNEL", "dat", "VARNEL 1", "var", true};

} // namespace

TARVEX_API intptr_t VARNEL(int32_t operation, FileDecl* file, const intptr_t* arguments) {
    return lumarex::drivers::Perform(kVarnelLayout, operation, file, arguments);
}
