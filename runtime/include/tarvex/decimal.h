/* SPDX-License-Identifier: GPL-3.0-or-later */
/* The decimal stack: every DECIMAL and PDECIMAL expression of a program is computed here, exactly,
 * in decimal digits. Each program thread has its own stack of 10 accumulators; an accumulator holds
 * 32 integer and 32 fractional digits. Operands are pushed, the arithmetic works on the top entries
 * (the operand pushed first is the first operand) and the result is popped into a variable,
 * rounded half away from zero to the variable's places and stored modulo its capacity.
 *
 * Storage images, byte for byte:
 *   DECIMAL(n, p):  n / 2 + 1 bytes; high nibble of the first byte = sign (0 positive, else
 *                   negative; written as 0xF), then 2 * bytes - 1 digits, the last p of them places.
 *   PDECIMAL(n, p): the same size; digits from the first byte's high nibble, sign in the low nibble
 *                   of the last byte (0xD negative, else positive; written as 0xF or 0xD).
 *
 * No operation sets ERRORCODE: division by zero gives 0, digits beyond the accumulator are lost.
 * A push on a full stack is ignored; an operation that finds fewer entries than it needs takes the
 * missing operands as 0, and a pop of an empty stack gives 0. */
#ifndef TARVEX_DECIMAL_H
#define TARVEX_DECIMAL_H

#include "tarvex/export.h"

#define VRN_DECIMAL_STACK_DEPTH 10

TARVEX_BEGIN_C

/* Pushes. Sizes are in bytes, places count decimal places. */
TARVEX_API void Vrn$DPushDec(const void* address, uint32_t size, uint32_t places);
TARVEX_API void Vrn$DPushPdec(const void* address, uint32_t size, uint32_t places);
TARVEX_API void Vrn$DPushLong(int32_t value);
TARVEX_API void Vrn$DPushULong(uint32_t value);
/* The value with 15 significant digits, rounded half away from zero. */
TARVEX_API void Vrn$DPushReal(double value);
/* The value of a text: blanks, an optional "-", digits, an optional "." and fraction, and after a
 * "." an optional exponent "e[-]digits"; the first other character ends the number. */
TARVEX_API void Vrn$DPushCString(const char* text);
TARVEX_API void Vrn$DPushStringP(const char* address, uint32_t length);
/* A compiled constant: unpacked digits, one per byte, most significant first. */
TARVEX_API void Vrn$DPushConstant(const uint8_t* digits, uint32_t count, uint32_t places, int32_t negative);
/* Pops the string-stack top (cut to 99 characters) and pushes its value. */
TARVEX_API void Vrn$Stack2DStack(void);

/* Pops. */
TARVEX_API void Vrn$DPopDec(void* address, uint32_t size, uint32_t places);
TARVEX_API void Vrn$DPopPdec(void* address, uint32_t size, uint32_t places);
/* Integer part (towards zero), negated when negative, modulo 2^32. */
TARVEX_API int32_t Vrn$DPopLong(void);
/* Integer part of the magnitude modulo 2^32. */
TARVEX_API uint32_t Vrn$DPopUlong(void);
/* The nearest 64-bit float. */
TARVEX_API double Vrn$DPopReal(void);
/* Pops and pushes its text on the string stack: "-", integer digits (or "0"), "." and the fraction
 * without trailing zeros. */
TARVEX_API void Vrn$DStack2Stack(void);
TARVEX_API void Vrn$DSwap(void);

/* Arithmetic: first (pushed first) and top. */
TARVEX_API void Vrn$DecAdd(void);
TARVEX_API void Vrn$DecSub(void);  /* first - top */
TARVEX_API void Vrn$DecSubR(void); /* top - first */
TARVEX_API void Vrn$DecMul(void);
TARVEX_API void Vrn$DecDivide(void);  /* first / top, rounded to 31 places */
TARVEX_API void Vrn$DecDivideR(void); /* top / first */
TARVEX_API void Vrn$Dlongpower(int32_t power);
TARVEX_API void Vrn$Dulongpower(uint32_t power);
/* ROUND(first, top): first rounded at the position of the top's leading digit. */
TARVEX_API void Vrn$DRound(void);
TARVEX_API void Vrn$DInt(void);
TARVEX_API void Vrn$DAbs(void);
TARVEX_API void Vrn$DNegate(void);

/* Tests. */
TARVEX_API int32_t Vrn$DecCompareN(void);  /* pops; 1 when non-zero */
TARVEX_API int32_t Vrn$DecDistinct(void);  /* pops two; -1, 0, 1 as first <, =, > top */
TARVEX_API int32_t Vrn$DecDistinctR(void); /* top compared with first */

/* Conversions between a REAL and a DECIMAL variable. */
TARVEX_API void Vrn$storedec(void* address, uint32_t size, uint32_t places, double value);
TARVEX_API double Vrn$loaddec(const void* address, uint32_t size, uint32_t places);

/* Entries in use on the current thread's decimal stack; for tests and diagnostics. */
TARVEX_API uint32_t Vrw$DStackDepth(void);

TARVEX_END_C

#endif
