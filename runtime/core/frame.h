// SPDX-License-Identifier: GPL-3.0-or-later
// Internal view of the runtime's frame state for the other runtime subsystems.
#pragma once

#include <cstdint>
#include <random>

namespace tarvex {

// True from the library's load until Wsl$CloseDown.
bool RuntimeActive();
// What Wsl$CloseDown does for the windows (installed by them): close them all.
void SetCloseDownHook(void (*hook)());

// True once HALT, STOP or a fatal error has decided to end the program.
bool ProgramEnding();

// The runtime's random-number generator, seeded once by Vrn$init.
std::mt19937& RandomEngine();
void SeedRandom();

}  // namespace tarvex
