// SPDX-License-Identifier: GPL-3.0-or-later
// Units and placement: each measurement unit's conversion with its rounding, the four rules that
// fill what an AT leaves out, and positions that would come out negative.
#include <gtest/gtest.h>

#include "windows/placement.h"

namespace tarvex::windows {
namespace {

constexpr uint32_t kDialog = 0x000, kMm = 0x100, kThous = 0x200, kPoints = 0x300;

TEST(Units, EachUnitConvertsWithOneRoundedMultiplyDivide) {
    UnitScale scale{{6, 13}, 120, 300, false};
    struct Case {
        uint32_t unit;
        int32_t value;
        Axis axis;
        bool report;
        int32_t pixels;
    } cases[] = {
        {kDialog, 4, Axis::Horizontal, false, 6},       // 4 x 12 / 8
        {kDialog, 8, Axis::Vertical, false, 13},
        {kDialog, 3, Axis::Vertical, false, 5},         // 39 / 8 = 4.875
        {kDialog, 1, Axis::Horizontal, false, 2},       // 1.5 rounds up
        {kDialog, -1, Axis::Horizontal, false, -2},     // and away from zero below it
        {kMm, 10, Axis::Horizontal, false, 48},         // 10 x 120 / 25
        {kMm, 10, Axis::Vertical, false, 120},          // 10 x 300 / 25
        {kThous, 8500, Axis::Horizontal, false, 1020},  // 8500 x 120 / 1000
        {kThous, 333, Axis::Vertical, false, 100},      // 99.9
        {kPoints, 72, Axis::Vertical, true, 300},       // a report's points
        {kPoints, 72, Axis::Vertical, false, 72},       // a window's plain pixels
        {kThous, kNotGiven, Axis::Vertical, false, 0},  // not given converts to 0
        {kPoints, kNotGiven, Axis::Vertical, false, 0},
    };
    for (const Case& c : cases) {
        scale.report = c.report;
        EXPECT_EQ(ToPixels(c.value, c.unit, c.axis, scale), c.pixels)
            << "unit " << c.unit << " value " << c.value;
    }
}

const UnitScale kPixels{{6, 13}, 96, 96, false};
const NativeRect kDesktop{0, 0, 1024, 768};

TEST(Placement, NoAtIsHalfTheParentCentred) {
    EXPECT_EQ(PlaceWindow({kNotGiven, kNotGiven, kNotGiven, kNotGiven}, kPoints, kPixels, kDesktop),
              (NativeRect{256, 192, 768, 576}));
    // An offset parent: a quarter in from its own corner.
    EXPECT_EQ(PlaceWindow({kNotGiven, kNotGiven, kNotGiven, kNotGiven}, kPoints, kPixels, {100, 50, 501, 451}),
              (NativeRect{200, 150, 400, 350}));
}

TEST(Placement, ASizeAloneIsCentred) {
    EXPECT_EQ(PlaceWindow({kNotGiven, kNotGiven, 200, 100}, kPoints, kPixels, kDesktop),
              (NativeRect{412, 334, 612, 434}));
}

TEST(Placement, EachMissingValueIsFilledInItsOrder) {
    // Height missing, y given: twice the distance from y to the centre.
    EXPECT_EQ(PlaceWindow({10, 100, 50, kNotGiven}, kPoints, kPixels, kDesktop), (NativeRect{10, 100, 60, 668}));
    // Width missing, x given.
    EXPECT_EQ(PlaceWindow({400, 10, kNotGiven, 50}, kPoints, kPixels, kDesktop), (NativeRect{400, 10, 624, 60}));
    // x missing only: centred horizontally at the given width.
    EXPECT_EQ(PlaceWindow({kNotGiven, 10, 300, 50}, kPoints, kPixels, kDesktop), (NativeRect{362, 10, 662, 60}));
    // y missing only.
    EXPECT_EQ(PlaceWindow({10, kNotGiven, 300, 68}, kPoints, kPixels, kDesktop), (NativeRect{10, 350, 310, 418}));
    // Everything given: converted, nothing filled.
    EXPECT_EQ(PlaceWindow({10, 20, 30, 40}, kDialog, kPixels, kDesktop), (NativeRect{15, 33, 60, 98}));
}

TEST(Placement, NegativeResultsBecomeZero) {
    // Larger than the parent: the centred position would be negative.
    EXPECT_EQ(PlaceWindow({kNotGiven, kNotGiven, 3000, 2000}, kPoints, kPixels, kDesktop),
              (NativeRect{0, 0, 3000, 2000}));
    // A y below the centre gives no negative height.
    EXPECT_EQ(PlaceWindow({0, 700, 10, kNotGiven}, kPoints, kPixels, kDesktop), (NativeRect{0, 700, 10, 700}));
}

TEST(Placement, ControlsConvertEachValueAndNeverOverflow) {
    EXPECT_EQ(PlaceControl({50, 190, 40, 10}, kDialog, kPixels), (NativeRect{75, 309, 135, 325}));
    EXPECT_EQ(PlaceControl({kNotGiven, 4, kNotGiven, kNotGiven}, kDialog, kPixels),
              (NativeRect{0, 7, 0, 7}));
    // Values a damaged description may hold: the right edge stays at the limit.
    EXPECT_EQ(PlaceControl({INT32_MAX, 0, INT32_MAX, 0}, kPoints, kPixels).right, INT32_MAX);
}

}  // namespace
}  // namespace tarvex::windows
