/* SPDX-License-Identifier: GPL-3.0-or-later */
/* Dates and times. A date is a day number: day 4 is 1 January 1801, each following day adds 1,
 * 2994626 is 31 December 9999; 0 is the empty date and every value outside 4..2994626 is not a
 * date. A time is hundredths of a second since midnight plus 1: 1 is midnight, 8640000 is
 * 23:59:59.99; 0 is the empty time. The calendar is Gregorian throughout.
 *
 * A year below 100 is widened into the window from 80 years before to 19 years after the current
 * year (the pivot 80; a date picture may set another). The current year is read from the clock
 * once and kept for the life of the process.
 *
 * Field images in data files (4 bytes, little-endian, returned here as the 32-bit contents):
 *   DATE: byte 0 day, byte 1 month, bytes 2-3 year.
 *   TIME: byte 0 hundredths, byte 1 seconds, byte 2 minutes, byte 3 hours.
 *
 * Every operation here is safe to call from several threads at once and none sets ERRORCODE. */
#ifndef TARVEX_DATES_H
#define TARVEX_DATES_H

#include "tarvex/export.h"

#define VRN_FIRST_DAY 4
#define VRN_LAST_DAY 2994626
#define VRN_LAST_TIME 8640000
#define VRN_DEFAULT_YEAR_PIVOT 80

typedef struct VrnDateParts {
    int32_t year;
    uint8_t day;
    uint8_t month;
} VrnDateParts;

typedef struct VrnTimeParts {
    uint8_t hours;
    uint8_t minutes;
    uint8_t seconds;
    uint8_t hundredths;
} VrnTimeParts;

TARVEX_BEGIN_C

/* Parts to day number (the year widened when below 100); -1 when the parts are not a date. */
TARVEX_API int32_t Vrn$date2abs(const VrnDateParts* parts);
/* Day number to parts; 0, or -1 with all parts 0 when the value is not a date. */
TARVEX_API int32_t Vrn$abs2date(int32_t day_number, VrnDateParts* parts);
/* DATE(month, day, year): a month above 12 rolls into the following years and a day beyond its
 * month into the following months; a month below 1 or a day below 1 rolls back the same way
 * (month 0 is December of the year before, day 0 the last day of the month before). -1 when the
 * normalised date lies outside 1801..9999. */
TARVEX_API int32_t Vrn$DATE(int32_t month, int32_t day, int32_t year);
/* The parts of a day number; 0 for a value that is not a date. */
TARVEX_API int32_t Vrn$YEAR(int32_t day_number);
TARVEX_API int32_t Vrn$MONTH(int32_t day_number);
TARVEX_API int32_t Vrn$DAY(int32_t day_number);

/* Parts to time value; 0 when every part is 0; -1 when hours > 23, minutes > 59, seconds > 59 or
 * hundredths > 99. */
TARVEX_API int32_t Vrn$time2abs(const VrnTimeParts* parts);
/* Time value to parts; 0, or -1 with all parts 0 when the value is below 1 or above 8640000. */
TARVEX_API int32_t Vrn$abs2time(int32_t time_value, VrnTimeParts* parts);

/* Today and the time of day from the program's clock: the host clock plus the process-wide offset
 * that SETTODAY and SETCLOCK move (they never change the host clock). SETTODAY keeps the time of
 * day, SETCLOCK the date; a value that is not a date or time is ignored. */
TARVEX_API int32_t Vrn$TODAY(void);
TARVEX_API int32_t Vrn$CLOCK(void);
TARVEX_API void Vrn$SETTODAY(int32_t day_number);
TARVEX_API void Vrn$SETCLOCK(int32_t time_value);

/* DATE and TIME field images. An invalid day number or time value stores 0; a DATE field whose
 * year exceeds 9999 loads as 31 December 9999, one that is not a date as 0; a TIME field with all
 * parts 0 loads as 0 and one with a part out of range as -1. */
TARVEX_API uint32_t Vrn$storebtdate(int32_t day_number);
TARVEX_API int32_t Vrn$loadbtdate(uint32_t field);
TARVEX_API uint32_t Vrn$storebttime(int32_t time_value);
TARVEX_API int32_t Vrn$loadbttime(uint32_t field);

/* AGE(birth, base): pushes "<n> DAYS" below 61 days, "<n> MOS" up to 25 whole months, else
 * "<n> YRS". A base of -1 is today. A birth after the base is moved back 100 years; if it is still
 * after the base, or either value is not a date, the text is 255 asterisks. */
TARVEX_API void Vrn$StackAGE(int32_t birth, int32_t base);

TARVEX_END_C

#endif
