// SPDX-License-Identifier: GPL-3.0-or-later
// Regional settings (defaults, date formats of locales) and the clock with its process-wide offset.
#include "platform/platform.h"
#include "platform/platform_internal.h"

#include <clocale>
#include <cstdio>
#include <ctime>
#include <gtest/gtest.h>

namespace tarvex::platform {
namespace {

void ExpectEnglishDefaults(const RegionalSettings& settings) {
    const std::vector<std::string> months = {"January",   "February", "March",    "April",
                                             "May",       "June",     "July",     "August",
                                             "September", "October",  "November", "December"};
    const std::vector<std::string> short_months = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                                   "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};
    EXPECT_EQ(settings.month_names, months);
    EXPECT_EQ(settings.month_abbreviations, short_months);
    EXPECT_EQ(settings.am, "AM");
    EXPECT_EQ(settings.pm, "PM");
    EXPECT_EQ(settings.date_separator, '/');
    EXPECT_EQ(settings.date_order, "MDY");
    EXPECT_EQ(settings.time_separator, ':');
    EXPECT_EQ(settings.decimal_point, '.');
    EXPECT_EQ(settings.thousands_separator, ',');
}

TEST(RegionalSettings, CLocaleGivesTheEnglishDefaults) {
    ExpectEnglishDefaults(RegionalFromLocales("C", "C"));
    ExpectEnglishDefaults(RegionalFromLocales("C.UTF-8", "C.UTF-8"));
}

TEST(RegionalSettings, UnknownLocaleGivesTheEnglishDefaults) {
    ExpectEnglishDefaults(RegionalFromLocales("xx_NOWHERE.UTF-8", "xx_NOWHERE"));
    ExpectEnglishDefaults(RegionalFromLocales("", ""));
}

TEST(RegionalSettings, ReadingThemLeavesTheProcessLocaleAlone) {
    Regional();
    EXPECT_STREQ(setlocale(LC_NUMERIC, nullptr), "C");
    char text[16];
    std::snprintf(text, sizeof(text), "%.2f", 1.5);
    EXPECT_STREQ(text, "1.50");
}

TEST(RegionalSettings, DateOrderFromFormats) {
    struct Row {
        const char* format;
        bool known;
        const char* order;
        char separator;
    };
    const Row rows[] = {
        {"%m/%d/%y", true, "MDY", '/'},
        {"%d.%m.%Y", true, "DMY", '.'},
        {"%Y-%m-%d", true, "YMD", '-'},
        {"%D", true, "MDY", '/'},
        {"%F", true, "YMD", '-'},
        {"%e/%m/%Y", true, "DMY", '/'},
        {"%d %B %Y", true, "DMY", ' '},
        {"%Ey/%m/%d", true, "YMD", '/'},
        {"%Y.%m.%d.", true, "YMD", '.'},
        {"%-d/%-m/%Y", true, "DMY", '/'},
        {"%H:%M", false, "", 0},
        {"", false, "", 0},
        {"%", false, "", 0},
        {"%d/%m", false, "", 0},
    };
    for (const auto& row : rows) {
        std::string order = "unchanged";
        char separator = '?';
        EXPECT_EQ(DateOrderFromFormat(row.format, &order, &separator), row.known) << row.format;
        if (row.known) {
            EXPECT_EQ(order, row.order) << row.format;
            EXPECT_EQ(separator, row.separator) << row.format;
        } else {
            EXPECT_EQ(order, "unchanged") << row.format;
        }
    }
}

// The host's local date and time, `seconds` from now.
tm HostLocal(int64_t seconds) {
    time_t at = time(nullptr) + time_t(seconds);
    tm local{};
    localtime_r(&at, &local);
    return local;
}

void ExpectNowIs(const tm& expected, const LocalDateTime& now) {
    EXPECT_EQ(now.year, expected.tm_year + 1900);
    EXPECT_EQ(now.month, expected.tm_mon + 1);
    EXPECT_EQ(now.day, expected.tm_mday);
    EXPECT_EQ(now.day_of_week, expected.tm_wday);
    EXPECT_EQ(now.hour, expected.tm_hour);
    EXPECT_EQ(now.minute, expected.tm_min);
}

TEST(Clock, OffsetMovesTheProgramsClockNotTheHosts) {
    const int64_t kDay = 24 * 60 * 60;
    for (int64_t days : {0, 1, -1, 400, -3000}) {
        SetClockOffsetHundredths(days * kDay * 100);
        EXPECT_EQ(ClockOffsetHundredths(), days * kDay * 100);
        // Retry across a minute boundary between the two readings.
        for (int attempt = 0; attempt < 3; attempt++) {
            tm expected = HostLocal(days * kDay);
            LocalDateTime now = Now();
            if (HostLocal(days * kDay).tm_min == expected.tm_min) {
                ExpectNowIs(expected, now);
                break;
            }
        }
    }
    SetClockOffsetHundredths(0);
    EXPECT_EQ(ClockOffsetHundredths(), 0);
}

TEST(Clock, FieldsStayInRange) {
    for (int64_t offset : {int64_t(-1), int64_t(-99), int64_t(12345), int64_t(-12345)}) {
        SetClockOffsetHundredths(offset);
        LocalDateTime now = Now();
        EXPECT_GE(now.hundredths, 0);
        EXPECT_LE(now.hundredths, 99);
        EXPECT_GE(now.second, 0);
        EXPECT_LE(now.second, 59);
    }
    SetClockOffsetHundredths(INT64_MAX);
    Now(); // beyond any calendar: must not fail
    SetClockOffsetHundredths(INT64_MIN);
    Now();
    SetClockOffsetHundredths(0);
}

} // namespace
} // namespace tarvex::platform
