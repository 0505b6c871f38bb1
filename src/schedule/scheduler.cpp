// SPDX-License-Identifier: MIT
#include "schedule/scheduler.h"

#include <algorithm>
#include <stdexcept>
#include <string>
#include <utility>

#include "base/flag_guard.h"

namespace zorvek::schedule {
namespace {

// Byte-wise comparison as unsigned values; a proper prefix sorts first.
int compareTexts(std::string_view a, std::string_view b) {
    const size_t n = std::min(a.size(), b.size());
    for (size_t i = 0; i < n; ++i) {
        const auto x = static_cast<unsigned char>(a[i]);
        const auto y = static_cast<unsigned char>(b[i]);
        if (x != y) return x < y ? -1 : 1;
    }
    if (a.size() == b.size()) return 0;
    return a.size() < b.size() ? -1 : 1;
}

}  // namespace

bool insideDailyWindow(std::string_view t, std::string_view start, std::string_view end) {
    if (start.empty() || end.empty()) return true;
    if (compareTexts(start, end) < 0) {
        return compareTexts(t, start) >= 0 && compareTexts(t, end) <= 0;
    }
    return compareTexts(t, start) >= 0 || compareTexts(t, end) <= 0;
}

int effectiveCount(int16_t interval) { return interval >= 1 && interval <= 999 ? interval : 1; }

bool isDue(std::chrono::milliseconds now, std::optional<std::chrono::milliseconds> last,
           int16_t interval, IntervalUnit unit) {
    using std::chrono::milliseconds;
    milliseconds length{};
    switch (unit) {
        case IntervalUnit::Minutes: length = std::chrono::minutes(effectiveCount(interval)); break;
        case IntervalUnit::Seconds: length = std::chrono::seconds(effectiveCount(interval)); break;
        case IntervalUnit::None: return true;
    }
    if (!last) return true;
    return now - *last >= length - kTickTolerance;
}

WindowAction decideWindowAction(DateValue probeTime, const settings::SettingsRecord& record) {
    if (record.HostName.empty()) return WindowAction::NoHost;
    const std::string t = probeTime.formatHhMmSs();
    return insideDailyWindow(t, record.WindowStart, record.WindowEnd) ? WindowAction::Inside
                                                                      : WindowAction::Outside;
}

Scheduler::Scheduler(const settings::SettingsRecord& record, SchedulerHooks hooks)
    : record_(record), hooks_(std::move(hooks)) {
    if (!hooks_.now || !hooks_.monotonic || !hooks_.unit || !hooks_.setTrayIconState ||
        !hooks_.probeAndReport || !hooks_.busy) {
        throw std::invalid_argument("Scheduler: every hook must be set");
    }
}

void Scheduler::restart() {
    lastProbeTime_ = DateValue::sentinel();
    lastDue_.reset();
}

void Scheduler::tick() {
    if (inTick_ || hooks_.busy()) return;
    base::FlagGuard guard(inTick_);

    const std::chrono::milliseconds elapsed = hooks_.monotonic();
    if (!isDue(elapsed, lastDue_, record_.Interval, hooks_.unit())) return;

    lastDue_ = elapsed;
    lastProbeTime_ = hooks_.now();

    switch (decideWindowAction(lastProbeTime_, record_)) {
        case WindowAction::NoHost: return;
        case WindowAction::Outside: hooks_.setTrayIconState(kIconNormal); return;
        case WindowAction::Inside:
            hooks_.setTrayIconState(kIconActive);
            hooks_.probeAndReport();
            return;
    }
}

}  // namespace zorvek::schedule
