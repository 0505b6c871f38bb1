// SPDX-License-Identifier: MIT
// The scheduler tick: decides on every timer tick whether a probe is due and
// whether the clock is inside the daily window, then moves the tray icon and
// starts the probe. No clock, widget or timer of its own: the window hands in
// those collaborators, so the decision can be driven by a fake clock in tests.
#pragma once

#include <cstdint>
#include <functional>
#include <string_view>

#include "probe/date_value.h"
#include "settings/settings_record.h"

namespace zorvek {

// True when the time of day `t` ("hh:mm:ss") lies in the daily window from
// `start` to `end` ("hh:mm"). The texts are compared byte by byte as unsigned
// values, a proper prefix sorting first ("07:59" < "07:59:00"), so the end
// minute itself is outside the window and any text, even junk, has an order.
// An empty bound means no window: always inside. A start at or after the end
// spans midnight (start == end covers the whole day).
bool insideDailyWindow(std::string_view t, std::string_view start, std::string_view end);

// Which of the two interval option buttons is selected (None: neither).
enum class IntervalUnit { None, Minutes, Seconds };

// True unless `now` is earlier than `last` plus `interval` units. The sum is
// formed in day fractions (DateValue::addMinutes/addSeconds) and compared to the
// whole second, as clock readings are whole seconds: a reading of the very second
// the interval ends is due even when the day-fraction sum lands a rounding step
// past it. With no unit selected, every tick is due. A zero or negative interval
// (possible from a damaged settings file) simply makes the tick due.
bool isDue(DateValue now, DateValue last, int16_t interval, IntervalUnit unit);

// What a due tick does once it has taken the new probe time.
enum class WindowAction {
    NoHost,   // no host name: nothing beyond moving the probe time
    Outside,  // outside the daily window: show the normal icon, no probe
    Inside,   // inside the daily window: show the active icon and probe
};

// The decision after a due tick has read the clock into `probeTime`.
WindowAction decideWindowAction(DateValue probeTime, const SettingsRecord& record);

// The icon states handed to setTrayIconState.
inline constexpr int kIconNormal = 0;
inline constexpr int kIconActive = 1;

// What the scheduler needs from its owner. All must be set.
struct SchedulerHooks {
    std::function<DateValue()> now;             // the local clock
    std::function<IntervalUnit()> unit;         // the option buttons, read on every tick
    std::function<void(int)> setTrayIconState;  // kIconNormal or kIconActive
    std::function<void()> probeAndReport;       // one probe, its log line and error box
    std::function<bool()> busy;                 // a probe or its error box is under way
};

class Scheduler {
public:
    // `record` is the saved settings, owned by the caller and read on every
    // tick, so a save takes effect at the next tick. Throws
    // std::invalid_argument when a hook is missing.
    Scheduler(const SettingsRecord& record, SchedulerHooks hooks);

    // The time the last due tick read from the clock. Start-up and save set it
    // to DateValue::sentinel() so the next tick is due.
    DateValue lastProbeTime() const { return lastProbeTime_; }
    void setLastProbeTime(DateValue t) { lastProbeTime_ = t; }

    // One timer tick. Does nothing at all while the owner reports busy() or
    // while this scheduler is already inside a tick (the probe lets waiting
    // events run, and a timer event among them calls tick() again).
    void tick();

private:
    const SettingsRecord& record_;
    SchedulerHooks hooks_;
    DateValue lastProbeTime_ = DateValue::sentinel();
    bool inTick_ = false;
};

}  // namespace zorvek
