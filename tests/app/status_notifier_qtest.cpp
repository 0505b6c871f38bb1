// SPDX-License-Identifier: MIT
// The real program and a panel's StatusNotifierWatcher on a private session
// bus, the watcher started after the program or before it: the item
// registers with it, once, exports the tray menu (設定, 終了) for the panel to
// draw, registers again with a new watcher that takes the name over (a panel
// restarting), and the menu's 終了 chosen over the bus ends the program.
// Needs an X display (DISPLAY; the test command provides a private Xvfb).
#include <QtTest>

#include <QDBusConnection>
#include <QDBusConnectionInterface>
#include <QDBusMessage>
#include <QDBusPendingCall>
#include <QDeadlineTimer>
#include <QProcess>
#include <QScopeGuard>
#include <QTemporaryDir>
#include <cstdio>
#include <cstdlib>
#include <memory>

#include "tray/status_notifier_qt.h"

using namespace zorvek;
using namespace zorvek::tray;

namespace {

const QString kWatcherName = QStringLiteral("org.kde.StatusNotifierWatcher");

// A panel's watcher, as far as an item needs one: it takes registrations.
class FakeWatcher : public QObject {
    Q_OBJECT
    Q_CLASSINFO("D-Bus Interface", "org.kde.StatusNotifierWatcher")
    Q_PROPERTY(QStringList RegisteredStatusNotifierItems READ items)
    Q_PROPERTY(bool IsStatusNotifierHostRegistered READ hostRegistered)
    Q_PROPERTY(int ProtocolVersion READ protocolVersion)
public:
    QStringList items() const { return items_; }
    bool hostRegistered() const { return true; }
    int protocolVersion() const { return 0; }
    QStringList items_;

public slots:
    void RegisterStatusNotifierItem(const QString& service) { items_ << service; }
    void RegisterStatusNotifierHost(const QString&) {}
};

// A watcher on its own connection to the bus, owning the watcher's name.
struct Panel {
    QDBusConnection bus;
    FakeWatcher watcher;
    Panel(const QString& address, const QString& name)
        : bus(QDBusConnection::connectToBus(address, name)) {
        bus.registerObject(QStringLiteral("/StatusNotifierWatcher"), &watcher,
                           QDBusConnection::ExportAllSlots | QDBusConnection::ExportAllProperties);
    }
    bool takeName() { return bus.registerService(kWatcherName); }
};

// Calls and waits for the answer with the test's own event loop running, so
// that the test's watchers can answer the program meanwhile; the program
// starts under the sanitizers on a loaded machine, so the wait is long.
QDBusMessage callAndWait(const QDBusConnection& bus, const QDBusMessage& call) {
    QDBusPendingCall pending = bus.asyncCall(call, 30000);
    QDeadlineTimer deadline(30000);
    while (!pending.isFinished() && !deadline.hasExpired())
        QCoreApplication::processEvents(QEventLoop::AllEvents, 20);
    pending.waitForFinished();
    return pending.reply();
}

QVariant busProperty(const QDBusConnection& bus, const QString& service, const QString& path,
                     const QString& interface, const QString& name) {
    QDBusMessage call = QDBusMessage::createMethodCall(
        service, path, QStringLiteral("org.freedesktop.DBus.Properties"), QStringLiteral("Get"));
    call << interface << name;
    const QDBusMessage reply = callAndWait(bus, call);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().isEmpty()) return {};
    return qdbus_cast<QDBusVariant>(reply.arguments().first()).variant();
}

// A private session bus and the real program started on it, in a folder of
// its own, on the test's X display.
struct Session {
    QTemporaryDir dir;
    QProcess daemon;
    QString address;
    QProcess program;

    Session() {
        QFile::copy(QStringLiteral(ZORVEK_APP), dir.filePath(QStringLiteral("zorvek")));
        QFile::copy(QStringLiteral(ZORVEK_LIBRARY),
                    dir.filePath(QFileInfo(QStringLiteral(ZORVEK_LIBRARY)).fileName()));
        QDir(dir.path()).mkdir(QStringLiteral("xdg"));
        QFile::setPermissions(dir.filePath(QStringLiteral("xdg")), QFileDevice::ReadOwner |
                                                                       QFileDevice::WriteOwner |
                                                                       QFileDevice::ExeOwner);
        daemon.start(QStringLiteral("dbus-daemon"),
                     {QStringLiteral("--session"), QStringLiteral("--nofork"),
                      QStringLiteral("--print-address")});
        if (daemon.waitForReadyRead(10000))
            address = QString::fromUtf8(daemon.readLine()).trimmed();
    }
    ~Session() {
        program.kill();
        program.waitForFinished();
        daemon.kill();
        daemon.waitForFinished();
    }
    void startProgram() {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.remove(QStringLiteral("QT_QPA_PLATFORM"));
        env.insert(QStringLiteral("DBUS_SESSION_BUS_ADDRESS"), address);
        env.insert(QStringLiteral("XDG_RUNTIME_DIR"), dir.filePath(QStringLiteral("xdg")));
        program.setProcessEnvironment(env);
        program.setProcessChannelMode(QProcess::MergedChannels);
        program.start(dir.filePath(QStringLiteral("zorvek")), {});
    }
};

// The labels of the item's exported menu, and the id of 終了.
QStringList menuLabels(const QDBusConnection& bus, const QString& item, int& quitId) {
    const QString menu =
        qdbus_cast<QDBusObjectPath>(busProperty(bus, item, QStringLiteral("/StatusNotifierItem"),
                                                QStringLiteral("org.kde.StatusNotifierItem"),
                                                QStringLiteral("Menu")))
            .path();
    if (menu.isEmpty() || menu == QLatin1String("/NO_DBUSMENU"))
        return {QStringLiteral("Menu: ") + menu};
    QDBusMessage getLayout = QDBusMessage::createMethodCall(
        item, menu, QStringLiteral("com.canonical.dbusmenu"), QStringLiteral("GetLayout"));
    getLayout << 0 << -1 << QStringList();
    const QDBusMessage reply = callAndWait(bus, getLayout);
    if (reply.type() != QDBusMessage::ReplyMessage || reply.arguments().size() != 2)
        return {reply.errorName(), reply.errorMessage()};
    QStringList labels;
    for (const MenuLayout& entry : qdbus_cast<MenuLayout>(reply.arguments().at(1)).children) {
        labels << entry.properties.value(QStringLiteral("label")).toString();
        if (labels.last() == QStringLiteral("終了")) quitId = entry.id;
    }
    return labels;
}

// Chooses 終了 in the item's menu as a panel does, and checks that the
// program ends at once with status 0 and nothing on standard error.
void quitThroughTheMenu(Session& session, const QDBusConnection& bus, const QString& item,
                        int quitId) {
    QDBusMessage event = QDBusMessage::createMethodCall(item, QStringLiteral("/MenuBar"),
                                                        QStringLiteral("com.canonical.dbusmenu"),
                                                        QStringLiteral("Event"));
    event << quitId << QStringLiteral("clicked") << QVariant::fromValue(QDBusVariant(0)) << 0u;
    const QDBusMessage reply = callAndWait(bus, event);
    QVERIFY2(reply.type() == QDBusMessage::ReplyMessage,
             qPrintable(reply.errorName() + QLatin1Char(' ') + reply.errorMessage()));
    // It may have ended, and been seen to end, while the reply came back.
    QVERIFY(session.program.state() == QProcess::NotRunning ||
            session.program.waitForFinished(10000));
    QCOMPARE(session.program.exitStatus(), QProcess::NormalExit);
    QCOMPARE(session.program.exitCode(), 0);
    const QByteArray output = session.program.readAll();
    QVERIFY2(output.isEmpty(), output.constData());
}

}  // namespace

class StatusNotifierTest : public QObject {
    Q_OBJECT
private slots:
    // The panel starts after the program, then restarts.
    void lateAndRestartedWatchersGetTheItem() {
        Session session;
        QVERIFY(!session.address.isEmpty());
        QDBusConnection bus =
            QDBusConnection::connectToBus(session.address, QStringLiteral("late"));
        session.startProgram();
        QVERIFY(session.program.waitForStarted());

        // The program is up, its item exported, before any watcher is there.
        QString item;
        const auto findItem = [&] {
            for (const QString& name : bus.interface()->registeredServiceNames().value()) {
                if (!name.startsWith(QLatin1Char(':')) || name == bus.baseService()) continue;
                if (busProperty(bus, name, QStringLiteral("/StatusNotifierItem"),
                                QStringLiteral("org.kde.StatusNotifierItem"), QStringLiteral("Id"))
                        .isValid())
                    item = name;
            }
            return !item.isEmpty();
        };
        QTRY_VERIFY_WITH_TIMEOUT(findItem(), 20000);

        Panel first(session.address, QStringLiteral("first panel"));
        QVERIFY(first.takeName());
        QTRY_COMPARE_WITH_TIMEOUT(first.watcher.items_, QStringList{item}, 10000);
        int quitId = -1;
        QCOMPARE(menuLabels(bus, item, quitId),
                 QStringList({QStringLiteral("設定"), QStringLiteral("終了")}));

        // The panel restarts: a new watcher takes the name, the item comes back.
        first.bus.unregisterService(kWatcherName);
        Panel second(session.address, QStringLiteral("second panel"));
        QVERIFY(second.takeName());
        QTRY_COMPARE_WITH_TIMEOUT(second.watcher.items_, QStringList{item}, 10000);
        quitThroughTheMenu(session, bus, item, quitId);
    }

    // The panel is there first, as after logging in: one item, Qt's own
    // D-Bus icon never beside it, also once the panel has restarted.
    void aWatcherAtStartGetsOneItem() {
        Session session;
        QVERIFY(!session.address.isEmpty());
        QDBusConnection bus =
            QDBusConnection::connectToBus(session.address, QStringLiteral("early"));
        Panel first(session.address, QStringLiteral("early first panel"));
        QVERIFY(first.takeName());
        session.startProgram();
        QVERIFY(session.program.waitForStarted());
        QTRY_COMPARE_WITH_TIMEOUT(first.watcher.items_.size(), 1, 20000);
        const QString item = first.watcher.items_.first();
        int quitId = -1;
        QCOMPARE(menuLabels(bus, item, quitId),
                 QStringList({QStringLiteral("設定"), QStringLiteral("終了")}));
        first.bus.unregisterService(kWatcherName);
        QTest::qWait(300);
        Panel second(session.address, QStringLiteral("early second panel"));
        QVERIFY(second.takeName());
        QTRY_COMPARE_WITH_TIMEOUT(second.watcher.items_, QStringList{item}, 10000);
        QTest::qWait(500);
        QCOMPARE(first.watcher.items_, QStringList{item});
        QCOMPARE(second.watcher.items_, QStringList{item});
        quitThroughTheMenu(session, bus, item, quitId);
    }
};

int main(int argc, char** argv) {
    if (std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "needs an X display (DISPLAY); skipped\n");
        return 77;
    }
    QApplication app(argc, argv);
    StatusNotifierTest test;
    return QTest::qExec(&test, argc, argv);
}

#include "status_notifier_qtest.moc"
