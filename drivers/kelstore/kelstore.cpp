// SPDX-License-Identifier: GPL-3.0-or-later
// The KELSTORE driver: the shared SQLite engine with every key kept in the record file.
#include "kelstore/kelstore.h"

#include "common/sql_store.h"

namespace {

constexpr lumarex::drivers::Layout kKelstoreLayout{"KELSTORE", "kel", "KELSTORE 1", "kel", false};

} // namespace

TARVEX_API intptr_t KELSTORE(int32_t operation, FileDecl* file, const intptr_t* arguments) {
    return lumarex::drivers::Perform(kKelstoreLayout, operation, file, arguments);
}
