// SPDX-License-Identifier: GPL-3.0-or-later
// The C++ layer of the frame: error state, COMMAND, profile files and the program's start read
// like the 4GL and reach the same state as the exported operations.
#include <gtest/gtest.h>

#include <cstdio>

#include "core/tests/test_support.h"
#include "tarvex/program.hpp"

namespace tarvex {
namespace {

TEST(ProgramLayer, ErrorStateReadsLikeTheLanguage) {
    Vrn$seterror(35);
    String<30> why;
    why = ERROR();
    EXPECT_EQ(ERRORCODE(), 35);
    EXPECT_EQ(why.View(), "Record Not Found              ");
    Vrn$setfileerror("E7", "disk gone");
    CString<40> detail;
    detail = clip(FILEERRORCODE()) & ": " & clip(FILEERRORMSG());
    EXPECT_STREQ(detail.Data(), "E7: disk gone");
    Vrn$clearerror();
    EXPECT_EQ(len(ERRORFILE()), 0u);
    EXPECT_EQ(Vrw$StackDepth(), 0u);
}

TEST(ProgramLayer, CommandAndProfiles) {
    testing::TemporaryDrive drive;
    SETCOMMAND("/N X=5,abc");
    CString<20> value;
    value = COMMAND("X");
    EXPECT_STREQ(value.Data(), "5");
    PUTINI("Main", "XPos", "120", "LUMTRI~1.INI");
    PUTINI("Main", "YPos", "45", "LUMTRI~1.INI");
    String<8> x;
    x = GETINI("Main", "XPos", "0", "LUMTRI~1.INI");
    EXPECT_EQ(x.View(), "120     ");
    PUTINI("Main", "XPos", "LUMTRI~1.INI");
    x = GETINI("Main", "XPos", "gone", "LUMTRI~1.INI");
    EXPECT_EQ(x.View(), "gone    ");
    PUTINI("Main", "LUMTRI~1.INI");
    x = GETINI("Main", "YPos", "gone", "LUMTRI~1.INI");
    EXPECT_EQ(x.View(), "gone    ");
    EXPECT_EQ(Vrw$StackDepth(), 0u);
}

int init_calls = 0;
void CountInit(int32_t terminating) {
    if (!terminating) ++init_calls;
}
void MainProcedure() {
    std::fprintf(stderr, "main ran after %d init", init_calls);
    std::fflush(stderr);
}

TEST(ProgramLayer, RunProgramInitialisesRunsAndEnds) {
    GTEST_FLAG_SET(death_test_style, "threadsafe");
    static const VrnInitEntry table[] = {{5, &CountInit, &CountInit}};
    static VrnModuleDescriptor module = {nullptr, table, table + 1, 0, {}, nullptr, nullptr, 0, 0};
    EXPECT_EXIT(RunProgram(module, &MainProcedure), ::testing::ExitedWithCode(0), "main ran after 1 init");
}

}  // namespace
}  // namespace tarvex
