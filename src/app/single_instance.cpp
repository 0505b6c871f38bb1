// SPDX-License-Identifier: MIT
#include "app/single_instance.h"

#include <fcntl.h>
#include <pwd.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/time.h>
#include <sys/un.h>
#include <unistd.h>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QSocketNotifier>
#include <QThread>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <string_view>
#include <vector>
#include "ui/user_texts.h"

namespace zorvek::app {
namespace {

// Says on standard error why a second start will not find this one (the
// program runs on, unguarded).
void report(const ui::InstanceFailure& failure) {
    std::fputs(ui::instanceFailureLine(failure).c_str(), stderr);
}

// The one request a start sends: show the window. Before it may come the
// activation token the start's launcher gave it (XDG_ACTIVATION_TOKEN, from
// a Wayland launcher), which lets the running program ask the compositor to
// raise its window on the launcher's behalf.
constexpr std::string_view kShowRequest = "show";
constexpr std::string_view kTokenLine = "token ";
constexpr size_t kLongestToken = 1024;
// Longer lines are no request of ours; the connection is dropped.
constexpr size_t kLongestRequest = kTokenLine.size() + kLongestToken + 1;

// The start's own activation token, when it can travel in a line.
std::string activationToken() {
    const char* token = std::getenv("XDG_ACTIVATION_TOKEN");
    if (token == nullptr) return {};
    const std::string_view text(token);
    if (text.size() > kLongestToken || text.find('\n') != std::string_view::npos) return {};
    return std::string(text);
}

// A folder of ours that no other user can enter or change: not a link, owned
// by us, with no rights for group and others.
bool isPrivateFolder(const std::filesystem::path& folder) {
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

// A folder of ours that no other user can change. `asLink` allows the path
// itself to be a link (the user's own choice of cache folder may be one).
bool isOwnFolder(const std::filesystem::path& folder, bool asLink) {
    struct stat st {};
    if ((asLink ? ::stat(folder.c_str(), &st) : ::lstat(folder.c_str(), &st)) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 022) == 0;
}

// The user's cache folder: $XDG_CACHE_HOME when it is an absolute path, else
// .cache in the home folder ($HOME, else the one the user database names).
std::filesystem::path userCacheFolder() {
    if (const char* cache = std::getenv("XDG_CACHE_HOME"); cache != nullptr && cache[0] == '/')
        return cache;
    const char* home = std::getenv("HOME");
    if (home == nullptr || home[0] != '/') {
        const passwd* user = ::getpwuid(::geteuid());
        home = user != nullptr ? user->pw_dir : nullptr;
    }
    if (home == nullptr || home[0] != '/') return {};
    return std::filesystem::path(home) / ".cache";
}

// A Unix socket address for `path`, when it fits.
std::optional<sockaddr_un> socketAddress(const std::string& path) {
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (path.empty() || path.size() >= sizeof address.sun_path) return std::nullopt;
    std::memcpy(address.sun_path, path.data(), path.size());
    return address;
}

// Sends all of `bytes`, or says it could not.
bool sendAll(int fd, std::string_view bytes) {
    while (!bytes.empty()) {
        const ssize_t sent = ::send(fd, bytes.data(), bytes.size(), MSG_NOSIGNAL);
        if (sent < 0) {
            if (errno == EINTR) continue;
            return false;
        }
        bytes.remove_prefix(static_cast<size_t>(sent));
    }
    return true;
}

}  // namespace

std::filesystem::path SingleInstance::defaultRuntimeFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != 0) {
        if (isPrivateFolder(runtime)) return runtime;
    }
    // Without a runtime folder, one of the user's own: a name in a shared
    // folder such as /tmp could be taken first by another user.
    const std::filesystem::path cache = userCacheFolder();
    if (cache.empty()) return {};
    std::error_code ec;
    if (::mkdir(cache.c_str(), 0700) != 0 && errno == ENOENT)
        std::filesystem::create_directories(cache, ec);
    if (!isOwnFolder(cache, true)) return {};
    const std::filesystem::path own = cache / "zorvek";
    const std::filesystem::path run = own / "run";
    // Made private from the start; existing ones count only if they are ours
    // and no one else may change them.
    (void)::mkdir(own.c_str(), 0700);
    if (!isOwnFolder(own, false)) return {};
    (void)::mkdir(run.c_str(), 0700);
    return isPrivateFolder(run) ? run : std::filesystem::path();
}

std::string SingleInstance::keyFor(const std::filesystem::path& settingsFile) {
    // Two ways to name the same file (a link, a "..") give one key.
    std::error_code ec;
    const std::filesystem::path canonical = std::filesystem::weakly_canonical(settingsFile, ec);
    const std::string& raw = (ec ? settingsFile : canonical).native();
    const QByteArray hash = QCryptographicHash::hash(
        QByteArray(raw.data(), static_cast<qsizetype>(raw.size())), QCryptographicHash::Sha256);
    return "zorvek-" + hash.toHex().left(16).toStdString();
}

SingleInstance::SingleInstance(const std::filesystem::path& settingsFile,
                               std::filesystem::path runtimeFolder)
    : runtimeFolder_(std::move(runtimeFolder)), key_(keyFor(settingsFile)) {
    if (!runtimeFolder_.empty()) {
        folder_ = base::UniqueFd(
            ::open(runtimeFolder_.c_str(), O_PATH | O_DIRECTORY | O_NOFOLLOW | O_CLOEXEC));
        // The kernel finds the folder through the descriptor's entry in /proc,
        // so the address stays short whatever the folder's path.
        if (folder_.get() >= 0)
            address_ = "/proc/self/fd/" + std::to_string(folder_.get()) + "/" + key_;
    }
}

SingleInstance::~SingleInstance() {
    for (const auto& entry : connections_) ::close(static_cast<int>(entry.first->socket()));
    if (listener_.get() >= 0) (void)::unlinkat(folder_.get(), key_.c_str(), 0);
}

SingleInstance::Claim SingleInstance::claim(std::chrono::milliseconds patience) {
    if (runtimeFolder_.empty()) {
        report({ui::InstanceStep::NoPrivateFolder, 0, {}, {}});
        return Claim::Unguarded;
    }
    if (folder_.get() < 0) {
        report({ui::InstanceStep::OpenFolder, 0, runtimeFolder_.string(), {}});
        return Claim::Unguarded;
    }
    const std::string lockName = key_ + ".lock";
    const std::filesystem::path lockPath = runtimeFolder_ / lockName;
    base::UniqueFd lock(
        ::openat(folder_.get(), lockName.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (lock.get() < 0) {
        report({ui::InstanceStep::OpenLock, errno, lockPath.string(), {}});
        return Claim::Unguarded;
    }
    if (::flock(lock.get(), LOCK_EX | LOCK_NB) == 0) {
        lock_ = std::move(lock);
        listen();
        return Claim::First;
    }
    if (errno != EWOULDBLOCK) {
        report({ui::InstanceStep::Lock, errno, lockPath.string(), {}});
        return Claim::Unguarded;
    }
    if (askToShow(patience)) return Claim::HandedOver;
    report({ui::InstanceStep::NoAnswer, 0, {}, {}});
    return Claim::NoAnswer;
}

void SingleInstance::listen() {
    // Holding the lock, this start owns the name: a socket still there was
    // left by a start that was killed, and nobody answers on it.
    (void)::unlinkat(folder_.get(), key_.c_str(), 0);
    // The socket is bound through the folder's descriptor. Only the user can
    // enter the folder, so only the user can connect.
    const std::optional<sockaddr_un> address = socketAddress(address_);
    base::UniqueFd fd(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    const bool listening =
        address && fd.get() >= 0 &&
        ::bind(fd.get(), reinterpret_cast<const sockaddr*>(&*address), sizeof *address) == 0 &&
        ::listen(fd.get(), SOMAXCONN) == 0;
    if (!listening) {
        report({ui::InstanceStep::Listen, errno, (runtimeFolder_ / key_).string(), {}});
        return;
    }
    listener_ = std::move(fd);
    listening_ = new QSocketNotifier(listener_.get(), QSocketNotifier::Read, this);
    connect(listening_, &QSocketNotifier::activated, this, &SingleInstance::takeConnections);
}

void SingleInstance::takeConnections() {
    for (;;) {
        const int fd = ::accept4(listener_.get(), nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
        if (fd < 0) {
            if (errno == EINTR || errno == ECONNABORTED) continue;
            return;  // none waiting (EAGAIN), or out of descriptors until one is closed
        }
        auto* connection = new QSocketNotifier(fd, QSocketNotifier::Read, this);
        connections_.emplace(connection, Connection());
        connect(connection, &QSocketNotifier::activated, this,
                [this, connection] { readRequests(connection); });
        readRequests(connection);
    }
}

void SingleInstance::readRequests(QSocketNotifier* connection) {
    const auto found = connections_.find(connection);
    if (found == connections_.end()) return;
    std::string& pending = found->second.pending;
    std::string& token = found->second.token;
    const int fd = static_cast<int>(connection->socket());
    // The requests are collected first and announced once the connection is
    // dealt with, so that what a receiver does cannot pull it away mid-read.
    std::vector<std::string> requests;
    bool done = false;
    char bytes[256];
    while (!done) {
        const ssize_t got = ::recv(fd, bytes, sizeof bytes, 0);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
        // The other start is done (or the connection failed): the complete
        // lines it sent were taken.
        if (got <= 0) done = true;
        if (got > 0) pending.append(bytes, static_cast<size_t>(got));
        for (size_t end; (end = pending.find('\n')) != std::string::npos;) {
            const std::string_view line(pending.data(), end);
            if (line == kShowRequest) {
                requests.push_back(std::move(token));
                token.clear();
            } else if (line.substr(0, kTokenLine.size()) == kTokenLine) {
                token = line.substr(kTokenLine.size());
            }
            pending.erase(0, end + 1);
        }
        if (pending.size() > kLongestRequest) done = true;
    }
    if (done) drop(connection);
    for (const std::string& request : requests) emit showRequested(QString::fromStdString(request));
}

void SingleInstance::drop(QSocketNotifier* connection) {
    connections_.erase(connection);
    connection->setEnabled(false);
    ::close(static_cast<int>(connection->socket()));
    connection->deleteLater();
}

bool SingleInstance::askToShow(std::chrono::milliseconds patience) {
    // The start that holds the lock may not be listening yet; it is asked
    // again until the patience runs out. Once connected, the request waits in
    // the socket even while that program is busy with a probe, so nothing
    // here waits for the window itself.
    const std::optional<sockaddr_un> address = socketAddress(address_);
    if (!address) return false;
    std::string request;
    if (const std::string token = activationToken(); !token.empty())
        request.append(kTokenLine).append(token).append("\n");
    request.append(kShowRequest).append("\n");
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        const qint64 left = patience.count() - waited.elapsed();
        if (left <= 0) return false;
        base::UniqueFd socket(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0));
        if (socket.get() < 0) return false;
        // Bounds both the connection (a full backlog) and the request.
        const timeval bound{static_cast<time_t>(left / 1000),
                            static_cast<suseconds_t>(left % 1000 * 1000)};
        (void)::setsockopt(socket.get(), SOL_SOCKET, SO_SNDTIMEO, &bound, sizeof bound);
        if (::connect(socket.get(), reinterpret_cast<const sockaddr*>(&*address),
                      sizeof *address) == 0) {
            return sendAll(socket.get(), request);
        }
        QThread::msleep(20);
    }
}

}  // namespace zorvek::app
