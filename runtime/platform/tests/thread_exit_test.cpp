// SPDX-License-Identifier: GPL-3.0-or-later
// Routines at a thread's end: newest first, after the thread's C++ thread_local destructors, and a
// routine armed by another routine at that time still runs.
#include <gtest/gtest.h>

#include <string>
#include <thread>

#include "platform/platform.h"

namespace tarvex::platform {
namespace {

struct Recorder : ThreadExitLink {
    std::string* log = nullptr;
    char name = '?';
    Recorder* arms_at_end = nullptr;  // armed by this routine when it runs
};

void Record(ThreadExitLink* link) {
    auto* recorder = static_cast<Recorder*>(link);
    *recorder->log += recorder->name;
    if (recorder->arms_at_end != nullptr) RunAtThreadExit(recorder->arms_at_end);
}

struct LogsAtDestruction {
    std::string* log = nullptr;
    ~LogsAtDestruction() {
        if (log != nullptr) *log += 't';
    }
};

TEST(ThreadExit, RoutinesRunNewestFirstAfterThreadLocalDestructors) {
    std::string log;
    Recorder first, second, late;
    for (Recorder* r : {&first, &second, &late}) {
        r->log = &log;
        r->routine = Record;
    }
    first.name = '1';
    second.name = '2';
    late.name = 'L';
    first.arms_at_end = &late;
    std::thread worker([&] {
        EXPECT_TRUE(RunAtThreadExit(&first));
        EXPECT_TRUE(RunAtThreadExit(&second));
        thread_local LogsAtDestruction at_end;
        at_end.log = &log;
    });
    worker.join();
    EXPECT_EQ(log, "t21L");
}

TEST(ThreadExit, LinkWithoutRoutineIsRefused) {
    ThreadExitLink empty;
    EXPECT_FALSE(RunAtThreadExit(&empty));
    EXPECT_FALSE(RunAtThreadExit(nullptr));
}

}  // namespace
}  // namespace tarvex::platform
