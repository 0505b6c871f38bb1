// SPDX-License-Identifier: MIT
// The Qt shell layer: the record's hIcon picks the picture, the tip comes
// from the record's code page 932 bytes, delete hides the icon, and Qt's
// activation reasons map to the action codes the program decodes.
#include <QtTest>

#include "tray/tray_icon.h"
#include "tray/tray_shell_qt.h"

using namespace zorvek;
using namespace zorvek::tray;

class TrayShellTest : public QObject {
    Q_OBJECT
private slots:
    void operationsDriveTheIcon() {
        QtTrayShell shell;
        QPixmap red(16, 16);
        red.fill(Qt::red);
        QPixmap blue(16, 16);
        blue.fill(Qt::blue);
        shell.registerPicture(1, QIcon(red));
        shell.registerPicture(2, QIcon(blue));
        std::string state = "0";
        TrayIconRecord record;
        TrayIcon icon(record, shell, state);

        icon.add(7, "Zorvek-自動Pinging", 1);
        QVERIFY(shell.icon().isVisible());
        QCOMPARE(shell.icon().toolTip(), QStringLiteral("Zorvek-自動Pinging"));
        QCOMPARE(shell.icon().icon().pixmap(16, 16).toImage().pixelColor(8, 8), QColor(Qt::red));

        icon.setTrayIconState(1, 1, 2);
        QCOMPARE(shell.icon().icon().pixmap(16, 16).toImage().pixelColor(8, 8), QColor(Qt::blue));
        QCOMPARE(shell.icon().toolTip(), QStringLiteral("Zorvek-自動Pinging"));
        icon.setTrayIconState(0, 1, 2);
        QCOMPARE(shell.icon().icon().pixmap(16, 16).toImage().pixelColor(8, 8), QColor(Qt::red));

        icon.remove();
        QVERIFY(!shell.icon().isVisible());
    }

    void longTipsAreCutOnACharacterBoundary() {
        TrayIconRecord record;
        record.setTip(std::string(30, 'x') + "自動自動自動自動自動自動自動自動自動");
        const QString tip = QtTrayShell::tipOf(record);
        // 30 single bytes and 17 double-byte characters make 64 bytes.
        QCOMPARE(tip, QString(30, QLatin1Char('x')) +
                          QStringLiteral("自動自動自動自動自動自動自動自動自"));
    }

    void reasonsBecomeActionCodes() {
        QCOMPARE(QtTrayShell::codeForReason(QSystemTrayIcon::Trigger), WM_LBUTTONDOWN);
        QCOMPARE(QtTrayShell::codeForReason(QSystemTrayIcon::Context), WM_RBUTTONDOWN);
        QCOMPARE(QtTrayShell::codeForReason(QSystemTrayIcon::DoubleClick), WM_LBUTTONDBLCLK);
        QCOMPARE(QtTrayShell::codeForReason(QSystemTrayIcon::MiddleClick), WM_MBUTTONDOWN);
        QCOMPARE(QtTrayShell::codeForReason(QSystemTrayIcon::Unknown), 0);
        QtTrayShell shell;
        QSignalSpy actions(&shell, &QtTrayShell::action);
        emit shell.icon().activated(QSystemTrayIcon::Context);
        QCOMPARE(actions.count(), 1);
        QCOMPARE(actions[0][0].toInt(), WM_RBUTTONDOWN);
    }
};

QTEST_MAIN(TrayShellTest)
#include "tray_shell_qtest.moc"
