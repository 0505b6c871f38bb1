// SPDX-License-Identifier: MIT
#include "ui/display_check.h"

#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>
#include <QLibraryInfo>
#include <QString>
#include <cstdlib>
#include <filesystem>
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

bool compositorAnswers(const std::string& path) {
    sockaddr_un address{};
    if (path.empty() || path.size() >= sizeof(address.sun_path)) return false;
    address.sun_family = AF_UNIX;
    path.copy(address.sun_path, path.size());
    const base::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
    return fd.get() >= 0 &&
           ::connect(fd.get(), reinterpret_cast<const sockaddr*>(&address), sizeof(address)) == 0;
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
std::optional<std::string> waylandProblem() {
    const std::string socket = waylandSocket();
    if (!compositorAnswers(socket)) {
        return "WAYLAND_DISPLAY=" + variable("WAYLAND_DISPLAY") +
               ": no Wayland compositor answers at " +
               (socket.empty() ? "(no XDG_RUNTIME_DIR)" : socket);
    }
    if (!waylandPluginInstalled())
        return "WAYLAND_DISPLAY=" + variable("WAYLAND_DISPLAY") +
               ": Qt's Wayland platform plugin is not installed (Debian package qt6-wayland)";
    return std::nullopt;
}

std::optional<std::string> xProblem() {
    if (xDisplayOpens()) return std::nullopt;
    return "DISPLAY=" + variable("DISPLAY") + ": the X display cannot be opened";
}

std::string joined(const std::vector<std::string>& problems) {
    std::string text;
    for (const std::string& problem : problems) text += (text.empty() ? "" : "\n") + problem;
    return text;
}

}  // namespace

DisplayChoice chooseDisplay() {
    const std::string requested = variable("QT_QPA_PLATFORM");
    std::vector<std::string> problems;
    if (!requested.empty()) {
        // Qt tries the platforms named, in order, and takes the first that starts.
        std::stringstream names(requested);
        for (std::string entry; std::getline(names, entry, ';');) {
            const std::string name = entry.substr(0, entry.find(':'));
            std::optional<std::string> problem;
            if (name == "xcb")
                problem = xProblem();
            else if (name.rfind("wayland", 0) == 0)
                problem = waylandProblem();
            // Any other platform (offscreen, vnc, ...) is Qt's to judge.
            if (!problem) return {};
            problems.push_back(*problem);
        }
        return {"QT_QPA_PLATFORM=" + requested + "\n" + joined(problems), {}};
    }
    const bool xSet = !variable("DISPLAY").empty();
    const bool waylandSet = !variable("WAYLAND_DISPLAY").empty();
    if (!xSet && !waylandSet) return {"neither DISPLAY nor WAYLAND_DISPLAY is set", {}};
    std::optional<std::string> x = xSet ? xProblem() : std::nullopt;
    std::optional<std::string> wayland = waylandSet ? waylandProblem() : std::nullopt;
    const bool xWorks = xSet && !x;
    const bool waylandWorks = waylandSet && !wayland;
    if (xWorks && waylandWorks) return {};
    // Only one works: Qt is told which, so that it does not give up on the other.
    if (xWorks) return {std::nullopt, "xcb"};
    if (waylandWorks) return {std::nullopt, "wayland"};
    if (x) problems.push_back(*x);
    if (wayland) problems.push_back(*wayland);
    return {joined(problems), {}};
}

}  // namespace zorvek::ui
