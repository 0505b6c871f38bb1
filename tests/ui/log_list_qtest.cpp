// SPDX-License-Identifier: MIT
// The log list lays every line out with one size: it must still fit the widest
// and tallest line, and the newest line must be in view once a list that grew
// while hidden is shown.
#include <QtTest>

#include <QScrollBar>

#include "ui/log_list.h"

using zorvek::ui::LogList;

class LogListTest : public QObject {
    Q_OBJECT
private slots:
    void oneSizeFitsTheLargestLine() {
        LogList list;
        list.resize(200, 120);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        const QString wide =
            QStringLiteral("--------------------WinSock version 1.1 がサポートされていません(-5)");
        list.appendLine(QStringLiteral("12:00:00"));
        list.appendLine(wide);
        list.appendLine(QStringLiteral("12:00:01"));  // the last line is the short one
        QCoreApplication::processEvents();
        const QRect first = list.visualRect(list.model()->index(0, 0));
        const QRect widest = list.visualRect(list.model()->index(1, 0));
        QCOMPARE(first.height(), widest.height());
        QVERIFY(widest.width() >= list.fontMetrics().horizontalAdvance(wide));
        QVERIFY2(list.horizontalScrollBar()->maximum() > 0, "the wide line can be scrolled to");

        list.clear();
        QCOMPARE(list.lineSize(), QSize(0, 0));
        list.appendLine(QStringLiteral("12:00:02"));
        QVERIFY(list.lineSize().width() < list.fontMetrics().horizontalAdvance(wide));
    }

    void listGrownWhileHiddenShowsItsNewestLine() {
        QWidget window;
        auto* list = new LogList(&window);
        list->setGeometry(0, 0, 200, 120);
        for (int i = 0; i < 300; ++i) list->appendLine(QString::number(i));
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        const QModelIndex last = list->model()->index(299, 0);
        QTRY_VERIFY(list->viewport()->rect().contains(list->visualRect(last)));
        // Shown, each new line is scrolled to at once.
        list->appendLine(QStringLiteral("300"));
        QVERIFY(list->viewport()->rect().contains(list->visualRect(list->model()->index(300, 0))));
    }
};

QTEST_MAIN(LogListTest)
#include "log_list_qtest.moc"
