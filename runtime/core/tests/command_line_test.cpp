// SPDX-License-Identifier: GPL-3.0-or-later
// COMMAND(): parameters, flags and the selector rules, directly and through the string stack.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "core/command_line.h"
#include "core/tests/test_support.h"
#include "tarvex/frame.h"

namespace tarvex {
namespace {

using testing::PopText;
using testing::PushText;

TEST(CommandLine, SelectorsOverATail) {
    struct Row {
        const char* tail;
        const char* selector;
        const char* expected;
    };
    const Row rows[] = {
        {"/N X=5,abc", "", "/N X=5,abc"},
        {"/N X=5,abc", "1", "/N"},
        {"/N X=5,abc", "/N", "N"},
        {"/N X=5,abc", "X", "5"},
        {"/N X=5,abc", "3", "abc"},
        {"/N X=5,abc", "4", ""},
        {"/N X=5,abc", "x", "5"},            // flags ignore case
        {"/N X=5,abc", "/n", "N"},
        {"/N X=5,abc", "Y", ""},
        {"/N X=5,abc", "X   ", "5"},         // the selector is clipped
        {"/N X=5,abc", "99999999999", ""},
        {"/A/B", "2", "/B"},                 // a slash starts a new parameter
        {"/A/B", "/B", "B"},
        {"a,,b", "2", ""},                   // one comma is skipped, the second ends an empty one
        {"a,,b", "3", "b"},
        {"\"New York\" NY", "1", "New York"},  // quotes keep blanks and are not kept
        {"\"New York\" NY", "2", "NY"},
        {"say=\"a \"\"b\"\"\"", "SAY", "a \"b\""},
        {"PATH=\"C:\\A B/C\"", "path", "C:\\A B/C"},
        {"  lead   trail  ", "2", "trail"},
        {"", "1", ""},
        {"=5", "", "=5"},
    };
    for (const Row& row : rows) {
        EXPECT_EQ(SelectFromCommand(row.tail, row.selector, "Z:\\PROG"), row.expected)
            << "tail [" << row.tail << "] selector [" << row.selector << "]";
    }
    EXPECT_EQ(SelectFromCommand("a b", "0", "Z:\\USR\\BIN\\LUMAPP"), "Z:\\USR\\BIN\\LUMAPP");
}

TEST(CommandLine, ArgumentsSurviveTheJoinIntoATail) {
    // The tail is built from the process arguments; each must come back as one parameter.
    const std::vector<std::string> arguments = {"plain", "two words", "a,b", "/A/B", "say \"hi\"", "",
                                                "x/y", "/N", "\"a b", "\"\"", "end\""};
    std::string tail = JoinCommandArguments(arguments);
    EXPECT_EQ(SplitCommandTail(tail), arguments) << tail;
    EXPECT_EQ(JoinCommandArguments({"/N", "X=5"}), "/N X=5");  // plain arguments stay unquoted
}

TEST(CommandLine, ThroughTheStringStack) {
    PushText("/N X=5,abc \"two words\"  ");
    Vrn$SETCOMMAND();
    const std::pair<const char*, const char*> rows[] = {
        {"", "/N X=5,abc \"two words\""}, {"1", "/N"}, {"/N", "N"}, {"X", "5"}, {"4", "two words"}, {"5", ""}};
    for (const auto& [selector, expected] : rows) {
        PushText(selector);
        Vrn$COMMAND();
        EXPECT_EQ(PopText(), expected) << selector;
    }
    PushText("0");
    Vrn$COMMAND();
    std::string program = PopText();
    EXPECT_EQ(program.substr(0, 3), "Z:\\") << program;
    EXPECT_EQ(Vrw$StackDepth(), 0u);
}

}  // namespace
}  // namespace tarvex
