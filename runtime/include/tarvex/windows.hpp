// SPDX-License-Identifier: GPL-3.0-or-later
// The layer C++ procedures are written in: a window declared from its module's description with
// its bound variables, its ACCEPT loop, the event functions, POST, SELECT and START, each through
// the exported operations only. A procedure reads like the 4GL:
//
//     void ConfirmBackup() {
//         tarvex::String<60> folder;
//         tarvex::Window window("LUMAREX$CONDIR~1", "P1$WINDOW", &folder);
//         window.Open();
//         for (tarvex::Accept accept; accept.Next();) {
//             switch (tarvex::EVENT()) {
//             case tarvex::EVENT_OpenWindow:
//                 folder = "C:\\LUMAREX\\BACKUP";
//                 tarvex::DISPLAY();
//                 continue;
//             case tarvex::EVENT_CloseWindow:
//                 if (!Confirmed()) { accept.Cycle(); continue; }     // CYCLE: the window stays
//                 break;
//             }
//             if (tarvex::ACCEPTED() == kOkButton) { CopyFiles(); break; }  // BREAK ends the loop
//             if (tarvex::ACCEPTED() == kCancelButton) tarvex::POST(tarvex::EVENT_CloseWindow);
//         }
//     }                                 // the window closes and is freed here
//
// Leaving the for by break, return or an exception ends the loop (the Accept object's end), so a
// BREAK out of an outer loop unwinds the inner ones one by one.
#pragma once

#include <cstdint>

#include "tarvex/controls.hpp"
#include "tarvex/events.h"
#include "tarvex/keys.h"
#include "tarvex/strings.hpp"
#include "tarvex/threads.h"
#include "tarvex/windows.h"

namespace tarvex {

enum EventNumber : int32_t {
    EVENT_Accepted = 1,
    EVENT_NewSelection = 2,
    EVENT_ScrollUp = 3,
    EVENT_ScrollDown = 4,
    EVENT_PageUp = 5,
    EVENT_PageDown = 6,
    EVENT_ScrollTop = 7,
    EVENT_ScrollBottom = 8,
    EVENT_AlertKey = 15,
    EVENT_Selected = 0x101,
    EVENT_CloseWindow = 0x201,
    EVENT_CloseDown = 0x202,
    EVENT_OpenWindow = 0x203,
    EVENT_OpenFailed = 0x204,
    EVENT_Timer = 0x20b,
    EVENT_Completed = 0x225,
};

class Window {
public:
    enum class As { kWindow, kMdiChild, kApplication };

    // The bound variables are given in description order, as addresses.
    template <class... Bound>
    Window(const char* module, const char* structure, Bound*... bound)
        : Window(As::kWindow, module, structure, bound...) {}
    template <class... Bound>
    Window(As as, const char* module, const char* structure, Bound*... bound) {
        switch (as) {
        case As::kWindow: Vrn$pwopen(&object_, module, structure, static_cast<void*>(bound)..., nullptr); break;
        case As::kMdiChild: Vrn$pmopen(&object_, module, structure, static_cast<void*>(bound)..., nullptr); break;
        case As::kApplication: Vrn$paopen(&object_, module, structure, static_cast<void*>(bound)..., nullptr); break;
        }
    }
    Window(const Window&) = delete;
    Window& operator=(const Window&) = delete;
    ~Window() {
        Vrn$CLOSEwindow(object_);
        Vrn$freewindow(&object_);
    }

    void Open() { Vrn$OPENwindow(object_); }
    void Close() { Vrn$CLOSEwindow(object_); }
    VrnWindowObject* Object() const { return object_; }
    // window[{field, VRN_PROP_...}]: a property of the window (field 0) or of one of its controls.
    PropertyRef operator[](FieldProperty which) const { return PropertyRef(object_, which); }

private:
    VrnWindowObject* object_ = nullptr;
};

// One ACCEPT loop over the target window: Next() runs the next pass (false when the loop is
// over); Cycle() before continue makes the pass end as CYCLE does.
class Accept {
public:
    Accept() = default;
    Accept(const Accept&) = delete;
    Accept& operator=(const Accept&) = delete;
    ~Accept() {
        if (running_)
            Vrn$EndEventLoops(1);
    }

    bool Next() {
        int32_t over = started_ ? Vrn$EndEventLoop(cycle_) : Vrn$StartEventLoop();
        started_ = true;
        cycle_ = 0;
        running_ = over == 0;
        return running_;
    }
    void Cycle() { cycle_ = 1; }

private:
    bool started_ = false;
    bool running_ = false;
    int32_t cycle_ = 0;
};

inline int32_t EVENT() { return Vrn$EVENT(); }
inline int32_t FIELD() { return Vrn$FIELD(); }
inline int32_t ACCEPTED() { return Vrn$ACCEPTED(); }
inline int32_t SELECTED() { return Vrn$SELECTED(); }
inline int32_t FOCUS() { return Vrn$FOCUS(); }
inline int32_t FIRSTFIELD() { return Vrn$FIRSTFIELD(); }
inline int32_t LASTFIELD() { return Vrn$LASTFIELD(); }
inline uint32_t KEYCODE() { return Vrn$KEYCODE(); }
inline void SETKEYCODE(uint32_t key_code) { Vrn$SETKEYCODE(key_code); }
inline void PRESSKEY(uint32_t key_code) { Vrn$PRESSKEY(key_code); }
// HELP(file): names the program's help file.
template <StringOperand T>
void HELP(const T& file) {
    AsStringNode(file).Push();
    Vrn$HELP();
}
inline int32_t THREAD() { return Vrn$THREAD(); }
inline void POST(int32_t event, int32_t field = 0, int32_t thread = 0) { Vrn$POST(event, field, thread); }
inline void SELECT(int32_t field = 0, int32_t start = 0, int32_t end = 0) { Vrn$SELECT(field, start, end); }

// START(procedure, stack size, up to three string parameters): the thread's number, 0 if refused.
template <StringOperand... Parameters>
int32_t START(VrnProcedure procedure, int32_t stack_size, const Parameters&... parameters) {
    static_assert(sizeof...(Parameters) <= 3, "START takes at most three parameters");
    (AsStringNode(parameters).Push(), ...);
    switch (sizeof...(Parameters)) {
    case 0: return Vrn$START(procedure, stack_size);
    case 1: return Vrn$START1(procedure, stack_size);
    case 2: return Vrn$START2(procedure, stack_size);
    default: return Vrn$START3(procedure, stack_size);
    }
}

}  // namespace tarvex
