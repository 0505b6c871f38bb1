// SPDX-License-Identifier: MIT
// The log list computes its own geometry (row r at r times the line height)
// and paints only what an append changes. It must still fit the widest and
// tallest line, keep the newest line in view (also once a list that grew while
// hidden is shown), agree with itself on where each row is, move and select as
// a list box does, and let the horizontal scroll bar reach the end of a long
// line, also where lines differ only in their digits. A full list drops its
// oldest lines and keeps the newest.
#include <QtTest>

#include <QFontInfo>
#include <QPaintEvent>
#include <QScrollBar>

#include "ui/log_list.h"

using zorvek::ui::LogLines;
using zorvek::ui::LogList;

namespace {

constexpr int kPageUp = -1;
constexpr int kPageDown = -2;

void fill(LogList& list, int lines) {
    for (int i = list.count(); i < lines; ++i) list.appendLine(QStringLiteral("line %1").arg(i));
}

// Records the region painted on the widget it watches.
class PaintLog : public QObject {
public:
    QRegion painted;

    // Turns the event loop until a turn paints nothing, and forgets what was painted.
    void settle() {
        for (int turn = 0; turn < 100; ++turn) {
            painted = QRegion();
            QCoreApplication::processEvents();
            if (painted.isEmpty()) return;
        }
    }

    bool eventFilter(QObject*, QEvent* event) override {
        if (event->type() == QEvent::Paint) painted += static_cast<QPaintEvent*>(event)->region();
        return false;
    }
};

// Lays out a line as the list's delegate would be asked to.
class ExposedList : public LogList {
public:
    QSize delegateSize(int row) {
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        return itemDelegate()->sizeHint(option, model()->index(row, 0));
    }
};

}  // namespace

class LogListTest : public QObject {
    Q_OBJECT
private slots:
    void oneSizeFitsTheLargestLine() {
        ExposedList list;
        list.resize(200, 120);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        const QString wide =
            QStringLiteral("--------------------WinSock version 1.1 がサポートされていません(-5)");
        list.appendLine(QStringLiteral("12:00:00"));
        list.appendLine(wide.left(46));  // the same scripts as the wide line, shorter
        list.appendLine(wide);
        list.appendLine(QStringLiteral("12:00:01"));  // the last line is the short one
        QCoreApplication::processEvents();
        const QRect first = list.visualRect(list.model()->index(0, 0));
        const QRect widest = list.visualRect(list.model()->index(2, 0));
        QCOMPARE(first.height(), widest.height());
        // The wide line is measured from the font, as wide as the delegate lays it out.
        QCOMPARE(list.lineSize(), list.delegateSize(2).expandedTo(list.delegateSize(0)));
        QVERIFY2(list.horizontalScrollBar()->maximum() > 0, "the wide line can be scrolled to");

        // At the end of the horizontal scroll bar the end of the wide line is in view.
        list.horizontalScrollBar()->setValue(list.horizontalScrollBar()->maximum());
        const QRect scrolled = list.visualRect(list.model()->index(2, 0));
        QVERIFY(scrolled.left() < 0);
        QVERIFY(scrolled.left() + list.fontMetrics().horizontalAdvance(wide) <=
                list.viewport()->width());

        list.clear();
        QCOMPARE(list.lineSize(), QSize(0, 0));
        list.appendLine(QStringLiteral("12:00:02"));
        QVERIFY(list.lineSize().width() < list.fontMetrics().horizontalAdvance(wide));
    }

    void timeStampsDifferingInDigitsAreMeasuredInEachFont() {
        // Successive time stamps differ only in their digits. DejaVu Sans sets
        // every digit alike; Liberation Sans kerns "11", so there "00:00:00"
        // is wider than "11:11:11" although each digit alone is as wide.
        for (const QString& family :
             {QStringLiteral("DejaVu Sans"), QStringLiteral("Liberation Sans")}) {
            ExposedList list;
            list.setFont(QFont(family));
            QCOMPARE(QFontInfo(list.font()).family(), family);  // installed by scripts/setup
            list.appendLine(QStringLiteral("2026/12/07 11:11:11"));
            list.appendLine(QStringLiteral("2026/12/07 00:00:00"));
            QCOMPARE(list.lineSize(), list.delegateSize(1).expandedTo(list.delegateSize(0)));
        }
    }

    void fullListDropsItsOldestLines() {
        LogList list;
        fill(list, LogLines::kMostLines);
        list.setCurrentIndex(list.model()->index(50000, 0));
        list.appendLine(QStringLiteral("newest"));
        QCOMPARE(list.count(), LogLines::kMostLines - LogLines::kDropped + 1);
        QCOMPARE(list.line(0), QStringLiteral("line %1").arg(LogLines::kDropped));
        QCOMPARE(list.line(list.count() - 1), QStringLiteral("newest"));
        // The selected line stays selected where it moved to.
        const QModelIndex current = list.currentIndex();
        QCOMPARE(list.line(current.row()), QStringLiteral("line 50000"));
        QCOMPARE(list.selectionModel()->selectedIndexes(), QModelIndexList{current});
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

    void rowsFollowTheirNumberAndTheRangeTheRows() {
        LogList list;
        list.resize(200, 120);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        fill(list, 300);
        const int h = list.lineSize().height();
        const QRect view = list.viewport()->rect();
        QScrollBar* bar = list.verticalScrollBar();
        QCOMPARE(bar->maximum(), 300 * h - view.height());
        QCOMPARE(bar->value(), bar->maximum());
        // Every row in view is where indexAt finds it, right below the one before.
        for (int row = 299; list.visualRect(list.model()->index(row, 0)).bottom() >= 0; --row) {
            const QModelIndex index = list.model()->index(row, 0);
            const QRect rect = list.visualRect(index);
            QCOMPARE(rect.height(), h);
            QCOMPARE(list.visualRect(list.model()->index(row - 1, 0)).bottom(), rect.top() - 1);
            for (const QPoint& at : {rect.topLeft(), rect.center(), rect.bottomRight()}) {
                if (view.contains(at)) QCOMPARE(list.indexAt(at), index);
            }
        }
        // Fewer lines than fit: no range, and nothing below the last line.
        list.model()->removeRows(5, 295);
        QCOMPARE(bar->maximum(), 0);
        QVERIFY(list.indexAt(QPoint(1, 5 * h - 1)).isValid());
        QVERIFY(!list.indexAt(QPoint(1, 5 * h)).isValid());
    }

    void keysMoveAsInAListBox_data() {
        QTest::addColumn<QList<int>>("keys");
        QTest::addColumn<int>("row");  // from row 50; kPageUp, kPageDown: a page away
        QTest::newRow("up") << QList<int>{Qt::Key_Up} << 49;
        QTest::newRow("down") << QList<int>{Qt::Key_Down} << 51;
        QTest::newRow("home") << QList<int>{Qt::Key_Home} << 0;
        QTest::newRow("end") << QList<int>{Qt::Key_End} << 99;
        QTest::newRow("up at the top") << QList<int>{Qt::Key_Home, Qt::Key_Up} << 0;
        QTest::newRow("down at the end") << QList<int>{Qt::Key_End, Qt::Key_Down} << 99;
        QTest::newRow("page up") << QList<int>{Qt::Key_PageUp} << kPageUp;
        QTest::newRow("page down") << QList<int>{Qt::Key_PageDown} << kPageDown;
    }

    void keysMoveAsInAListBox() {
        QFETCH(QList<int>, keys);
        QFETCH(int, row);
        LogList list;
        list.resize(200, 120);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        fill(list, 100);
        list.setCurrentIndex(list.model()->index(50, 0));
        for (int key : keys) QTest::keyClick(&list, static_cast<Qt::Key>(key));
        if (row == kPageUp || row == kPageDown) {
            // A page is more than one line and no more than the lines in view.
            const int moved = std::abs(list.currentIndex().row() - 50);
            QVERIFY2(moved > 1 && moved <= list.viewport()->height() / list.lineSize().height(),
                     qPrintable(QString::number(moved)));
            QCOMPARE(list.currentIndex().row() < 50, row == kPageUp);
        } else {
            QCOMPARE(list.currentIndex().row(), row);
        }
        QCOMPARE(list.selectionModel()->selectedIndexes(), QModelIndexList{list.currentIndex()});
        QVERIFY(list.viewport()->rect().contains(list.visualRect(list.currentIndex())));
    }

    void clickSelectsTheLineUnderThePointer() {
        LogList list;
        list.resize(200, 120);
        list.show();
        QVERIFY(QTest::qWaitForWindowExposed(&list));
        fill(list, 100);
        const QRect rect = list.visualRect(list.model()->index(97, 0));
        QTest::mouseClick(list.viewport(), Qt::LeftButton, {}, rect.center());
        QCOMPARE(list.currentIndex().row(), 97);
        QCOMPARE(list.selectionModel()->selectedIndexes(),
                 QModelIndexList{list.model()->index(97, 0)});
    }

    void appendToALongListPaintsOnlyTheNewLine() {
        // Away from the pointer, which would move its hover highlight.
        QWidget window;
        window.resize(420, 300);
        auto* list = new LogList(&window);
        list->setGeometry(200, 160, 200, 120);
        window.show();
        QVERIFY(QTest::qWaitForWindowExposed(&window));
        QVERIFY(!list->viewport()->underMouse());
        fill(*list, 200);
        PaintLog log;
        list->viewport()->installEventFilter(&log);
        log.settle();  // the paints that follow filling have been done
        list->appendLine(QStringLiteral("new"));
        QTRY_VERIFY(!log.painted.isEmpty());
        const QRect newest = list->visualRect(list->model()->index(200, 0));
        QCOMPARE(log.painted, QRegion(newest & list->viewport()->rect()));
    }
};

QTEST_MAIN(LogListTest)
#include "log_list_qtest.moc"
