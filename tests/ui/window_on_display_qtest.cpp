// SPDX-License-Identifier: MIT
// The window on a real X display: the Japanese texts are drawn in Japanese
// faces, the fixed-pitch Latin label in a Latin fixed-pitch face, and Image1 is
// never drawn. Needs DISPLAY (the test command provides a private Xvfb).
#include <QtTest>

#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <cstdlib>

#include "ui/set_ping.h"

class WindowOnDisplayTest : public QObject {
    Q_OBJECT
private slots:
    void japaneseFacesAreUsed() {
        zorvek::ui::SetPing window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QString gothic = QFontInfo(window.Text1(0)->font()).family();
        const QString pgothic = QFontInfo(window.List1->font()).family();
        const QString latin = QFontInfo(window.version->font()).family();
        QCOMPARE(gothic, QStringLiteral("IPAGothic"));
        QCOMPARE(QFontInfo(window.CmdSave->font()).family(), QStringLiteral("IPAGothic"));
        QCOMPARE(pgothic, QStringLiteral("IPAPGothic"));
        QCOMPARE(latin, QStringLiteral("Liberation Mono"));
        QVERIFY(QFontInfo(window.version->font()).bold());
        QVERIFY(QFontInfo(window.version->font()).italic());
        // The face can draw every character of the captions.
        const QFontMetrics metrics(window.Label1(0)->font());
        for (const QChar c : window.Label1(0)->text()) QVERIFY(metrics.inFont(c));
    }

    void image1IsNeverDrawn() {
        zorvek::ui::SetPing window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(!window.Image1->isVisible());
        // Nothing pink anywhere on the window's own picture of itself.
        const QImage grab = window.grab().toImage();
        for (int y = 0; y < grab.height(); ++y)
            for (int x = 0; x < grab.width(); ++x)
                QVERIFY(grab.pixelColor(x, y) != QColor(255, 0, 204));
        window.hide();
        QVERIFY(!window.Image1->isVisible());
    }
};

int main(int argc, char** argv) {
    if (std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "needs an X display (DISPLAY); skipped\n");
        return 77;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    QApplication app(argc, argv);
    WindowOnDisplayTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "window_on_display_qtest.moc"
