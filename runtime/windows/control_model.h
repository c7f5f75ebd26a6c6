// SPDX-License-Identifier: GPL-3.0-or-later
// What the event loop needs of the controls, and what the controls need of the event loop.
//
// The controls answer: whether a field is incomplete (a required field with no value), the order
// in which a window's fields take the focus, and what a control does by itself after an event or
// a key (a LIST moves its selection on the arrow keys, an ENTRY reads its typed text back into
// its variable). The event loop answers through hooks it installs: posting an event for a
// control, the calling thread's target window, whether the system is modal and the window's
// accept-all flag. Until it installs them the controls keep posted events on the window
// (`PostedControlEvents`) and take the most recently opened window as the target.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

struct VrnWindowObject;

namespace tarvex::windows {

struct Control;

// A REQUIRED field whose bound variable (or shown text) is empty.
bool ControlIncomplete(VrnWindowObject& window, Control& control);

// The fields of a window (controls that take the focus and report events) in field-number order.
// With `usable_only`, hidden and disabled fields (or those inside a hidden or disabled parent) are
// left out.
std::vector<Control*> FieldOrder(VrnWindowObject& window, bool usable_only = true);

// A key pressed while the control has the focus: the control's own handling (a LIST's arrow,
// page, Home and End keys move the selection and post the scroll events; Enter and a left
// double-click, key code 5, post EVENT:Accepted). True when the control used the key.
bool ControlKey(VrnWindowObject& window, Control& control, uint32_t key_code);

// A person dragged a LIST's scroll thumb to `position` (0 to 100): the list takes it as its
// scroll position (a list that pages its own queue scrolls there) and posts EVENT:ScrollDrag.
void ControlThumbDragged(VrnWindowObject& window, Control& control, int32_t position);

// Text typed into a control (the headless input, or a native edit's contents): only shown, the
// variable is not touched until the control is completed.
void ControlTyped(VrnWindowObject& window, Control& control, std::string_view text);

// The user leaves or confirms the control: an ENTRY or SPIN reads its shown text back into its
// variable through its picture and posts EVENT:Accepted, or, when the text does not fit the
// picture, posts EVENT:Rejected and keeps the variable as it was (and shows it again). Other
// fields post EVENT:Accepted. False when the text was rejected.
bool ControlCompleted(VrnWindowObject& window, Control& control);

// The control got the focus: its message text (else the window's) goes to the status bar of the
// APPLICATION frame (of the window itself when no frame is open).
void ControlGainedFocus(VrnWindowObject& window, Control& control);

// The default action of a control after its EVENT:Accepted has run through the loop body without
// CYCLE: the standard action code of a BUTTON (8 help, 15 close, ...) for the loop to perform, else
// 0.
int32_t ControlDefaultAction(VrnWindowObject& window, Control& control, int32_t event);

// A person picks (clicks) row `row` of a LIST: the list selects it and shows it, without an event
// of its own (the loop queues the one the click makes). False when the control is no LIST.
bool ControlRowPicked(VrnWindowObject& window, Control& control, int32_t row);

// A person drags the right edge of a LIST's column (an M column) to `pixels` wide, or scrolls an
// S column's contents sideways to `offset` pixels (column -1: every S column, as the list's
// sideways bar does); the list shows its new layout. False when the control is no LIST or the
// column has no M (no S). The backend hands these in as input; the loop calls them under the
// runtime lock, as it does ControlKey.
bool ControlListColumnResized(VrnWindowObject& window, Control& control, int32_t column, int32_t pixels);
bool ControlListColumnScrolled(VrnWindowObject& window, Control& control, int32_t column, int32_t offset);

// A menu or control text without the '&' that marks its hot key ("&&" is a plain '&').
std::string WithoutHotKey(std::string_view text);

// ---- Hooks the event loop installs ----------------------------------------------------------------
struct ControlEventHooks {
    // Queues event n (the program's number) for the control, or for the window when control is
    // null.
    void (*post)(VrnWindowObject& window, Control* control, int32_t event) = nullptr;
    // The calling thread's target window, or null.
    VrnWindowObject* (*target_window)() = nullptr;
    // Whether a modal window is open (CREATE then refuses with 541).
    bool (*system_modal)() = nullptr;
    // The window's accept-all flag (property 0x7C9A).
    bool (*accept_all)(VrnWindowObject& window) = nullptr;
    void (*set_accept_all)(VrnWindowObject& window, bool on) = nullptr;
    // The field number of the control of the window's current event (0 when none).
    int32_t (*current_field)(VrnWindowObject& window) = nullptr;
};
// Returns the hooks it replaces.
ControlEventHooks SetControlEventHooks(const ControlEventHooks& hooks);

// What the controls posted while no post hook was installed: (field number, event), oldest first.
struct PostedControlEvent {
    int32_t field_number;   // 0: a window event
    int32_t event;
    bool operator==(const PostedControlEvent&) const = default;
};
std::vector<PostedControlEvent> PostedControlEvents(VrnWindowObject& window);
void ClearPostedControlEvents(VrnWindowObject& window);

}  // namespace tarvex::windows
