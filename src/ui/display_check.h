// SPDX-License-Identifier: MIT
// Whether the program has a display to show its window and icon on, decided
// before Qt is started: when none of Qt's platforms can start, Qt aborts the
// process, and a user who started the program from a menu learns nothing.
#pragma once

#include <optional>
#include <string>

namespace zorvek::ui {

struct DisplayChoice {
    // Why no display can be used; empty when one can.
    std::optional<std::string> problem;
    // The one platform that can be used when Qt might try another first and
    // give up ("xcb" or "wayland"); empty: Qt's own choice serves.
    std::string platform;
};

// Looks at QT_QPA_PLATFORM, DISPLAY and WAYLAND_DISPLAY: an X display counts
// when it opens, a Wayland one when its compositor answers on the socket and
// Qt's Wayland platform plugin is installed.
DisplayChoice chooseDisplay();

}  // namespace zorvek::ui
