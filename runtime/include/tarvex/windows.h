/* SPDX-License-Identifier: GPL-3.0-or-later */
/* Declaring and opening windows and reports from their descriptions.
 *
 * A procedure declares its window with the address of its window variable, its module name
 * ("LUMAREX$main"), the structure name ("P1$APPFRAME") and the addresses of the variables bound
 * to the controls in description order (USE variables, LIST queues, report break and accumulated
 * values), ended by a null address:
 *
 *     Vrn$pwopen(&window, "LUMAREX$PATIEN~2", "P1$QUICKWINDOW", &queue, &name, ..., (void*)0);
 *     Vrn$OPENwindow(window);
 *     ...
 *     Vrn$freewindow(&window);
 *
 * Declaring stores the names and a copy of the list; opening finds the description among the
 * program's resources and builds the window with its menus and controls. */
#ifndef TARVEX_WINDOWS_H
#define TARVEX_WINDOWS_H

#include "tarvex/export.h"

typedef struct VrnWindowObject VrnWindowObject;

TARVEX_BEGIN_C

/* A WINDOW (modal or ordinary). */
TARVEX_API void Vrn$pwopen(VrnWindowObject** window, const char* module, const char* structure, ...);
/* An MDI child when an APPLICATION frame is active, else an ordinary window. */
TARVEX_API void Vrn$pmopen(VrnWindowObject** window, const char* module, const char* structure, ...);
/* The APPLICATION frame when none is active, else an ordinary window. */
TARVEX_API void Vrn$paopen(VrnWindowObject** window, const char* module, const char* structure, ...);
/* A REPORT. */
TARVEX_API void Vrn$propen(VrnWindowObject** window, const char* module, const char* structure, ...);
/* Builds the declared window (or report) from its description: run-time error 535 when it is
 * open, 529 when the native window cannot be created, 501 when the address list runs out or a
 * USE names an array. A description that is missing or damaged builds nothing and leaves error
 * 529 in the error state, with the reason in ERROR(). */
TARVEX_API void Vrn$OPENwindow(VrnWindowObject* window);
/* Closes the window if it is open, frees the object and clears the variable. */
TARVEX_API void Vrn$freewindow(VrnWindowObject** window);

/* Pops the name of the program's help file (HTML, one anchor per topic, named by the windows' and
 * controls' help keywords). F1, a Help button and a pressed F1 show it at the focused control's
 * topic, else its window's; a file that cannot be shown is said so in a message box. */
TARVEX_API void Vrn$HELP(void);

/* The dump buffer while a description is being built (null otherwise): offset 2 holds the dump. */
extern TARVEX_API unsigned char* _dumpbase;

TARVEX_END_C

#endif
