// SPDX-License-Identifier: MIT
#include "probe/scheduler.h"

#include <gtest/gtest.h>

#include <functional>
#include <stdexcept>
#include <string>
#include <vector>

namespace zorvek {
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

TEST(IsDue, OneIntervalAfterTheLastProbe) {
    const DateValue last = at(10, 0, 0);
    struct Row {
        IntervalUnit unit;
        int16_t interval;
        DateValue now;
        bool due;
    };
    const Row rows[] = {
        {IntervalUnit::Minutes, 5, at(10, 4, 59), false},
        {IntervalUnit::Minutes, 5, at(10, 5, 0), true},
        {IntervalUnit::Minutes, 5, at(11, 0, 0), true},
        {IntervalUnit::Minutes, 5, at(9, 59, 0), false},  // clock set back
        {IntervalUnit::Minutes, 999, at(2, 38, 59, 11), false},
        {IntervalUnit::Minutes, 999, at(2, 39, 0, 11), true},
        {IntervalUnit::Seconds, 30, at(10, 0, 29), false},
        {IntervalUnit::Seconds, 30, at(10, 0, 30), true},
        {IntervalUnit::Seconds, 1, at(10, 0, 0), false},
        {IntervalUnit::Seconds, 1, at(10, 0, 1), true},
        {IntervalUnit::None, 5, at(10, 0, 0), true},
        {IntervalUnit::None, 5, at(9, 0, 0), true},
        // Values a damaged file may hold.
        {IntervalUnit::Minutes, 0, at(10, 0, 0), true},
        {IntervalUnit::Seconds, -3, at(9, 59, 58), true},
        {IntervalUnit::Minutes, -1, at(9, 58, 59), false},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(std::to_string(static_cast<int>(r.unit)) + " x" + std::to_string(r.interval) +
                     " at " + r.now.formatHhMmSs());
        EXPECT_EQ(isDue(r.now, last, r.interval, r.unit), r.due);
    }
}

// A clock reading of the very second the interval ends is due from any start
// second of the day. The day-fraction sum often lands a rounding step past that
// reading; compared exactly, many of these ticks would slip.
TEST(IsDue, ExactlyOneIntervalLaterIsDueFromEverySecondOfADay) {
    int mismatches = 0;
    for (int s = 0; s < 86400; ++s) {
        const DateValue last = DateValue::fromParts(2024, 5, 10, 0, 0, s);
        for (int16_t interval : {int16_t{1}, int16_t{7}, int16_t{999}}) {
            const bool ok = isDue(DateValue::fromParts(2024, 5, 10, 0, interval, s), last, interval,
                                  IntervalUnit::Minutes) &&
                            !isDue(DateValue::fromParts(2024, 5, 10, 0, interval, s - 1), last,
                                   interval, IntervalUnit::Minutes) &&
                            isDue(DateValue::fromParts(2024, 5, 10, 0, 0, s + interval), last,
                                  interval, IntervalUnit::Seconds) &&
                            !isDue(DateValue::fromParts(2024, 5, 10, 0, 0, s + interval - 1), last,
                                   interval, IntervalUnit::Seconds);
            if (!ok && ++mismatches <= 5)
                ADD_FAILURE() << "from second " << s << ", interval " << interval;
        }
    }
    EXPECT_EQ(mismatches, 0);
}

// The scheduler's collaborators, recording what the tick asks of them.
struct Harness {
    SettingsRecord record{"probe.example", 5, "09:00", "17:00", 1, 1};
    DateValue clock = at(10, 0, 0);
    int secondsPerClockRead = 0;  // how far the clock moves each time it is read
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
                                        const DateValue t = clock;
                                        clock = clock.addSeconds(secondsPerClockRead);
                                        return t;
                                    },
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

    void advance(int seconds) { clock = clock.addSeconds(seconds); }
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

// The new probe time is a fresh reading, and the window is judged on it: the
// due test reads 08:59:59, the next reading is 09:00:00, inside.
TEST(Scheduler, WindowIsJudgedOnTheFreshReading) {
    Harness h;
    h.clock = at(8, 59, 59);
    h.secondsPerClockRead = 1;
    h.scheduler.tick();
    EXPECT_EQ(h.clockReads, 2);
    EXPECT_EQ(h.scheduler.lastProbeTime(), at(9, 0, 0));
    EXPECT_EQ(h.iconStates, std::vector<int>{kIconActive});
    EXPECT_EQ(h.probes, 1);
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
            h.forget();
            h.scheduler.tick();
            EXPECT_EQ(h.iconStates, std::vector<int>{s.iconState});
            EXPECT_EQ(h.probes, s.probed ? 1 : 0);
        }
    }
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
    h.scheduler.setLastProbeTime(DateValue::sentinel());  // as a save does
    h.scheduler.tick();
    EXPECT_EQ(h.probes, 1);
    EXPECT_EQ(h.scheduler.lastProbeTime(), at(10, 1, 0));
}

TEST(Scheduler, RefusesMissingHooks) {
    SettingsRecord record;
    SchedulerHooks complete{[] { return DateValue(); }, [] { return IntervalUnit::None; },
                            [](int) {}, [] {}, [] { return false; }};
    EXPECT_NO_THROW(Scheduler(record, complete));
    for (int missing = 0; missing < 5; ++missing) {
        SchedulerHooks hooks = complete;
        switch (missing) {
            case 0: hooks.now = nullptr; break;
            case 1: hooks.unit = nullptr; break;
            case 2: hooks.setTrayIconState = nullptr; break;
            case 3: hooks.probeAndReport = nullptr; break;
            case 4: hooks.busy = nullptr; break;
        }
        EXPECT_THROW(Scheduler(record, hooks), std::invalid_argument) << "hook " << missing;
    }
}

}  // namespace
}  // namespace zorvek
