// SPDX-License-Identifier: GPL-3.0-or-later
// Heap blocks for the runtime's values, with the seam that lets a test fail the Nth allocation: the
// out-of-memory paths of the value stacks cannot be reached any other way.
#include <atomic>
#include <cerrno>
#include <cstdlib>
#include <mutex>

#include "platform/platform.h"

namespace tarvex::platform {

namespace {

// Read on every allocation, so a plain flag guards the counting that only tests switch on.
std::atomic<bool> failures_armed{false};
std::mutex failure_mutex;
uint64_t calls_before_failure = 0;  // allocations that still succeed before the first refused one
uint64_t failures_left = 0;
std::atomic<uint64_t> failures_made{0};

bool RefuseThisAllocation() {
    std::lock_guard<std::mutex> lock(failure_mutex);
    if (calls_before_failure > 0) {
        --calls_before_failure;
        return false;
    }
    if (failures_left == 0) return false;
    if (--failures_left == 0) failures_armed.store(false, std::memory_order_relaxed);
    failures_made.fetch_add(1, std::memory_order_relaxed);
    return true;
}

}  // namespace

void* AllocateMemory(size_t size) {
    if (failures_armed.load(std::memory_order_relaxed) && RefuseThisAllocation()) {
        RecordErrno(ENOMEM);
        return nullptr;
    }
    void* block = std::malloc(size);
    if (block == nullptr) RecordErrno(ENOMEM);
    return block;
}

void FreeMemory(void* block) { std::free(block); }

void FailAllocations(uint64_t nth, uint64_t count) {
    std::lock_guard<std::mutex> lock(failure_mutex);
    calls_before_failure = nth > 0 ? nth - 1 : 0;
    failures_left = nth > 0 ? count : 0;
    failures_made.store(0, std::memory_order_relaxed);
    failures_armed.store(failures_left > 0, std::memory_order_relaxed);
}

uint64_t FailedAllocations() { return failures_made.load(std::memory_order_relaxed); }

}  // namespace tarvex::platform
