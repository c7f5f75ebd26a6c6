// SPDX-License-Identifier: GPL-3.0-or-later
// Per-thread state that any process can load. The library is opened at start-up by programs and
// late, with dlopen, by script bindings and plugins; a late-loaded library gets static
// thread-local storage only from a small reserve, so it keeps almost none. Each per-thread object
// (the string stack, the decimal stack, the picture cache, ...) lives on the heap and is reached
// through one initial-exec pointer of its own: one load and a test on the hot path. The object is
// made on the thread's first use and destroyed when the thread ends, after the thread's C++
// thread_local destructors, which may still run string operations.
#pragma once

#include <cstddef>
#include <new>

#include "platform/platform.h"

namespace tarvex {

// Memory for one per-thread object. A thread without its stacks cannot run a single statement, so
// when memory runs out the program ends with run-time error 501; this never returns null.
void* AllocateThreadObject(size_t size);

template <class T>
struct ThreadObject final : platform::ThreadExitLink {
    T value{};
    T** current = nullptr;  // the owning thread's pointer, cleared when the object goes
};

// Makes the calling thread's T, points `current` (a thread_local pointer) at it and arranges its
// destruction at the thread's end.
template <class T>
[[gnu::noinline]] T& MakeThreadObject(T*& current) {
    static_assert(alignof(ThreadObject<T>) <= alignof(std::max_align_t));
    auto* object = new (AllocateThreadObject(sizeof(ThreadObject<T>))) ThreadObject<T>{};
    object->current = &current;
    object->routine = [](platform::ThreadExitLink* link) {
        auto* dying = static_cast<ThreadObject<T>*>(link);
        if (*dying->current == &dying->value) *dying->current = nullptr;
        dying->~ThreadObject<T>();
        platform::FreeMemory(dying);
    };
    // Should the system keep no per-thread value, the object stays to the end of the process.
    platform::RunAtThreadExit(object);
    current = &object->value;
    return object->value;
}

// The calling thread's T, made on its first use. Each T is one per-thread object with a pointer of
// its own.
template <class T>
inline T& PerThread() {
    constinit thread_local T* current __attribute__((tls_model("initial-exec"))) = nullptr;
    T* object = current;
    return __builtin_expect(object != nullptr, 1) ? *object : MakeThreadObject(current);
}

}  // namespace tarvex
