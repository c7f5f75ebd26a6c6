// SPDX-License-Identifier: GPL-3.0-or-later
// Key codes as the program reads them: the keys and buttons the program tests, the masking of the
// state bits, SETKEYCODE, the current event's key, one last key per thread, PRESSKEY's limit, and
// the event names of the trace.
#include <gtest/gtest.h>

#include <cstdlib>
#include <thread>

#include "core/keystrokes.h"
#include "tarvex/frame.h"
#include "tarvex/keys.h"
#include "windows/keys.h"

namespace tarvex::windows {
namespace {

TEST(Keys, CodesOfTheKeysAndButtonsTheProgramTests) {
    struct Case {
        const char* what;
        uint8_t key;
        bool extended;
        uint32_t state;
        uint32_t code;
    } cases[] = {
        {"Esc", 0x1B, false, 0, 27},
        {"Insert (an extended key)", 0x2D, true, 0, 45},
        {"F1", 0x70, false, 0, 112},
        {"Ctrl with 0xC0", 0xC0, false, kCtrl, 704},
        {"Ctrl with 0xDE", 0xDE, false, kCtrl, 734},
        {"Shift+Alt+A, Caps Lock on", 'A', false, kShift | kAlt | kCapsLock, 0x541},
    };
    for (const Case& c : cases) {
        KeyDown(c.key, c.extended, 0x1C, c.state);
        EXPECT_EQ(Vrn$KEYCODE(), c.code) << c.what;
        EXPECT_EQ(Vrn$KEYSTATE(), c.state) << c.what;
    }
    EXPECT_EQ(LastKeyCode(), 'A' | kShift | kAlt | kCapsLock);
    EXPECT_EQ(LastScanCode(), 0x1C);
    ButtonDown(MouseButton::kRight, false, 0);
    EXPECT_EQ(Vrn$KEYCODE(), 2u);
    ButtonDown(MouseButton::kLeft, true, 0);
    EXPECT_EQ(Vrn$KEYCODE(), 5u);
    ButtonDown(MouseButton::kMiddle, true, kCtrl | kNumLock);
    EXPECT_EQ(Vrn$KEYCODE(), 0x207u);
    EXPECT_EQ(Vrn$KEYSTATE(), kCtrl | kNumLock);
}

TEST(Keys, SetKeyCodeWithZeroHoldsUntilTheNextKey) {
    KeyDown(0x70, false, 0, kShift | kInsertOn);
    Vrn$SETKEYCODE(0);
    EXPECT_EQ(Vrn$KEYCODE(), 0u);
    EXPECT_EQ(Vrn$KEYSTATE(), kInsertOn); // only the low 11 bits are replaced
    EXPECT_EQ(Vrn$KEYCODE(), 0u);
    KeyDown(0x1B, false, 0, 0);
    EXPECT_EQ(Vrn$KEYCODE(), 27u);
}

TEST(Keys, TheCurrentEventsKeyComesFirst) {
    KeyDown(0x1B, false, 0, 0);
    SetCurrentEventKeyCode(0x241); // Ctrl+A when the event was produced
    EXPECT_EQ(Vrn$KEYCODE(), 0x241u);
    Vrn$SETKEYCODE(0);
    EXPECT_EQ(Vrn$KEYCODE(), 0u);
    SetCurrentEventKeyCode(std::nullopt);
    EXPECT_EQ(Vrn$KEYCODE(), 0u); // the last key was cleared too
}

TEST(Keys, EachThreadHasItsOwnLastKey) {
    KeyDown(0x70, false, 0, 0);
    Vrn$SETKEYCHAR('x');
    uint32_t other_code = 1;
    uint8_t other_char = 1;
    std::thread other([&] {
        other_code = Vrn$KEYCODE();
        other_char = Vrn$KEYCHAR();
        KeyDown(0x1B, false, 0, 0);
    });
    other.join();
    EXPECT_EQ(other_code, 0u);
    EXPECT_EQ(other_char, 0);
    EXPECT_EQ(Vrn$KEYCODE(), 112u);
    CharacterTyped('q');
    EXPECT_EQ(Vrn$KEYCHAR(), 'q');
}

TEST(Keys, PressKeyQueuesUntilTheRingIsFull) {
    EXPECT_EXIT(
        {
            Wsl$CloseDown(); // a fatal error then returns, so the code can be read
            for (size_t i = 0; i < kKeystrokeCapacity; i++)
                Vrn$PRESSKEY(0x70);
            bool queued = PendingKeystrokes() == kKeystrokeCapacity && Vrn$ERRCODE == 0;
            Vrn$PRESSKEY(0x1B);
            std::exit(queued && Vrn$ERRCODE == 534 && TakeKeystroke()->key_code == 0x70 ? 11 : 12);
        },
        ::testing::ExitedWithCode(11), "");
}

TEST(Keys, EventNamesForTheTrace) {
    EXPECT_STREQ(EventName(1), "EVENT:Accepted");
    EXPECT_STREQ(EventName(0x101), "EVENT:Selected");
    EXPECT_STREQ(EventName(513), "EVENT:CloseWindow");
    EXPECT_STREQ(EventName(549), "EVENT:Completed");
    EXPECT_STREQ(EventName(0x242), "EVENT:BuildDone");
    EXPECT_EQ(EventName(0x207), nullptr);
    EXPECT_EQ(EventName(0), nullptr);
}

} // namespace
} // namespace tarvex::windows
