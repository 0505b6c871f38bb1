// SPDX-License-Identifier: MIT
// The in-memory copy of what the user last saved. The probe and the scheduler
// read only this record, never the edit fields, so edits take effect on save.
#pragma once

#include <cstdint>
#include <string>

namespace zorvek::settings {

struct SettingsRecord {
    std::string HostName;      // host name or IP address to probe (UTF-8)
    int16_t Interval = 0;      // interval count, 1 to 999 after validation
    std::string WindowStart;   // start of the daily window, "hh:mm"
    std::string WindowEnd;     // end of the daily window, "hh:mm"
    int16_t LogToList = 0;     // 1: log each probe in the list
    int16_t ShowErrorBox = 0;  // 1: show a box for a failed probe

    bool operator==(const SettingsRecord&) const = default;
};

}  // namespace zorvek::settings
