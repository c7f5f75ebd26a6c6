// SPDX-License-Identifier: GPL-3.0-or-later
// One input queue per thread slot, and which slot owns which open native window.
#include "windows/native_input.h"

#include <array>
#include <condition_variable>
#include <deque>
#include <mutex>
#include <unordered_map>

#include "core/thread_instances.h"

namespace tarvex::windows {

namespace {

struct InputQueue {
    std::mutex mutex;
    std::condition_variable arrived;
    std::deque<NativeInput> inputs;
    bool woken = false;
};

// Never destroyed: threads may still wait on them while the program ends (HALT on another thread).
auto& queues = *new std::array<InputQueue, kThreadSlots>;

std::mutex owners_mutex;
auto& owners = *new std::unordered_map<NativeHandle, int>;

bool ValidSlot(int slot) { return slot >= 0 && slot < kThreadSlots; }

}  // namespace

void RegisterWindowThread(NativeHandle window, int slot) {
    std::lock_guard lock(owners_mutex);
    owners[window] = slot;
}

void ForgetWindowThread(NativeHandle window) {
    std::lock_guard lock(owners_mutex);
    owners.erase(window);
}

int WindowThread(NativeHandle window) {
    std::lock_guard lock(owners_mutex);
    auto it = owners.find(window);
    return it == owners.end() ? -1 : it->second;
}

bool PostInput(const NativeInput& input) {
    int slot = WindowThread(input.window);
    if (!ValidSlot(slot))
        return false;
    InputQueue& queue = queues[size_t(slot)];
    {
        std::lock_guard lock(queue.mutex);
        queue.inputs.push_back(input);
    }
    queue.arrived.notify_one();
    return true;
}

void WakeThread(int slot) {
    if (!ValidSlot(slot))
        return;
    InputQueue& queue = queues[size_t(slot)];
    {
        std::lock_guard lock(queue.mutex);
        queue.woken = true;
    }
    queue.arrived.notify_one();
}

std::optional<NativeInput> WaitInput(int slot, std::optional<std::chrono::steady_clock::time_point> deadline) {
    if (!ValidSlot(slot))
        return std::nullopt;
    InputQueue& queue = queues[size_t(slot)];
    std::unique_lock lock(queue.mutex);
    auto ready = [&] { return !queue.inputs.empty() || queue.woken; };
    if (deadline) {
        if (!queue.arrived.wait_until(lock, *deadline, ready))
            return std::nullopt;
    } else {
        queue.arrived.wait(lock, ready);
    }
    if (queue.inputs.empty()) {
        queue.woken = false;
        return NativeInput{};
    }
    NativeInput input = std::move(queue.inputs.front());
    queue.inputs.pop_front();
    return input;
}

std::optional<NativeInput> TakeInputOfKind(int slot, InputKind kind) {
    if (!ValidSlot(slot))
        return std::nullopt;
    InputQueue& queue = queues[size_t(slot)];
    std::lock_guard lock(queue.mutex);
    for (auto it = queue.inputs.begin(); it != queue.inputs.end(); ++it) {
        if (it->kind == kind) {
            NativeInput input = std::move(*it);
            queue.inputs.erase(it);
            return input;
        }
    }
    return std::nullopt;
}

void ClearInput(int slot) {
    if (!ValidSlot(slot))
        return;
    InputQueue& queue = queues[size_t(slot)];
    std::lock_guard lock(queue.mutex);
    queue.inputs.clear();
    queue.woken = false;
}

}  // namespace tarvex::windows
