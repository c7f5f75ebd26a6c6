// SPDX-License-Identifier: GPL-3.0-or-later
// Out-of-memory paths of the value stacks, reached through the platform's failing-allocation seam.
// A string result that cannot get its heap block is an empty value and sets no error code; every
// statement still leaves both stacks as deep as it would have on success. A thread whose stacks
// cannot be allocated at all ends the program with run-time error 501.
//
// Each case runs in a thread of its own: its stacks and its cache of released blocks start empty,
// so the allocations a statement makes are the same every time.
#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <functional>
#include <memory>
#include <string>
#include <thread>

#include "core/string_stack.h"
#include "platform/platform.h"
#include "tarvex/decimal.h"
#include "tarvex/frame.h"
#include "tarvex/string_stack.h"

namespace tarvex {
namespace {

const std::string kLongA = "Abernathy-Fitzgerald Dorothea";  // longer than an inline entry
const std::string kLongB = "Montgomery-Whitfield Bartholomew";

struct Outcome {
    uint32_t depth = 0;
    uint32_t decimal_depth = 0;
    std::string top;  // the top string entry, popped
    bool top_is_null = false;
    int32_t error_code = -1;
    uint64_t refused = 0;  // allocations the seam refused
};

// Runs `statement` on a new thread with the `nth` allocation (0: none) failing after the
// thread's stacks exist, and reports what the stacks hold afterwards.
Outcome RunFailing(uint64_t nth, const std::function<void()>& statement) {
    Outcome outcome;
    std::thread worker([&] {
        Vrw$StackDepth();   // makes this thread's stacks before failures start
        Vrw$DStackDepth();
        Vrn$clearerror();
        platform::FailAllocations(nth);
        statement();
        outcome.refused = platform::FailedAllocations();
        platform::FailAllocations(0);
        outcome.error_code = Vrn$ERRCODE;
        outcome.depth = Vrw$StackDepth();
        outcome.decimal_depth = Vrw$DStackDepth();
        if (VrnStackEntry* top = EntryAt(0)) outcome.top_is_null = top->address == nullptr;
        outcome.top = PopStdString();
        DiscardEntries(Vrw$StackDepth());
        while (Vrw$DStackDepth() > 0) Vrn$DPopLong();
    });
    worker.join();
    return outcome;
}

struct Case {
    const char* name;
    std::function<void()> statement;
    uint32_t depth;          // string entries left, on success and on failure alike
    uint32_t decimal_depth;  // decimal entries left
    std::string result;      // the top entry on success
};

// One statement per path that allocates a block for a new value.
const Case kCases[] = {
    {"concatenation", [] { Vrn$PushCString("ab"); Vrn$PushString(kLongA.data(), 29); Vrn$StackConcat(); },
     1, 0, "ab" + kLongA},
    {"copy of a long C string", [] { Vrn$PushCString(kLongB.c_str()); }, 1, 0, kLongB},
    {"StackHeap of a long reference", [] { Vrn$PushString(kLongA.data(), 29); Vrn$StackHeap(); }, 1, 0, kLongA},
    {"ALL to a long width", [] { Vrn$PushCString("ab"); Vrn$StackALL(25); }, 1, 0, "abababababababababababab" "a"},
    {"extension by LEFT", [] { Vrn$PushCString("ab"); Vrn$StackLEFT(24); }, 1, 0, "ab" + std::string(22, ' ')},
    {"decimal to string", [] { Vrn$DPushCString("12345678901234567890.125"); Vrn$DStack2Stack(); },
     1, 0, "12345678901234567890.125"},
    {"decimal sum to string under a decimal", [] {
         Vrn$DPushLong(9);
         Vrn$DPushCString("99999999999999999999.5");
         Vrn$DPushCString("0.25");
         Vrn$DecAdd();
         Vrn$DStack2Stack();
     }, 1, 1, "99999999999999999999.75"},
};

TEST(OutOfMemory, EachStringPathGivesAnEmptyValueAndKeepsTheStacksBalanced) {
    for (const Case& c : kCases) {
        SCOPED_TRACE(c.name);
        Outcome success = RunFailing(0, c.statement);
        EXPECT_EQ(success.top, c.result);
        EXPECT_EQ(success.depth, c.depth);
        EXPECT_EQ(success.decimal_depth, c.decimal_depth);

        Outcome failure = RunFailing(1, c.statement);
        EXPECT_EQ(failure.refused, 1u);
        EXPECT_EQ(failure.depth, c.depth);
        EXPECT_EQ(failure.decimal_depth, c.decimal_depth);
        EXPECT_EQ(failure.top, "");
        EXPECT_TRUE(failure.top_is_null);
        EXPECT_EQ(failure.error_code, 0);
    }
}

// dest = ALL('ab', 30) & CLIP(a) & ', ' & b, over long fields, with each of its allocations failing
// in turn: the stack always ends empty after the pop, and nothing is left allocated (the sanitizer
// build checks that).
TEST(OutOfMemory, EveryAllocationOfAStatementFailingInTurn) {
    char a[40], b[40], dest[120];
    std::memset(a, ' ', sizeof a);
    std::memset(b, ' ', sizeof b);
    std::memcpy(a, kLongA.data(), kLongA.size());
    std::memcpy(b, kLongB.data(), kLongB.size());
    auto statement = [&] {
        Vrn$PushCString("ab");
        Vrn$StackALL(30);
        Vrn$PushString(a, sizeof a);
        Vrn$StackCLIP();
        Vrn$StackConcat();
        Vrn$PushString(", ", 2);
        Vrn$StackConcat();
        Vrn$PushString(b, sizeof b);
        Vrn$StackConcat();
        Vrn$PopString(dest, sizeof dest);
        Vrn$PushCString("done");
    };
    const std::string expected = std::string("ababababababababababababababab") + kLongA + ", " + kLongB;
    uint64_t nth = 1;
    for (; nth < 50; nth++) {
        SCOPED_TRACE("allocation " + std::to_string(nth));
        std::memset(dest, '#', sizeof dest);
        Outcome outcome = RunFailing(nth, statement);
        EXPECT_EQ(outcome.depth, 1u);
        EXPECT_EQ(outcome.top, "done");
        EXPECT_EQ(outcome.error_code, 0);
        std::string popped(dest, sizeof dest);
        popped.erase(popped.find_last_not_of(' ') + 1);
        if (outcome.refused == 0) {
            // The statement makes fewer than nth allocations: it ran whole.
            EXPECT_EQ(popped, expected);
            break;
        }
        // A failed block empties its value, so the result is a (possibly empty) tail of the expected text.
        EXPECT_EQ(popped.find('#'), std::string::npos);
        EXPECT_TRUE(expected.size() >= popped.size() &&
                    expected.compare(expected.size() - popped.size(), popped.size(), popped) == 0)
            << popped;
    }
    EXPECT_GT(nth, 1u);  // the statement allocates at all
    EXPECT_LT(nth, 50u);
}

TEST(OutOfMemory, PopTempAndLoadstrGiveNullPairs) {
    VrnStringPair pair{reinterpret_cast<char*>(1), 7};
    Outcome outcome = RunFailing(1, [&] {
        Vrn$PushString(kLongA.data(), 29);
        Vrn$PopTemp(&pair);
        Vrn$PushCString("after");
    });
    EXPECT_EQ(pair.address, nullptr);
    EXPECT_EQ(pair.length, 0u);
    EXPECT_EQ(outcome.depth, 1u);
    EXPECT_EQ(outcome.top, "after");

    VrnStringPair loaded{reinterpret_cast<char*>(1), 7};
    RunFailing(1, [&] { Vrn$loadstr(&loaded, kLongB.data(), 10); });
    EXPECT_EQ(loaded.address, nullptr);
    EXPECT_EQ(loaded.length, 0u);
}

// Writes every box's text to stderr, where the death test reads it.
class BoxesToStderr final : public platform::MessageBoxes {
  public:
    uint32_t Show(const platform::MessageRequest& request) override {
        std::fprintf(stderr, "%s: %s\n", request.caption.c_str(), request.text.c_str());
        return request.default_button;
    }
};

TEST(OutOfMemoryDeathTest, ThreadWithoutMemoryForItsStacksEndsTheProgram) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    for (auto first_use : {+[] { Vrn$PushCString("x"); }, +[] { Vrn$DPushLong(1); }}) {
        EXPECT_EXIT(
            {
                platform::SetMessages(std::make_unique<BoxesToStderr>());
                platform::FailAllocations(1);
                std::thread worker(first_use);
                worker.join();
            },
            ::testing::ExitedWithCode(2), "Runtime error: .*Out of memory for the thread's value stacks");
    }
    // With no memory at all, reporting the error fails the same way; the program still ends.
    EXPECT_EXIT(
        {
            platform::FailAllocations(1, UINT64_MAX);
            std::thread worker([] { Vrn$PushCString("x"); });
            worker.join();
        },
        ::testing::ExitedWithCode(2), "");
}

}  // namespace
}  // namespace tarvex
