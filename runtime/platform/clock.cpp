// SPDX-License-Identifier: GPL-3.0-or-later
// The clock: the host's local time plus a process-wide offset in hundredths of a second. Setting
// the program's date or time moves the offset and never the host clock.
#include "platform/platform.h"

#include <atomic>
#include <ctime>

namespace tarvex::platform {

namespace {
std::atomic<int64_t> clock_offset_hundredths{0};
}

LocalDateTime Now() {
    timespec now{};
    clock_gettime(CLOCK_REALTIME, &now);
    // Work in hundredths since the epoch so the offset carries into seconds, days and years.
    int64_t host = int64_t(now.tv_sec) * 100 + now.tv_nsec / 10000000;
    int64_t offset = clock_offset_hundredths.load(std::memory_order_relaxed);
    int64_t hundredths = 0;
    if (__builtin_add_overflow(host, offset, &hundredths)) {
        hundredths = offset > 0 ? INT64_MAX : INT64_MIN; // beyond any calendar: reported as zeros
    }
    int64_t seconds = hundredths / 100;
    int64_t fraction = hundredths % 100;
    if (fraction < 0) {
        fraction += 100;
        seconds -= 1;
    }
    time_t host_seconds = time_t(seconds);
    tm local{};
    LocalDateTime result{};
    if (localtime_r(&host_seconds, &local) == nullptr) {
        return result;
    }
    result.year = local.tm_year + 1900;
    result.month = local.tm_mon + 1;
    result.day = local.tm_mday;
    result.hour = local.tm_hour;
    result.minute = local.tm_min;
    result.second = local.tm_sec > 59 ? 59 : local.tm_sec; // a leap second shows as :59
    result.hundredths = int(fraction);
    result.day_of_week = local.tm_wday;
    return result;
}

int64_t ClockOffsetHundredths() {
    return clock_offset_hundredths.load(std::memory_order_relaxed);
}

void SetClockOffsetHundredths(int64_t offset) {
    clock_offset_hundredths.store(offset, std::memory_order_relaxed);
}

} // namespace tarvex::platform
