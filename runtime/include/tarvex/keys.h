/* SPDX-License-Identifier: GPL-3.0-or-later */
/* Key codes as programs read and set them, and keystrokes a program presses. */
#ifndef TARVEX_KEYS_H
#define TARVEX_KEYS_H

#include "tarvex/export.h"

TARVEX_BEGIN_C

/* The key code of the current event, else the thread's last key: key or button plus Shift 0x100,
 * Ctrl 0x200, Alt 0x400 (masked 0x7FF). */
TARVEX_API uint32_t Vrn$KEYCODE(void);
/* Replaces the low 11 bits of the thread's last key code (and of the current event's). */
TARVEX_API void Vrn$SETKEYCODE(uint32_t key_code);
TARVEX_API uint8_t Vrn$KEYCHAR(void);
TARVEX_API void Vrn$SETKEYCHAR(uint8_t character);
/* The whole key-state word of the last key: Shift, Ctrl, Alt and the lock and Insert toggles. */
TARVEX_API uint32_t Vrn$KEYSTATE(void);
/* Queues a keystroke as if typed; run-time error 534 when too many are pending. */
TARVEX_API void Vrn$PRESSKEY(uint32_t key_code);

TARVEX_END_C

#endif
