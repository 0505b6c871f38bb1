// SPDX-License-Identifier: MIT
// One prober per program folder: the first start takes the folder, a second
// one asks it to show its window (a whole request line, and only that), other
// folders run side by side, and the runtime folder must be private to the
// user and never a name another user can take first. (A start killed outright and a long runtime
// folder path are covered end to end, in tests/e2e/single_instance_e2e.sh.)
#include <QtTest>

#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>
#include <QTemporaryDir>

#include <cstdlib>
#include <cstring>
#include <filesystem>

#include "app/single_instance.h"

using namespace zorvek;
using namespace zorvek::app;
using Claim = SingleInstance::Claim;

namespace {

std::filesystem::path pathOf(const QTemporaryDir& dir) { return dir.path().toStdString(); }

}  // namespace

class SingleInstanceTest : public QObject {
    Q_OBJECT
private slots:
    void aSecondStartOfTheFolderShowsTheFirst() {
        QTemporaryDir runtime;
        QTemporaryDir top;
        // A folder named in code page 932, as unpacked from a Japanese archive.
        const std::filesystem::path folder = pathOf(top) / "\x83\x65\x83\x58\x83\x67";
        std::filesystem::create_directory(folder);
        const std::filesystem::path other = pathOf(top) / "other";
        std::filesystem::create_directory(other);

        auto first = std::make_unique<SingleInstance>(folder, pathOf(runtime));
        QCOMPARE(first->claim(), Claim::First);
        QSignalSpy shown(first.get(), &SingleInstance::showRequested);
        {
            SingleInstance second(folder, pathOf(runtime));
            QCOMPARE(second.claim(), Claim::HandedOver);
            // The same folder named through a trailing dot is the same folder.
            SingleInstance third(folder / ".", pathOf(runtime));
            QCOMPARE(third.claim(), Claim::HandedOver);
        }
        QTRY_COMPARE(shown.count(), 2);
        SingleInstance elsewhere(other, pathOf(runtime));
        QCOMPARE(elsewhere.claim(), Claim::First);

        // Once the first has ended, the folder is free again.
        first.reset();
        SingleInstance next(folder, pathOf(runtime));
        QCOMPARE(next.claim(), Claim::First);
        std::filesystem::remove(folder);  // a name Qt cannot decode to remove it
    }

    // The activation token the second start's launcher gave it goes with its
    // request, so the first can pass it to the compositor; a start without
    // one asks without one, not with the token of the start before.
    void aSecondStartPassesItsActivationToken() {
        QTemporaryDir runtime;
        QTemporaryDir top;
        SingleInstance first(pathOf(top), pathOf(runtime));
        QCOMPARE(first.claim(), Claim::First);
        QSignalSpy shown(&first, &SingleInstance::showRequested);
        qputenv("XDG_ACTIVATION_TOKEN", "launcher-token-1");
        QCOMPARE(SingleInstance(pathOf(top), pathOf(runtime)).claim(), Claim::HandedOver);
        qunsetenv("XDG_ACTIVATION_TOKEN");
        QCOMPARE(SingleInstance(pathOf(top), pathOf(runtime)).claim(), Claim::HandedOver);
        QTRY_COMPARE(shown.count(), 2);
        QCOMPARE(shown.at(0).at(0).toString(), QStringLiteral("launcher-token-1"));
        QCOMPARE(shown.at(1).at(0).toString(), QString());
    }

    // The request is read as it arrives: one sent in pieces counts once, a
    // line that is no request of ours shows nothing, and a connection that
    // sends more than a request without ending the line is dropped.
    void onlyAWholeShowLineShowsTheWindow() {
        QTemporaryDir runtime;
        QTemporaryDir top;
        SingleInstance first(pathOf(top), pathOf(runtime));
        QCOMPARE(first.claim(), Claim::First);
        QSignalSpy shown(&first, &SingleInstance::showRequested);
        const QString address = runtime.path() + QStringLiteral("/") +
                                QString::fromStdString(SingleInstance::keyFor(pathOf(top)));
        auto connectTo = [&] {
            const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
            sockaddr_un to{};
            to.sun_family = AF_UNIX;
            const QByteArray path = address.toLocal8Bit();
            std::memcpy(to.sun_path, path.constData(), static_cast<size_t>(path.size()));
            if (::connect(fd, reinterpret_cast<const sockaddr*>(&to), sizeof to) != 0) {
                ::close(fd);
                return -1;
            }
            return fd;
        };
        const int pieces = connectTo();
        QVERIFY(pieces >= 0);
        QCOMPARE(::send(pieces, "sh", 2, MSG_NOSIGNAL), ssize_t(2));
        QTest::qWait(50);
        QCOMPARE(::send(pieces, "ow\nhide\n", 8, MSG_NOSIGNAL), ssize_t(8));
        QTRY_COMPARE(shown.count(), 1);
        ::close(pieces);

        const int junk = connectTo();
        QVERIFY(junk >= 0);
        const QByteArray endless(2000, 'x');
        QCOMPARE(
            ::send(junk, endless.constData(), static_cast<size_t>(endless.size()), MSG_NOSIGNAL),
            ssize_t(endless.size()));
        // Dropped: the other end sees the connection closed.
        char byte = 0;
        QTRY_COMPARE(::recv(junk, &byte, 1, MSG_DONTWAIT), ssize_t(0));
        ::close(junk);
        QCOMPARE(shown.count(), 1);
    }

    // Without a private $XDG_RUNTIME_DIR the lock and the socket live in a
    // private folder in the user's cache folder. Another user who took the
    // name in the temporary folder first (a folder, a link, a file of theirs)
    // cannot switch the rule off: a second start still hands over.
    void theRuntimeFolderIsPrivateAndTheUsersOwn() {
        QTemporaryDir xdg;
        QTemporaryDir temp;
        QTemporaryDir cache;
        qputenv("TMPDIR", temp.path().toLocal8Bit());
        qputenv("XDG_CACHE_HOME", cache.path().toLocal8Bit());
        qputenv("XDG_RUNTIME_DIR", xdg.path().toLocal8Bit());
        QCOMPARE(SingleInstance::defaultRuntimeFolder(), pathOf(xdg));
        ::chmod(xdg.path().toLocal8Bit().constData(), 0755);

        const std::filesystem::path own = pathOf(cache) / "zorvek" / "run";
        const std::filesystem::path squatted =
            pathOf(temp) / ("zorvek-" + std::to_string(::geteuid()));
        const uid_t other = ::geteuid() == 0 ? 65534 : ::geteuid();
        std::filesystem::create_directory(squatted);
        ::chmod(squatted.c_str(), 0777);
        QCOMPARE(::lchown(squatted.c_str(), other, other), 0);
        QCOMPARE(SingleInstance::defaultRuntimeFolder(), own);
        std::filesystem::remove(squatted);
        std::filesystem::create_symlink(pathOf(temp), squatted);
        QCOMPARE(::lchown(squatted.c_str(), other, other), 0);
        QCOMPARE(SingleInstance::defaultRuntimeFolder(), own);
        std::filesystem::remove(squatted);
        QFile file(QString::fromStdString(squatted.string()));
        QVERIFY(file.open(QIODevice::WriteOnly));
        file.close();
        QCOMPARE(::lchown(squatted.c_str(), other, other), 0);
        QCOMPARE(SingleInstance::defaultRuntimeFolder(), own);
        struct stat st {};
        QCOMPARE(::lstat(own.c_str(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
        {
            SingleInstance first(pathOf(temp), SingleInstance::defaultRuntimeFolder());
            QCOMPARE(first.claim(), Claim::First);
            SingleInstance second(pathOf(temp), SingleInstance::defaultRuntimeFolder());
            QCOMPARE(second.claim(), Claim::HandedOver);
        }

        // One that others may enter, or a link in its place, is not used:
        // then there is no guard at all.
        ::chmod(own.c_str(), 0777);
        QCOMPARE(SingleInstance::defaultRuntimeFolder(), std::filesystem::path());
        std::filesystem::remove_all(own);
        std::filesystem::create_symlink(pathOf(xdg), own);
        QCOMPARE(SingleInstance::defaultRuntimeFolder(), std::filesystem::path());
        SingleInstance unguarded(pathOf(temp), {});
        QCOMPARE(unguarded.claim(), Claim::Unguarded);
        qunsetenv("TMPDIR");
        qunsetenv("XDG_CACHE_HOME");
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "single_instance_qtest.moc"
