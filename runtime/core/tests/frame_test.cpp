// SPDX-License-Identifier: GPL-3.0-or-later
// The frame: module registration and its priority walks, the version check, the end of the
// program (exit routines, HALT, STOP), fatal run-time errors and assertions.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <string>
#include <vector>

#include "core/tests/test_support.h"
#include "platform/platform.h"
#include "tarvex/frame.h"

namespace tarvex {
namespace {

using testing::PushText;

std::vector<std::string> calls;

template <int Id>
void Routine(int32_t terminating) {
    calls.push_back((terminating ? "term" : "init") + std::to_string(Id));
}

platform::HeadlessMessageBoxes& Boxes() {
    platform::HeadlessMessageBoxes* boxes = platform::Headless();
    EXPECT_NE(boxes, nullptr);
    return *boxes;
}

class FrameTest : public ::testing::Test {
protected:
    void SetUp() override {
        GTEST_FLAG_SET(death_test_style, "threadsafe");
        calls.clear();
        Boxes().ClearTranscript();
        Vrn$clearerror();
    }
};

TEST_F(FrameTest, InitialisersRunFrom255DownInTableOrder) {
    const VrnInitEntry table[] = {
        {5, &Routine<1>, &Routine<1>}, {255, &Routine<2>, nullptr},  {3, &Routine<3>, &Routine<3>},
        {5, &Routine<4>, &Routine<4>}, {0, &Routine<5>, &Routine<5>}, {300, &Routine<6>, nullptr},
        {-1, &Routine<7>, nullptr},    {1, nullptr, &Routine<8>},
    };
    VrnModuleDescriptor descriptor{};
    descriptor.init_start = table;
    descriptor.init_end = table + std::size(table);
    __sysinit(&descriptor, 0x5150);
    EXPECT_EQ(calls, (std::vector<std::string>{"init2", "init1", "init4", "init3"}));
    EXPECT_EQ(descriptor.instance, 0x5150u);

    // Termination goes level by level from the lowest priority present (0 included) up, each
    // level from the table's end; priorities above 255 are never terminated.
    calls.clear();
    __systerm(0x5150);
    EXPECT_EQ(calls, (std::vector<std::string>{"term5", "term8", "term3", "term4", "term1"}));
    calls.clear();
    __systerm(0x5150);  // already unregistered: nothing runs
    EXPECT_TRUE(calls.empty());
}

TEST_F(FrameTest, RegistrationLinksModulesNewestFirstAndAppliesFixups) {
    static int imported_variable = 42;
    // The import address table: one slot holding the variable's address.
    static uintptr_t import_slots[2] = {reinterpret_cast<uintptr_t>(&imported_variable), 0};
    uintptr_t data[3] = {reinterpret_cast<uintptr_t>(&import_slots[0]), 77,
                         reinterpret_cast<uintptr_t>(&import_slots[2])};  // one past the range
    const VrnFixupEntry fixups[] = {{data, sizeof data}};
    VrnModuleDescriptor first{};
    VrnModuleDescriptor second{};
    second.fixup_start = fixups;
    second.fixup_end = fixups + 1;
    second.import_low = reinterpret_cast<uintptr_t>(&import_slots[0]);
    second.import_high = reinterpret_cast<uintptr_t>(&import_slots[2]);
    __sysinit(&first, 0x7001);
    __sysinit(&second, 0x7002);
    EXPECT_EQ(second.link, &first);
    EXPECT_EQ(data[0], reinterpret_cast<uintptr_t>(&imported_variable));
    EXPECT_EQ(data[1], 77u);
    EXPECT_EQ(data[2], reinterpret_cast<uintptr_t>(&import_slots[2]));
    __systerm(0x7002);
    __systerm(0x7001);
}

TEST_F(FrameTest, VersionCheck) {
    EXPECT_EQ(__getversion(), 0x1040002u);
    EXPECT_EQ(__checkversion(0x104, 2, 99), 1);
    EXPECT_EQ(__checkversion(0x104, 0, 0), 1);
    EXPECT_TRUE(Boxes().Transcript().empty());

    EXPECT_EQ(__checkversion(0x104, 3, 7), 0);
    EXPECT_EQ(__checkversion(0x004, 2, 0), 0);
    EXPECT_EQ(__checkversion(0x105, 2, 0), 0);
    auto shown = Boxes().Transcript();
    ASSERT_EQ(shown.size(), 3u);
    EXPECT_EQ(shown[0].request.caption, "Varnel 4 Runtime Library");
    EXPECT_EQ(shown[0].request.icon, VRN_ICON_STOP);
    EXPECT_EQ(shown[0].request.text,
              "This program or a component DLL requires TARVEX version 4.003.07 or later\r\n"
              "This version is 4.002.00");
    EXPECT_EQ(shown[1].request.text,
              "This program or a component DLL was built using the beta release of Varnel 4\r\n"
              "It will not operate correctly with this copy of TARVEX\r\n"
              "Please obtain a new version of this program");
    EXPECT_EQ(shown[2].request.text,
              "This program or a component DLL requires TARVEX version 5.002.00 or later\r\n"
              "This version is 4.002.00");
}

// Exit routines report on stderr, which the death tests read.
template <char C>
void Say() {
    std::fputc(C, stderr);
    std::fflush(stderr);
}

void ReportBoxes() {
    auto shown = platform::Headless()->Transcript();
    std::fprintf(stderr, "[boxes=%zu", shown.size());
    for (const auto& box : shown) std::fprintf(stderr, "|%s|%s", box.request.caption.c_str(), box.request.text.c_str());
    std::fprintf(stderr, "]");
    std::fflush(stderr);
}

TEST_F(FrameTest, ExitRoutinesRunOnceInReverseAndAreLimitedTo33) {
    EXPECT_EXIT(
        {
            _atexit(&Say<'a'>);
            _atexit(&Say<'b'>);
            _atexit(&Say<'c'>);
            for (int i = 3; i < 33; ++i) _atexit(&Say<'.'>);
            if (_atexit(&Say<'X'>) != 1) std::fputs("34th accepted", stderr);
            Vrw$Exit(7);
        },
        ::testing::ExitedWithCode(7), "^\\.{30}cba$");
}

TEST_F(FrameTest, HaltWithoutMessageShowsNoBox) {
    EXPECT_EXIT(
        {
            _atexit(&ReportBoxes);
            PushText("ignored");
            Vrn$HALT(3, 1);
        },
        ::testing::ExitedWithCode(3), "\\[boxes=0\\]");
}

TEST_F(FrameTest, HaltShowsItsMessageThenEnds) {
    EXPECT_EXIT(
        {
            _atexit(&ReportBoxes);
            PushText("Disk Error  ");
            Vrn$HALT(0, 0);
        },
        ::testing::ExitedWithCode(0), "\\[boxes=1\\|Halt\\|Disk Error\\]");
}

TEST_F(FrameTest, StopIgnoredReturnsAndAbortEnds) {
    Boxes().QueueAnswer(VRN_BUTTON_IGNORE);
    PushText("Nothing saved.");
    Vrn$STOP(1);
    auto shown = Boxes().Transcript();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].request.caption, "Stop");
    EXPECT_EQ(shown[0].request.buttons, uint32_t{VRN_BUTTON_ABORT | VRN_BUTTON_IGNORE});
    EXPECT_EQ(shown[0].request.default_button, uint32_t{VRN_BUTTON_ABORT});
    EXPECT_EQ(shown[0].request.text, "Nothing saved.\nExit?");
    EXPECT_EQ(Vrw$StackDepth(), 0u);

    EXPECT_EXIT(
        {
            PushText("Stopping");
            Vrn$STOP(0);  // the default answer is Abort
            std::fputs("returned", stderr);
            std::exit(9);
        },
        ::testing::ExitedWithCode(0), "");
}

TEST_F(FrameTest, FatalErrorEndsWithCode2WhileActive) {
    EXPECT_EXIT(
        {
            _atexit(&ReportBoxes);
            __e_index();
        },
        ::testing::ExitedWithCode(2), "\\[boxes=1\\|Runtime error\\|Index out of range\\]");
    EXPECT_EXIT(
        {
            _atexit(&ReportBoxes);
            Vrn$rterr(501, "String Stack Error");
        },
        ::testing::ExitedWithCode(2), "\\|Internal error 01 : String Stack Error\\]");
}

TEST_F(FrameTest, FatalErrorAfterCloseDownReturns) {
    EXPECT_EXIT(
        {
            Wsl$CloseDown();
            Vrn$rterr(0, "late problem");
            auto shown = platform::Headless()->Transcript();
            bool ok = shown.size() == 1 && shown[0].request.text == "late problem" &&
                      shown[0].request.buttons == (VRN_BUTTON_OK | VRN_BUTTON_CANCEL);
            __e_overflow();
            ok = ok && Vrn$ERRCODE == 404;
            std::exit(ok ? 11 : 12);
        },
        ::testing::ExitedWithCode(11), "");
}

TEST_F(FrameTest, CancelOnFatalErrorWritesAFaultReport) {
    testing::TemporaryDrive drive;
    // A forked child keeps this process's current folder, the temporary drive.
    GTEST_FLAG_SET(death_test_style, "fast");
    EXPECT_EXIT(
        {
            platform::Headless()->QueueAnswer(VRN_BUTTON_CANCEL);
            __e_nil_ptr();
        },
        ::testing::ExitedWithCode(2), "");
    EXPECT_TRUE(std::filesystem::exists(drive.Root() / "VXFAULT1.TXT"));
}

TEST_F(FrameTest, FailedAssertionAsksAndNoReturns) {
    Vrn$AssertFailed(120, "claims.cpp");
    auto shown = Boxes().Transcript();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].request.text, "Assertion failed on line:120 in file:claims.cpp. Shall I GPF?");
    EXPECT_EQ(shown[0].request.caption, "Assertion Failed");
    EXPECT_EQ(shown[0].request.icon, VRN_ICON_EXCLAMATION);
    EXPECT_EQ(shown[0].request.default_button, uint32_t{VRN_BUTTON_NO});
}

TEST_F(FrameTest, StandardHaltEndsWith255WithoutExitRoutines) {
    EXPECT_EXIT(
        {
            _atexit(&Say<'z'>);
            Standard$HALT();
        },
        ::testing::ExitedWithCode(255), "^$");
}

}  // namespace
}  // namespace tarvex
