// SPDX-License-Identifier: GPL-3.0-or-later
// Program threads as the system makes them: POSIX threads, detached (a program thread ends on its
// own and nobody joins it), with the stack size the runtime asks for.
#include <pthread.h>

#include <cerrno>
#include <utility>

#include "platform/platform.h"

namespace tarvex::platform {

namespace {

struct Start {
    void (*entry)(void*);
    void* argument;
};

void* Run(void* start) {
    Start what = *static_cast<Start*>(start);
    delete static_cast<Start*>(start);
    what.entry(what.argument);
    return nullptr;
}

} // namespace

bool StartThread(size_t stack_bytes, void (*entry)(void*), void* argument) {
    pthread_attr_t attributes;
    if (pthread_attr_init(&attributes) != 0) {
        RecordErrno(ENOMEM);
        return false;
    }
    int error = pthread_attr_setstacksize(&attributes, stack_bytes);
    if (error == 0)
        error = pthread_attr_setdetachstate(&attributes, PTHREAD_CREATE_DETACHED);
    auto* start = new Start{entry, argument};
    pthread_t thread;
    if (error == 0)
        error = pthread_create(&thread, &attributes, Run, start);
    pthread_attr_destroy(&attributes);
    if (error != 0) {
        delete start;
        RecordErrno(error);
        return false;
    }
    return true;
}

} // namespace tarvex::platform
