// SPDX-License-Identifier: MIT
// The program's date-time value: a count of days since 1899-12-30 00:00:00 local
// time, the fraction being the time of day (the classic OLE date). The
// scheduler reads the local clock through it to compare a probe's time of day
// with the daily window; the interval between probes runs on a monotonic clock
// instead, so no schedule arithmetic is done on this value.
//
// A value below zero still carries the time of day as a positive fraction:
// -1.25 is 1899-12-29 06:00:00, not 1899-12-28 18:00:00.
#pragma once

#include <compare>
#include <cstdint>
#include <ctime>
#include <string>

namespace zorvek::schedule {

// 1990-01-01 00:00:00, the "never probed" mark that the scheduler's last probe
// time holds until the first probe after start-up or after a save.
inline constexpr double kSentinelDays = 32874.0;

// Local calendar parts of a date value, to the whole second.
struct DateParts {
    int year = 1899;
    int month = 12;  // 1..12
    int day = 30;    // 1..31
    int hour = 0;    // 0..23
    int minute = 0;  // 0..59
    int second = 0;  // 0..59

    bool operator==(const DateParts&) const = default;
};

class DateValue {
public:
    constexpr DateValue() = default;
    constexpr explicit DateValue(double days) : days_(days) {}

    static constexpr DateValue sentinel() { return DateValue(kSentinelDays); }

    // From local calendar parts. Parts past their range roll over into the next
    // larger part (month 13 is January of the next year, 25:00 is 01:00 of the
    // next day), so any integers give a defined value.
    static DateValue fromParts(int year, int month, int day, int hour = 0, int minute = 0,
                               int second = 0);
    static DateValue fromParts(const DateParts& parts);

    // The local clock, to the whole second.
    static DateValue now();
    // The local date and time of a moment of the system clock, to the whole
    // second, in the time zone in force (TZ).
    static DateValue fromTimeT(std::time_t t);

    constexpr double days() const { return days_; }

    // Local calendar parts, rounded to the nearest whole second. The rounding
    // carries into the date: 23:59:59.6 is 00:00:00 of the next day.
    DateParts toParts() const;

    // Whole seconds since 1899-12-30 00:00:00 on a straight time line (negative
    // before it), rounded like toParts(). Two values that read as the same
    // second give the same count.
    int64_t toWholeSeconds() const;

    // Adds n seconds as a fraction of a day (n / 86400).
    DateValue addSeconds(int64_t n) const;

    // "hh:mm:ss", two-digit 24-hour time of day after rounding to the second.
    std::string formatHhMmSs() const;

    // Exact comparison of the day counts.
    constexpr auto operator<=>(const DateValue&) const = default;

private:
    double days_ = 0.0;
};

}  // namespace zorvek::schedule
