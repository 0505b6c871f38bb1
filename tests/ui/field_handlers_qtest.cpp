// SPDX-License-Identifier: MIT
// Entering and leaving the edit fields through real focus changes, with the
// real modal boxes: each invalid leave raises exactly one box, gives the field
// its safe text and takes the focus back; valid input is left or normalised.
#include <QtTest>

#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QRadioButton>

#include "support/box_watcher.h"
#include "ui/field_handlers.h"
#include "ui/set_ping.h"

using namespace zorvek;

struct Fixture {
    ui::SetPing window;
    ui::ModalBoxPresenter presenter{&window};
    ui::FieldHandlers handlers{window, presenter};
    testing::BoxWatcher boxes;

    Fixture() {
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
    }
    // Types `text` into field `index` and leaves it with Tab.
    void typeAndTab(int index, const QString& text) {
        QLineEdit* field = window.Text1(index);
        field->setFocus(Qt::TabFocusReason);
        QVERIFY(field->hasFocus());
        field->clear();
        QTest::keyClicks(field, text);
        QTest::keyClick(field, Qt::Key_Tab);
    }
};

class FieldHandlersTest : public QObject {
    Q_OBJECT
private slots:
    void intervalField_data() {
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("after");
        QTest::addColumn<bool>("box");
        QTest::newRow("letters") << "abc"
                                 << "1" << true;
        QTest::newRow("empty") << ""
                               << "1" << true;
        QTest::newRow("zero") << "0"
                              << "1" << true;
        QTest::newRow("negative") << "-3"
                                  << "1" << true;
        QTest::newRow("exponent far above 999") << "9e9"
                                                << "1" << true;
        QTest::newRow("half rounds to even zero") << "0.5"
                                                  << "1" << true;
        QTest::newRow("lowest") << "1"
                                << "1" << false;
        QTest::newRow("highest") << "999"
                                 << "999" << false;
        QTest::newRow("fraction kept as typed") << "2.5"
                                                << "2.5" << false;
        QTest::newRow("1.5 rounds to 2") << "1.5"
                                         << "1.5" << false;
        QTest::newRow("blank around") << " 7 "
                                      << " 7 " << false;
    }
    void intervalField() {
        QFETCH(QString, typed);
        QFETCH(QString, after);
        QFETCH(bool, box);
        Fixture f;
        f.typeAndTab(1, typed);
        QTRY_COMPARE(f.boxes.seen.size(), box ? 1 : 0);
        QTest::qWait(30);
        QCOMPARE(f.boxes.seen.size(), box ? 1 : 0);
        QCOMPARE(f.window.Text1(1)->text(), after);
        if (box) {
            QCOMPARE(f.boxes.seen[0].text, QStringLiteral("1～999の数字を入力して下さい"));
            QCOMPARE(f.boxes.seen[0].title, QStringLiteral("Zorvek"));
            QCOMPARE(f.boxes.seen[0].buttons, 1);
            QCOMPARE(f.boxes.seen[0].icon, QMessageBox::NoIcon);
            // The focus is back in the field with its text selected.
            QTRY_VERIFY(f.window.Text1(1)->hasFocus());
            QCOMPARE(f.window.Text1(1)->selectedText(), QStringLiteral("1"));
        } else {
            // Tab went on to the unit buttons, the next stop.
            QVERIFY(f.window.Option1(0)->hasFocus());
        }
    }

    void timeFields_data() {
        QTest::addColumn<int>("index");
        QTest::addColumn<QString>("typed");
        QTest::addColumn<QString>("after");
        QTest::addColumn<bool>("box");
        for (int index : {2, 3}) {
            QTest::addRow("%d 7:5", index) << index << "7:5"
                                           << "07:05" << false;
            QTest::addRow("%d 9:30", index) << index << "9:30"
                                            << "09:30" << false;
            QTest::addRow("%d 23:00", index) << index << "23:00"
                                             << "23:00" << false;
            QTest::addRow("%d 0:0", index) << index << "0:0"
                                           << "00:00" << false;
            QTest::addRow("%d empty", index) << index << ""
                                             << "00:00" << true;
            QTest::addRow("%d letters", index) << index << "ab"
                                               << "00:00" << true;
            QTest::addRow("%d 25:00", index) << index << "25:00"
                                             << "00:00" << true;
            QTest::addRow("%d 12:60", index) << index << "12:60"
                                             << "00:00" << true;
        }
    }
    void timeFields() {
        QFETCH(int, index);
        QFETCH(QString, typed);
        QFETCH(QString, after);
        QFETCH(bool, box);
        Fixture f;
        f.typeAndTab(index, typed);
        QTRY_COMPARE(f.boxes.seen.size(), box ? 1 : 0);
        QTest::qWait(30);
        QCOMPARE(f.boxes.seen.size(), box ? 1 : 0);
        QCOMPARE(f.window.Text1(index)->text(), after);
        if (box) {
            QCOMPARE(f.boxes.seen[0].text, QStringLiteral("時間を入力して下さい"));
            QCOMPARE(f.boxes.seen[0].title, QStringLiteral("Zorvek"));
            QTRY_VERIFY(f.window.Text1(index)->hasFocus());
            QCOMPARE(f.window.Text1(index)->selectedText(), QStringLiteral("00:00"));
        }
    }

    void hostFieldIsNotChecked() {
        Fixture f;
        f.typeAndTab(0, QStringLiteral("not a host at all"));
        QTest::qWait(30);
        QVERIFY(f.boxes.seen.isEmpty());
        QCOMPARE(f.window.Text1(0)->text(), QStringLiteral("not a host at all"));
    }

    void enteringSelectsTheWholeText() {
        Fixture f;
        // By keyboard.
        f.window.Text1(0)->setFocus(Qt::TabFocusReason);
        QTest::keyClick(f.window.Text1(0), Qt::Key_Tab);
        QCOMPARE(f.window.Text1(1)->selectedText(), QStringLiteral("2"));
        QCOMPARE(f.window.Text1(1)->selectionStart(), 0);
        // By mouse, even though the click places the caret.
        QTest::mouseClick(f.window.Text1(2), Qt::LeftButton, {}, QPoint(5, 5));
        QTRY_COMPARE(f.window.Text1(2)->selectedText(), QStringLiteral("23:00"));
        QCOMPARE(f.window.Text1(2)->selectionStart(), 0);
    }

    // Another window or a popup menu taking the focus and giving it back is
    // not entering the field: the caret and the selection stay.
    void focusComingBackKeepsCaretAndSelection_data() {
        QTest::addColumn<bool>("popup");
        QTest::newRow("another window") << false;
        QTest::newRow("a popup menu") << true;
    }
    void focusComingBackKeepsCaretAndSelection() {
        QFETCH(bool, popup);
        Fixture f;
        QLineEdit* host = f.window.Text1(0);
        host->setFocus(Qt::TabFocusReason);
        QTest::qWait(30);  // past the re-selection a click would get
        host->setText(QStringLiteral("abcdef"));
        host->setSelection(1, 2);  // "bc", caret after it
        if (popup) {
            QMenu menu;
            menu.addAction(QStringLiteral("item"));
            menu.popup(f.window.mapToGlobal(QPoint(10, 10)));
            QTRY_VERIFY(menu.isVisible());
            menu.close();
        } else {
            QWidget other;
            other.show();
            other.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&other));
            f.window.activateWindow();
            QVERIFY(QTest::qWaitForWindowActive(&f.window));
        }
        QTRY_VERIFY(host->hasFocus());
        QTest::qWait(30);
        QCOMPARE(host->selectedText(), QStringLiteral("bc"));
        QCOMPARE(host->cursorPosition(), 3);
        QVERIFY(f.boxes.seen.isEmpty());
    }

    void clickingAnotherDamagedFieldRaisesOneBox() {
        Fixture f;
        // A time from a damaged file that the user never visited.
        f.window.Text1(2)->setText(QStringLiteral("zz"));
        f.window.Text1(1)->setFocus(Qt::TabFocusReason);
        f.window.Text1(1)->setText(QStringLiteral("abc"));
        QTest::mouseClick(f.window.Text1(2), Qt::LeftButton, {}, QPoint(5, 5));
        QTRY_COMPARE(f.boxes.seen.size(), 1);
        QTest::qWait(50);
        QCOMPARE(f.boxes.seen.size(), 1);
        QCOMPARE(f.window.Text1(1)->text(), QStringLiteral("1"));
        QTRY_VERIFY(f.window.Text1(1)->hasFocus());
        QCOMPARE(f.window.Text1(2)->text(), QStringLiteral("zz"));
    }

    void leavingForAButtonValidatesThenClicksOnce() {
        Fixture f;
        QStringList seenByClick;
        QObject::connect(f.window.CmdSave, &QPushButton::clicked,
                         [&] { seenByClick << f.window.Text1(1)->text(); });
        f.window.Text1(1)->setFocus(Qt::TabFocusReason);
        f.window.Text1(1)->setText(QStringLiteral("abc"));
        QTest::mouseClick(f.window.CmdSave, Qt::LeftButton);
        QTRY_COMPARE(seenByClick, QStringList{QStringLiteral("1")});
        QCOMPARE(f.boxes.seen.size(), 1);
        QVERIFY(!f.window.CmdSave->isDown());
        // A click that leaves a valid field is one plain click.
        QTest::mouseClick(f.window.CmdSave, Qt::LeftButton);
        QTest::qWait(50);
        QCOMPARE(seenByClick, QStringList({QStringLiteral("1"), QStringLiteral("1")}));
        QCOMPARE(f.boxes.seen.size(), 1);
    }

    void switchingWindowsIsNotLeavingTheField() {
        Fixture f;
        f.window.Text1(1)->setFocus(Qt::TabFocusReason);
        f.window.Text1(1)->setText(QStringLiteral("abc"));
        QWidget other;
        other.show();
        other.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&other));
        QTest::qWait(30);
        QVERIFY(f.boxes.seen.isEmpty());
        QCOMPARE(f.window.Text1(1)->text(), QStringLiteral("abc"));
    }
};

QTEST_MAIN(FieldHandlersTest)
#include "field_handlers_qtest.moc"
