// SPDX-License-Identifier: GPL-3.0-or-later
// Calendar arithmetic between day numbers and year/month/day, time values and their parts, and the
// two-digit-year window. Pure functions over their arguments (no shared month table), so every
// conversion is safe from any thread; the one piece of state, the current year of the window, is
// read from the clock once and then only read.
#pragma once

#include <cstdint>
#include <string>

#include "tarvex/dates.h"

namespace tarvex {

constexpr int32_t kFirstDay = VRN_FIRST_DAY;     // 1 January 1801
constexpr int32_t kLastDay = VRN_LAST_DAY;       // 31 December 9999
constexpr int32_t kLastTime = VRN_LAST_TIME;     // 23:59:59.99
constexpr int32_t kHundredthsPerDay = 8640000;
constexpr int kDefaultYearPivot = VRN_DEFAULT_YEAR_PIVOT;

struct CivilDate {
    int32_t year;
    int month;   // 1..12
    int day;     // 1..31
};

struct TimeOfDay {
    int hours, minutes, seconds, hundredths;
};

inline bool IsLeapYear(int64_t year) { return (year % 4 == 0 && year % 100 != 0) || year % 400 == 0; }
int DaysInMonth(int64_t year, int month);
inline bool IsDayNumber(int32_t value) { return value >= kFirstDay && value <= kLastDay; }
inline bool IsTimeValue(int32_t value) { return value >= 1 && value <= kLastTime; }

// The year the two-digit window is centred on: the clock's year at the first call, then kept.
int32_t WindowYear();
// A year from 0 to 99 widened with the pivot (0..99): into WindowYear() - pivot .. + 99 - pivot.
// Other years are returned unchanged.
int32_t WidenYear(int32_t year, int pivot = kDefaultYearPivot);

// The day number of a valid date (1801..9999, no widening), else -1.
int32_t DayNumber(int32_t year, int month, int day);
// The date of a day number; false (and a zeroed date) when it is not a date.
bool SplitDayNumber(int32_t day_number, CivilDate* date);
// DATE(month, day, year) after widening: months and days out of range roll into the neighbouring
// months and years (both directions); -1 when the result is not a date.
int32_t NormalisedDayNumber(int64_t month, int64_t day, int64_t year);

// The time value of parts: 0 when all are 0, -1 when one is out of range.
int32_t TimeValue(int hours, int minutes, int seconds, int hundredths);
// The parts of a time value; false (and zeroed parts) when it is not a time.
bool SplitTimeValue(int32_t time_value, TimeOfDay* time);

// The text AGE pushes.
std::string AgeText(int32_t birth, int32_t base);

}  // namespace tarvex
