/* SPDX-License-Identifier: GPL-3.0-or-later */
/* Settings of a program and of its drivers, each named once for the environment variable and for
 * the environment file (<program>.ENV), which Vrn$init reads. Valid C and C++. */
#ifndef TARVEX_SETTINGS_H
#define TARVEX_SETTINGS_H

#include "tarvex/export.h"

TARVEX_BEGIN_C

/* The setting `name`: the environment variable of that name when it holds more than blanks, else
 * the value of the environment file's entry of that key (its items joined by one blank). Copies it
 * zero-terminated into `out` (at most size - 1 bytes; `out` may be null) and returns its whole
 * length, 0 when neither names it. */
TARVEX_API int32_t Vrn$GetSetting(const char* name, char* out, int32_t size);

TARVEX_END_C

#endif
