// SPDX-License-Identifier: GPL-3.0-or-later
// Property numbers and names, and the resolution of a property statement: the property text to
// a number (or a name to its number), the index folded in, the target (the current window, the
// printer object, the system object, a window) and the field (0: the target itself).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace tarvex::windows {

constexpr int32_t kPropText = 0x7C00;
constexpr int32_t kPropType = 0x7C01;
constexpr int32_t kPropXPos = 0x7C02;          // x, y, width, height: 0x7C02..0x7C05
constexpr int32_t kPropHeight = 0x7C05;
constexpr int32_t kPropFontName = 0x7C10;      // face, size, colour, style: 0x7C10..0x7C13
constexpr int32_t kPropFontStyle = 0x7C13;
constexpr int32_t kPropRangeLow = 0x7C14;
constexpr int32_t kPropRangeHigh = 0x7C15;
constexpr int32_t kPropMsg = 0x7C5D;
constexpr int32_t kPropDefault = 0x7C5E;
constexpr int32_t kPropDisable = 0x7C5F;
constexpr int32_t kPropCursor = 0x7C61;
constexpr int32_t kPropHide = 0x7C65;
constexpr int32_t kPropHelp = 0x7C66;
constexpr int32_t kPropRequired = 0x7C67;      // control flag 0x1
constexpr int32_t kPropIcon = 0x7C68;
constexpr int32_t kPropIconize = 0x7C69;
constexpr int32_t kPropReadOnly = 0x7C6A;      // control flag 0x800
constexpr int32_t kPropMaximize = 0x7C6F;
constexpr int32_t kPropKey = 0x7C73;           // the companion of the help keyword
constexpr int32_t kPropFormat = 0x7C7C;        // a LIST's format; setting it parses it again
constexpr int32_t kPropValue = 0x7C8A;
constexpr int32_t kPropImmediate = 0x7C8B;     // control flag 0x2
constexpr int32_t kPropItems = 0x7C8E;         // a LIST's rows on a page
constexpr int32_t kPropSelected = 0x7C8F;
constexpr int32_t kPropAcceptAll = 0x7C9A;
constexpr int32_t kPropVScrollPos = 0x7C9E;
constexpr int32_t kPropTip = 0x7CA0;
constexpr int32_t kPropVisible = 0x7CA7;
constexpr int32_t kPropEnabled = 0x7CA8;
constexpr int32_t kPropResizable = 0x7CAD;     // the window's frame can be sized
constexpr int32_t kPropMaximized = 0x7CAF;     // the window is maximized now; 0 restores it
constexpr int32_t kPropMinimized = 0x7CB0;     // the window is minimized now
constexpr int32_t kPropStatusText = 0x7CBD;    // the text in the frame's status bar
constexpr int32_t kPropFrom = 0x7CFA;          // a LIST's FROM queue (SetPropQ); reads its records
constexpr int32_t kPropScreenText = 0x7A10;
constexpr int32_t kPropFeq = 0x7A11;
constexpr int32_t kPropAutoWidth = 0x7A40;
constexpr int32_t kPropAutoHeight = 0x7A41;
constexpr int32_t kPropIndexed = 0x7D00;       // from here the index is passed on, counted from 0
constexpr int32_t kPropWindowString = 0x7D01;  // strings the program keeps on the window, by index
constexpr int32_t kPropAlertKey = 0x7D06;
constexpr int32_t kAlertAppendIndex = 254;     // index 255 as the program writes it

constexpr int32_t kFirstNumericProperty = 0x7000;

// The number of a property name ("TEXT", "SELECTED", case ignored), or 0.
int32_t PropertyNamed(std::string_view name);
// A property's text as a number: decimal (or 0x hexadecimal); 0 for text that is not a number.
int32_t PropertyNumber(std::string_view text);
std::string BoolText(bool value);

}  // namespace tarvex::windows
