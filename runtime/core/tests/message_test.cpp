// SPDX-License-Identifier: GPL-3.0-or-later
// MESSAGE: a message box shown by a program through the runtime, read back from the headless
// transcript.
#include <gtest/gtest.h>

#include "core/tests/test_support.h"
#include "platform/platform.h"
#include "tarvex/frame.h"
#include "tarvex/program.hpp"

namespace tarvex {
namespace {

platform::HeadlessMessageBoxes& Boxes() {
    return *platform::Headless();
}

TEST(Message, ShowsTextAndCaptionAndReturnsTheButtonPressed) {
    Boxes().ClearTranscript();
    Boxes().QueueAnswer(VRN_BUTTON_NO);
    String<20> caption = "Update Cancelled";
    uint32_t answer = MESSAGE("Are you sure?   ", caption, VRN_ICON_QUESTION, VRN_BUTTON_YES | VRN_BUTTON_NO,
                              VRN_BUTTON_NO);
    EXPECT_EQ(answer, uint32_t{VRN_BUTTON_NO});
    auto shown = Boxes().Transcript();
    ASSERT_EQ(shown.size(), 1u);
    EXPECT_EQ(shown[0].request.text, "Are you sure?");
    EXPECT_EQ(shown[0].request.caption, "Update Cancelled");
    EXPECT_EQ(shown[0].request.icon, VRN_ICON_QUESTION);
    EXPECT_EQ(shown[0].request.buttons, uint32_t{VRN_BUTTON_YES | VRN_BUTTON_NO});
    EXPECT_EQ(shown[0].request.default_button, uint32_t{VRN_BUTTON_NO});
    EXPECT_EQ(Vrw$StackDepth(), 0u);
}

TEST(Message, WithoutButtonsOrWithAForeignDefaultTheBoxStillHasOne) {
    Boxes().ClearTranscript();
    EXPECT_EQ(MESSAGE("Saved.", "", 0, 0, 0), uint32_t{VRN_BUTTON_OK});
    EXPECT_EQ(MESSAGE("Again?", "Retry", VRN_ICON_EXCLAMATION, VRN_BUTTON_RETRY | VRN_BUTTON_CANCEL, VRN_BUTTON_YES),
              uint32_t{VRN_BUTTON_RETRY});
    auto shown = Boxes().Transcript();
    ASSERT_EQ(shown.size(), 2u);
    EXPECT_EQ(shown[0].request.buttons, uint32_t{VRN_BUTTON_OK});
    EXPECT_EQ(shown[0].request.default_button, uint32_t{VRN_BUTTON_OK});
    EXPECT_EQ(shown[1].request.default_button, uint32_t{VRN_BUTTON_RETRY});
}

} // namespace
} // namespace tarvex
