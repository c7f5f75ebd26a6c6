// SPDX-License-Identifier: GPL-3.0-or-later
// The register of open files, transactions, the log-file list, STATUS and the shutdown, through the
// test driver.
#include <gtest/gtest.h>

#include <future>
#include <string>
#include <thread>
#include <vector>

#include "data/tests/file_test_driver.h"
#include "tarvex/files.hpp"
#include "tarvex/program.hpp"

namespace tarvex::testing {
namespace {

using Strings = std::vector<std::string>;

// No test may leave a transaction behind for the next one.
class Transactions : public ::testing::Test {
  protected:
    void SetUp() override { Events().clear(); }
    void TearDown() override {
        COMMIT();
        EXPECT_EQ(ERRORCODE(), 91) << "a transaction was left active";
    }
};

TEST_F(Transactions, LogoutWithNothingToLog) {
    LOGOUT(2);
    EXPECT_EQ(ERRORCODE(), 48);
    COMMIT();
    EXPECT_EQ(ERRORCODE(), 91);
}

TEST_F(Transactions, CommitAndRollback) {
    MemoryFile a("C:\\A.TST"), b("C:\\B.TST");
    AddRows(a, {{1, "one"}});
    OPEN(a);
    OPEN(b);
    LOGOUT(2, a, b);
    ASSERT_EQ(ERRORCODE(), 0);
    EXPECT_EQ(a.Fcb()->state & VRN_STATE_LOGOUT, VRN_STATE_LOGOUT);
    LOGOUT(2, a);
    EXPECT_EQ(ERRORCODE(), 56);
    CLOSE(a);
    EXPECT_EQ(ERRORCODE(), 56); // the driver refuses CLOSE during the transaction
    GET(a, 1);
    DELETE(a);
    EXPECT_EQ(a.Store().rows.size(), 0u);
    ROLLBACK();
    EXPECT_EQ(ERRORCODE(), 0);
    EXPECT_EQ(a.Store().rows.size(), 1u);
    EXPECT_EQ(Events(), (Strings{"ROLLBACK C:\\B.TST", "ROLLBACK C:\\A.TST"})); // the last first
    EXPECT_EQ(a.Fcb()->state & VRN_STATE_LOGOUT, 0u);
    ROLLBACK();
    EXPECT_EQ(ERRORCODE(), 91);
    LOGOUT(2, a);
    COMMIT();
    EXPECT_EQ(ERRORCODE(), 0);
    COMMIT();
    EXPECT_EQ(ERRORCODE(), 91);
    EXPECT_EQ(a.Store().commits, 1);
}

TEST_F(Transactions, OneOfThreeFailsToEnlist) {
    MemoryFile a("C:\\A.TST"), b("C:\\B.TST"), c("C:\\C.TST");
    OPEN(a);
    OPEN(b);
    OPEN(c);
    c.Knob().fail_logout = 90;
    LOGOUT(1, a, b, c);
    EXPECT_EQ(ERRORCODE(), 48);
    EXPECT_EQ(Events(), (Strings{"ROLLBACK C:\\B.TST", "ROLLBACK C:\\A.TST"}));
    for (MemoryFile* file : {&a, &b, &c}) {
        EXPECT_EQ(file->Fcb()->state & VRN_STATE_LOGOUT, 0u) << file->Decl()->name;
        EXPECT_EQ(Vrn$getLogoutNumber(file->Decl()), 0);
    }
    // Nothing stays active: a new transaction can start.
    c.Knob().fail_logout = 0;
    LOGOUT(1, a, b, c);
    EXPECT_EQ(ERRORCODE(), 0);
    EXPECT_EQ(Vrn$getLogoutNumber(c.Decl()), 3);
    ROLLBACK();
}

TEST_F(Transactions, EnlistingFailures) {
    MemoryFile a("C:\\A.TST"), closed("C:\\CLOSED.TST");
    OPEN(a);
    LOGOUT(1, a, closed);
    EXPECT_EQ(ERRORCODE(), 37);
    EXPECT_EQ(a.Store().rollbacks, 1);
    // A driver that cannot log: locked first when it asked for it, unlocked again, and 48.
    a.Knob().can_log = false;
    a.Knob().lock_before_logout = true;
    a.Knob().unlock_after = true;
    CLOSE(a);
    OPEN(a);
    LOGOUT(1, a);
    EXPECT_EQ(ERRORCODE(), 48);
    EXPECT_EQ(a.Store().unlocks, 1);
    EXPECT_EQ(a.Fcb()->state & VRN_STATE_LOCKED, 0u);
    // Locking before LOGOUT: 80 is ignored, any other lock error is 48.
    a.Knob() = DriverKnobs{};
    a.Knob().lock_before_logout = true;
    a.Knob().fail_lock = 80;
    CLOSE(a);
    OPEN(a);
    LOGOUT(1, a);
    EXPECT_EQ(ERRORCODE(), 0);
    EXPECT_EQ(a.Store().lock_flag_seen, 1);
    EXPECT_EQ(a.Fcb()->logout_lock, 0);
    COMMIT();
    a.Knob().fail_lock = 33;
    LOGOUT(1, a);
    EXPECT_EQ(ERRORCODE(), 48);
}

TEST_F(Transactions, LogFileList) {
    MemoryFile a("C:\\A.TST"), b("C:\\B.TST"), c("C:\\C.TST");
    OPEN(a);
    OPEN(b);
    EXPECT_EQ(Vrn$addLogoutFile(a.Decl(), 7), 0);
    EXPECT_EQ(Vrn$addLogoutFile(b.Decl(), 3), 0);
    EXPECT_EQ(Vrn$addLogoutFile(a.Decl(), 5), 0); // replaces the earlier entry
    EXPECT_EQ(Vrn$getLogoutNumber(a.Decl()), 5);
    EXPECT_EQ(Vrn$getLogoutNumber(c.Decl()), 0);
    EXPECT_EQ(Vrn$deleteLogoutFile(c.Decl()), 48);
    EXPECT_EQ(ERRORCODE(), 48);
    LOGOUT(2); // the files of the list, with their own numbers
    EXPECT_EQ(ERRORCODE(), 0);
    EXPECT_EQ(Vrn$getLogoutNumber(a.Decl()), 5);
    EXPECT_EQ(Vrn$getLogoutNumber(b.Decl()), 3);
    COMMIT();
    EXPECT_EQ(Events(), (Strings{"COMMIT C:\\B.TST", "COMMIT C:\\A.TST"})); // the last opened first
    // A failure anywhere in the list decides, even when a later file enlists.
    Vrn$addLogoutFile(c.Decl(), 9); // c is not open
    LOGOUT(2);
    EXPECT_EQ(ERRORCODE(), 37);
    EXPECT_EQ(a.Store().rollbacks, 1);
    EXPECT_EQ(b.Store().rollbacks, 1);
    for (MemoryFile* file : {&a, &b, &c})
        EXPECT_EQ(Vrn$deleteLogoutFile(file->Decl()), 0);
    EXPECT_EQ(Vrn$getLogoutNumber(a.Decl()), 0);
}

TEST_F(Transactions, StatusAndThreads) {
    MemoryFile shared("C:\\SHARED.TST"), threaded("C:\\THREAD.TST", VRN_FILE_THREAD);
    EXPECT_EQ(Vrn$STATUSfile(shared.Decl()), 0);
    OPEN(shared, ReadOnly | DenyNone);
    EXPECT_EQ(Vrn$STATUSfile(shared.Decl()), 0x40);
    CLOSE(shared);
    OPEN(shared, ReadOnly); // a mode of 0 reads as read-only deny-none
    EXPECT_EQ(Vrn$STATUSfile(shared.Decl()), 0x40);
    CLOSE(shared);
    int32_t seen_there = -1;
    std::promise<void> opened, checked;
    std::thread other([&] {
        OPEN(shared, ReadWrite | DenyWrite);
        OPEN(threaded, ReadWrite | DenyAll);
        seen_there = Vrn$STATUSfile(threaded.Decl());
        opened.set_value();
        checked.get_future().wait();
        CLOSE(threaded); // a THREAD file leaves the register on the thread that opened it
        CLOSE(shared);
    });
    opened.get_future().wait();
    EXPECT_EQ(seen_there, 0x12);
    EXPECT_EQ(Vrn$STATUSfile(shared.Decl()), 0x22); // shared files are seen by every thread
    EXPECT_EQ(Vrn$STATUSfile(threaded.Decl()), 0);  // a THREAD file only by its own
    LOGOUT(1, threaded);
    EXPECT_EQ(ERRORCODE(), 48); // not in the register for this thread
    checked.set_value();
    other.join();
    EXPECT_EQ(Vrn$STATUSfile(shared.Decl()), 0);
}

bool shutdown_called = false;
void OnShutdown() {
    shutdown_called = true;
    Events().push_back("SHUTDOWN");
}

TEST_F(Transactions, ShutdownCommitsAndClosesEverything) {
    MemoryFile a("C:\\A.TST"), b("C:\\B.TST"), c("C:\\C.TST");
    OPEN(a);
    OPEN(b);
    OPEN(c);
    LOGOUT(1, b);
    Vrn$SHUTDOWN(OnShutdown);
    Vrn$CloseAllFiles();
    EXPECT_TRUE(shutdown_called);
    EXPECT_EQ(Events(), (Strings{"SHUTDOWN", "COMMIT C:\\B.TST", "CLOSE C:\\C.TST", "CLOSE C:\\B.TST",
                                 "CLOSE C:\\A.TST"}));
    for (MemoryFile* file : {&a, &b, &c}) {
        EXPECT_EQ(file->Decl()->driver_instance, nullptr);
        EXPECT_EQ(Vrn$STATUSfile(file->Decl()), 0);
    }
}

} // namespace
} // namespace tarvex::testing
