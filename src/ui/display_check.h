// SPDX-License-Identifier: MIT
// Whether the program has a display to show its window and icon on, decided
// before Qt is started: when none of Qt's platforms can start, Qt aborts the
// process, and a user who started the program from a menu learns nothing.
#pragma once

#include <string>
#include <vector>

#include "base/failure.h"

namespace zorvek::ui {

// Why a display cannot be used.
enum class DisplayStep {
    NoneSet,            // neither DISPLAY nor WAYLAND_DISPLAY is set
    XDisplay,           // detail: DISPLAY; the X display does not open
    WaylandCompositor,  // detail: WAYLAND_DISPLAY; path: its socket, empty without
                        // XDG_RUNTIME_DIR; err: connect()'s, when it was tried
    WaylandPlugin,      // detail: WAYLAND_DISPLAY; Qt's Wayland platform plugin is missing
};

using DisplayFailure = base::Failure<DisplayStep>;

struct DisplayChoice {
    // Why each display that was tried cannot be used, in the order tried;
    // empty when one can be used.
    std::vector<DisplayFailure> failures;
    // QT_QPA_PLATFORM when it named the platforms that were tried.
    std::string requested;
    // The one platform that can be used when Qt might try another first and
    // give up ("xcb" or "wayland"); empty: Qt's own choice serves.
    std::string platform;

    bool usable() const { return failures.empty(); }
};

// Looks at QT_QPA_PLATFORM, DISPLAY and WAYLAND_DISPLAY: an X display counts
// when it opens, a Wayland one when its compositor answers on the socket and
// Qt's Wayland platform plugin is installed.
DisplayChoice chooseDisplay();

}  // namespace zorvek::ui
