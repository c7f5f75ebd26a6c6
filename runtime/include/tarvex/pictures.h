/* SPDX-License-Identifier: GPL-3.0-or-later */
/* Pictures: short texts such as "@n-14.2", "@d2", "@s30", "@t4" or "@p###-##p" that say how a value
 * is shown (formatting) and how typed text is read back (deformatting). A picture compiles once
 * into a descriptor: a header word, the year pivot and format number of dates and times, and a
 * template of one (character, position code) pair per position.
 *
 * Kinds:   @N numeric, @E scientific, @D date, @T time, @P pattern, @S string, @K key-in.
 * Values:  deformatting yields text (@S, @K), an integer (@D day number, @T time value), a floating
 *          number (@E) or a decimal (@N, @P), always as text.
 *
 * A picture that does not parse compiles to width 0: it is invalid and formats as an empty string.
 * A null picture is a string picture of width 255. Picture texts may omit the leading "@". */
#ifndef TARVEX_PICTURES_H
#define TARVEX_PICTURES_H

#include "tarvex/export.h"

/* Kinds (bits 0-2 of the header word). */
#define VRN_PICTURE_NUMERIC 0
#define VRN_PICTURE_SCIENTIFIC 1
#define VRN_PICTURE_DATE 2
#define VRN_PICTURE_TIME 3
#define VRN_PICTURE_PATTERN 4
#define VRN_PICTURE_STRING 5
#define VRN_PICTURE_KEYIN 6

/* Value classes (bits 3-5). */
#define VRN_VALUE_TEXT 0
#define VRN_VALUE_INTEGER 1
#define VRN_VALUE_FLOATING 2
#define VRN_VALUE_DECIMAL 3

/* Header word: kind in bits 0-2, value class in bits 3-5, blank when zero in bit 6, width in
 * bits 8-15. */
#define VRN_PICTURE_KIND(header) ((header) & 7u)
#define VRN_PICTURE_VALUE_CLASS(header) (((header) >> 3) & 7u)
#define VRN_PICTURE_BLANK_WHEN_ZERO(header) (((header) >> 6) & 1u)
#define VRN_PICTURE_WIDTH(header) (((header) >> 8) & 0xFFu)

/* Position codes of the template. */
#define VRN_POS_LITERAL 0
#define VRN_POS_GROUPING 1
#define VRN_POS_POINT 2
#define VRN_POS_DIGIT 3           /* leading zero shown as the fill character */
#define VRN_POS_DIGIT_BLANK 4     /* leading zero shown as a blank */
#define VRN_POS_SIGN 5
#define VRN_POS_CURRENCY 6
#define VRN_POS_MONTH 7
#define VRN_POS_DAY 8
#define VRN_POS_YEAR 9
#define VRN_POS_MONTH_NAME 10
#define VRN_POS_HOUR 11
#define VRN_POS_MINUTE 12
#define VRN_POS_SECOND 13
#define VRN_POS_KEY_ANY 14        /* "@" */
#define VRN_POS_KEY_UPPER 15      /* "^" */
#define VRN_POS_KEY_LOWER 16      /* "_" */
#define VRN_POS_KEY_ALPHA 17      /* "?" */
#define VRN_POS_SEPARATOR 19
#define VRN_POS_AMPM 20
#define VRN_POS_EXPONENT_SIGN 21
#define VRN_POS_IMPLIED_POINT 22  /* takes no character */
#define VRN_POS_KEY_BAR 23        /* "|" */

/* 100 shown positions, and the implied point of an @N picture with "v" that shows none. */
#define VRN_PICTURE_POSITIONS 101
#define VRN_PICTURE_TEXT_LIMIT 100

typedef struct VrnPicPosition {
    char character;
    uint8_t code;   /* VRN_POS_* */
} VrnPicPosition;

/* The compiled descriptor, as Vrn$storepict writes it. */
typedef struct VrnPicDesc {
    uint32_t header;
    uint8_t year_pivot;   /* @D: two-digit-year pivot (default 80) */
    uint8_t number;       /* @D, @T: the format number */
    uint8_t position_count;
    uint8_t reserved;
    VrnPicPosition positions[VRN_PICTURE_POSITIONS];
    const char* text;     /* the picture text it was compiled from (the caller's storage) */
} VrnPicDesc;

TARVEX_BEGIN_C

/* 1 when the picture compiles to a valid descriptor, else 0. */
TARVEX_API int32_t Vrn$pictureisvalid(const char* picture);
/* The picture's width; 0 when it is invalid. */
TARVEX_API int32_t Vrn$getpicturewidth(const char* picture);
/* Compiles into the caller's descriptor; returns 0 when the picture is invalid, 2 for a string
 * picture, otherwise 2 * width + 2. */
TARVEX_API int32_t Vrn$storepict(VrnPicDesc* descriptor, const char* picture);
/* Compiles and stores the header word at the destination. */
TARVEX_API void Vrn$checkpict(const char* picture, uint32_t* destination);

/* Format a LONG or REAL into a STRING of `width` bytes (blank-padded, cut at the width). */
TARVEX_API void Vrn$pictstorelong(char* destination, uint32_t width, const char* picture, int32_t value);
TARVEX_API void Vrn$pictstorereal(char* destination, uint32_t width, const char* picture, double value);
/* Deformat text with the picture and read the result as a LONG (fraction cut off) or a REAL. */
TARVEX_API int32_t Vrn$pictloadlong(const char* text, uint32_t length, const char* picture);
TARVEX_API double Vrn$pictloadreal(const char* text, uint32_t length, const char* picture);

/* Stack forms. FORMAT replaces the string-stack top by the value formatted with the picture (a
 * numeric picture reads the value as a number, a date or time picture as a LONG), padded to the
 * picture's width. FORMAT2 and DEFORMAT2 take the value from the top and the picture from the entry
 * beneath it (cut to 99 characters). DEFORMAT replaces the top (cut to 254 characters) by the
 * deformatted text. */
TARVEX_API void Vrn$StackFORMAT(const char* picture);
TARVEX_API void Vrn$StackFORMAT2(void);
TARVEX_API void Vrn$StackDEFORMAT(const char* picture);
TARVEX_API void Vrn$StackDEFORMAT2(void);
/* Push the value formatted by the picture (padded to the picture's width). PushPictDec pops the
 * decimal stack. */
TARVEX_API void Vrn$PushPictLong(int32_t value, const char* picture);
TARVEX_API void Vrn$PushPictDec(const char* picture);
TARVEX_API void Vrn$PushPictReal(double value, const char* picture);
/* Pop the string-stack top, deformat it and convert it. */
TARVEX_API int32_t Vrn$PopPictLong(const char* picture);
TARVEX_API double Vrn$PopPictReal(const char* picture);
/* Pop the decimal stack and store it formatted into a STRING of `size` bytes. */
TARVEX_API void Vrn$DPopPict(char* destination, uint32_t size, const char* picture);
/* Deformat the string-stack top with the picture and move it to the decimal stack. */
TARVEX_API void Vrn$DPushStringStackP(const char* picture);

TARVEX_END_C

#endif
