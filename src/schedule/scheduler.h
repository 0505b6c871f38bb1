// SPDX-License-Identifier: MIT
// The scheduler tick: decides on every timer tick whether a probe is due and
// whether the clock is inside the daily window, then moves the tray icon and
// starts the probe. No clock, widget or timer of its own: the window hands in
// those collaborators, so the decision can be driven by fake clocks in tests.
//
// Two clocks: the interval is measured on a monotonic clock, which never
// steps, so setting the local clock back (or the end of daylight saving time)
// neither stops the probes nor, set forward, hurries them; the daily window
// and the probe time follow the local clock.
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string_view>

#include "schedule/date_value.h"
#include "settings/settings_record.h"

namespace zorvek::schedule {

// True when the time of day `t` ("hh:mm:ss") lies in the daily window from
// `start` to `end` ("hh:mm"). The texts are compared byte by byte as unsigned
// values, a proper prefix sorting first ("07:59" < "07:59:00"), so the end
// minute itself is outside the window and any text, even junk, has an order.
// An empty bound means no window: always inside. A start at or after the end
// spans midnight (start == end covers the whole day).
bool insideDailyWindow(std::string_view t, std::string_view start, std::string_view end);

// Which of the two interval option buttons is selected (None: neither).
enum class IntervalUnit { None, Minutes, Seconds };

// The count the interval is measured with: the saved count when it is 1 to
// 999, otherwise 1, the value the field itself falls back to. A damaged
// settings file can leave zero, a negative count or one above 999 in the
// record; none of them may make the probes come faster than once per unit.
int effectiveCount(int16_t interval);

// How early a timer tick may come and still find the interval elapsed. The
// 500 ms timer does not fire to the millisecond, and a tick a few milliseconds
// short of the interval would otherwise put the probe off by a whole tick.
inline constexpr std::chrono::milliseconds kTickTolerance{100};

// True when the interval of `interval` units (see effectiveCount) has elapsed
// on the monotonic clock since the last due point `last`, within
// kTickTolerance. No last due point (start-up, save) or no unit selected:
// due at once.
bool isDue(std::chrono::milliseconds now, std::optional<std::chrono::milliseconds> last,
           int16_t interval, IntervalUnit unit);

// What a due tick does once it has taken the new probe time.
enum class WindowAction {
    NoHost,   // no host name: nothing beyond moving the probe time
    Outside,  // outside the daily window: show the normal icon, no probe
    Inside,   // inside the daily window: show the active icon and probe
};

// The decision after a due tick has read the clock into `probeTime`.
WindowAction decideWindowAction(DateValue probeTime, const settings::SettingsRecord& record);

// The icon states handed to setTrayIconState.
inline constexpr int kIconNormal = 0;
inline constexpr int kIconActive = 1;

// What the scheduler needs from its owner. All must be set.
struct SchedulerHooks {
    std::function<DateValue()> now;                        // the local clock
    std::function<std::chrono::milliseconds()> monotonic;  // a clock that never steps
    std::function<IntervalUnit()> unit;                    // the option buttons, read on every tick
    std::function<void(int)> setTrayIconState;             // kIconNormal or kIconActive
    std::function<void()> probeAndReport;                  // one probe, its log line and error box
    std::function<bool()> busy;                            // a probe or its error box is under way
};

class Scheduler {
public:
    // `record` is the saved settings, owned by the caller and read on every
    // tick, so a save takes effect at the next tick. Throws
    // std::invalid_argument when a hook is missing.
    Scheduler(const settings::SettingsRecord& record, SchedulerHooks hooks);

    // The local time the last due tick read from the clock (the last due point,
    // whether or not it probed); DateValue::sentinel() until the first one.
    DateValue lastProbeTime() const { return lastProbeTime_; }

    // Start-up and save: the probe time goes back to the sentinel and the
    // next tick is due at once.
    void restart();

    // One timer tick. Does nothing at all while the owner reports busy() or
    // while this scheduler is already inside a tick (the probe lets waiting
    // events run, and a timer event among them calls tick() again).
    void tick();

private:
    const settings::SettingsRecord& record_;
    SchedulerHooks hooks_;
    DateValue lastProbeTime_ = DateValue::sentinel();
    std::optional<std::chrono::milliseconds> lastDue_;  // monotonic; empty after restart()
    bool inTick_ = false;
};

}  // namespace zorvek::schedule
