// SPDX-License-Identifier: GPL-3.0-or-later
// Per-thread state made on a thread's first use: every thread has stacks of its own, whether it
// started before or after the runtime was first called, and a thread's C++ thread_local
// destructors still find its string stack when the thread ends.
#include <gtest/gtest.h>

#include <atomic>
#include <string>
#include <thread>

#include "core/string_stack.h"
#include "tarvex/decimal.h"
#include "tarvex/string_stack.h"

namespace tarvex {
namespace {

struct StacksSeen {
    uint32_t depth_at_start = 99;
    uint32_t decimal_depth_at_start = 99;
    std::string text;
    int32_t number = 0;
    uint32_t depth_at_end = 99;
    uint32_t decimal_depth_at_end = 99;
};

// Pushes a long text (a heap block) and a number, pops them back and records what it saw.
StacksSeen UseOwnStacks(const std::string& text, int32_t number) {
    StacksSeen seen;
    seen.depth_at_start = Vrw$StackDepth();
    seen.decimal_depth_at_start = Vrw$DStackDepth();
    Vrn$PushCString(text.c_str());
    Vrn$StackHeap();
    Vrn$DPushLong(number);
    Vrn$DPushLong(1);
    Vrn$DecAdd();
    seen.number = Vrn$DPopLong();
    seen.text = PopStdString();
    seen.depth_at_end = Vrw$StackDepth();
    seen.decimal_depth_at_end = Vrw$DStackDepth();
    return seen;
}

void ExpectOwnStacks(const StacksSeen& seen, const std::string& text, int32_t number) {
    EXPECT_EQ(seen.depth_at_start, 0u);
    EXPECT_EQ(seen.decimal_depth_at_start, 0u);
    EXPECT_EQ(seen.text, text);
    EXPECT_EQ(seen.number, number + 1);
    EXPECT_EQ(seen.depth_at_end, 0u);
    EXPECT_EQ(seen.decimal_depth_at_end, 0u);
}

TEST(ThreadState, ThreadsStartedBeforeAndAfterFirstUseHaveTheirOwnStacks) {
    const std::string early_text = "the early thread's text, past the inline buffer";
    const std::string late_text = "the late thread's text, past the inline buffer too";
    std::atomic<bool> go{false};
    StacksSeen early_seen, late_seen;
    std::thread early([&] {
        while (!go.load()) std::this_thread::yield();
        early_seen = UseOwnStacks(early_text, 10);
    });
    // This thread's values stay on its stacks while the others run.
    Vrn$PushCString("this thread");
    Vrn$DPushLong(5);
    std::thread late([&] { late_seen = UseOwnStacks(late_text, 20); });
    go.store(true);
    early.join();
    late.join();
    ExpectOwnStacks(early_seen, early_text, 10);
    ExpectOwnStacks(late_seen, late_text, 20);
    EXPECT_EQ(Vrw$StackDepth(), 1u);
    EXPECT_EQ(Vrw$DStackDepth(), 1u);
    EXPECT_EQ(Vrn$DPopLong(), 5);
    EXPECT_EQ(PopStdString(), "this thread");
}

// Runs string operations from its destructor, at the thread's end.
struct StringsAtThreadEnd {
    std::string* result = nullptr;
    ~StringsAtThreadEnd() {
        if (result == nullptr) return;
        Vrn$PushCString("computed at the thread's end, ");
        Vrn$PushCString("on a heap block");
        Vrn$StackConcat();
        std::string text = PopStdString();
        *result = text + " / depth " + std::to_string(Vrw$StackDepth());
    }
};

TEST(ThreadState, ThreadLocalDestructorsStillFindTheStringStack) {
    std::string result;
    std::thread worker([&] {
        // Made before the thread's first string operation, so it is destroyed after anything the
        // runtime could have registered with the C++ runtime for this thread.
        thread_local StringsAtThreadEnd at_end;
        at_end.result = &result;
        Vrn$PushCString("left on the stack when the thread ends, in a heap block");
        Vrn$StackHeap();
    });
    worker.join();
    EXPECT_EQ(result, "computed at the thread's end, on a heap block / depth 1");
}

}  // namespace
}  // namespace tarvex
