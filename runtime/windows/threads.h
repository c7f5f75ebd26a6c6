// SPDX-License-Identifier: GPL-3.0-or-later
// The thread table and the runtime lock. Each program thread has a slot (0 for the program's first
// thread, 1 to 63 for started ones) that names it: its thread number is the slot plus 1, and its
// per-thread instances of program data are the slot's (see core/thread_instances.h). Whoever
// holds the runtime lock runs program code; taking the lock loads the taker's instances.
#pragma once

#include <cstdint>

namespace tarvex::windows {

// The calling thread's slot. A thread that was not started by START and has no slot yet becomes
// the program's first thread (slot 0), holding the runtime lock, when slot 0 is free; any other
// such thread gets -1 (it runs no program code).
int ThisThreadSlot();

// Gives the runtime lock up / takes it back for the calling thread (the event loop does so around
// its wait for input). Taking it back switches the per-thread instances to the caller's slot.
void GiveUpRuntimeLock();
void TakeRuntimeLock();
bool HoldsRuntimeLock();

// What START asks before it starts a thread: whether a modal window is open (set by the windows).
// Returns the query it replaces.
using ModalWindowQuery = bool (*)();
ModalWindowQuery SetModalWindowQuery(ModalWindowQuery modal_window_open);

// Started threads still running (for program end and the tests).
int RunningThreads();

} // namespace tarvex::windows
