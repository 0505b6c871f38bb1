// SPDX-License-Identifier: MIT
// One prober per settings file and user. The first start for a settings file
// takes a lock and listens on a local socket, both named from that file; a
// later start for the same file finds the lock taken, asks the running
// program over the socket to show its window, and ends. Two installations
// with two settings files run side by side.
//
// The lock is an advisory lock (flock) on a file that is never removed: the
// kernel drops it with the process that held it, so a killed program leaves
// nothing that blocks the next start, which also replaces the socket the
// killed one left behind. Of two starts at the same moment exactly one gets
// the lock. The lock and the socket live in the user's runtime folder
// ($XDG_RUNTIME_DIR), or, when there is none, in a private folder under the
// user's own cache folder: never under a name in a shared folder, which
// another user could take first. The folder is held open and the socket is
// reached through it, so a folder path of any length works. This is the
// program's POSIX layer.
#pragma once

#include <QObject>
#include <chrono>
#include <filesystem>
#include <map>
#include <string>

#include "base/unique_fd.h"

class QSocketNotifier;

namespace zorvek::app {

class SingleInstance : public QObject {
    Q_OBJECT
public:
    enum class Claim {
        First,       // this start probes for the folder; show requests arrive as signals
        HandedOver,  // the folder's running program was asked to show its window
        NoAnswer,    // the folder's running program holds the lock but takes no request
        Unguarded,   // no private place for the lock: this start runs unguarded
    };

    // $XDG_RUNTIME_DIR when it is a folder only the user can enter; otherwise
    // zorvek/run in the user's cache folder ($XDG_CACHE_HOME, else
    // ~/.cache), made mode 0700 where missing, and used only when it is the
    // user's own folder, not a link, that no one else can enter. Empty when
    // neither can be had.
    static std::filesystem::path defaultRuntimeFolder();

    // The name shared by the lock file and the socket: a hash of the settings
    // file's path taken as raw bytes, so any name works, also one that is not
    // valid text, and two files never share it.
    static std::string keyFor(const std::filesystem::path& settingsFile);

    explicit SingleInstance(const std::filesystem::path& settingsFile,
                            std::filesystem::path runtimeFolder = defaultRuntimeFolder());
    // Stops listening and removes the socket, while the lock still keeps
    // another start from taking its name.
    ~SingleInstance() override;

    // Takes the folder for this start, or asks the start that has it to show
    // its window. `patience` bounds the wait for that start to take the
    // request. Says why on standard error when this start cannot be the
    // folder's one prober or cannot tell.
    Claim claim(std::chrono::milliseconds patience = std::chrono::milliseconds(900));

signals:
    // Another start of the same folder asked for the window, with the
    // activation token its launcher gave it (empty when there was none).
    void showRequested(const QString& activationToken);

private:
    void listen();
    void takeConnections();
    void readRequests(QSocketNotifier* connection);
    void drop(QSocketNotifier* connection);
    bool askToShow(std::chrono::milliseconds patience);

    std::filesystem::path runtimeFolder_;
    std::string key_;
    // The runtime folder, open as a path-only descriptor, and the socket's
    // address through it (/proc/self/fd/N/KEY), which fits a socket address
    // however long the folder's path is.
    base::UniqueFd folder_;
    std::string address_;
    base::UniqueFd lock_;
    // The listening socket and the connections of other starts, each watched
    // by the event loop, with the bytes of a request not yet complete. A
    // plain socket: the one request is a line, and nothing more of a network
    // library is needed for it.
    base::UniqueFd listener_;
    QSocketNotifier* listening_ = nullptr;
    struct Connection {
        std::string pending;  // the start of a line not yet complete
        std::string token;    // the activation token sent for the next request
    };
    std::map<QSocketNotifier*, Connection> connections_;
};

}  // namespace zorvek::app
