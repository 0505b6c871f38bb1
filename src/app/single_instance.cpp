// SPDX-License-Identifier: MIT
#include "app/single_instance.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>
#include <QCryptographicHash>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstdlib>

namespace zorvek {
namespace {

// The one request a start sends: show the window.
constexpr char kShowRequest[] = "show\n";
// Longer lines are no request of ours; the connection is dropped.
constexpr qint64 kLongestRequest = 64;

// A folder of ours that no other user can enter or change: not a link, owned
// by us, with no rights for group and others.
bool isPrivateFolder(const std::filesystem::path& folder) {
    struct stat st {};
    if (::lstat(folder.c_str(), &st) != 0) return false;
    return S_ISDIR(st.st_mode) && st.st_uid == ::geteuid() && (st.st_mode & 077) == 0;
}

QString nativeName(const std::filesystem::path& path) {
    return QFile::decodeName(QByteArray::fromStdString(path.native()));
}

}  // namespace

std::filesystem::path SingleInstance::defaultRuntimeFolder() {
    if (const char* runtime = std::getenv("XDG_RUNTIME_DIR"); runtime != nullptr && *runtime != 0) {
        if (isPrivateFolder(runtime)) return runtime;
    }
    std::error_code ec;
    const std::filesystem::path temp = std::filesystem::temp_directory_path(ec);
    if (ec) return {};
    const std::filesystem::path own = temp / ("zorvek-" + std::to_string(::geteuid()));
    // Made private from the start; an existing one counts only if it is ours
    // and private already (somebody else may have made it first).
    (void)::mkdir(own.c_str(), 0700);
    return isPrivateFolder(own) ? own : std::filesystem::path();
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
    if (!runtimeFolder_.empty()) serverName_ = nativeName(runtimeFolder_ / key_);
    connect(&server_, &QLocalServer::newConnection, this, &SingleInstance::takeConnections);
}

SingleInstance::Claim SingleInstance::claim(std::chrono::milliseconds patience) {
    if (runtimeFolder_.empty()) {
        std::fprintf(stderr, "zorvek: no private runtime folder; a second start is not detected\n");
        return Claim::Unguarded;
    }
    const std::filesystem::path lockPath = runtimeFolder_ / (key_ + ".lock");
    UniqueFd lock(::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600));
    if (lock.get() < 0) {
        std::fprintf(stderr, "zorvek: cannot open %s; a second start is not detected\n",
                     lockPath.c_str());
        return Claim::Unguarded;
    }
    if (::flock(lock.get(), LOCK_EX | LOCK_NB) == 0) {
        lock_ = std::move(lock);
        listen();
        return Claim::First;
    }
    if (errno != EWOULDBLOCK) {
        std::fprintf(stderr, "zorvek: cannot lock %s; a second start is not detected\n",
                     lockPath.c_str());
        return Claim::Unguarded;
    }
    if (askToShow(patience)) return Claim::HandedOver;
    std::fprintf(stderr, "zorvek: already running from this folder, but it does not answer\n");
    return Claim::NoAnswer;
}

void SingleInstance::listen() {
    // Holding the lock, this start owns the name: a socket still there was
    // left by a start that was killed, and nobody answers on it.
    QLocalServer::removeServer(serverName_);
    server_.setSocketOptions(QLocalServer::UserAccessOption);
    if (!server_.listen(serverName_)) {
        std::fprintf(stderr,
                     "zorvek: cannot listen on %s (%s); a second start cannot show this one\n",
                     qPrintable(serverName_), qPrintable(server_.errorString()));
    }
}

void SingleInstance::takeConnections() {
    while (QLocalSocket* socket = server_.nextPendingConnection()) {
        connect(socket, &QLocalSocket::readyRead, this, [this, socket] { readRequests(socket); });
        connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        readRequests(socket);
    }
}

void SingleInstance::readRequests(QLocalSocket* socket) {
    while (socket->canReadLine()) {
        const QByteArray line = socket->readLine(kLongestRequest + 1);
        if (line == kShowRequest) emit showRequested();
    }
    if (socket->bytesAvailable() > kLongestRequest) socket->abort();
}

bool SingleInstance::askToShow(std::chrono::milliseconds patience) {
    // The start that holds the lock may not be listening yet; it is asked
    // again until the patience runs out. Once connected, the request waits in
    // the socket even while that program is busy with a probe, so nothing
    // here waits for the window itself.
    QElapsedTimer waited;
    waited.start();
    for (;;) {
        const int left = static_cast<int>(patience.count() - waited.elapsed());
        if (left <= 0) return false;
        QLocalSocket socket;
        socket.connectToServer(serverName_);
        if (socket.waitForConnected(left)) {
            socket.write(kShowRequest);
            const bool sent = socket.waitForBytesWritten(std::max(left, 1));
            socket.disconnectFromServer();
            return sent;
        }
        QThread::msleep(20);
    }
}

}  // namespace zorvek
