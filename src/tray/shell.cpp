// SPDX-License-Identifier: MIT
#include "tray/shell.h"

namespace zorvek::tray {

void RecordingShell::notify(uint32_t operation, const TrayIconRecord& record) {
    calls_.push_back(Call{operation, record.bytes()});
}

}  // namespace zorvek::tray
