/* SPDX-License-Identifier: GPL-3.0-or-later */
/* Compiled as C by the build: the exported interface must stay valid C. */
#include "tarvex/tarvex.h"

int tarvex_c_headers_compile(void);
int tarvex_c_headers_compile(void) { return (int)sizeof(VrnStackEntry) + (int)sizeof(FileDecl); }
