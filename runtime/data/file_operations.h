// SPDX-License-Identifier: GPL-3.0-or-later
// Calling a file driver from inside the runtime (transactions, shutdown): the same path the
// exported file operations take.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <cstddef>

#include "tarvex/file_decl.h"

namespace tarvex {

// Calls the file's driver with the operation and its arguments. A null file posts 37, a file
// without a driver 80; the driver posts its own result.
intptr_t CallFileDriver(int32_t operation, FileDecl* file, std::initializer_list<intptr_t> arguments = {});

// Whether the operation's driver pops a text argument (RESET, REGET, SEND, SET_PROPERTY, ...) and
// whether it pushes a text result (NAME, POSITION, SEND, GET_PROPERTY, ...).
bool OperationTakesText(int32_t operation);
bool OperationGivesText(int32_t operation);

// Counters the view engine reads to learn whether anything moved a file between two of its calls:
// every driver call made through the runtime, and the SET and RESET operations on one file that
// did not come from the view engine itself (a ViewEngineScope marks the engine's own calls).
uint64_t FileOperationCount();
uint64_t ExternalPositioningCount(const FileDecl* file);
class ViewEngineScope {
public:
    ViewEngineScope();
    ~ViewEngineScope();
    ViewEngineScope(const ViewEngineScope&) = delete;
    ViewEngineScope& operator=(const ViewEngineScope&) = delete;
};

} // namespace tarvex
