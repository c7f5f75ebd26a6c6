// SPDX-License-Identifier: GPL-3.0-or-later
// Memory for the per-thread objects (thread_state.h).
#include "core/thread_state.h"

#include "tarvex/frame.h"

namespace tarvex {

namespace {
// Set while the error is being reported: reporting it needs per-thread objects of its own (the
// message buffer, the string stack), whose allocation may fail the same way.
constinit thread_local bool reporting_failure = false;
}  // namespace

void* AllocateThreadObject(size_t size) {
    if (void* memory = platform::AllocateMemory(size)) return memory;
    if (!reporting_failure) {
        reporting_failure = true;
        Vrn$rterr(501, "Out of memory for the thread's value stacks");
    }
    // The error ends a running program; before Vrn$init, or answered in a test, it returns.
    platform::ExitProcess(2);
}

}  // namespace tarvex
