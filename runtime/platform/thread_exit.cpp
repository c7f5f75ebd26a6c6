// SPDX-License-Identifier: GPL-3.0-or-later
// Routines run at the end of a thread, on one POSIX thread-specific key. Its destructor runs after
// the thread's C++ thread_local destructors (glibc runs those first), so per-thread state released
// here is still there for them. The library is linked not to unload (-z nodelete): a thread that
// ends later must still find the destructor's code.
#include <pthread.h>

#include "platform/platform.h"

namespace tarvex::platform {

namespace {

void RunLinks(void* head) {
    // The key's value is already null here; a link armed by one of these routines sets it again,
    // and the system then calls this destructor once more.
    auto* link = static_cast<ThreadExitLink*>(head);
    while (link != nullptr) {
        ThreadExitLink* next = link->next;
        link->routine(link);
        link = next;
    }
}

struct ExitKey {
    pthread_key_t key{};
    bool made = false;
    ExitKey() { made = pthread_key_create(&key, RunLinks) == 0; }
};

const ExitKey& Key() {
    static const ExitKey exit_key;
    return exit_key;
}

}  // namespace

bool RunAtThreadExit(ThreadExitLink* link) {
    const ExitKey& exit_key = Key();
    if (!exit_key.made || link == nullptr || link->routine == nullptr) return false;
    link->next = static_cast<ThreadExitLink*>(pthread_getspecific(exit_key.key));
    if (pthread_setspecific(exit_key.key, link) != 0) {
        link->next = nullptr;
        return false;
    }
    return true;
}

}  // namespace tarvex::platform
