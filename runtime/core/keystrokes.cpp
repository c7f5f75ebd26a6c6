// SPDX-License-Identifier: GPL-3.0-or-later
// The queue of pressed keystrokes, and PRESS, which fills it from the string stack. A text that
// does not fit is refused whole with run-time error 534, so a program never sees half of it typed.
#include "core/keystrokes.h"

#include <array>
#include <mutex>

#include "core/string_stack.h"
#include "tarvex/frame.h"
#include "tarvex/string_stack.h"

namespace tarvex {
namespace {

constexpr int32_t kTooManyKeystrokes = 534;

// A ring of fixed size: PRESS runs inside event handling and must not allocate.
struct KeystrokeRing {
    std::mutex mutex;
    std::array<Keystroke, kKeystrokeCapacity> slots;
    size_t first = 0;
    size_t count = 0;
};

KeystrokeRing& Ring() {
    static KeystrokeRing ring;
    return ring;
}

}  // namespace

bool QueueCharacters(std::string_view text) {
    KeystrokeRing& ring = Ring();
    std::lock_guard lock(ring.mutex);
    if (text.size() > kKeystrokeCapacity - ring.count) return false;
    for (char c : text) {
        ring.slots[(ring.first + ring.count) % kKeystrokeCapacity] = Keystroke{0, c};
        ++ring.count;
    }
    return true;
}

bool QueueKeyCode(uint16_t key_code) {
    KeystrokeRing& ring = Ring();
    std::lock_guard lock(ring.mutex);
    if (ring.count == kKeystrokeCapacity) return false;
    ring.slots[(ring.first + ring.count) % kKeystrokeCapacity] = Keystroke{key_code, 0};
    ++ring.count;
    return true;
}

std::optional<Keystroke> TakeKeystroke() {
    KeystrokeRing& ring = Ring();
    std::lock_guard lock(ring.mutex);
    if (ring.count == 0) return std::nullopt;
    Keystroke keystroke = ring.slots[ring.first];
    ring.first = (ring.first + 1) % kKeystrokeCapacity;
    --ring.count;
    return keystroke;
}

size_t PendingKeystrokes() {
    KeystrokeRing& ring = Ring();
    std::lock_guard lock(ring.mutex);
    return ring.count;
}

}  // namespace tarvex

extern "C" TARVEX_API void Vrn$StackPRESS(void) {
    bool queued = tarvex::QueueCharacters(tarvex::EntryText(0));
    tarvex::DiscardEntries(1);
    if (!queued) Vrn$rterr(tarvex::kTooManyKeystrokes, nullptr);
}
