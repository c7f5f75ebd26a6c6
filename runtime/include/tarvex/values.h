/* SPDX-License-Identifier: GPL-3.0-or-later */
/* Dynamic values: a `Ufo` wraps a value whose type is known only at run time (a bound variable, a
 * field reached through a type descriptor, a GROUP as a whole, a value shown through a picture)
 * and moves it to and from the string and decimal stacks. A Ufo made by one of these operations
 * belongs to the caller and is released with Vrn$FreeUfo; a Ufo over program memory never owns
 * that memory, and clones point at the same storage.
 *
 * Operations a value's class does not support are the fatal run-time error 410 ("Pure Virtual
 * Function Called"); an unknown type code in Vrn$Mem2Ufo is the fatal internal error 501 ("String
 * Stack Error"). Operations given a null Ufo do nothing and read as 0 or an empty string.
 *
 * The memory image `VrnVmem` (ToMem/FromMem) is a growable byte buffer that values append to and
 * are read back from in the same order: per value one type byte, a 32-bit little-endian size and
 * the value's bytes. The older layout read by OldFromMem is the value's bytes alone. */
#ifndef TARVEX_VALUES_H
#define TARVEX_VALUES_H

#include "tarvex/export.h"
#include "tarvex/queue.h"
#include "tarvex/type_descriptor.h"

typedef struct Ufo Ufo;

typedef struct VrnVmem {
    uint8_t* data;       /* std::malloc block, or null */
    uint32_t length;     /* bytes written */
    uint32_t capacity;
    uint32_t position;   /* next byte to read */
} VrnVmem;

/* Pushes the value of a parsed expression node on the string stack (for ComputedUfo). */
typedef void (*VrnComputePush)(void* node);

TARVEX_BEGIN_C

/* Creation. `flag` is reserved (pass 0). Vrn$ArrayOfUfo takes ownership of the element. */
TARVEX_API Ufo* Vrn$Mem2Ufo(void* address, int32_t type, uint32_t places, uint32_t size, int32_t flag);
TARVEX_API Ufo* Vrn$Group2Ufo(void* address, const VrnTypeDesc* type);
TARVEX_API Ufo* Vrn$ArrayOfUfo(Ufo* element, uint32_t count);
TARVEX_API Ufo* Vrn$Long2Ufo(int32_t value);
TARVEX_API Ufo* Vrn$Real2Ufo(double value);
TARVEX_API Ufo* Vrn$Stack2Ufo(void);
TARVEX_API Ufo* Vrn$DStack2Ufo(void);
TARVEX_API void Vrn$Stack2UfoC(Ufo* value);
/* A value shown through a picture, on the storage of `value`: Push formats, Pop deformats.
 * PictureUfo leaves `value` to the caller, Picture2Ufo releases it. */
TARVEX_API Ufo* Vrn$PictureUfo(Ufo* value, const char* picture);
TARVEX_API Ufo* Vrn$Picture2Ufo(Ufo* value, const char* picture);
/* The value of a parsed expression: `push` pushes it on the string stack. */
TARVEX_API Ufo* Vrn$ComputedUfo(VrnComputePush push, void* node);
/* WHAT(group, n): a new Ufo on field n of the record (an array field gives an array), or null. */
TARVEX_API Ufo* Vrn$WHAT(void* record, const VrnTypeDesc* type, int32_t number);
TARVEX_API Ufo* Vrn$WHATqueue(QueueDecl* queue, int32_t number);

/* Values. */
TARVEX_API void Vrn$PushUfo(Ufo* value);
TARVEX_API int32_t Vrn$Ufo2Long(Ufo* value);
TARVEX_API double Vrn$Ufo2Real(Ufo* value);
TARVEX_API uint32_t Vrn$SizeUfo(Ufo* value);
TARVEX_API int32_t Vrn$TypeUfo(Ufo* value);
TARVEX_API int32_t Vrn$IsUfoString(Ufo* value);

/* Assignment. The Ref forms take the address of a reference (ANY) variable and first create a
 * free-standing value when it refers to nothing; RefAssignAny makes the reference refer to the
 * storage of `source` (the old referent, if any, is released). */
TARVEX_API void Vrn$AssignUfo(Ufo* destination, Ufo* source);
TARVEX_API void Vrn$AssignLong2Ufo(Ufo* destination, int32_t value);
TARVEX_API void Vrn$AssignReal2Ufo(Ufo* destination, double value);
TARVEX_API void Vrn$AssignRefUfo(Ufo** reference, Ufo* source);
TARVEX_API void Vrn$AssignLong2RefUfo(Ufo** reference, int32_t value);
TARVEX_API void Vrn$AssignReal2RefUfo(Ufo** reference, double value);
TARVEX_API void Vrn$RefAssignAny(Ufo** reference, Ufo* source);

/* Comparison: -1, 0, 1; CompareN is 1 when the value is not 0 (not blank); RealDiff is a - b. */
TARVEX_API int32_t Vrn$UfoCompareN(Ufo* value);
TARVEX_API int32_t Vrn$Ufodistinct(Ufo* a, Ufo* b);
TARVEX_API int32_t Vrn$Ufodistincti(Ufo* a, int32_t b);
TARVEX_API double Vrn$UfoRealDiff(Ufo* a, Ufo* b);

/* Selection: element or field `index` (1-based), the slice [from, to] of a string, the value a
 * reference designates (not a new Ufo: owned by the reference), the storage address. */
TARVEX_API Ufo* Vrn$SelectUfo(Ufo* value, int32_t index);
TARVEX_API Ufo* Vrn$SelectUfo2(Ufo* value, int32_t from, int32_t to);
TARVEX_API Ufo* Vrn$DesignateUfo(Ufo* value);
TARVEX_API void* Vrn$AddressUfo(Ufo* value);

/* Copies and release. FreeUpUfo releases the Ufo a variable holds and empties the variable. */
TARVEX_API Ufo* Vrn$CloneUfo(Ufo* value);
TARVEX_API void Vrn$FreeUfo(Ufo* value);
TARVEX_API void Vrn$FreeUpUfo(Ufo** variable);

/* CLEAR of one dynamic value: 0 empty, 1 highest, -1 lowest. */
TARVEX_API void Vrn$ClearUfo(Ufo* value, int32_t how);
/* Field-by-field assignment between two groups. `map` lists pairs (destination field number,
 * source field number) ended by 0; a null map pairs the fields whose names after the prefix are
 * equal (without regard to case). */
TARVEX_API void Vrn$DeepAssign(Ufo* destination, Ufo* source, const int32_t* map);

/* Memory images. */
TARVEX_API void Vrn$UfoToMem(Ufo* value, VrnVmem* image);
TARVEX_API void Vrn$UfoFromMem(Ufo* value, VrnVmem* image);
TARVEX_API void Vrn$UfoOldFromMem(Ufo* value, VrnVmem* image);
TARVEX_API void Vrn$VmemFree(VrnVmem* image);

/* NEW and DISPOSE storage: NewMemT and NewMemZ are zero-filled, NewMemB blank-filled; null and
 * ERRORCODE 8 when memory runs out. DISPOSEvref also empties the variable. */
TARVEX_API void* Vrn$NewMemT(uint32_t size);
TARVEX_API void* Vrn$NewMemB(uint32_t size);
TARVEX_API void* Vrn$NewMemZ(uint32_t size);
TARVEX_API void Vrn$DISPOSEref(void* block);
TARVEX_API void Vrn$DISPOSEvref(void** variable);

TARVEX_END_C

#endif
