// SPDX-License-Identifier: GPL-3.0-or-later
// The runtime's random-number generator, seeded once at start-up from the clock.
#include <random>

#include "core/frame.h"
#include "platform/platform.h"

namespace tarvex {

std::mt19937& RandomEngine() {
    static std::mt19937 engine;
    return engine;
}

void SeedRandom() {
    platform::LocalDateTime now = platform::Now();
    uint32_t seed = static_cast<uint32_t>(((now.hour * 60 + now.minute) * 60 + now.second) * 100 + now.hundredths) ^
                    static_cast<uint32_t>((now.year * 12 + now.month) * 31 + now.day) << 16;
    RandomEngine().seed(seed);
}

}  // namespace tarvex
