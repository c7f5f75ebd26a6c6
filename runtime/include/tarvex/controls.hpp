// SPDX-License-Identifier: GPL-3.0-or-later
// Controls and properties for C++ programs, each through the exported operations only:
//
//     tarvex::Target window{w};                          // or a procedure's own tarvex::Window
//     window[{3, VRN_PROP_TEXT}] = "Patient";            // window{3, PROP:Text} = 'Patient'
//     std::string row = window[{1, VRN_PROP_SELECTED}];  // the LIST's selected row
//     tarvex::HIDE(5, 7);
//     tarvex::DISPLAY();
//     tarvex::SetFrom(w, 1, browse_queue);               // a LIST shows a Queue<Record>
//
// Field 0 is the window itself; the statements work on the thread's current target window.
#pragma once

#include <cstdint>
#include <cstdlib>
#include <string>
#include <string_view>

#include "tarvex/controls.h"
#include "tarvex/files.hpp"
#include "tarvex/queue.hpp"

namespace tarvex {

// Which property of which control: field 0 is the window itself; index 0 is none.
struct FieldProperty {
    int32_t field;
    int32_t property;
    int32_t index = 0;
};

// One property of one control, read and written as text (numbers convert).
class PropertyRef {
public:
    PropertyRef(VrnWindowObject* window, FieldProperty which) : window_(window), which_(which) {}

    PropertyRef& operator=(std::string_view value) {
        PushNumber();
        Vrn$PushString(value.data(), uint32_t(value.size()));
        Vrn$SetPropS(which_.field, which_.index, window_);
        return *this;
    }
    PropertyRef& operator=(const char* value) { return *this = std::string_view(value); }
    PropertyRef& operator=(int32_t value) { return *this = std::string_view(std::to_string(value)); }

    std::string Text() const {
        PushNumber();
        Vrn$GetPropS(which_.field, which_.index, window_);
        return files_detail::PopText();
    }
    int32_t Number() const {
        std::string text = Text();
        return text.empty() ? 0 : int32_t(std::strtol(text.c_str(), nullptr, 10));
    }
    operator std::string() const { return Text(); }   // NOLINT: reads like a variable

private:
    // Strings are pushed by reference, so the property goes as a number the stack holds itself.
    void PushNumber() const { Vrn$PushLong(which_.property); }
    VrnWindowObject* window_;
    FieldProperty which_;
};

// A window as the program's property target (null: the thread's current target window). A
// procedure's own tarvex::Window (windows.hpp) answers the same way.
class Target {
public:
    explicit Target(VrnWindowObject* window = VRN_TARGET_CURRENT) : window_(window) {}
    PropertyRef operator[](FieldProperty which) const { return PropertyRef(window_, which); }
    VrnWindowObject* Object() const { return window_; }

private:
    VrnWindowObject* window_;
};

inline void HIDE(int32_t first, int32_t last = 0) { Vrn$HIDE(first, last); }
inline void UNHIDE(int32_t first, int32_t last = 0) { Vrn$UNHIDE(first, last); }
inline void DISABLE(int32_t first, int32_t last = 0) { Vrn$DISABLE(first, last); }
inline void ENABLE(int32_t first, int32_t last = 0) { Vrn$ENABLE(first, last); }
inline void DISPLAY(int32_t first = 0, int32_t last = 0) { Vrn$DISPLAY(first, last); }
inline void UPDATE(int32_t first = 0, int32_t last = 0) { Vrn$UPDATE(first, last); }
inline void ERASE(int32_t first = 0, int32_t last = 0) { Vrn$ERASE(first, last); }
inline void CHANGE(int32_t field, std::string_view value) {
    Vrn$PushString(value.data(), uint32_t(value.size()));
    Vrn$CHANGE(field);
}
inline int32_t CHOICE(int32_t field = 0) { return Vrn$CHOICE(field); }
// A control made at run time (kind codes as in window descriptions), hidden until UNHIDE; see
// Vrn$CREATE for the parent and position.
inline int32_t CREATE(int32_t field, int32_t kind, int32_t parent = 0, int32_t position = 0) {
    return Vrn$CREATE(field, kind, parent, position);
}
inline void DESTROY(int32_t first, int32_t last = 0) { Vrn$DESTROY(first, last); }
inline int32_t POPUP(std::string_view menu) {
    Vrn$PushString(menu.data(), uint32_t(menu.size()));
    return Vrn$POPUP();
}

// A LIST shows the queue (its FROM property).
template <class Record>
void SetFrom(VrnWindowObject* window, int32_t field, Queue<Record>& queue) {
    Vrn$PushLong(VRN_PROP_FROM);
    Vrn$SetPropQ(field, 0, window, queue.Declaration());
}

}  // namespace tarvex
