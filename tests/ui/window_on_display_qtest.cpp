// SPDX-License-Identifier: MIT
// The window on a real X display: the Japanese texts are drawn in Japanese
// faces, the fixed-pitch Latin label in a Latin fixed-pitch face, Image1 is
// never drawn, and a long log on the screen is what the list paints. Needs
// DISPLAY (the test command provides a private Xvfb).
#include <QtTest>

#include <QCursor>
#include <QFontDatabase>
#include <QFontInfo>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScreen>
#include <cstdlib>

#include "app/window_pictures.h"
#include "ui/log_list.h"
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

    void longLogOnScreenIsWhatTheListPaints() {
        // Past the lines the list shows, an append paints only the newest line
        // and has the X server move the others up; the screen must then show
        // what painting the whole list shows, the selected line included.
        zorvek::ui::SetPing window;
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QCursor::setPos(window.screen()->geometry().bottomRight());  // no line under the pointer
        zorvek::ui::LogList* list = window.List1;
        const auto log = [list](int i) {
            list->appendLine(i % 2 == 0 ? QStringLiteral("2026/12/07 23:30:%1").arg(i / 2 + 10)
                                        : QStringLiteral("--------------------成功しました(0)"));
            QCoreApplication::processEvents();  // a turn of the event loop per line, as in a probe
        };
        for (int i = 0; i < 60; ++i) log(i);
        list->setCurrentIndex(list->model()->index(55, 0));
        for (int i = 60; i < 64; ++i) log(i);
        QCoreApplication::sendPostedEvents();
        QWidget* viewport = list->viewport();
        const QPoint at = viewport->mapTo(&window, QPoint(0, 0));
        const QImage onScreen =
            window.screen()
                ->grabWindow(window.winId(), at.x(), at.y(), viewport->width(), viewport->height())
                .toImage()
                .convertToFormat(QImage::Format_RGB32);
        QCOMPARE(onScreen, viewport->grab().toImage().convertToFormat(QImage::Format_RGB32));
    }
};

int main(int argc, char** argv) {
    if (std::getenv("DISPLAY") == nullptr) {
        std::fprintf(stderr, "needs an X display (DISPLAY); skipped\n");
        return 77;
    }
    qputenv("QT_QPA_PLATFORM", "xcb");
    zorvek::app::sendWindowPicturesOnTheConnection();  // as the program does
    QApplication app(argc, argv);
    WindowOnDisplayTest test;
    return QTest::qExec(&test, argc, argv);
}
#include "window_on_display_qtest.moc"
