// SPDX-License-Identifier: MIT
// One prober per program folder: the first start takes the folder, a second
// one asks it to show its window, other folders run side by side, a socket
// left by a killed start does not block, and the runtime folder must be
// private to the user.
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
using Claim = SingleInstance::Claim;

namespace {

std::filesystem::path pathOf(const QTemporaryDir& dir) { return dir.path().toStdString(); }

// What a killed start leaves behind: a socket file nobody listens on.
void leaveStaleSocket(const std::filesystem::path& path) {
    const int fd = ::socket(AF_UNIX, SOCK_STREAM, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof(address.sun_path) - 1);
    QCOMPARE(::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof(address)), 0);
    ::close(fd);
}

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

    void aSocketLeftByAKilledStartDoesNotBlock() {
        QTemporaryDir runtime;
        QTemporaryDir folder;
        leaveStaleSocket(pathOf(runtime) / SingleInstance::keyFor(pathOf(folder)));
        SingleInstance first(pathOf(folder), pathOf(runtime));
        QCOMPARE(first.claim(), Claim::First);
        QSignalSpy shown(&first, &SingleInstance::showRequested);
        SingleInstance second(pathOf(folder), pathOf(runtime));
        QCOMPARE(second.claim(), Claim::HandedOver);
        QTRY_COMPARE(shown.count(), 1);
    }

    void theRuntimeFolderIsPrivateOrNotUsed() {
        QTemporaryDir xdg;
        QTemporaryDir temp;
        qputenv("TMPDIR", temp.path().toLocal8Bit());
        qputenv("XDG_RUNTIME_DIR", xdg.path().toLocal8Bit());
        QCOMPARE(SingleInstance::defaultRuntimeFolder(), pathOf(xdg));
        // One that others may enter is passed over for a private folder of
        // our own in the temporary folder.
        ::chmod(xdg.path().toLocal8Bit().constData(), 0755);
        const std::filesystem::path own = pathOf(temp) / ("zorvek-" + std::to_string(::geteuid()));
        QCOMPARE(SingleInstance::defaultRuntimeFolder(), own);
        struct stat st {};
        QCOMPARE(::stat(own.c_str(), &st), 0);
        QCOMPARE(st.st_mode & 0777, 0700u);
        // If that one is not private either, there is no guard at all.
        ::chmod(own.c_str(), 0777);
        QCOMPARE(SingleInstance::defaultRuntimeFolder(), std::filesystem::path());
        SingleInstance unguarded(pathOf(temp), {});
        QCOMPARE(unguarded.claim(), Claim::Unguarded);
        qunsetenv("TMPDIR");
    }
};

QTEST_GUILESS_MAIN(SingleInstanceTest)
#include "single_instance_qtest.moc"
