/* SPDX-License-Identifier: GPL-3.0-or-later */
/* The ACCEPT loop and the events of windows.
 *
 * A procedure opens its window and runs the loop; each pass runs the body for one event:
 *
 *     for (int32_t over = Vrn$StartEventLoop(); !over; over = Vrn$EndEventLoop(cycle)) {
 *         cycle = 0;
 *         switch (Vrn$EVENT()) { ... }          // CYCLE: cycle = 1 and on to the next pass
 *         ...                                    // BREAK: Vrn$EndEventLoops(1) and leave the for
 *     }
 *
 * The thread gives the runtime lock up only while it waits for the next event, so threads take
 * turns between loop bodies, never inside one. The current event is the one of the current target
 * window (the window opened last on the thread that is still open) whose body is running. */
#ifndef TARVEX_EVENTS_H
#define TARVEX_EVENTS_H

#include "tarvex/export.h"

typedef struct VrnWindowObject VrnWindowObject;
/* A handler attached to an event: it runs when the event is about to reach the loop body, with the
 * event current; a non-zero result takes the event (the body does not see it). */
typedef int32_t (*VrnEventHandler)(void);

TARVEX_BEGIN_C

/* Enters the loop of the current target window and waits for its first event: 0 runs the body,
 * non-zero means the loop is over at once. Without a window: run-time error 537. */
TARVEX_API int32_t Vrn$StartEventLoop(void);
/* Ends one pass (cycle 1 when the body ended with CYCLE: the event's default action is skipped),
 * waits for the next event: 0 runs the body again, non-zero ends the loop (the window closed). */
TARVEX_API int32_t Vrn$EndEventLoop(int32_t cycle);
/* Leaves that many nested loops at once (BREAK out of an outer loop). */
TARVEX_API void Vrn$EndEventLoops(int32_t count);

/* The current event's number (0 outside any event), its control's field number, that number only
 * when the event is EVENT:Accepted / EVENT:Selected, the focused field, the lowest and highest
 * field numbers of the target window. */
TARVEX_API int32_t Vrn$EVENT(void);
TARVEX_API int32_t Vrn$FIELD(void);
TARVEX_API int32_t Vrn$ACCEPTED(void);
TARVEX_API int32_t Vrn$SELECTED(void);
TARVEX_API int32_t Vrn$FOCUS(void);
TARVEX_API int32_t Vrn$FIRSTFIELD(void);
TARVEX_API int32_t Vrn$LASTFIELD(void);

/* Queues event n for field (0: none) at the target window of a thread (0: the calling thread's;
 * t: the thread THREAD() gives as t). Nothing happens when that thread has no window; an event
 * for a report control: run-time error 522. */
TARVEX_API void Vrn$POST(int32_t event, int32_t field, int32_t thread);
/* Gives the field the focus (with a text selection from start to end); field 0 starts accept-all
 * mode: each field in field order is accepted as if completed, up to the first incomplete one,
 * then EVENT:Completed. */
TARVEX_API void Vrn$SELECT(int32_t field, int32_t start, int32_t end);
/* Adds keys (from first to last, or just first when last is 0) that raise EVENT:AlertKey at the
 * target window instead of their normal effect. */
TARVEX_API void Vrn$ALERT(uint32_t first, uint32_t last);
/* Attaches / detaches a handler for an event (for one field, or 0: any) of the target window. */
TARVEX_API void Vrn$REGISTEREVENT(int32_t event, VrnEventHandler handler, int32_t field);
TARVEX_API void Vrn$UNREGISTEREVENT(int32_t event, VrnEventHandler handler, int32_t field);

/* Closes the window and every window its thread opened after it (a report: the report engine
 * closes it); nothing when it is not open. */
TARVEX_API void Vrn$CLOSEwindow(VrnWindowObject* window);
/* Lets the due timers of the calling thread's windows queue their events; runs nothing else. */
TARVEX_API void Vrn$YIELD(void);
/* Runs the target window's message handling for one round: input that is waiting is dispatched
 * to the window queues. */
TARVEX_API void Wsl$DoEvent(int32_t value);
/* The calling thread's target window, or null. */
TARVEX_API VrnWindowObject* Wsl$GetTargetWindow(void);

TARVEX_END_C

#endif
