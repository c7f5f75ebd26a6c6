/* SPDX-License-Identifier: GPL-3.0-or-later */
/* Program threads and the runtime lock. Procedures run on threads of their own (START); one
 * process-wide lock is held by whichever thread runs program code, so threads take turns at
 * event boundaries, never inside a loop body. */
#ifndef TARVEX_THREADS_H
#define TARVEX_THREADS_H

#include "tarvex/export.h"

TARVEX_BEGIN_C

/* A procedure that START runs on a new thread; its string parameters are on its string stack. */
typedef void (*VrnProcedure)(void);

/* Starts `procedure` on a new thread with 0 to 3 string parameters moved from the caller's string
 * stack to the new thread's (in the order they were pushed). Returns the thread's number (as
 * THREAD() gives it there), or 0 when refused (a modal window is open, every thread slot is in
 * use, the system has no thread to give): the parameters are gone then too. */
TARVEX_API int32_t Vrn$START(VrnProcedure procedure, int32_t stack_size);
TARVEX_API int32_t Vrn$START1(VrnProcedure procedure, int32_t stack_size);
TARVEX_API int32_t Vrn$START2(VrnProcedure procedure, int32_t stack_size);
TARVEX_API int32_t Vrn$START3(VrnProcedure procedure, int32_t stack_size);
/* The calling thread's number: 1 for the program's first thread. */
TARVEX_API int32_t Vrn$THREAD(void);
/* UNLOCKTHREAD gives the runtime lock up around long work that runs no program code (nested: the
 * first call gives it up); LOCKTHREAD takes it back when the count returns to 0. THREADLOCKED is
 * 1 while the calling thread holds the lock. */
TARVEX_API void Vrn$UNLOCKTHREAD(void);
TARVEX_API void Vrn$LOCKTHREAD(void);
TARVEX_API int32_t Vrn$THREADLOCKED(void);

TARVEX_END_C

#endif
