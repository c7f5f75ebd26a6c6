/* SPDX-License-Identifier: GPL-3.0-or-later */
/* Linkage of the exported interface of the tarvex runtime. Every header of this folder is valid C
 * and C++; the operations keep their names exactly, '$' included. */
#ifndef TARVEX_EXPORT_H
#define TARVEX_EXPORT_H

#include <stddef.h>
#include <stdint.h>

#define TARVEX_API __attribute__((visibility("default")))

#ifdef __cplusplus
#define TARVEX_BEGIN_C extern "C" {
#define TARVEX_END_C }
#define TARVEX_NORETURN [[noreturn]]
#else
#define TARVEX_BEGIN_C
#define TARVEX_END_C
#define TARVEX_NORETURN _Noreturn
#endif

#endif
