// SPDX-License-Identifier: GPL-3.0-or-later
// Per-thread copies of registered regions, and THREAD files that get their own blocks per thread.
#include <gtest/gtest.h>

#include <cstring>
#include <thread>

#include "data/tests/file_test_driver.h"
#include "core/thread_instances.h"
#include "tarvex/files.hpp"
#include "tarvex/program.hpp"

namespace tarvex::testing {
namespace {

class ThreadInstances : public ::testing::Test {
  protected:
    void SetUp() override { ResetThreadInstances(); }
    void TearDown() override {
        SwitchThreadInstance(kFirstThreadSlot);
        ResetThreadInstances();
    }
};

TEST_F(ThreadInstances, EachSlotKeepsItsOwnCopy) {
    static int counter = 5;
    static char name[8] = "first";
    ASSERT_TRUE(RegisterThreadInstance(&counter, sizeof counter));
    ASSERT_TRUE(RegisterThreadInstance(name, sizeof name));
    counter = 6;

    ASSERT_TRUE(SwitchThreadInstance(1));
    EXPECT_EQ(counter, 5) << "a slot that never ran starts from the registration image";
    EXPECT_STREQ(name, "first");
    counter = 100;
    std::strcpy(name, "second");

    ASSERT_TRUE(SwitchThreadInstance(2));
    EXPECT_EQ(counter, 5);
    counter = 200;

    ASSERT_TRUE(SwitchThreadInstance(kFirstThreadSlot));
    EXPECT_EQ(counter, 6);
    EXPECT_STREQ(name, "first");
    ASSERT_TRUE(SwitchThreadInstance(1));
    EXPECT_EQ(counter, 100);
    EXPECT_STREQ(name, "second");
    ASSERT_TRUE(SwitchThreadInstance(1)); // to itself: nothing moves
    EXPECT_EQ(counter, 100);

    // A released slot starts again from the registration image; the current one cannot be released.
    ReleaseThreadInstance(1);
    EXPECT_EQ(counter, 100);
    ASSERT_TRUE(SwitchThreadInstance(2));
    EXPECT_EQ(counter, 200);
    ReleaseThreadInstance(1);
    ASSERT_TRUE(SwitchThreadInstance(1));
    EXPECT_EQ(counter, 5);
}

TEST_F(ThreadInstances, RegistrationRules) {
    static uint8_t block[32];
    EXPECT_FALSE(RegisterThreadInstance(nullptr, 4));
    EXPECT_FALSE(RegisterThreadInstance(block, 0));
    ASSERT_TRUE(RegisterThreadInstance(block + 8, 8));
    EXPECT_TRUE(RegisterThreadInstance(block + 8, 8)) << "the same region again is accepted";
    EXPECT_FALSE(RegisterThreadInstance(block + 8, 4)) << "same start, other size";
    EXPECT_FALSE(RegisterThreadInstance(block + 4, 8)) << "overlaps the start";
    EXPECT_FALSE(RegisterThreadInstance(block + 12, 8)) << "overlaps the end";
    EXPECT_TRUE(RegisterThreadInstance(block, 8)) << "adjacent before";
    EXPECT_TRUE(RegisterThreadInstance(block + 16, 8)) << "adjacent after";
    EXPECT_EQ(ThreadInstanceCount(), 3u);
    EXPECT_FALSE(SwitchThreadInstance(-1));
    EXPECT_FALSE(SwitchThreadInstance(kThreadSlots));
    EXPECT_EQ(CurrentThreadInstance(), kFirstThreadSlot);
}

TEST_F(ThreadInstances, RegionRegisteredWhileAnotherSlotIsSaved) {
    static int first = 1, later = 10;
    ASSERT_TRUE(RegisterThreadInstance(&first, sizeof first));
    ASSERT_TRUE(SwitchThreadInstance(1));
    first = 2;
    ASSERT_TRUE(SwitchThreadInstance(kFirstThreadSlot)); // slot 1 now has saved copies
    ASSERT_TRUE(RegisterThreadInstance(&later, sizeof later));
    later = 11;
    ASSERT_TRUE(SwitchThreadInstance(1));
    EXPECT_EQ(first, 2);
    EXPECT_EQ(later, 10) << "slot 1 sees the new region's registration image";
    ASSERT_TRUE(SwitchThreadInstance(kFirstThreadSlot));
    EXPECT_EQ(later, 11);
}

// A THREAD file read by two program threads: each thread has its own open instance and record
// buffer at the declared addresses, as the runtime lock passes between them.
TEST_F(ThreadInstances, ThreadedFileHasItsOwnBlocksPerThread) {
    MemoryFile people("C:\\PEOPLE.TST", VRN_FILE_THREAD);
    AddRows(people, {{1, "one"}, {2, "two"}});
    Vrn$ThreadedFileOpen(people.Decl());
    EXPECT_EQ(ThreadInstanceCount(), 3u) << "declaration, record buffer, one key";
    Vrn$ThreadedFileOpen(people.Decl());
    EXPECT_EQ(ThreadInstanceCount(), 3u) << "a second call registers nothing more";

    OPEN(people);
    ASSERT_EQ(ERRORCODE(), 0);
    GET(people, 1);
    ASSERT_EQ(ERRORCODE(), 0);
    Drv_FCB* first_instance = people.Fcb();

    std::thread other([&] {
        SwitchThreadInstance(1); // the lock passes to the second thread
        EXPECT_EQ(people.Fcb(), nullptr) << "the file is not open in this thread";
        EXPECT_EQ(int32_t(people.record.ID), 0);
        OPEN(people);
        EXPECT_EQ(ERRORCODE(), 0);
        GET(people, 2);
        EXPECT_EQ(ERRORCODE(), 0);
        EXPECT_EQ(int32_t(people.record.ID), 2);
        EXPECT_NE(people.Fcb(), first_instance);
        CLOSE(people);
        SwitchThreadInstance(kFirstThreadSlot); // and back
    });
    other.join();

    EXPECT_EQ(people.Fcb(), first_instance);
    EXPECT_EQ(int32_t(people.record.ID), 1) << "the second thread's read did not reach this buffer";
    GET(people, 2);
    EXPECT_EQ(ERRORCODE(), 0);
    EXPECT_EQ(int32_t(people.record.ID), 2);
}

TEST_F(ThreadInstances, FileWithoutThreadIsLeftAlone) {
    MemoryFile shared("C:\\SHARED.TST");
    Vrn$ThreadedFileOpen(shared.Decl());
    Vrn$ThreadedFileOpen(nullptr);
    EXPECT_EQ(ThreadInstanceCount(), 0u);
}

} // namespace
} // namespace tarvex::testing
