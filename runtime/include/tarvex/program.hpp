// SPDX-License-Identifier: GPL-3.0-or-later
// The frame for C++ programs written against the runtime: the program's start, the error state
// (ERRORCODE(), ERROR(), ...), the end of the program (HALT, STOP), COMMAND() and profile files,
// each through the exported operations only. String results are string expressions of
// strings.hpp, so they combine and assign like any other:
//
//     tarvex::String<80> why;
//     why = tarvex::ERROR();
//     if (tarvex::ERRORCODE() == 35) ...
//     tarvex::String<10> x;
//     x = tarvex::GETINI("Main", "XPos", "0", "LUMTRI~1.INI");
//
// A program leaves nested procedures with the C library's setjmp/longjmp on a tarvex::JumpBuffer
// (the runtime has no wrapper of its own: setjmp must run in the frame it returns to).
#pragma once

#include <csetjmp>
#include <cfenv>
#include <cstdint>
#include <string>

#include "tarvex/frame.h"
#include "tarvex/settings.h"
#include "tarvex/strings.hpp"

namespace tarvex {

using JumpBuffer = std::jmp_buf;

// A string expression whose value an exported operation pushes.
template <class Op>
struct StringCallNode : detail::StringExprBase {
    Op operation;
    void Push() const { operation(); }
};
template <class Op>
StringCallNode<Op> MakeStringCall(Op operation) { return StringCallNode<Op>{{}, operation}; }

// ---- The error state ---------------------------------------------------------------------------------

inline int32_t ERRORCODE() { return Vrn$ERRCODE; }
inline auto ERROR() { return MakeStringCall([] { Vrn$StackErrstr(); }); }
inline auto FILEERRORCODE() { return MakeStringCall([] { Vrn$FILEERRORCODE(); }); }
inline auto FILEERRORMSG() { return MakeStringCall([] { Vrn$FILEERRORMSG(); }); }
inline auto ERRORFILE() { return MakeStringCall([] { Vrn$ERRORFILE(); }); }

// ---- Command line and profile files ------------------------------------------------------------------

template <StringOperand T>
auto COMMAND(const T& selector) { return MakeStringUnary(selector, [] { Vrn$COMMAND(); }); }

template <StringOperand T>
void SETCOMMAND(const T& tail) {
    AsStringNode(tail).Push();
    Vrn$SETCOMMAND();
}

// SETTING(name): the environment variable, else the environment file's entry (Vrn$GetSetting);
// empty when neither names it.
inline std::string SETTING(const char* name) {
    std::string value(static_cast<size_t>(Vrn$GetSetting(name, nullptr, 0)), '\0');
    if (!value.empty())
        Vrn$GetSetting(name, value.data(), static_cast<int32_t>(value.size() + 1));
    return value;
}

// GETINI(section, entry, default, file): an empty file name reads the system's main profile.
template <StringOperand S, StringOperand E, StringOperand D, StringOperand F>
auto GETINI(const S& section, const E& entry, const D& default_value, const F& file) {
    auto nodes = [s = AsStringNode(section), e = AsStringNode(entry), d = AsStringNode(default_value),
                  f = AsStringNode(file)] {
        f.Push();
        d.Push();
        e.Push();
        s.Push();
        Vrn$GETINI();
    };
    return MakeStringCall(nodes);
}

// PUTINI(section, entry, value, file) writes a value; PUTINI(section, entry, file) deletes the entry
// and PUTINI(section, file) the whole section.
template <StringOperand S, StringOperand E, StringOperand V, StringOperand F>
void PUTINI(const S& section, const E& entry, const V& value, const F& file) {
    AsStringNode(file).Push();
    AsStringNode(value).Push();
    AsStringNode(entry).Push();
    AsStringNode(section).Push();
    Vrn$PUTINI(0, 0);
}
template <StringOperand S, StringOperand E, StringOperand F>
void PUTINI(const S& section, const E& entry, const F& file) {
    AsStringNode(file).Push();
    Vrn$PushNull();
    AsStringNode(entry).Push();
    AsStringNode(section).Push();
    Vrn$PUTINI(0, 1);
}
template <StringOperand S, StringOperand F>
void PUTINI(const S& section, const F& file) {
    AsStringNode(file).Push();
    Vrn$PushNull();
    Vrn$PushNull();
    AsStringNode(section).Push();
    Vrn$PUTINI(1, 1);
}

// ---- The end of the program ------------------------------------------------------------------------------

[[noreturn]] inline void HALT(int32_t code = 0) {
    Vrn$PushNull();
    Vrn$HALT(code, 1);
}
template <StringOperand T>
[[noreturn]] void HALT(int32_t code, const T& message) {
    AsStringNode(message).Push();
    Vrn$HALT(code, 0);
}
// STOP(message): asks whether to end the program; returns when the user chooses to go on.
template <StringOperand T>
void STOP(const T& message, bool ask_exit = false) {
    AsStringNode(message).Push();
    Vrn$STOP(ask_exit ? 1 : 0);
}

// MESSAGE(text, caption, icon, buttons, default): shows a message box; returns the button pressed.
template <StringOperand T, StringOperand C>
uint32_t MESSAGE(const T& text, const C& caption, int32_t icon = 0, uint32_t buttons = VRN_BUTTON_OK,
                 uint32_t default_button = VRN_BUTTON_OK) {
    AsStringNode(caption).Push();
    AsStringNode(text).Push();
    return Vrn$MESSAGE(icon, buttons, default_button);
}

// ---- The program's start -----------------------------------------------------------------------------------

// Starts a program as its entry point must: registers its module (running its initialisers),
// checks the runtime's version (ending with code 0 when it is refused), installs the fault report,
// runs the main procedure, closes the windows down and ends the process.
[[noreturn]] inline void RunProgram(VrnModuleDescriptor& module, void (*main_procedure)()) {
    std::fesetenv(FE_DFL_ENV);
    __sysinit(&module, 0);
    if (!__checkversion(VRN_VERSION_CODE, VRN_VERSION_MINOR, 0)) Vrw$Exit(0);
    void* registration[2] = {nullptr, nullptr};
    __SetExceptionHandler(registration);
    main_procedure();
    Wsl$CloseDown();
    Vrw$Exit(0);
}

}  // namespace tarvex
