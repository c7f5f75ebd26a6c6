// SPDX-License-Identifier: GPL-3.0-or-later
// Calling a file driver from inside the runtime (transactions, shutdown): the same path the
// exported file operations take.
#pragma once

#include <cstdint>
#include <initializer_list>

#include "tarvex/file_decl.h"

namespace tarvex {

// Calls the file's driver with the operation and its arguments. A null file posts 37, a file
// without a driver 80; the driver posts its own result.
intptr_t CallFileDriver(int32_t operation, FileDecl* file, std::initializer_list<intptr_t> arguments = {});

} // namespace tarvex
