// SPDX-License-Identifier: GPL-3.0-or-later
// The events of a window: the event record, the numbers the runtime produces and acts on, and the
// event state each window object carries (its queue of pending events, focus and selection, the
// close state, accept-all mode, its timer).
#pragma once

#include <chrono>
#include <cstdint>
#include <deque>
#include <vector>

#include "tarvex/events.h"

namespace tarvex::windows {

// Event numbers as the program sees them. Below 0x100 they belong to a control; 0x101 is a
// control's selection; from 0x200 they belong to the window.
enum EventNumber : uint32_t {
    kEventAccepted = 1,
    kEventNewSelection = 2,
    kEventScrollUp = 3,
    kEventScrollDown = 4,
    kEventPageUp = 5,
    kEventPageDown = 6,
    kEventScrollTop = 7,
    kEventScrollBottom = 8,
    kEventLocate = 9,
    kEventAlertKey = 15,
    kEventScrollDrag = 20,
    kEventRejected = 26,
    kEventSelected = 0x101,
    kEventCloseWindow = 0x201,
    kEventCloseDown = 0x202,
    kEventOpenWindow = 0x203,
    kEventOpenFailed = 0x204,
    kEventTimer = 0x20b,
    kEventDdeExecute = 0x20f,
    kEventDdePoke = 0x210,
    kEventCompleted = 0x225,
};

// A posted event is queued as its number plus this, so that it can be told from one the runtime
// made; the program sees the number.
constexpr uint32_t kPostedEvent = 0x1400;

struct Event {
    uint32_t number = 0;          // as queued (a posted one with kPostedEvent added)
    int32_t field = 0;            // the control's field number; 0 for a window event
    uint32_t key_code = 0;        // the key code in force when it was made, whole
    int32_t data = 0;             // event-specific: the row of a list
    uint32_t Number() const { return number >= kPostedEvent ? number - kPostedEvent : number; }
};

enum class CloseState : uint8_t {
    kNone = 0,
    kClosing = 1,     // a frame waiting while its children close
    kRequested = 2,   // the loop ends (or, for a frame with children, passes the close on)
};

struct RegisteredHandler {
    uint32_t event;
    int32_t field;                // 0: any control
    VrnEventHandler handler;
};

struct WindowEvents {
    std::deque<Event> queue;                  // pending events, oldest first
    int32_t focus = 0;                        // the field that has the focus
    int32_t selected = 0;                     // the field last selected
    int32_t edited = 0;                       // the focused field, once its text was edited
    CloseState close = CloseState::kNone;
    bool closedown_sent = false;              // its frame asked it to close down
    bool accept_all = false;
    size_t accept_next = 0;                   // accept-all: the next field in field order
    bool timer_pending = false;
    uint32_t timer_period_ms = 0;
    std::chrono::steady_clock::time_point timer_due{};
    int slot = -1;                            // the thread that opened the window
    uint32_t loops = 0;                       // ACCEPT loops running over it
    uint64_t opened = 0;                      // when it was opened, in the order of openings
    std::vector<uint32_t> alerts;             // keys ALERT added
    std::vector<RegisteredHandler> handlers;
};

}  // namespace tarvex::windows
