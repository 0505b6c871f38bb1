// SPDX-License-Identifier: MIT
#include "schedule/date_value.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <string>

namespace zorvek::schedule {
namespace {

DateParts P(int y, int mo, int d, int h = 0, int mi = 0, int s = 0) {
    return DateParts{y, mo, d, h, mi, s};
}

std::string show(const DateParts& p) {
    char text[40];
    std::snprintf(text, sizeof text, "%04d-%02d-%02d %02d:%02d:%02d", p.year, p.month, p.day,
                  p.hour, p.minute, p.second);
    return text;
}

// Day counts of the classic date type, as other programs that use it show them.
TEST(DateValue, KnownDayCounts) {
    struct Row {
        DateParts parts;
        double days;
    };
    const Row rows[] = {
        {P(1899, 12, 30), 0.0},
        {P(1899, 12, 31), 1.0},
        {P(1900, 1, 1), 2.0},
        {P(1900, 2, 28), 60.0},
        {P(1900, 3, 1), 61.0},  // 1900 is not a leap year
        {P(1990, 1, 1), 32874.0},
        {P(2000, 1, 1), 36526.0},
        {P(2024, 2, 29), 45351.0},
        {P(2024, 2, 29, 6), 45351.25},
        {P(2024, 2, 29, 18), 45351.75},
        {P(1899, 12, 29, 6), -1.25},  // below zero the fraction is still the time of day
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(show(r.parts));
        EXPECT_EQ(DateValue::fromParts(r.parts).days(), r.days);
        EXPECT_EQ(DateValue(r.days).toParts(), r.parts);
    }
}

TEST(DateValue, SentinelIsFirstOfJanuary1990) {
    EXPECT_EQ(DateValue::sentinel().days(), kSentinelDays);
    EXPECT_EQ(DateValue::sentinel(), DateValue::fromParts(1990, 1, 1, 0, 0, 0));
    EXPECT_EQ(DateValue::sentinel().toParts(), P(1990, 1, 1));
}

TEST(DateValue, ArithmeticAcrossDayMonthYearAndLeapDayBoundaries) {
    struct Row {
        DateParts start;
        int64_t minutes;
        int64_t seconds;
        DateParts expected;
    };
    const Row rows[] = {
        {P(2024, 2, 28, 23, 59, 30), 0, 45, P(2024, 2, 29, 0, 0, 15)},
        {P(2023, 2, 28, 23, 59, 0), 1, 0, P(2023, 3, 1, 0, 0, 0)},
        {P(1999, 12, 31, 23, 59, 59), 0, 1, P(2000, 1, 1, 0, 0, 0)},
        {P(1900, 2, 28), 1440, 0, P(1900, 3, 1)},
        {P(2100, 2, 28), 1440, 0, P(2100, 3, 1)},
        {P(2000, 2, 28), 1440, 0, P(2000, 2, 29)},  // divisible by 400: leap
        {P(2024, 2, 29, 23, 59, 59), 0, 1, P(2024, 3, 1, 0, 0, 0)},
        {P(2024, 1, 31, 23, 30, 0), 45, 0, P(2024, 2, 1, 0, 15, 0)},
        {P(2024, 12, 31, 23, 59, 0), 1, 0, P(2025, 1, 1, 0, 0, 0)},
        {P(2024, 3, 1, 0, 0, 0), 0, -1, P(2024, 2, 29, 23, 59, 59)},
        {P(2023, 3, 1, 0, 0, 0), -1, 0, P(2023, 2, 28, 23, 59, 0)},
        {P(2024, 5, 10, 10, 0, 0), 999, 0, P(2024, 5, 11, 2, 39, 0)},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(show(r.start) + " +" + std::to_string(r.minutes) + " min +" +
                     std::to_string(r.seconds) + " s");
        DateValue v = DateValue::fromParts(r.start);
        v = v.addSeconds(r.minutes * 60 + r.seconds);
        EXPECT_EQ(v.toParts(), r.expected);
    }
}

// Parts out of their range roll into the next larger part.
TEST(DateValue, PartsOutOfRangeRollOver) {
    struct Row {
        DateParts given;
        DateParts expected;
    };
    const Row rows[] = {
        {P(2023, 13, 1), P(2024, 1, 1)},
        {P(2024, 0, 1), P(2023, 12, 1)},
        {P(2024, 3, 0), P(2024, 2, 29)},
        {P(2024, 1, 1, 25, 0, 0), P(2024, 1, 2, 1, 0, 0)},
        {P(2024, 1, 1, 0, 0, -1), P(2023, 12, 31, 23, 59, 59)},
        {P(2024, 1, 1, 0, 90, 0), P(2024, 1, 1, 1, 30, 0)},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(show(r.given));
        EXPECT_EQ(DateValue::fromParts(r.given).toParts(), r.expected);
    }
}

// Every calendar day from 1900-01-01 to 2200-12-31 against a month-length table:
// parts to value and back, and consecutive days one apart.
TEST(DateValue, EveryDayRoundTripsAndFollowsTheCalendar) {
    auto daysInMonth = [](int y, int m) {
        static const int lengths[] = {31, 28, 31, 30, 31, 30, 31, 31, 30, 31, 30, 31};
        const bool leap = (y % 4 == 0 && y % 100 != 0) || y % 400 == 0;
        return m == 2 && leap ? 29 : lengths[m - 1];
    };
    double expectedDays = 2.0;  // 1900-01-01
    int mismatches = 0;
    for (int y = 1900; y <= 2200; ++y) {
        for (int m = 1; m <= 12; ++m) {
            for (int d = 1; d <= daysInMonth(y, m); ++d) {
                const DateValue v = DateValue::fromParts(y, m, d);
                if (v.days() != expectedDays || v.toParts() != P(y, m, d)) {
                    if (++mismatches <= 5) ADD_FAILURE() << show(P(y, m, d)) << " -> " << v.days();
                }
                expectedDays += 1.0;
            }
        }
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(DateValue, TimesOfDayRoundTrip) {
    const DateParts rows[] = {
        P(1900, 1, 1, 0, 0, 1),      P(1900, 1, 1, 23, 59, 59), P(1999, 12, 31, 23, 59, 59),
        P(2024, 2, 29, 12, 34, 56),  P(2024, 7, 15, 0, 0, 0),   P(2100, 12, 31, 23, 59, 59),
        P(9999, 12, 31, 23, 59, 59),
    };
    for (const DateParts& p : rows) {
        SCOPED_TRACE(show(p));
        EXPECT_EQ(DateValue::fromParts(p).toParts(), p);
    }
    // Every second of one day.
    int mismatches = 0;
    for (int s = 0; s < 86400; ++s) {
        const DateParts p = P(2024, 5, 10, s / 3600, s / 60 % 60, s % 60);
        if (DateValue::fromParts(p).toParts() != p && ++mismatches <= 5) ADD_FAILURE() << show(p);
    }
    EXPECT_EQ(mismatches, 0);
}

TEST(DateValue, RoundsToTheSecondAndCarriesIntoTheDate) {
    const double day = DateValue::fromParts(2023, 12, 31).days();
    struct Row {
        double secondsIntoDay;
        DateParts expected;
        const char* hhmmss;
    };
    const Row rows[] = {
        {86399.9999, P(2024, 1, 1, 0, 0, 0), "00:00:00"},
        {86399.6, P(2024, 1, 1, 0, 0, 0), "00:00:00"},
        {86399.4, P(2023, 12, 31, 23, 59, 59), "23:59:59"},
        {3599.7, P(2023, 12, 31, 1, 0, 0), "01:00:00"},
        {0.3, P(2023, 12, 31, 0, 0, 0), "00:00:00"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.secondsIntoDay);
        const DateValue v(day + r.secondsIntoDay / 86400.0);
        EXPECT_EQ(v.toParts(), r.expected);
        EXPECT_EQ(v.formatHhMmSs(), r.hhmmss);
    }
}

TEST(DateValue, FormatsTwoDigitTwentyFourHourTime) {
    EXPECT_EQ(DateValue::fromParts(2024, 1, 1, 0, 0, 0).formatHhMmSs(), "00:00:00");
    EXPECT_EQ(DateValue::fromParts(2024, 1, 1, 9, 5, 7).formatHhMmSs(), "09:05:07");
    EXPECT_EQ(DateValue::fromParts(2024, 1, 1, 13, 0, 0).formatHhMmSs(), "13:00:00");
    EXPECT_EQ(DateValue::fromParts(2024, 1, 1, 23, 59, 59).formatHhMmSs(), "23:59:59");
}

TEST(DateValue, OneSecondAddedADayLongStaysOnTheSecond) {
    const DateParts starts[] = {P(2024, 2, 28, 13, 14, 15), P(1900, 1, 1, 0, 0, 0),
                                P(2099, 12, 31, 0, 0, 1)};
    for (const DateParts& start : starts) {
        SCOPED_TRACE(show(start));
        DateValue v = DateValue::fromParts(start);
        int mismatches = 0;
        for (int i = 1; i <= 86400; ++i) {
            v = v.addSeconds(1);
            const DateParts expected =
                DateValue::fromParts(start.year, start.month, start.day, start.hour, start.minute,
                                     start.second + i)
                    .toParts();
            if (v.toParts() != expected && ++mismatches <= 5)
                ADD_FAILURE() << "after " << i << " s: " << show(v.toParts());
        }
        EXPECT_EQ(mismatches, 0);
        const DateParts nextDay = DateValue::fromParts(start.year, start.month, start.day + 1,
                                                       start.hour, start.minute, start.second)
                                      .toParts();
        EXPECT_EQ(v.toParts(), nextDay);
    }
}

TEST(DateValue, ComparesInTimeOrder) {
    const DateValue a = DateValue::fromParts(2024, 2, 28, 23, 59, 59);
    const DateValue b = DateValue::fromParts(2024, 2, 29, 0, 0, 0);
    EXPECT_LT(a, b);
    EXPECT_GT(b, a);
    EXPECT_NE(a, b);
    EXPECT_EQ(a.addSeconds(1).toParts(), b.toParts());
    EXPECT_LT(DateValue::sentinel(), a);
    EXPECT_EQ(DateValue::fromParts(2024, 2, 29), b);
}

// Sets TZ for one test and restores it afterwards.
class ScopedTimeZone {
public:
    explicit ScopedTimeZone(const char* tz) {
        if (const char* old = std::getenv("TZ")) saved_ = old, hadValue_ = true;
        setenv("TZ", tz, 1);
        tzset();
    }
    ~ScopedTimeZone() {
        if (hadValue_)
            setenv("TZ", saved_.c_str(), 1);
        else
            unsetenv("TZ");
        tzset();
    }

private:
    std::string saved_;
    bool hadValue_ = false;
};

DateValue localValueOf(std::time_t t) {
    std::tm tm{};
    localtime_r(&t, &tm);
    return DateValue::fromParts(tm.tm_year + 1900, tm.tm_mon + 1, tm.tm_mday, tm.tm_hour, tm.tm_min,
                                tm.tm_sec);
}

// The clock reads local time, not UTC: checked in a zone nine hours from UTC.
TEST(DateValue, NowReadsTheLocalClockInWholeSeconds) {
    ScopedTimeZone zone("JST-9");
    const std::time_t before = std::time(nullptr);
    const DateValue now = DateValue::now();
    const std::time_t after = std::time(nullptr);
    EXPECT_LE(localValueOf(before), now);
    EXPECT_GE(localValueOf(after), now);
    EXPECT_EQ(DateValue::fromParts(now.toParts()), now);  // whole seconds
}

}  // namespace
}  // namespace zorvek::schedule
