// SPDX-License-Identifier: GPL-3.0-or-later
// Property numbers and names, and the resolution of a property statement: the property text to
// a number (or a name to its number), the index folded in, the target (the current window, the
// printer object, the system object, a window) and the field (0: the target itself).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

#include "tarvex/controls.h"

namespace tarvex::windows {

constexpr int32_t kPropText = VRN_PROP_TEXT;
constexpr int32_t kPropType = VRN_PROP_TYPE;
constexpr int32_t kPropXPos = VRN_PROP_X_POS;          // x, y, width, height: 0x7C02..0x7C05
constexpr int32_t kPropHeight = VRN_PROP_HEIGHT;
constexpr int32_t kPropFontName = VRN_PROP_FONT_NAME;      // face, size, colour, style: 0x7C10..0x7C13
constexpr int32_t kPropFontStyle = VRN_PROP_FONT_STYLE;
constexpr int32_t kPropRangeLow = VRN_PROP_RANGE_LOW;
constexpr int32_t kPropRangeHigh = VRN_PROP_RANGE_HIGH;
constexpr int32_t kPropMsg = VRN_PROP_MSG;
constexpr int32_t kPropDefault = VRN_PROP_DEFAULT;
constexpr int32_t kPropDisable = VRN_PROP_DISABLE;
constexpr int32_t kPropCursor = VRN_PROP_CURSOR;
constexpr int32_t kPropHide = VRN_PROP_HIDE;
constexpr int32_t kPropHelp = VRN_PROP_HELP;
constexpr int32_t kPropRequired = VRN_PROP_REQUIRED;      // control flag 0x1
constexpr int32_t kPropIcon = VRN_PROP_ICON;
constexpr int32_t kPropIconize = VRN_PROP_ICONIZE;
constexpr int32_t kPropReadOnly = VRN_PROP_READ_ONLY;      // control flag 0x800
constexpr int32_t kPropMaximize = VRN_PROP_MAXIMIZE;
constexpr int32_t kPropKey = VRN_PROP_KEY;           // the companion of the help keyword
constexpr int32_t kPropFormat = VRN_PROP_FORMAT;        // a LIST's format; setting it parses it again
constexpr int32_t kPropValue = VRN_PROP_VALUE;
constexpr int32_t kPropImmediate = VRN_PROP_IMMEDIATE;     // control flag 0x2
constexpr int32_t kPropItems = VRN_PROP_ITEMS;         // a LIST's rows on a page
constexpr int32_t kPropSelected = VRN_PROP_SELECTED;
constexpr int32_t kPropAcceptAll = VRN_PROP_ACCEPT_ALL;
constexpr int32_t kPropVScrollPos = VRN_PROP_V_SCROLL_POS;
constexpr int32_t kPropTip = VRN_PROP_TIP;
constexpr int32_t kPropVisible = VRN_PROP_VISIBLE;
constexpr int32_t kPropEnabled = VRN_PROP_ENABLED;
constexpr int32_t kPropResizable = VRN_PROP_RESIZABLE;     // the window's frame can be sized
constexpr int32_t kPropMaximized = VRN_PROP_MAXIMIZED;     // the window is maximized now; 0 restores it
constexpr int32_t kPropMinimized = VRN_PROP_MINIMIZED;     // the window is minimized now
constexpr int32_t kPropStatusText = VRN_PROP_STATUS_TEXT;    // the text in the frame's status bar
constexpr int32_t kPropFrom = VRN_PROP_FROM;          // a LIST's FROM queue (SetPropQ); reads its records
constexpr int32_t kPropScreenText = VRN_PROP_SCREEN_TEXT;
constexpr int32_t kPropFeq = VRN_PROP_FEQ;
constexpr int32_t kPropAutoWidth = VRN_PROP_AUTO_WIDTH;
constexpr int32_t kPropAutoHeight = VRN_PROP_AUTO_HEIGHT;
constexpr int32_t kPropIndexed = VRN_PROP_INDEXED;       // from here the index is passed on, counted from 0
constexpr int32_t kPropWindowString = VRN_PROP_WINDOW_STRING;  // strings the program keeps on the window, by index
constexpr int32_t kPropListIcons = VRN_PROP_LIST_ICONS;   // a LIST's icon names, by index
constexpr int32_t kPropAlertKey = VRN_PROP_ALERT_KEY;
constexpr int32_t kAlertAppendIndex = 254;     // index 255 as the program writes it

constexpr int32_t kFirstNumericProperty = 0x7000;

// The number of a property name ("TEXT", "SELECTED", case ignored), or 0.
int32_t PropertyNamed(std::string_view name);
// A property's text as a number: decimal (or 0x hexadecimal); 0 for text that is not a number.
int32_t PropertyNumber(std::string_view text);
std::string BoolText(bool value);

}  // namespace tarvex::windows
