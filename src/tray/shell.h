// SPDX-License-Identifier: MIT
// The notify call that shows, changes and removes the notification icon. The
// Qt layer implements it on the system tray; RecordingShell keeps the calls for
// tests. Nobody looks at a result, so the call returns nothing.
#pragma once

#include <cstdint>
#include <vector>

#include "tray/tray_icon_record.h"

namespace zorvek::tray {

inline constexpr uint32_t NIM_ADD = 0;
inline constexpr uint32_t NIM_MODIFY = 1;
inline constexpr uint32_t NIM_DELETE = 2;

class Shell {
public:
    virtual ~Shell() = default;
    virtual void notify(uint32_t operation, const TrayIconRecord& record) = 0;
};

// Keeps every notify call: the operation and a copy of the record's bytes as
// they were at the moment of the call.
class RecordingShell : public Shell {
public:
    struct Call {
        uint32_t operation;
        TrayIconRecord::Bytes bytes;
    };

    void notify(uint32_t operation, const TrayIconRecord& record) override;

    const std::vector<Call>& calls() const { return calls_; }
    void clear() { calls_.clear(); }

private:
    std::vector<Call> calls_;
};

}  // namespace zorvek::tray
