// SPDX-License-Identifier: MIT
#include "ui/display_check.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <QLibraryInfo>
#include <QString>
#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <optional>
#include <sstream>
#include <vector>

#include "base/unique_fd.h"

#ifdef ZORVEK_HAVE_XCB
#include <xcb/xcb.h>
#endif

namespace zorvek::ui {
namespace {

std::string variable(const char* name) {
    const char* value = std::getenv(name);
    return value != nullptr ? std::string(value) : std::string();
}

bool xDisplayOpens() {
#ifdef ZORVEK_HAVE_XCB
    xcb_connection_t* connection = xcb_connect(nullptr, nullptr);
    const bool opened = xcb_connection_has_error(connection) == 0;
    xcb_disconnect(connection);
    return opened;
#else
    // Without xcb to ask, a set DISPLAY is taken at its word.
    return !variable("DISPLAY").empty();
#endif
}

// The socket a Wayland client connects to: WAYLAND_DISPLAY itself when it is
// a path, otherwise that name in XDG_RUNTIME_DIR.
std::string waylandSocket() {
    const std::string name = variable("WAYLAND_DISPLAY").empty() ? std::string("wayland-0")
                                                                 : variable("WAYLAND_DISPLAY");
    if (name.front() == '/') return name;
    const std::string runtime = variable("XDG_RUNTIME_DIR");
    return runtime.empty() ? std::string() : runtime + "/" + name;
}

// 0 when a compositor answers on the socket at `path`, otherwise why not as
// an errno.
int compositorRefusal(const std::string& path) {
    sockaddr_un address{};
    if (path.empty()) return ENOENT;
    if (path.size() >= sizeof(address.sun_path)) return ENAMETOOLONG;
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, path.size());
    const base::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    if (fd.get() < 0) return errno;
    if (::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) != 0)
        return errno;
    return 0;
}

// Qt's Wayland platform plugin, in Qt's plugin folder or one named in
// QT_PLUGIN_PATH.
bool waylandPluginInstalled() {
    std::vector<std::string> folders{QLibraryInfo::path(QLibraryInfo::PluginsPath).toStdString()};
    std::stringstream extra(variable("QT_PLUGIN_PATH"));
    for (std::string folder; std::getline(extra, folder, ':');)
        if (!folder.empty()) folders.push_back(folder);
    for (const std::string& folder : folders) {
        std::error_code error;
        for (const auto& entry :
             std::filesystem::directory_iterator(folder + "/platforms", error)) {
            const std::string file = entry.path().filename().string();
            if (file.rfind("libqwayland", 0) == 0) return true;
        }
    }
    return false;
}

// Why Wayland cannot be used, or nothing when it can.
std::optional<DisplayFailure> waylandProblem() {
    const std::string name = variable("WAYLAND_DISPLAY");
    const std::string socket = waylandSocket();
    if (const int err = compositorRefusal(socket))
        return DisplayFailure{DisplayStep::WaylandCompositor, err, socket, name};
    if (!waylandPluginInstalled()) return DisplayFailure{DisplayStep::WaylandPlugin, 0, {}, name};
    return std::nullopt;
}

std::optional<DisplayFailure> xProblem() {
    if (xDisplayOpens()) return std::nullopt;
    return DisplayFailure{DisplayStep::XDisplay, 0, {}, variable("DISPLAY")};
}

}  // namespace

DisplayChoice chooseDisplay() {
    const std::string requested = variable("QT_QPA_PLATFORM");
    DisplayChoice none;
    if (!requested.empty()) {
        // Qt tries the platforms named, in order, and takes the first that starts.
        none.requested = requested;
        std::stringstream names(requested);
        for (std::string entry; std::getline(names, entry, ';');) {
            const std::string name = entry.substr(0, entry.find(':'));
            std::optional<DisplayFailure> problem;
            if (name == "xcb")
                problem = xProblem();
            else if (name.rfind("wayland", 0) == 0)
                problem = waylandProblem();
            // Any other platform (offscreen, vnc, ...) is Qt's to judge.
            if (!problem) return {};
            none.failures.push_back(*problem);
        }
        return none;
    }
    const bool xSet = !variable("DISPLAY").empty();
    const bool waylandSet = !variable("WAYLAND_DISPLAY").empty();
    if (!xSet && !waylandSet) {
        none.failures.push_back({DisplayStep::NoneSet, 0, {}, {}});
        return none;
    }
    const std::optional<DisplayFailure> x = xSet ? xProblem() : std::nullopt;
    const std::optional<DisplayFailure> wayland = waylandSet ? waylandProblem() : std::nullopt;
    const bool xWorks = xSet && !x;
    const bool waylandWorks = waylandSet && !wayland;
    if (xWorks && waylandWorks) return {};
    // Only one works: Qt is told which, so that it does not give up on the other.
    if (xWorks) return {{}, {}, "xcb"};
    if (waylandWorks) return {{}, {}, "wayland"};
    if (x) none.failures.push_back(*x);
    if (wayland) none.failures.push_back(*wayland);
    return none;
}

}  // namespace zorvek::ui
