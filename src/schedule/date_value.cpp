// SPDX-License-Identifier: MIT
#include "schedule/date_value.h"

#include <chrono>
#include <cmath>
#include <cstdio>
#include <ctime>

namespace zorvek::schedule {
namespace {

constexpr int64_t kSecondsPerDay = 86400;

// Floor division and its remainder, for counts that may be negative.
constexpr int64_t floorDiv(int64_t a, int64_t b) {
    int64_t q = a / b;
    return (a % b != 0 && ((a < 0) != (b < 0))) ? q - 1 : q;
}
constexpr int64_t floorMod(int64_t a, int64_t b) { return a - floorDiv(a, b) * b; }

// Days since 1970-01-01 of a proleptic Gregorian date (month 1..12, any day),
// after H. Hinnant's days_from_civil.
constexpr int64_t daysFromCivil(int64_t y, int64_t m, int64_t d) {
    y -= m <= 2 ? 1 : 0;
    const int64_t era = floorDiv(y, 400);
    const int64_t yoe = y - era * 400;                                   // [0, 399]
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;  // [0, 365]
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;           // [0, 146096]
    return era * 146097 + doe - 719468;
}

struct Civil {
    int64_t year;
    int month;
    int day;
};

// The inverse of daysFromCivil.
constexpr Civil civilFromDays(int64_t z) {
    z += 719468;
    const int64_t era = floorDiv(z, 146097);
    const int64_t doe = z - era * 146097;                                       // [0, 146096]
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;  // [0, 399]
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);                // [0, 365]
    const int64_t mp = (5 * doy + 2) / 153;                                     // [0, 11]
    const int day = static_cast<int>(doy - (153 * mp + 2) / 5 + 1);
    const int month = static_cast<int>(mp < 10 ? mp + 3 : mp - 9);
    return {era * 400 + yoe + (month <= 2 ? 1 : 0), month, day};
}

// 1899-12-30, day zero of the date value, counted from 1970-01-01.
constexpr int64_t kEpochOffset = daysFromCivil(1899, 12, 30);
static_assert(kEpochOffset == -25569);
static_assert(daysFromCivil(1990, 1, 1) - kEpochOffset == static_cast<int64_t>(kSentinelDays));

// A straight count of seconds since day zero to a date value. Below zero the
// whole days count backwards while the fraction still counts the time of day
// forwards, so the two are taken apart before they are joined.
DateValue fromWholeSeconds(int64_t seconds) {
    const int64_t day = floorDiv(seconds, kSecondsPerDay);
    const double fraction = static_cast<double>(floorMod(seconds, kSecondsPerDay)) /
                            static_cast<double>(kSecondsPerDay);
    const double whole = static_cast<double>(day);
    return DateValue(day >= 0 ? whole + fraction : whole - fraction);
}

}  // namespace

DateValue DateValue::fromParts(int year, int month, int day, int hour, int minute, int second) {
    // Months past 1..12 move the year, so the day count below only sees 1..12.
    const int64_t monthIndex = static_cast<int64_t>(month) - 1;
    const int64_t y = static_cast<int64_t>(year) + floorDiv(monthIndex, 12);
    const int64_t m = floorMod(monthIndex, 12) + 1;
    const int64_t dayNumber =
        daysFromCivil(y, m, 1) - kEpochOffset + (static_cast<int64_t>(day) - 1);
    const int64_t seconds = dayNumber * kSecondsPerDay + static_cast<int64_t>(hour) * 3600 +
                            static_cast<int64_t>(minute) * 60 + second;
    return fromWholeSeconds(seconds);
}

DateValue DateValue::fromParts(const DateParts& p) {
    return fromParts(p.year, p.month, p.day, p.hour, p.minute, p.second);
}

DateValue DateValue::now() {
    return fromTimeT(std::chrono::system_clock::to_time_t(std::chrono::system_clock::now()));
}

DateValue DateValue::fromTimeT(std::time_t t) {
    std::tm local{};
    localtime_r(&t, &local);
    return fromParts(local.tm_year + 1900, local.tm_mon + 1, local.tm_mday, local.tm_hour,
                     local.tm_min, local.tm_sec);
}

int64_t DateValue::toWholeSeconds() const {
    // Whole days toward zero; the rest is the time of day whatever the sign.
    const double whole = std::trunc(days_);
    const double timeOfDay = std::fabs(days_ - whole);
    const double linearDays = whole + timeOfDay;
    return std::llround(linearDays * static_cast<double>(kSecondsPerDay));
}

DateParts DateValue::toParts() const {
    // Rounding the straight second count (rather than the time of day alone)
    // carries 23:59:59.6 over into the next date instead of giving 24:00:00.
    const int64_t seconds = toWholeSeconds();
    const int64_t day = floorDiv(seconds, kSecondsPerDay);
    const int64_t secondOfDay = floorMod(seconds, kSecondsPerDay);
    const Civil c = civilFromDays(day + kEpochOffset);
    DateParts p;
    p.year = static_cast<int>(c.year);
    p.month = c.month;
    p.day = c.day;
    p.hour = static_cast<int>(secondOfDay / 3600);
    p.minute = static_cast<int>(secondOfDay / 60 % 60);
    p.second = static_cast<int>(secondOfDay % 60);
    return p;
}

DateValue DateValue::addSeconds(int64_t n) const {
    return DateValue(days_ + static_cast<double>(n) / static_cast<double>(kSecondsPerDay));
}

std::string DateValue::formatHhMmSs() const {
    const DateParts p = toParts();
    char text[16];
    std::snprintf(text, sizeof text, "%02d:%02d:%02d", p.hour, p.minute, p.second);
    return text;
}

}  // namespace zorvek::schedule
