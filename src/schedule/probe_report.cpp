// SPDX-License-Identifier: MIT
#include "schedule/probe_report.h"

#include "base/flag_guard.h"
#include "text/cp932.h"

namespace zorvek::schedule {

ProbeReporter::ProbeReporter(settings::SettingsRecord& record,
                             const companion::ResultMessages& messages, Pinging pinging,
                             ProbeUi& ui)
    : record_(record), messages_(messages), pinging_(std::move(pinging)), ui_(ui) {}

void ProbeReporter::probeAndReport() {
    if (busy_) return;
    int32_t code = companion::kCodeSuccess;
    {
        base::FlagGuard busy(busy_);
        code = probe();
    }
    if (record_.ShowErrorBox != 0 && code != companion::kCodeSuccess && !errorBoxOpen_) {
        errorBoxOpen_ = true;
        ui_.openModalBox(companion::describeResult(messages_, code), kProbeErrorTitle,
                         [this] { errorBoxOpen_ = false; });
    }
}

int32_t ProbeReporter::probe() {
    if (record_.LogToList != 0) {
        ui_.appendLog(ui_.timestamp());
        ui_.processWaitingEvents();
    }

    // The library takes the host in code page 932; afterwards the record holds
    // the text as the code page gave it back, so a character the code page
    // cannot represent shows up replaced, as it was actually probed.
    const std::string host = cp932::fromUtf8(record_.HostName);
    const int32_t code = pinging_(host);
    if (std::optional<std::string> back = cp932::toUtf8(host)) record_.HostName = std::move(*back);

    if (record_.LogToList != 0) ui_.appendLog(companion::resultLine(messages_, code));
    return code;
}

}  // namespace zorvek::schedule
