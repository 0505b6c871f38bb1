// SPDX-License-Identifier: MIT
// One probe of the saved host and the report of its outcome: an optional pair
// of log lines and an optional error box. Used by the test button and by the
// scheduler tick.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

#include "companion/result_messages.h"
#include "settings/settings_record.h"

namespace zorvek::schedule {

// What the probe needs of the window.
class ProbeUi {
public:
    virtual ~ProbeUi() = default;
    // The current date and time as the log's time stamp.
    virtual std::string timestamp() = 0;
    // Appends one line after the last line of the log list.
    virtual void appendLog(const std::string& line) = 0;
    // Lets the user interface handle the events that are already waiting.
    virtual void processWaitingEvents() = 0;
    // Opens a box modal to the window, with one OK button and no icon, and
    // returns at once; `closed` runs once the user has dismissed it.
    virtual void openModalBox(const std::string& text, const std::string& title,
                              std::function<void()> closed) = 0;
};

inline constexpr char kProbeErrorTitle[] = "Zorvekエラー";

class ProbeReporter {
public:
    // `pinging` takes the host in code page 932 and returns a result code.
    using Pinging = std::function<int32_t(const std::string& hostCp932)>;

    ProbeReporter(settings::SettingsRecord& record, const companion::ResultMessages& messages,
                  Pinging pinging, ProbeUi& ui);

    // Probes record.HostName and reports the outcome as the record's switches
    // ask. Never probes twice at once: a call that arrives while a probe is
    // still running (from the waiting events it lets run) returns without
    // doing anything. An open error box does not hold up later probes, so a
    // failure does not stop the schedule until someone answers it; while it
    // is open, later failures are logged but open no second box.
    void probeAndReport();

    // True from the start of a probe until its result is reported.
    bool busy() const { return busy_; }
    // True from the opening of an error box until it is dismissed.
    bool errorBoxOpen() const { return errorBoxOpen_; }

private:
    // The probe itself, under the re-entrancy guard: the time stamp line, the
    // waiting events, the call and the result line. Returns the result code.
    int32_t probe();

    settings::SettingsRecord& record_;
    const companion::ResultMessages& messages_;
    Pinging pinging_;
    ProbeUi& ui_;
    bool busy_ = false;
    bool errorBoxOpen_ = false;
};

}  // namespace zorvek::schedule
