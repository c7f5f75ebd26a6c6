// SPDX-License-Identifier: GPL-3.0-or-later
// The program's help: a page of topics the program carries in itself and leaves in the practice's
// folder, where the windows' F1 finds it. A practice may edit its copy; a copy that is there is
// never replaced.
#pragma once

namespace lumarex {

// Where the help lives, as the program names it.
inline constexpr const char* kHelpFile = "C:\\LUMAREX\\LUMAREX.HLP";

// Writes the program's help page to `name` (mode 0600, its folder made) unless a file is there.
// False when it is missing and cannot be written.
bool InstallHelpFile(const char* name = kHelpFile);

}  // namespace lumarex
