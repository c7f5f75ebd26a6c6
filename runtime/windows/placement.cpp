// SPDX-License-Identifier: GPL-3.0-or-later
// Unit conversion and window placement (placement.h).
#include "windows/placement.h"

namespace tarvex::windows {

namespace {

// value * numerator / denominator in 64 bits, rounded half away from zero.
int32_t MulDiv(int64_t value, int64_t numerator, int64_t denominator) {
    if (denominator == 0)
        return 0;
    int64_t product = value * numerator;
    bool negative = (product < 0) != (denominator < 0);
    int64_t magnitude = (product < 0 ? -product : product);
    int64_t divisor = denominator < 0 ? -denominator : denominator;
    int64_t result = (magnitude + divisor / 2) / divisor;
    result = negative ? -result : result;
    if (result > INT32_MAX)
        return INT32_MAX;
    if (result < INT32_MIN + 1)
        return INT32_MIN + 1;
    return int32_t(result);
}

}  // namespace

int32_t ToPixels(int32_t value, uint32_t unit_bits, Axis axis, const UnitScale& scale) {
    if (value == kNotGiven)
        return 0;
    bool horizontal = axis == Axis::Horizontal;
    int32_t dpi = horizontal ? scale.dpi_x : scale.dpi_y;
    switch (static_cast<Unit>(unit_bits & kUnitMask)) {
    case Unit::DialogUnits:
        return horizontal ? MulDiv(value, 2 * scale.font.average_width, 8) : MulDiv(value, scale.font.height, 8);
    case Unit::Millimetres: return MulDiv(value, dpi, 25);
    case Unit::Thousandths: return MulDiv(value, dpi, 1000);
    case Unit::Points: return scale.report ? MulDiv(value, dpi, 72) : value;
    }
    return value;
}

namespace {
int32_t Clamp(int64_t v) { return int32_t(v < INT32_MIN ? INT32_MIN : v > INT32_MAX ? INT32_MAX : v); }
}  // namespace

NativeRect PlaceControl(const std::array<int32_t, 4>& at, uint32_t unit_bits, const UnitScale& scale) {
    int64_t x = ToPixels(at[0], unit_bits, Axis::Horizontal, scale);
    int64_t y = ToPixels(at[1], unit_bits, Axis::Vertical, scale);
    return {int32_t(x), int32_t(y), Clamp(x + ToPixels(at[2], unit_bits, Axis::Horizontal, scale)),
            Clamp(y + ToPixels(at[3], unit_bits, Axis::Vertical, scale))};
}

NativeRect PlaceWindow(const std::array<int32_t, 4>& at, uint32_t unit_bits, const UnitScale& scale,
                       const NativeRect& r) {
    bool x_missing = at[0] == kNotGiven, y_missing = at[1] == kNotGiven;
    bool width_missing = at[2] == kNotGiven, height_missing = at[3] == kNotGiven;
    int64_t x = ToPixels(at[0], unit_bits, Axis::Horizontal, scale);
    int64_t y = ToPixels(at[1], unit_bits, Axis::Vertical, scale);
    int64_t width = ToPixels(at[2], unit_bits, Axis::Horizontal, scale);
    int64_t height = ToPixels(at[3], unit_bits, Axis::Vertical, scale);
    int64_t cx = (int64_t(r.left) + r.right) / 2, cy = (int64_t(r.top) + r.bottom) / 2;
    if (height_missing) {
        if (y_missing) {
            y = r.top + (int64_t(r.bottom) - r.top) / 4;
            y_missing = false;
        }
        height = (cy - y) * 2;
    }
    if (width_missing) {
        // A size computed from a position past the centre would be negative: it is empty instead.
    if (width < 0)
        width = 0;
    if (height < 0)
        height = 0;
    if (x_missing) {
            x = r.left + (int64_t(r.right) - r.left) / 4;
            x_missing = false;
        }
        width = (cx - x) * 2;
    }
    // A size computed from a position past the centre would be negative: it is empty instead.
    if (width < 0)
        width = 0;
    if (height < 0)
        height = 0;
    if (x_missing) {
        x = (int64_t(r.left) + r.right - width) / 2;
        if (x < 0)
            x = 0;
    }
    if (y_missing) {
        y = (int64_t(r.top) + r.bottom - height) / 2;
        if (y < 0)
            y = 0;
    }
    return {Clamp(x), Clamp(y), Clamp(x + width), Clamp(y + height)};
}

}  // namespace tarvex::windows
