// SPDX-License-Identifier: GPL-3.0-or-later
// START, the thread table of 64 slots and the runtime lock.
//
// The lock is a mutex held by the thread that runs program code. A started thread takes it before
// its procedure runs and gives it up when the procedure returns; in between it gives it up only
// while it waits (for input, or around work with UNLOCKTHREAD), so threads interleave at those
// points only. Taking the lock loads the taker's per-thread instances of program data.
#include "windows/threads.h"

#include "windows/events.h"

#include <algorithm>
#include <array>
#include <atomic>
#include <mutex>
#include <string>
#include <vector>

#include "core/string_stack.h"
#include "core/thread_instances.h"
#include "platform/platform.h"
#include "tarvex/threads.h"

namespace tarvex::windows {

namespace {

// Stack sizes in programs were chosen for 32-bit code; a thread gets at least this much.
constexpr size_t kLeastStackBytes = 8u << 20;
constexpr int16_t kNoSlotYet = -2;
constexpr int16_t kNoSlot = -1;

std::mutex table_mutex;
std::array<bool, kThreadSlots> slot_used{}; // under table_mutex
std::atomic<bool (*)()> modal_window_open{nullptr};
std::atomic<int> running_threads{0};
std::mutex runtime_lock;

struct ThreadState {
    int16_t slot = kNoSlotYet;
    int16_t unlocked_depth = 0; // UNLOCKTHREAD nesting
    bool holds_lock = false;
};
constinit thread_local ThreadState this_thread;

// Takes the lowest free slot from 1 on (slot 0 is the program's first thread); -1 when none.
int TakeSlot() {
    std::lock_guard guard(table_mutex);
    for (int slot = 1; slot < kThreadSlots; slot++) {
        if (!slot_used[size_t(slot)]) {
            slot_used[size_t(slot)] = true;
            return slot;
        }
    }
    return -1;
}

void FreeSlot(int slot) {
    std::lock_guard guard(table_mutex);
    slot_used[size_t(slot)] = false;
}

// What a started thread needs: its slot, its procedure and its string parameters.
struct StartRecord {
    int slot;
    VrnProcedure procedure;
    std::vector<std::string> parameters; // in the order they were pushed
};

void RunStartedThread(void* argument) {
    StartRecord* start = static_cast<StartRecord*>(argument);
    this_thread.slot = int16_t(start->slot);
    platform::PrepareFaultStackForThisThread();
    TakeRuntimeLock();
    for (const std::string& parameter : start->parameters)
        PushCopy(parameter);
    VrnProcedure procedure = start->procedure;
    int slot = start->slot;
    delete start;
    procedure();
    // The procedure may have ended with the lock given up (UNLOCKTHREAD): the clean-up below
    // changes shared state, so it runs under the lock.
    this_thread.unlocked_depth = 0;
    TakeRuntimeLock();
    ThreadWindowsEnd(slot);
    // The slot's instances are forgotten, so a thread started in it later begins afresh: memory
    // goes back to the first thread's instances first, since a current slot cannot be released.
    SwitchThreadInstance(kFirstThreadSlot);
    ReleaseThreadInstance(slot);
    FreeSlot(slot);
    running_threads--;
    GiveUpRuntimeLock();
}

int32_t Start(VrnProcedure procedure, int32_t stack_size, int parameter_count) {
    std::vector<std::string> parameters(static_cast<size_t>(parameter_count));
    for (int i = parameter_count - 1; i >= 0; i--)
        parameters[size_t(i)] = PopStdString();
    ThisThreadSlot();
    bool (*modal)() = modal_window_open.load();
    if (procedure == nullptr || (modal != nullptr && modal()))
        return 0;
    int slot = TakeSlot();
    if (slot < 0)
        return 0;
    auto* start = new StartRecord{slot, procedure, std::move(parameters)};
    size_t stack = std::max(kLeastStackBytes, size_t(stack_size > 0 ? stack_size : 0));
    running_threads++;
    if (!platform::StartThread(stack, RunStartedThread, start)) {
        running_threads--;
        delete start;
        FreeSlot(slot);
        return 0;
    }
    return slot + 1;
}

} // namespace

int ThisThreadSlot() {
    if (this_thread.slot == kNoSlotYet) {
        // Not started by START: the program's first thread when slot 0 is free. It runs program
        // code from the start, so it holds the lock.
        bool first = false;
        {
            std::lock_guard guard(table_mutex);
            if (!slot_used[0]) {
                slot_used[0] = true;
                first = true;
            }
        }
        this_thread.slot = first ? 0 : kNoSlot;
        if (first)
            TakeRuntimeLock();
    }
    return this_thread.slot;
}

void GiveUpRuntimeLock() {
    if (!this_thread.holds_lock)
        return;
    this_thread.holds_lock = false;
    runtime_lock.unlock();
}

void TakeRuntimeLock() {
    if (this_thread.holds_lock)
        return;
    runtime_lock.lock();
    this_thread.holds_lock = true;
    if (this_thread.slot >= 0)
        SwitchThreadInstance(this_thread.slot);
}

bool HoldsRuntimeLock() {
    return this_thread.holds_lock;
}

ModalWindowQuery SetModalWindowQuery(ModalWindowQuery query) {
    return modal_window_open.exchange(query);
}

int RunningThreads() {
    return running_threads;
}

} // namespace tarvex::windows

using namespace tarvex::windows;

TARVEX_API int32_t Vrn$START(VrnProcedure procedure, int32_t stack_size) {
    return Start(procedure, stack_size, 0);
}

TARVEX_API int32_t Vrn$START1(VrnProcedure procedure, int32_t stack_size) {
    return Start(procedure, stack_size, 1);
}

TARVEX_API int32_t Vrn$START2(VrnProcedure procedure, int32_t stack_size) {
    return Start(procedure, stack_size, 2);
}

TARVEX_API int32_t Vrn$START3(VrnProcedure procedure, int32_t stack_size) {
    return Start(procedure, stack_size, 3);
}

TARVEX_API int32_t Vrn$THREAD(void) {
    return ThisThreadSlot() + 1;
}

TARVEX_API void Vrn$UNLOCKTHREAD(void) {
    ThisThreadSlot();
    if (this_thread.unlocked_depth++ == 0)
        GiveUpRuntimeLock();
}

TARVEX_API void Vrn$LOCKTHREAD(void) {
    if (this_thread.unlocked_depth == 0)
        return;
    if (--this_thread.unlocked_depth == 0)
        TakeRuntimeLock();
}

TARVEX_API int32_t Vrn$THREADLOCKED(void) {
    return HoldsRuntimeLock() ? 1 : 0;
}
