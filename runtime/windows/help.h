// SPDX-License-Identifier: GPL-3.0-or-later
// Help: the program names its help file once (Vrn$HELP); F1 in a window, a Help button once the
// program has let its press through, or an F1 the program presses itself shows that file at the
// deepest topic there is: the focused control's help keyword, else its window's.
#pragma once

#include <cstdint>
#include <string>

struct VrnWindowObject;

namespace tarvex::windows {

// The help file as the program named it (blank: none).
std::string HelpFile();
// Shows the help for `field` of `window` (0: the window itself). With no help file named nothing
// shows; a file that cannot be shown is said so in a message box.
void ShowHelp(VrnWindowObject& window, int32_t field);

}  // namespace tarvex::windows
