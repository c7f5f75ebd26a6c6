// SPDX-License-Identifier: GPL-3.0-or-later
// The failing-allocation seam: which calls it refuses, that a refusal records "Insufficient
// Memory" as the last error, and that it switches itself off.
#include <gtest/gtest.h>

#include <cstdlib>
#include <string>

#include "platform/platform.h"

namespace tarvex::platform {
namespace {

// The pattern of six allocations under FailAllocations(nth, count): '.' succeeded, 'x' refused.
std::string Pattern(uint64_t nth, uint64_t count) {
    FailAllocations(nth, count);
    std::string pattern;
    for (int i = 0; i < 6; i++) {
        void* block = AllocateMemory(16);
        pattern += block ? '.' : 'x';
        FreeMemory(block);
    }
    FailAllocations(0);
    return pattern;
}

TEST(Memory, FailsTheNthAllocationAndTheCountAfterIt) {
    struct Row {
        uint64_t nth, count;
        const char* pattern;
    };
    const Row rows[] = {
        {0, 1, "......"}, {1, 1, "x....."}, {3, 1, "..x..."},
        {2, 3, ".xxx.."}, {5, 9, "....xx"}, {7, 1, "......"},
        {1, 0, "......"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(Pattern(row.nth, row.count), row.pattern) << row.nth << "," << row.count;
    }
}

TEST(Memory, RefusalIsInsufficientMemory) {
    SetLastError(0);
    FailAllocations(1, 2);
    EXPECT_EQ(AllocateMemory(8), nullptr);
    EXPECT_EQ(LastError(), 8);
    EXPECT_EQ(AllocateMemory(8), nullptr);
    EXPECT_EQ(FailedAllocations(), 2u);
    void* block = AllocateMemory(8);
    EXPECT_NE(block, nullptr);
    FreeMemory(block);
    EXPECT_EQ(FailedAllocations(), 2u);
    // Arming again starts the count afresh.
    FailAllocations(2);
    EXPECT_EQ(FailedAllocations(), 0u);
    FailAllocations(0);
    block = AllocateMemory(8);
    EXPECT_NE(block, nullptr);
    FreeMemory(block);
    SetLastError(0);
}

}  // namespace
}  // namespace tarvex::platform
