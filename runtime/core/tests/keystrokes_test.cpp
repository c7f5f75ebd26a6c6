// SPDX-License-Identifier: GPL-3.0-or-later
// PRESS and the keystroke queue.
#include <gtest/gtest.h>

#include <string>

#include "core/keystrokes.h"
#include "core/tests/test_support.h"
#include "tarvex/frame.h"

namespace tarvex {
namespace {

std::string DrainCharacters() {
    std::string typed;
    while (auto keystroke = TakeKeystroke()) typed += keystroke->key_code ? '#' : keystroke->character;
    return typed;
}

TEST(Keystrokes, PressQueuesCharactersInOrderAfterEarlierKeys) {
    DrainCharacters();
    ASSERT_TRUE(QueueKeyCode(112));  // F1
    testing::PushText("ab c");
    Vrn$StackPRESS();
    EXPECT_EQ(Vrw$StackDepth(), 0u);
    EXPECT_EQ(PendingKeystrokes(), 5u);
    EXPECT_EQ(DrainCharacters(), "#ab c");
}

TEST(Keystrokes, AFullQueueRefusesTheWholeText) {
    DrainCharacters();
    ASSERT_TRUE(QueueCharacters(std::string(kKeystrokeCapacity - 2, 'x')));
    EXPECT_FALSE(QueueCharacters("abc"));
    EXPECT_EQ(PendingKeystrokes(), kKeystrokeCapacity - 2);
    EXPECT_TRUE(QueueCharacters("ab"));
    EXPECT_FALSE(QueueKeyCode(27));
    DrainCharacters();

    GTEST_FLAG_SET(death_test_style, "threadsafe");
    EXPECT_EXIT(
        {
            testing::PushText(std::string(kKeystrokeCapacity + 1, 'y'));
            Vrn$StackPRESS();
        },
        ::testing::ExitedWithCode(2), "");
}

}  // namespace
}  // namespace tarvex
