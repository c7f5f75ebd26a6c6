// SPDX-License-Identifier: GPL-3.0-or-later
// From AT values to pixels: the measurement units of windows and reports, and the rules that fill
// the values an AT leaves out from the parent's rectangle.
#pragma once

#include <array>
#include <cstdint>

#include "windows/description_format.h"
#include "windows/native_ui.h"

namespace tarvex::windows {

enum class Axis { Horizontal, Vertical };

// What a conversion needs of the device and the structure's font.
struct UnitScale {
    FontMetrics font;               // for dialog units
    int32_t dpi_x = 96, dpi_y = 96; // for millimetres, thousandths of an inch and points
    bool report = false;            // unit 0x300: points on a report, plain pixels on a window
};

// One value in the unit (flags & 0x300) to pixels: one multiply-then-divide, rounded half away
// from zero. A value not given (0x80000000) converts to 0.
int32_t ToPixels(int32_t value, uint32_t unit_bits, Axis axis, const UnitScale& scale);

// A window's rectangle from its AT (x, y, width, height, each possibly not given) and the
// parent's rectangle. The missing values are filled in this order: the height (and the y with it
// when both are missing: a quarter down, the height twice the distance to the centre), the width
// likewise, then x and y centred, never negative.
NativeRect PlaceWindow(const std::array<int32_t, 4>& at, uint32_t unit_bits, const UnitScale& scale,
                       const NativeRect& parent);

// A control's rectangle in its window: each AT value converted (not given is 0, the control then
// takes its size from its contents later); sums that would leave 32 bits are held at the limit.
NativeRect PlaceControl(const std::array<int32_t, 4>& at, uint32_t unit_bits, const UnitScale& scale);

}  // namespace tarvex::windows
