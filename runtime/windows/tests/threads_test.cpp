// SPDX-License-Identifier: GPL-3.0-or-later
// START and the runtime lock: started procedures get their parameters on their own string stack
// and their own instances of program data, run only while they hold the lock (never two at once),
// and are refused while a modal window is open or every slot is taken.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "core/string_stack.h"
#include "core/thread_instances.h"
#include "tarvex/string_stack.h"
#include "tarvex/threads.h"
#include "windows/threads.h"

namespace tarvex::windows {
namespace {

std::mutex log_mutex;
std::vector<std::string> log_lines;

void Log(const std::string& line) {
    std::lock_guard guard(log_mutex);
    log_lines.push_back(line);
}

// Lets the started threads run to their end: the test's thread gives the lock up meanwhile.
void LetThreadsRun() {
    Vrn$UNLOCKTHREAD();
    for (int i = 0; i < 2000 && RunningThreads() > 0; i++)
        std::this_thread::sleep_for(std::chrono::milliseconds(5));
    Vrn$LOCKTHREAD();
    ASSERT_EQ(RunningThreads(), 0);
}

class Threads : public ::testing::Test {
  protected:
    void SetUp() override {
        ASSERT_EQ(ThisThreadSlot(), 0); // the test's thread is the program's first
        std::lock_guard guard(log_mutex);
        log_lines.clear();
    }
    void TearDown() override { SetModalWindowQuery(windows_query_); }
    // The windows' own query is put back after each test.
    ModalWindowQuery windows_query_ = SetModalWindowQuery(nullptr);
};

void TakesThreeParameters() {
    std::string third = PopStdString();
    std::string second = PopStdString();
    std::string first = PopStdString();
    Log(std::to_string(Vrn$THREAD()) + ":" + first + "," + second + "," + third + " depth " +
        std::to_string(Vrw$StackDepth()));
}

TEST_F(Threads, ParametersMoveToTheNewThreadsOwnStack) {
    uint32_t depth = Vrw$StackDepth();
    PushCopy("Smith");
    PushCopy("John");
    PushCopy("1042");
    int32_t number = Vrn$START3(TakesThreeParameters, 0);
    EXPECT_GE(number, 2);
    EXPECT_EQ(Vrw$StackDepth(), depth); // moved, not copied
    std::this_thread::sleep_for(std::chrono::milliseconds(50));
    {
        std::lock_guard guard(log_mutex);
        EXPECT_TRUE(log_lines.empty()); // it cannot run while this thread holds the lock
    }
    LetThreadsRun();
    EXPECT_EQ(log_lines, std::vector<std::string>{std::to_string(number) + ":Smith,John,1042 depth 0"});
    EXPECT_EQ(Vrn$THREAD(), 1);
}

int shared_value = 0; // program data with an instance per thread

void ChangesItsOwnInstance() {
    Log("saw " + std::to_string(shared_value));
    shared_value = 99;
}

TEST_F(Threads, EachThreadHasItsOwnInstances) {
    shared_value = 5;
    ASSERT_TRUE(RegisterThreadInstance(&shared_value, sizeof shared_value));
    shared_value = 7;
    ASSERT_GT(Vrn$START(ChangesItsOwnInstance, 0), 0);
    ASSERT_GT(Vrn$START(ChangesItsOwnInstance, 0), 0);
    LetThreadsRun();
    // Each started thread began from the value at registration, not from this thread's 7 or the
    // other thread's 99; this thread's own value is untouched.
    EXPECT_EQ(log_lines, (std::vector<std::string>{"saw 5", "saw 5"}));
    EXPECT_EQ(shared_value, 7);
    ResetThreadInstances();
}

std::atomic<int> inside{0};
std::atomic<int> overlaps{0};

void TakesTurns() {
    for (int i = 0; i < 200; i++) {
        if (inside++ != 0)
            overlaps++;
        std::this_thread::yield();
        inside--;
        Vrn$UNLOCKTHREAD(); // long work without program code: others may run now
        Vrn$LOCKTHREAD();
    }
}

TEST_F(Threads, OnlyTheHolderOfTheLockRunsProgramCode) {
    for (int i = 0; i < 4; i++)
        ASSERT_GT(Vrn$START(TakesTurns, 0), 0);
    LetThreadsRun();
    EXPECT_EQ(overlaps, 0);
}

void Nothing() {}

TEST_F(Threads, StartIsRefusedWhileAModalWindowIsOpen) {
    SetModalWindowQuery([] { return true; });
    uint32_t depth = Vrw$StackDepth();
    PushCopy("dropped");
    EXPECT_EQ(Vrn$START1(Nothing, 20000), 0);
    EXPECT_EQ(Vrw$StackDepth(), depth); // the parameter is gone too
    EXPECT_EQ(RunningThreads(), 0);
    SetModalWindowQuery([] { return false; });
    EXPECT_GT(Vrn$START(Nothing, 0), 0);
    LetThreadsRun();
}

TEST_F(Threads, SixtyFourSlotsAndNoMore) {
    std::vector<int32_t> numbers;
    for (int i = 0; i < 63; i++)
        numbers.push_back(Vrn$START(Nothing, 0));
    EXPECT_EQ(numbers.front(), 2);
    EXPECT_EQ(numbers.back(), 64);
    EXPECT_EQ(Vrn$START(Nothing, 0), 0); // every slot is in use
    LetThreadsRun();
    EXPECT_EQ(Vrn$START(Nothing, 0), 2); // the ended threads' slots are free again
    LetThreadsRun();
}

TEST_F(Threads, UnlockingNests) {
    EXPECT_EQ(Vrn$THREADLOCKED(), 1);
    Vrn$LOCKTHREAD(); // not unlocked: nothing to take back
    EXPECT_EQ(Vrn$THREADLOCKED(), 1);
    Vrn$UNLOCKTHREAD();
    Vrn$UNLOCKTHREAD();
    EXPECT_EQ(Vrn$THREADLOCKED(), 0);
    Vrn$LOCKTHREAD();
    EXPECT_EQ(Vrn$THREADLOCKED(), 0);
    Vrn$LOCKTHREAD();
    EXPECT_EQ(Vrn$THREADLOCKED(), 1);
}

} // namespace
} // namespace tarvex::windows
