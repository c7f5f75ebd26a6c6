// SPDX-License-Identifier: GPL-3.0-or-later
// Per-thread instances of program variables (thread_instances.h). The regions are kept sorted by
// address so that an overlap is found when it is registered. Each slot keeps its saved copies in
// one buffer laid out region after region; a slot without a buffer has never run, or was released,
// and reads the registration images.
#include "thread_instances.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <mutex>
#include <vector>

namespace tarvex {
namespace {

struct Region {
    uint8_t* address;
    size_t size;
    std::vector<uint8_t> initial; // the contents when the region was registered
};

struct Registry {
    std::mutex mutex;
    std::vector<Region> regions;                      // sorted by address
    std::vector<std::vector<uint8_t>> saved[kThreadSlots]; // saved[slot][region index]
    int current = kFirstThreadSlot;
};

Registry& TheRegistry() {
    static Registry registry;
    return registry;
}

bool ValidSlot(int slot) { return slot >= 0 && slot < kThreadSlots; }

} // namespace

bool RegisterThreadInstance(void* address, size_t size) {
    if (address == nullptr || size == 0)
        return false;
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    auto* start = static_cast<uint8_t*>(address);
    auto at = std::lower_bound(registry.regions.begin(), registry.regions.end(), start,
                               [](const Region& region, const uint8_t* a) { return region.address < a; });
    if (at != registry.regions.end() && at->address == start)
        return at->size == size;
    if (at != registry.regions.end() && start + size > at->address)
        return false;
    if (at != registry.regions.begin()) {
        const Region& before = *(at - 1);
        if (before.address + before.size > start)
            return false;
    }
    size_t index = size_t(at - registry.regions.begin());
    registry.regions.insert(at, Region{start, size, std::vector<uint8_t>(start, start + size)});
    // Slots that already hold saved copies get this region's registration image at its place.
    for (auto& copies : registry.saved) {
        if (!copies.empty())
            copies.insert(copies.begin() + std::ptrdiff_t(index), std::vector<uint8_t>(start, start + size));
    }
    return true;
}

bool SwitchThreadInstance(int slot) {
    if (!ValidSlot(slot))
        return false;
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    if (slot == registry.current)
        return true;
    auto& outgoing = registry.saved[registry.current];
    outgoing.resize(registry.regions.size());
    auto& incoming = registry.saved[slot];
    for (size_t i = 0; i < registry.regions.size(); i++) {
        Region& region = registry.regions[i];
        outgoing[i].assign(region.address, region.address + region.size);
        const std::vector<uint8_t>& image = incoming.empty() ? region.initial : incoming[i];
        std::memcpy(region.address, image.data(), region.size);
    }
    // The incoming slot's contents now live in memory, not in its copies.
    incoming.clear();
    registry.current = slot;
    return true;
}

int CurrentThreadInstance() {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    return registry.current;
}

void ReleaseThreadInstance(int slot) {
    if (!ValidSlot(slot))
        return;
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    if (slot != registry.current)
        registry.saved[slot].clear();
}

size_t ThreadInstanceCount() {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    return registry.regions.size();
}

void ResetThreadInstances() {
    Registry& registry = TheRegistry();
    std::lock_guard lock(registry.mutex);
    registry.regions.clear();
    for (auto& copies : registry.saved)
        copies.clear();
    registry.current = kFirstThreadSlot;
}

} // namespace tarvex
