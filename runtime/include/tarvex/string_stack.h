/* SPDX-License-Identifier: GPL-3.0-or-later */
/* The string stack: every string expression of a program is computed here. Each program thread
 * has its own stack of 32 entries. Operands are pushed (a variable is pushed by reference and
 * copied only when an operation must change its characters), string functions work on the top
 * entries, and the result is popped into a STRING, CSTRING or PSTRING variable.
 *
 * Lengths that can never be negative are uint32_t; a length whose sign means something (the
 * storage routines, where a null source with a negative or positive length fills with 0x00 or 0xFF)
 * is int32_t.
 *
 * Outside the balanced use compiled statements make of it, the stack stays safe:
 *   - a push on a full stack (32 entries) is ignored; a block handed over by PushTemp is then freed;
 *   - a pop of an empty stack yields an empty string; an operation on the top entry of an empty
 *     stack works on an empty string placed there; operations on several entries count missing
 *     entries as empty strings;
 *   - StackSUB takes start 0 as start 1; StackALL of an empty value gives blanks; LEFT, RIGHT and
 *     CENTER take any negative width as the current length; StackINSTRING with a negative step or a
 *     start below 1 returns 0;
 *   - a failed allocation gives an empty value and sets no error code. */
#ifndef TARVEX_STRING_STACK_H
#define TARVEX_STRING_STACK_H

#include "tarvex/export.h"

/* Entry kinds: bit 0 = the stack owns a heap block, bit 1 = the characters are inline. */
#define VRN_ENTRY_REFERENCE 0u
#define VRN_ENTRY_OWNED 1u
#define VRN_ENTRY_INLINE 2u
#define VRN_ENTRY_INLINE_SIZE 20
#define VRN_STRING_STACK_DEPTH 32

typedef struct VrnStackEntry {
    uint32_t kind;     /* VRN_ENTRY_* */
    char* address;     /* first character; may be null when length is 0 */
    uint32_t length;   /* no terminator, no blank fill */
    char inline_buffer[VRN_ENTRY_INLINE_SIZE];
} VrnStackEntry;

/* A heap string handed across the interface (PopTemp, loadstr, freestr). */
typedef struct VrnStringPair {
    char* address;
    uint32_t length;
} VrnStringPair;

TARVEX_BEGIN_C

/* Pushes. */
TARVEX_API void Vrn$PushString(const char* address, uint32_t length);
TARVEX_API void Vrn$PushTemp(char* address, uint32_t length);
TARVEX_API void Vrn$PushCString(const char* text);
TARVEX_API void Vrn$PushNull(void);
TARVEX_API void Vrn$PushLong(int32_t value);
TARVEX_API void Vrn$PushReal(double value);
TARVEX_API void Vrn$PushBool(int32_t value);

/* Pops. */
TARVEX_API void Vrn$PopString(char* destination, uint32_t size);
TARVEX_API void Vrn$PopCString(char* destination, uint32_t size);
TARVEX_API void Vrn$PopPString(unsigned char* destination, uint32_t size);
TARVEX_API void Vrn$PopTemp(VrnStringPair* pair);
TARVEX_API int32_t Vrn$PopLong(void);
TARVEX_API double Vrn$PopReal(void);
TARVEX_API void Vrn$STACKpop(void);
TARVEX_API uint32_t Vrn$StackLen(void);
TARVEX_API uint32_t Vrn$StackLen2(void);

/* Operations on the top entry. */
TARVEX_API void Vrn$StackCLIP(void);
TARVEX_API void Vrn$StackSUB(int32_t start, int32_t length);
TARVEX_API void Vrn$StackLEFT(int32_t width);
TARVEX_API void Vrn$StackRIGHT(int32_t width);
TARVEX_API void Vrn$StackCENTER(int32_t width);
TARVEX_API void Vrn$StackALL(int32_t length);
TARVEX_API void Vrn$StackUPPER(void);
TARVEX_API void Vrn$StackLOWER(void);
TARVEX_API int32_t Vrn$StackVAL(void);
TARVEX_API int32_t Vrn$StackNUMERIC(void);
TARVEX_API int32_t Vrn$StackCompareN(void);
TARVEX_API int32_t Vrn$IsAlpha(void);
TARVEX_API int32_t Vrn$IsUpper(void);
TARVEX_API int32_t Vrn$IsLower(void);
TARVEX_API void Vrn$StackHeap(void);
/* Queues the top entry's characters as keystrokes, as if typed, and discards it. */
TARVEX_API void Vrn$StackPRESS(void);

/* Operations on several entries. */
TARVEX_API void Vrn$StackConcat(void);
TARVEX_API void Vrn$StackConcatR(void);
TARVEX_API int32_t Vrn$StackCompare(void);
TARVEX_API int32_t Vrn$StackCompareR(void);
TARVEX_API int32_t Vrn$StackINSTRING(int32_t step, int32_t start);
TARVEX_API int32_t Vrn$StackINLIST(int32_t count);
TARVEX_API void Vrn$StackRotate(int32_t depth);

/* Storage routines. */
TARVEX_API void Vrn$storestr(char* destination, uint32_t size, const char* source, int32_t length);
TARVEX_API void Vrn$storecstr(char* destination, uint32_t size, const char* source, int32_t length);
TARVEX_API void Vrn$storepstr(unsigned char* destination, uint32_t size, const char* source, int32_t length);
TARVEX_API void Vrn$clearstr(char* destination, uint32_t size);
TARVEX_API void Vrn$duplicate(void* array, uint32_t element_size, uint32_t element_count);
TARVEX_API void Vrn$loadstr(VrnStringPair* pair, const char* source, uint32_t length);
TARVEX_API void Vrn$freestr(VrnStringPair* pair);
TARVEX_API void Vrn$clipstr(char* text);
TARVEX_API int32_t Vrn$comparestr(const char* first, uint32_t first_length, const char* second,
                                  uint32_t second_length);

/* Depth of the current thread's stack (entries in use); for tests and diagnostics. */
TARVEX_API uint32_t Vrw$StackDepth(void);

TARVEX_END_C

#endif
