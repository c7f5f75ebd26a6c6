// SPDX-License-Identifier: GPL-3.0-or-later
// Heap blocks for the runtime's values.
#include <cerrno>
#include <cstdlib>

#include "platform/platform.h"

namespace tarvex::platform {

void* AllocateMemory(size_t size) {
    void* block = std::malloc(size);
    if (block == nullptr) RecordErrno(ENOMEM);
    return block;
}

void FreeMemory(void* block) { std::free(block); }

}  // namespace tarvex::platform
