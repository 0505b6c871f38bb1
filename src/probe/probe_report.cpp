// SPDX-License-Identifier: MIT
#include "probe/probe_report.h"

#include "support/flag_guard.h"
#include "text/cp932.h"

namespace zorvek {

ProbeReporter::ProbeReporter(SettingsRecord& record, const ResultMessages& messages,
                             Pinging pinging, ProbeUi& ui)
    : record_(record), messages_(messages), pinging_(std::move(pinging)), ui_(ui) {}

void ProbeReporter::probeAndReport() {
    if (busy_) return;
    FlagGuard busy(busy_);

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

    if (record_.LogToList != 0) ui_.appendLog(resultLine(messages_, code));
    if (record_.ShowErrorBox != 0 && code != kCodeSuccess) {
        ui_.showModalBox(describeResult(messages_, code), kProbeErrorTitle);
    }
}

}  // namespace zorvek
