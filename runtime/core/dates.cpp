// SPDX-License-Identifier: GPL-3.0-or-later
// Day numbers, time values, the two-digit-year window, the DATE and TIME field images, the
// program's clock (TODAY, CLOCK, SETTODAY, SETCLOCK) and AGE.
//
// Day numbers are counted from the civil day count of the proleptic Gregorian calendar, shifted so
// that 1 January 1801 is day 4. The conversion works on its arguments only: no month table is
// shared between calls, so two threads may convert at once.
#include "core/dates.h"

#include <cstdio>

#include "core/string_stack.h"
#include "platform/platform.h"
#include "tarvex/dates.h"

namespace tarvex {

namespace {

constexpr int kMonthLengths[12] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};

int64_t FloorDivide(int64_t a, int64_t b) {
    int64_t q = a / b;
    if ((a % b != 0) && ((a < 0) != (b < 0))) q--;
    return q;
}

// Days from 1 January 1970 of a proleptic Gregorian date (month 1..12), for any year.
int64_t DaysFromCivil(int64_t year, int month, int day) {
    year -= month <= 2 ? 1 : 0;
    int64_t era = FloorDivide(year, 400);
    int64_t year_of_era = year - era * 400;
    int64_t day_of_year = (153 * (month + (month > 2 ? -3 : 9)) + 2) / 5 + day - 1;
    int64_t day_of_era = year_of_era * 365 + year_of_era / 4 - year_of_era / 100 + day_of_year;
    return era * 146097 + day_of_era - 719468;
}

// The reverse, for the range of day numbers only.
CivilDate CivilFromDays(int64_t days) {
    days += 719468;
    int64_t era = FloorDivide(days, 146097);
    int64_t day_of_era = days - era * 146097;
    int64_t year_of_era = (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
    int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
    int64_t mp = (5 * day_of_year + 2) / 153;
    int day = static_cast<int>(day_of_year - (153 * mp + 2) / 5 + 1);
    int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    int64_t year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
    return CivilDate{static_cast<int32_t>(year), month, day};
}

const int64_t kDayZero = DaysFromCivil(1801, 1, 1) - kFirstDay;

}  // namespace

int DaysInMonth(int64_t year, int month) {
    if (month < 1 || month > 12) return 0;
    return month == 2 && IsLeapYear(year) ? 29 : kMonthLengths[month - 1];
}

int32_t WindowYear() {
    static const int32_t year = [] {
        int32_t now = platform::Now().year;
        // A clock that cannot be read still needs a window; the range's own middle is as good as any.
        return now >= 1801 && now <= 9999 ? now : 2000;
    }();
    return year;
}

int32_t WidenYear(int32_t year, int pivot) {
    if (year < 0 || year >= 100) return year;
    int32_t current = WindowYear();
    int32_t distance = current % 100 - year;
    int32_t widened = current - distance;
    if (distance <= pivot - 100) widened -= 100;
    if (distance > pivot) widened += 100;
    return widened;
}

int32_t DayNumber(int32_t year, int month, int day) {
    if (year < 1801 || year > 9999 || month < 1 || month > 12 || day < 1 || day > DaysInMonth(year, month)) {
        return -1;
    }
    return static_cast<int32_t>(DaysFromCivil(year, month, day) - kDayZero);
}

bool SplitDayNumber(int32_t day_number, CivilDate* date) {
    if (!IsDayNumber(day_number)) {
        *date = CivilDate{0, 0, 0};
        return false;
    }
    *date = CivilFromDays(day_number + kDayZero);
    return true;
}

int32_t NormalisedDayNumber(int64_t month, int64_t day, int64_t year) {
    if (year >= 0 && year < 100) year = WidenYear(static_cast<int32_t>(year));
    // Arguments are 32-bit, so years, months and days stay far inside int64 while rolling.
    year += FloorDivide(month - 1, 12);
    month -= FloorDivide(month - 1, 12) * 12;
    int64_t days = DaysFromCivil(year, static_cast<int>(month), 1) + day - 1 - kDayZero;
    return days >= kFirstDay && days <= kLastDay ? static_cast<int32_t>(days) : -1;
}

int32_t TimeValue(int hours, int minutes, int seconds, int hundredths) {
    if (hours == 0 && minutes == 0 && seconds == 0 && hundredths == 0) return 0;
    if (hours < 0 || hours > 23 || minutes < 0 || minutes > 59 || seconds < 0 || seconds > 59 ||
        hundredths < 0 || hundredths > 99) {
        return -1;
    }
    return hours * 360000 + minutes * 6000 + seconds * 100 + hundredths + 1;
}

bool SplitTimeValue(int32_t time_value, TimeOfDay* time) {
    if (!IsTimeValue(time_value)) {
        *time = TimeOfDay{0, 0, 0, 0};
        return false;
    }
    int32_t v = time_value - 1;
    time->hours = v / 360000;
    v %= 360000;
    time->minutes = v / 6000;
    v %= 6000;
    time->seconds = v / 100;
    time->hundredths = v % 100;
    return true;
}

namespace {

int32_t Today() {
    platform::LocalDateTime now = platform::Now();
    int32_t today = DayNumber(now.year, now.month, now.day);
    return today < 0 ? 0 : today;
}

int32_t ClockValue(const platform::LocalDateTime& now) {
    return now.hour * 360000 + now.minute * 6000 + now.second * 100 + now.hundredths + 1;
}

// Moves the clock offset so that the program's clock shows `day` at `time`. The offset is in real
// hundredths, and a change of daylight-saving time between the two moments makes the local clock
// differ from the plain difference; one re-read corrects that.
void SetProgramClock(int32_t day, int32_t time) {
    for (int attempt = 0; attempt < 3; attempt++) {
        platform::LocalDateTime now = platform::Now();
        int32_t today = DayNumber(now.year, now.month, now.day);
        if (today < 0) return;
        int64_t difference = int64_t(day - today) * kHundredthsPerDay + (time - ClockValue(now));
        // Within a minute is the time the call itself took: nothing left to correct.
        if (attempt > 0 && difference > -6000 && difference < 6000) return;
        platform::SetClockOffsetHundredths(platform::ClockOffsetHundredths() + difference);
    }
}

}  // namespace

std::string AgeText(int32_t birth, int32_t base) {
    if (base == -1) base = Today();
    std::string stars(255, '*');
    CivilDate born, at;
    if (!SplitDayNumber(base, &at) || !SplitDayNumber(birth, &born)) return stars;
    if (birth > base) {
        // A two-digit year that landed in the future: the century before.
        birth = NormalisedDayNumber(born.month, born.day, int64_t(born.year) - 100);
        if (birth < 0 || birth > base) return stars;
        SplitDayNumber(birth, &born);
    }
    char text[32];
    if (base - birth < 61) {
        std::snprintf(text, sizeof text, "%d DAYS", base - birth);
        return text;
    }
    int32_t months = (at.year - born.year) * 12 + at.month - born.month - (at.day < born.day ? 1 : 0);
    if (months <= 25) {
        std::snprintf(text, sizeof text, "%d MOS", months);
        return text;
    }
    bool before_birthday = at.month < born.month || (at.month == born.month && at.day < born.day);
    std::snprintf(text, sizeof text, "%d YRS", at.year - born.year - (before_birthday ? 1 : 0));
    return text;
}

}  // namespace tarvex

using tarvex::CivilDate;
using tarvex::TimeOfDay;

TARVEX_API int32_t Vrn$date2abs(const VrnDateParts* parts) {
    if (parts == nullptr) return -1;
    return tarvex::DayNumber(tarvex::WidenYear(parts->year), parts->month, parts->day);
}

TARVEX_API int32_t Vrn$abs2date(int32_t day_number, VrnDateParts* parts) {
    CivilDate date;
    bool valid = tarvex::SplitDayNumber(day_number, &date);
    if (parts != nullptr) {
        parts->year = date.year;
        parts->month = static_cast<uint8_t>(date.month);
        parts->day = static_cast<uint8_t>(date.day);
    }
    return valid ? 0 : -1;
}

TARVEX_API int32_t Vrn$DATE(int32_t month, int32_t day, int32_t year) {
    return tarvex::NormalisedDayNumber(month, day, year);
}

TARVEX_API int32_t Vrn$YEAR(int32_t day_number) {
    CivilDate date;
    tarvex::SplitDayNumber(day_number, &date);
    return date.year;
}

TARVEX_API int32_t Vrn$MONTH(int32_t day_number) {
    CivilDate date;
    tarvex::SplitDayNumber(day_number, &date);
    return date.month;
}

TARVEX_API int32_t Vrn$DAY(int32_t day_number) {
    CivilDate date;
    tarvex::SplitDayNumber(day_number, &date);
    return date.day;
}

TARVEX_API int32_t Vrn$time2abs(const VrnTimeParts* parts) {
    if (parts == nullptr) return -1;
    return tarvex::TimeValue(parts->hours, parts->minutes, parts->seconds, parts->hundredths);
}

TARVEX_API int32_t Vrn$abs2time(int32_t time_value, VrnTimeParts* parts) {
    TimeOfDay time;
    bool valid = tarvex::SplitTimeValue(time_value, &time);
    if (parts != nullptr) {
        parts->hours = static_cast<uint8_t>(time.hours);
        parts->minutes = static_cast<uint8_t>(time.minutes);
        parts->seconds = static_cast<uint8_t>(time.seconds);
        parts->hundredths = static_cast<uint8_t>(time.hundredths);
    }
    return valid ? 0 : -1;
}

TARVEX_API int32_t Vrn$TODAY(void) { return tarvex::Today(); }

TARVEX_API int32_t Vrn$CLOCK(void) { return tarvex::ClockValue(tarvex::platform::Now()); }

TARVEX_API void Vrn$SETTODAY(int32_t day_number) {
    if (!tarvex::IsDayNumber(day_number)) return;
    tarvex::SetProgramClock(day_number, Vrn$CLOCK());
}

TARVEX_API void Vrn$SETCLOCK(int32_t time_value) {
    if (!tarvex::IsTimeValue(time_value)) return;
    int32_t today = tarvex::Today();
    if (today == 0) return;
    tarvex::SetProgramClock(today, time_value);
}

TARVEX_API uint32_t Vrn$storebtdate(int32_t day_number) {
    CivilDate date;
    if (!tarvex::SplitDayNumber(day_number, &date)) return 0;
    return uint32_t(date.day) | uint32_t(date.month) << 8 | uint32_t(date.year) << 16;
}

TARVEX_API int32_t Vrn$loadbtdate(uint32_t field) {
    int32_t day = int32_t(field & 0xFF);
    int32_t month = int32_t((field >> 8) & 0xFF);
    int32_t year = int32_t(field >> 16);
    if (year > 9999) return tarvex::kLastDay;
    int32_t day_number = tarvex::DayNumber(tarvex::WidenYear(year), month, day);
    return day_number < 0 ? 0 : day_number;
}

TARVEX_API uint32_t Vrn$storebttime(int32_t time_value) {
    TimeOfDay time;
    if (!tarvex::SplitTimeValue(time_value, &time)) return 0;
    return uint32_t(time.hundredths) | uint32_t(time.seconds) << 8 | uint32_t(time.minutes) << 16 |
           uint32_t(time.hours) << 24;
}

TARVEX_API int32_t Vrn$loadbttime(uint32_t field) {
    return tarvex::TimeValue(int((field >> 24) & 0xFF), int((field >> 16) & 0xFF), int((field >> 8) & 0xFF),
                             int(field & 0xFF));
}

TARVEX_API void Vrn$StackAGE(int32_t birth, int32_t base) { tarvex::PushCopy(tarvex::AgeText(birth, base)); }
