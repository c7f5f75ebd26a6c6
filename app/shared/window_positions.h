// SPDX-License-Identifier: GPL-3.0-or-later
// A window's place kept between runs: each procedure that keeps its window where the clerk left it
// saves the position, size and maximised state under its own section of LUMTRI~1.INI (in the
// program's current folder) when its window closes, and restores them when it opens:
//
//     frame.Open();
//     RestoreWindowPosition(frame.Object(), "Main");
//     ... the event loop ...
//     SaveWindowPosition(frame.Object(), "Main");
//
// Keys: Maximize ("Yes"/"No"), XPosit, YPosit, Width, Height, in the window's own units. A missing
// file or key leaves the window as its description places it.
#pragma once

#include <string_view>

#include "tarvex/windows.h"

namespace lumarex {

inline constexpr const char* kPositionsFile = "LUMTRI~1.INI";

void RestoreWindowPosition(VrnWindowObject* window, const char* section);
// A minimised window writes nothing: its place is not where the clerk wants it next time.
void SaveWindowPosition(VrnWindowObject* window, const char* section);

}  // namespace lumarex
