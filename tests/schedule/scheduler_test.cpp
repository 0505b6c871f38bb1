// SPDX-License-Identifier: MIT
#include "schedule/scheduler.h"

#include <gtest/gtest.h>

#include <chrono>
#include <cstdlib>
#include <ctime>
#include <functional>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zorvek::schedule {
namespace {

TEST(InsideDailyWindow, Boundaries) {
    struct Row {
        const char* start;
        const char* end;
        const char* t;
        bool inside;
    };
    const Row rows[] = {
        // Across midnight.
        {"23:00", "07:59", "22:59:59", false},
        {"23:00", "07:59", "23:00:00", true},
        {"23:00", "07:59", "23:59:59", true},
        {"23:00", "07:59", "00:00:00", true},
        {"23:00", "07:59", "07:58:59", true},
        {"23:00", "07:59", "07:59:00", false},  // "07:59" sorts before "07:59:00"
        {"23:00", "07:59", "12:00:00", false},
        // Within one day.
        {"09:00", "17:00", "08:59:59", false},
        {"09:00", "17:00", "09:00:00", true},
        {"09:00", "17:00", "16:59:59", true},
        {"09:00", "17:00", "17:00:00", false},
        {"09:00", "17:00", "23:59:59", false},
        {"09:00", "17:00", "00:00:00", false},
        // Bounds written to the second: both ends are part of the window.
        {"09:00:00", "17:00:00", "09:00:00", true},
        {"09:00:00", "17:00:00", "17:00:00", true},
        {"09:00:00", "17:00:00", "17:00:01", false},
        {"23:00:00", "07:59:00", "07:59:00", true},
        {"23:00:00", "07:59:00", "07:59:01", false},
        // Start equal to end: the whole day.
        {"12:00", "12:00", "00:00:00", true},
        {"12:00", "12:00", "11:59:59", true},
        {"12:00", "12:00", "12:00:00", true},
        {"12:00", "12:00", "23:59:59", true},
        // An empty bound: no window.
        {"", "17:00", "20:00:00", true},
        {"09:00", "", "03:00:00", true},
        {"", "", "12:00:00", true},
        // Texts from a damaged file. Bytes compare as unsigned values: a byte above
        // 0x7F sorts after a digit at the same position.
        {"07:00", "07:5\x01", "07:5\xa0", false},
        {"07:00", "07:5\xa0", "07:5\x01", true},
        {"07:5\xa0", "07:5\x01", "07:30:00", true},  // spans midnight, 07:30 before the end
        {"\xff\xfe", "07:59", "08:00:00", false},
        {"\xff\xfe", "07:59", "07:00:00", true},
        {"\x80", "\xff", "\x90:00:00", true},
        {"09:00", "17:00", "\xe9\x81", false},
        {"09:00", "\xe3\x81\x82", "20:00:00", true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::string(r.start) + "-" + r.end + " at " + r.t);
        EXPECT_EQ(insideDailyWindow(r.t, r.start, r.end), r.inside);
    }
}

DateValue at(int h, int mi, int s, int day = 10) {
    return DateValue::fromParts(2024, 5, day, h, mi, s);
}

TEST(IsDue, OneIntervalAfterTheLastDuePoint) {
    using std::chrono::milliseconds;
    const milliseconds last{1'000'000};
    struct Row {
        IntervalUnit unit;
        int16_t interval;
        milliseconds sinceLast;
        bool due;
    };
    const Row rows[] = {
        {IntervalUnit::Minutes, 5, milliseconds{299'899}, false},
        {IntervalUnit::Minutes, 5, milliseconds{299'900}, true},  // a tick up to 100 ms early
        {IntervalUnit::Minutes, 5, milliseconds{300'000}, true},
        {IntervalUnit::Minutes, 5, milliseconds{-5'000}, false},
        {IntervalUnit::Minutes, 999, milliseconds{59'939'899}, false},
        {IntervalUnit::Minutes, 999, milliseconds{59'940'000}, true},
        {IntervalUnit::Seconds, 30, milliseconds{29'899}, false},
        {IntervalUnit::Seconds, 30, milliseconds{30'000}, true},
        {IntervalUnit::Seconds, 1, milliseconds{500}, false},
        {IntervalUnit::Seconds, 1, milliseconds{1'000}, true},
        {IntervalUnit::None, 5, milliseconds{0}, true},
        // Counts a damaged file may leave in the record count as 1.
        {IntervalUnit::Seconds, 0, milliseconds{500}, false},
        {IntervalUnit::Seconds, 0, milliseconds{1'000}, true},
        {IntervalUnit::Seconds, -3, milliseconds{500}, false},
        {IntervalUnit::Seconds, 1000, milliseconds{1'000}, true},
        {IntervalUnit::Minutes, -32768, milliseconds{59'000}, false},
        {IntervalUnit::Minutes, 32767, milliseconds{60'000}, true},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(static_cast<int>(r.unit)) + " x" + std::to_string(r.interval) +
                     " after " + std::to_string(r.sinceLast.count()) + " ms");
        EXPECT_EQ(isDue(last + r.sinceLast, last, r.interval, r.unit), r.due);
    }
    // No due point yet (start-up, save): due whatever the clock says.
    EXPECT_TRUE(isDue(milliseconds{0}, std::nullopt, 999, IntervalUnit::Minutes));
}

// The scheduler's collaborators, recording what the tick asks of them.
struct Harness {
    settings::SettingsRecord record{"probe.example", 5, "09:00", "17:00", 1, 1};
    DateValue clock = at(10, 0, 0);                // the local clock
    std::chrono::milliseconds monotonic{123'456};  // the clock that never steps
    IntervalUnit unit = IntervalUnit::Minutes;
    bool busy = false;

    int clockReads = 0;
    int unitReads = 0;
    std::vector<int> iconStates;
    int probes = 0;
    std::function<void()> duringProbe;
    std::function<void()> duringIcon;

    Scheduler scheduler{record, SchedulerHooks{
                                    [this] {
                                        ++clockReads;
                                        return clock;
                                    },
                                    [this] { return monotonic; },
                                    [this] {
                                        ++unitReads;
                                        return unit;
                                    },
                                    [this](int state) {
                                        iconStates.push_back(state);
                                        if (duringIcon) duringIcon();
                                    },
                                    [this] {
                                        ++probes;
                                        if (duringProbe) duringProbe();
                                    },
                                    [this] { return busy; },
                                }};

    // Both clocks run on together.
    void advance(int seconds) {
        clock = clock.addSeconds(seconds);
        monotonic += std::chrono::seconds(seconds);
    }
    void forget() {
        iconStates.clear();
        probes = 0;
    }
};

TEST(Scheduler, StartsAtTheSentinelSoTheFirstTickIsDue) {
    Harness h;
    EXPECT_EQ(h.scheduler.lastProbeTime(), DateValue::sentinel());
    h.scheduler.tick();
    EXPECT_EQ(h.scheduler.lastProbeTime(), at(10, 0, 0));
    EXPECT_EQ(h.iconStates, std::vector<int>{kIconActive});
    EXPECT_EQ(h.probes, 1);
}

TEST(Scheduler, NextProbeExactlyOneIntervalLater) {
    struct Row {
        IntervalUnit unit;
        int16_t interval;
        int intervalSeconds;
    };
    const Row rows[] = {
        {IntervalUnit::Minutes, 5, 300},
        {IntervalUnit::Minutes, 1, 60},
        {IntervalUnit::Seconds, 30, 30},
        {IntervalUnit::Seconds, 1, 1},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(r.intervalSeconds) + " s");
        Harness h;
        h.unit = r.unit;
        h.record.Interval = r.interval;
        h.clock = at(10, 0, 7);
        h.scheduler.tick();
        ASSERT_EQ(h.probes, 1);
        const DateValue first = h.scheduler.lastProbeTime();

        h.advance(r.intervalSeconds - 1);
        h.forget();
        h.scheduler.tick();
        EXPECT_EQ(h.probes, 0);
        EXPECT_TRUE(h.iconStates.empty());
        EXPECT_EQ(h.scheduler.lastProbeTime(), first);

        h.advance(1);
        h.scheduler.tick();
        EXPECT_EQ(h.probes, 1);
        EXPECT_EQ(h.scheduler.lastProbeTime().toParts(),
                  first.addSeconds(r.intervalSeconds).toParts());
    }
}

TEST(Scheduler, SwitchingTheUnitTakesEffectAtTheNextTick) {
    Harness h;  // 5 minutes
    h.scheduler.tick();
    h.advance(5);
    h.forget();
    h.scheduler.tick();
    EXPECT_EQ(h.probes, 0) << "5 s into a 5 minute interval";

    h.unit = IntervalUnit::Seconds;
    h.scheduler.tick();
    EXPECT_EQ(h.probes, 1) << "5 s after the probe, 5 seconds selected";

    h.advance(1);
    h.scheduler.tick();
    EXPECT_EQ(h.probes, 1) << "1 s into a 5 second interval";

    h.unit = IntervalUnit::None;
    h.scheduler.tick();
    h.scheduler.tick();
    EXPECT_EQ(h.probes, 3) << "no unit selected: every tick is due";
    EXPECT_EQ(h.unitReads, 6);
}

TEST(Scheduler, EmptyHostOnlyMovesTheProbeTime) {
    Harness h;
    h.record.HostName.clear();
    h.scheduler.tick();
    EXPECT_EQ(h.scheduler.lastProbeTime(), at(10, 0, 0));
    EXPECT_TRUE(h.iconStates.empty());
    EXPECT_EQ(h.probes, 0);

    // The record is read on every tick: a saved host takes effect once due.
    h.record.HostName = "probe.example";
    h.advance(299);
    h.scheduler.tick();
    EXPECT_EQ(h.probes, 0);
    h.advance(1);
    h.scheduler.tick();
    EXPECT_EQ(h.probes, 1);
}

TEST(Scheduler, DueTickOutsideTheWindowShowsTheNormalIconWithoutProbing) {
    Harness h;
    h.clock = at(18, 30, 0);
    h.scheduler.tick();
    EXPECT_EQ(h.scheduler.lastProbeTime(), at(18, 30, 0));
    EXPECT_EQ(h.iconStates, std::vector<int>{kIconNormal});
    EXPECT_EQ(h.probes, 0);

    // Not due: not even the icon is asked for.
    h.advance(60);
    h.scheduler.tick();
    EXPECT_EQ(h.iconStates, std::vector<int>{kIconNormal});
}

TEST(Scheduler, WalkingThroughTheWindow) {
    struct Step {
        DateValue time;
        int iconState;
        bool probed;
    };
    struct Walk {
        const char* start;
        const char* end;
        std::vector<Step> steps;
    };
    const Walk walks[] = {
        {"09:00",
         "17:00",
         {{at(8, 59, 59), kIconNormal, false},
          {at(9, 0, 0), kIconActive, true},
          {at(16, 59, 59), kIconActive, true},
          {at(17, 0, 0), kIconNormal, false}}},
        {"23:00",
         "07:59",
         {{at(22, 59, 59), kIconNormal, false},
          {at(23, 0, 0), kIconActive, true},
          {at(0, 0, 0, 11), kIconActive, true},
          {at(7, 58, 59, 11), kIconActive, true},
          {at(7, 59, 0, 11), kIconNormal, false}}},
    };
    for (const Walk& w : walks) {
        SCOPED_TRACE(std::string(w.start) + "-" + w.end);
        Harness h;
        h.unit = IntervalUnit::Seconds;
        h.record.Interval = 1;
        h.record.WindowStart = w.start;
        h.record.WindowEnd = w.end;
        for (const Step& s : w.steps) {
            SCOPED_TRACE(s.time.formatHhMmSs());
            h.clock = s.time;
            h.monotonic += std::chrono::seconds(1);
            h.forget();
            h.scheduler.tick();
            EXPECT_EQ(h.iconStates, std::vector<int>{s.iconState});
            EXPECT_EQ(h.probes, s.probed ? 1 : 0);
        }
    }
}

// Ticks every 500 ms for `seconds` on the monotonic clock, the local clock
// following `local` (seconds since the start), and returns the monotonic
// seconds since the start at which probes ran.
std::vector<double> probeTimes(Harness& h, int seconds,
                               const std::function<DateValue(double)>& local) {
    std::vector<double> times;
    const std::chrono::milliseconds start = h.monotonic;
    h.duringProbe = [&] {
        times.push_back(static_cast<double>((h.monotonic - start).count()) / 1000.0);
    };
    for (int ms = 0; ms <= seconds * 1000; ms += 500) {
        h.monotonic = start + std::chrono::milliseconds(ms);
        h.clock = local(ms / 1000.0);
        h.scheduler.tick();
    }
    h.duringProbe = nullptr;
    return times;
}

std::vector<double> every(double step, double last) {
    std::vector<double> v;
    for (double t = 0; t <= last; t += step) v.push_back(t);
    return v;
}

// The local clock set back or forward while the program runs: the probes go on
// at the interval measured on the monotonic clock, never pausing and never
// coming sooner; the window and the probe time follow the local clock.
TEST(Scheduler, ClockStepsNeitherStopNorHurryTheProbes) {
    struct Row {
        const char* what;
        int stepSeconds;  // applied 2 minutes after the first probe
    };
    const Row rows[] = {
        {"set back a day", -86400},
        {"set back an hour", -3600},
        {"set forward an hour", 3600},
        {"set forward a day", 86400},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.what);
        Harness h;  // 5 minutes
        h.record.WindowStart = "23:00";
        h.record.WindowEnd = "07:59";
        const DateValue start = at(0, 30, 0, 11);  // an hour either way stays inside
        const std::vector<double> times = probeTimes(h, 1200, [&](double t) {
            const int seconds = static_cast<int>(t);
            return start.addSeconds(t < 120 ? seconds : seconds + r.stepSeconds);
        });
        EXPECT_EQ(times, every(300, 1200));
        EXPECT_EQ(h.scheduler.lastProbeTime().toParts(),
                  start.addSeconds(1200 + r.stepSeconds).toParts());
    }
}

// The end of daylight saving time in Berlin: 03:00 CEST becomes 02:00 CET
// inside the default window. The local times come from the C library's own
// time zone rules for Europe/Berlin.
TEST(Scheduler, ProbesGoOnThroughTheEndOfDaylightSavingTime) {
    const char* oldTz = std::getenv("TZ");
    const std::string savedTz = oldTz ? oldTz : "";
    setenv("TZ", "Europe/Berlin", 1);
    tzset();
    const std::time_t utcStart = 1729990200;  // 2024-10-27 00:50:00 UTC, 02:50:00 CEST
    ASSERT_EQ(DateValue::fromTimeT(utcStart).formatHhMmSs(), "02:50:00");
    ASSERT_EQ(DateValue::fromTimeT(utcStart + 1200).formatHhMmSs(), "02:10:00");

    Harness h;
    h.record.Interval = 1;  // minute
    h.record.WindowStart = "23:00";
    h.record.WindowEnd = "07:59";
    const std::vector<double> times = probeTimes(h, 1800, [&](double t) {
        return DateValue::fromTimeT(utcStart + static_cast<std::time_t>(t));
    });
    if (oldTz)
        setenv("TZ", savedTz.c_str(), 1);
    else
        unsetenv("TZ");
    tzset();

    EXPECT_EQ(times, every(60, 1800));
    EXPECT_EQ(h.scheduler.lastProbeTime().formatHhMmSs(), "02:20:00");
}

TEST(Scheduler, BusyTickDoesNothingAtAll) {
    Harness h;
    h.busy = true;
    h.scheduler.tick();
    EXPECT_EQ(h.scheduler.lastProbeTime(), DateValue::sentinel());
    EXPECT_EQ(h.clockReads, 0);
    EXPECT_EQ(h.unitReads, 0);
    EXPECT_TRUE(h.iconStates.empty());
    EXPECT_EQ(h.probes, 0);

    h.busy = false;
    h.scheduler.tick();
    EXPECT_EQ(h.probes, 1);
}

// The probe lets waiting events run, so a timer tick can arrive inside it (or
// inside the icon switch). Whether or not the owner already reports busy, the
// nested tick must change nothing.
TEST(Scheduler, TickInsideATickDoesNotNest) {
    enum class From { ProbeReportingBusy, ProbeNotReportingBusy, IconSwitch };
    for (From from : {From::ProbeReportingBusy, From::ProbeNotReportingBusy, From::IconSwitch}) {
        SCOPED_TRACE(static_cast<int>(from));
        Harness h;
        h.unit = IntervalUnit::None;  // every tick due: a nested tick would probe again
        int nestedCalls = 0;
        auto nested = [&] {
            // Only the first call ticks again, so a missing guard fails here
            // instead of recursing without end.
            if (++nestedCalls > 1) return;
            const DateValue before = h.scheduler.lastProbeTime();
            const int readsBefore = h.clockReads;
            const size_t iconsBefore = h.iconStates.size();
            h.advance(10);
            h.scheduler.tick();
            EXPECT_EQ(h.scheduler.lastProbeTime(), before);
            EXPECT_EQ(h.clockReads, readsBefore);
            EXPECT_EQ(h.iconStates.size(), iconsBefore);
        };
        if (from == From::IconSwitch) {
            h.duringIcon = nested;
        } else {
            h.duringProbe = [&] {
                h.busy = from == From::ProbeReportingBusy;
                nested();
                h.busy = false;
            };
        }

        h.scheduler.tick();
        EXPECT_EQ(nestedCalls, 1);
        EXPECT_EQ(h.probes, 1);
        EXPECT_EQ(h.iconStates.size(), 1u);

        // Once the outer tick is over, ticks work again.
        h.duringProbe = nullptr;
        h.duringIcon = nullptr;
        h.scheduler.tick();
        EXPECT_EQ(h.probes, 2);
    }
}

TEST(Scheduler, ThrowingProbeDoesNotLeaveTheSchedulerStuck) {
    Harness h;
    h.unit = IntervalUnit::None;
    h.duringProbe = [] { throw std::runtime_error("probe failed"); };
    EXPECT_THROW(h.scheduler.tick(), std::runtime_error);
    h.duringProbe = nullptr;
    h.scheduler.tick();
    EXPECT_EQ(h.probes, 2);
}

TEST(Scheduler, SettingTheSentinelMakesTheNextTickDue) {
    Harness h;
    h.scheduler.tick();
    h.advance(60);
    h.forget();
    h.scheduler.tick();
    ASSERT_EQ(h.probes, 0);
    h.scheduler.restart();  // as a save does
    h.scheduler.tick();
    EXPECT_EQ(h.probes, 1);
    EXPECT_EQ(h.scheduler.lastProbeTime(), at(10, 1, 0));
}

TEST(Scheduler, RefusesMissingHooks) {
    settings::SettingsRecord record;
    SchedulerHooks complete{[] { return DateValue(); },
                            [] { return std::chrono::milliseconds(0); },
                            [] { return IntervalUnit::None; },
                            [](int) {},
                            [] {},
                            [] { return false; }};
    EXPECT_NO_THROW(Scheduler(record, complete));
    for (int missing = 0; missing < 6; ++missing) {
        SchedulerHooks hooks = complete;
        switch (missing) {
            case 0: hooks.now = nullptr; break;
            case 1: hooks.monotonic = nullptr; break;
            case 2: hooks.unit = nullptr; break;
            case 3: hooks.setTrayIconState = nullptr; break;
            case 4: hooks.probeAndReport = nullptr; break;
            case 5: hooks.busy = nullptr; break;
        }
        EXPECT_THROW(Scheduler(record, hooks), std::invalid_argument) << "hook " << missing;
    }
}

}  // namespace
}  // namespace zorvek::schedule
