// SPDX-License-Identifier: GPL-3.0-or-later
// Per-thread instances of program variables. A program's static data (a THREAD file's declaration
// blocks and record buffer, variables declared THREAD) lives at one address that every program
// thread uses. Because only the thread that holds the runtime lock runs program code, each thread
// can still have its own copy: when the lock passes from one thread slot to another, the current
// contents of every registered region are saved as the old slot's copy and the new slot's copy is
// loaded in their place. A slot that has never run starts from the bytes the region held when it
// was registered.
#pragma once

#include <cstddef>

namespace tarvex {

// The slot that holds the registered regions' contents at start-up (the program's first thread).
constexpr int kFirstThreadSlot = 0;
// Slots of the thread table; a slot number outside 0..kThreadSlots-1 is refused.
constexpr int kThreadSlots = 64;

// Gives every thread slot its own copy of `size` bytes at `address`. Registering the same region
// again changes nothing and succeeds; a null address, a zero size, or a region that overlaps a
// registered one without being the same region is refused (false).
bool RegisterThreadInstance(void* address, size_t size);
// Makes `slot` the current slot: the current contents become the copies of the slot that was
// current, and `slot`'s copies are loaded. Switching to the current slot changes nothing.
bool SwitchThreadInstance(int slot);
int CurrentThreadInstance();
// Forgets a slot's copies (its thread has ended): a thread started later in that slot begins from
// the registration images. The current slot keeps its contents in memory and is not released.
void ReleaseThreadInstance(int slot);
// How many regions are registered (for the tests and the trace).
size_t ThreadInstanceCount();
// Forgets every region and every copy (program end, tests).
void ResetThreadInstances();

} // namespace tarvex
