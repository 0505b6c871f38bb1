// SPDX-License-Identifier: MIT
// The window as the user sees it: every control inside the window, none over
// another but where a caption reaches into what it names, the texts and fonts
// shown, the keyboard order, what screen readers are told, and the behaviour
// of the fields, buttons, menu and pictures.
#include <QtTest>

#include <QAbstractButton>
#include <QAccessible>
#include <QCheckBox>
#include <QClipboard>
#include <QFontInfo>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMenuBar>
#include <QPushButton>
#include <QRadioButton>

#include "ui/set_ping.h"

using zorvek::ui::SetPing;

namespace {

// What a screen reader is told about each control that takes the focus: its
// role, its name and the label it is labelled by.
struct AccessibleRow {
    const char* name;
    QAccessible::Role role;
    const char* spokenName;
    const char* labelledBy;  // nullptr: no label
};

const AccessibleRow kAccessible[] = {
    {"Text1(0)", QAccessible::EditableText, "ホスト名またはIPアドレス", "Label1(0)"},
    {"Text1(1)", QAccessible::EditableText, "インターバル", "Label1(1)"},
    {"Option1(0)", QAccessible::RadioButton, "インターバル（分）", nullptr},
    {"Option1(1)", QAccessible::RadioButton, "インターバル（秒）", nullptr},
    {"Text1(2)", QAccessible::EditableText, "実行時間（00:00）", "Label1(3)"},
    {"Text1(3)", QAccessible::EditableText, "実行時間（00:00）～", "Label2"},
    {"Check2", QAccessible::CheckBox, "エラーを通知する", "Label1(4)"},
    {"Check1", QAccessible::CheckBox, "ログを表示する", "Label1(2)"},
    {"List1", QAccessible::List, "ログ", nullptr},
    {"CmdClose", QAccessible::Button, "閉じる", nullptr},
    {"CmdSave", QAccessible::Button, "設定を保存", nullptr},
    {"PingCmd", QAccessible::Button, "Pingのテスト", nullptr},
    {"CmdCls", QAccessible::Button, "ログのクリア", nullptr},
    {"CmdEnd", QAccessible::Button, "Zorvek終了", nullptr},
};

QString textOf(QWidget* w) {
    if (auto* l = qobject_cast<QLabel*>(w)) return l->text();
    if (auto* e = qobject_cast<QLineEdit*>(w)) return e->text();
    if (auto* b = qobject_cast<QAbstractButton*>(w)) return b->text();
    if (auto* g = qobject_cast<QGroupBox*>(w)) return g->title();
    return {};
}

// The window's controls: the widgets it holds (the tray menu aside), and the
// ones inside its frames.
QList<QWidget*> controlsOf(const SetPing& window) {
    QList<QWidget*> controls;
    for (QWidget* w : window.findChildren<QWidget*>(Qt::FindDirectChildrenOnly)) {
        if (qobject_cast<QMenu*>(w)) continue;
        controls << w;
        if (qobject_cast<QGroupBox*>(w))
            controls << w->findChildren<QWidget*>(Qt::FindDirectChildrenOnly);
    }
    return controls;
}

QRect onWindow(const SetPing& window, const QWidget* w) {
    return {w->mapTo(&window, QPoint(0, 0)), w->size()};
}

QString fontOf(const QWidget* w) {
    const QFont& f = w->font();
    return QStringLiteral("%1 %2%3%4")
        .arg(f.family())
        .arg(f.pointSizeF())
        .arg(f.bold() ? QStringLiteral(" bold") : QString())
        .arg(f.italic() ? QStringLiteral(" italic") : QString());
}

}  // namespace

class SetPingTest : public QObject {
    Q_OBJECT
private slots:
    void fixedWindowWithItsCaption() {
        SetPing window;
        QCOMPARE(window.windowTitle(), QStringLiteral("Zorvek-自動Pinging"));
        QCOMPARE(window.size(), QSize(369, 375));
        QCOMPARE(window.minimumSize(), window.maximumSize());
    }

    void everyControlStandsInsideTheWindow() {
        SetPing window;
        const QList<QWidget*> controls = controlsOf(window);
        QCOMPARE(controls.size(), 23);
        for (QWidget* w : controls) {
            QRect box = w->geometry();
            // A label's text stands at its top; the box may run on past the
            // bottom edge below it (version does, by two pixels).
            if (auto* label = qobject_cast<QLabel*>(w); label && label->alignment() & Qt::AlignTop)
                box.setHeight(std::min(box.height(), label->fontMetrics().height()));
            QVERIFY2(!box.isEmpty(), qPrintable(w->objectName()));
            QVERIFY2(w->parentWidget()->rect().contains(box), qPrintable(w->objectName()));
        }
        // The option buttons, placed inside Frame1, stand at 840,1440 and
        // 1440,1440 on the client area.
        QCOMPARE(onWindow(window, window.Option1(0)).topLeft(), QPoint(840 / 15, 1440 / 15));
        QCOMPARE(onWindow(window, window.Option1(1)).topLeft(), QPoint(1440 / 15, 1440 / 15));
    }

    void noControlCoversAnotherButACaptionWhatItNames() {
        SetPing window;
        const QList<QWidget*> controls = controlsOf(window);
        QStringList overlaps;
        for (qsizetype i = 0; i < controls.size(); ++i)
            for (qsizetype j = i + 1; j < controls.size(); ++j) {
                if (controls[i]->isAncestorOf(controls[j])) continue;  // a frame's buttons
                if (!onWindow(window, controls[i]).intersects(onWindow(window, controls[j])))
                    continue;
                QStringList pair{controls[i]->objectName(), controls[j]->objectName()};
                pair.sort();
                overlaps << pair.join(QLatin1Char('/'));
            }
        overlaps.sort();
        // Only the captions' boxes reach into the fields and the frame they
        // name, below their text.
        const QStringList captionsOverWhatTheyName{
            "Frame1/Label1(1)",   "Label1(0)/Text1(0)", "Label1(1)/Text1(1)",
            "Label1(3)/Text1(2)", "Label1(3)/Text1(3)", "Label2/Text1(3)",
        };
        QCOMPARE(overlaps.join(QStringLiteral(", ")),
                 captionsOverWhatTheyName.join(QStringLiteral(", ")));
    }

    void theWindowShowsItsTexts() {
        SetPing window;
        QStringList shown{
            "CmdClose: 閉　じ　る",
            "CmdCls: ログのクリア",
            "CmdEnd: Zorvek終了",
            "CmdSave: 設定を保存",
            "Label1(0): ホスト名またはIPアドレス",
            "Label1(1): インターバル",
            "Label1(2): ログを表示する",
            "Label1(3): 実行時間（00:00）",
            "Label1(4): エラーを通知する",
            "Label2: ～",
            "Option1(0): 分",
            "Option1(1): 秒",
            "PingCmd: Pingのテスト",
            "Text1(0): localhost",
            "Text1(1): 2",
            "Text1(2): 23:00",
            "Text1(3): 07:59",
            "version: Version 1.64",
        };
        QStringList texts;
        for (QWidget* w : controlsOf(window))
            if (!textOf(w).isEmpty()) texts << w->objectName() + QStringLiteral(": ") + textOf(w);
        texts.sort();
        shown.sort();
        QCOMPARE(texts, shown);
        // The time row reads from left to right: start, "～", end.
        const QRect start = window.Text1(2)->geometry();
        const QRect tilde = window.Label2->geometry();
        const QRect end = window.Text1(3)->geometry();
        QVERIFY(start.right() < tilde.left() && tilde.center().x() < end.left());
        QVERIFY(tilde.top() < start.bottom() && tilde.top() < end.bottom());
        // The check boxes have no text of their own: their captions stand to
        // their right, on the same row.
        for (QCheckBox* box : {window.Check1, window.Check2}) {
            const QLabel* caption = nullptr;
            for (QLabel* label : window.findChildren<QLabel*>())
                if (label->buddy() == box) caption = label;
            QVERIFY(caption != nullptr);
            QVERIFY(box->geometry().right() < caption->geometry().left());
            QVERIFY(box->geometry().top() <= caption->geometry().top() &&
                    caption->geometry().top() < box->geometry().bottom());
        }
    }

    void controlsShareTheWindowsFiveFonts() {
        SetPing window;
        QMap<QString, QStringList> users;
        for (QWidget* w : controlsOf(window)) {
            if (!w->testAttribute(Qt::WA_SetFont)) continue;  // the desktop's font
            users[fontOf(w)] << w->objectName();
            // Linux desktops have none of these faces: each has its stand-ins.
            QVERIFY2(!QFont::substitutes(w->font().family()).isEmpty(), qPrintable(fontOf(w)));
        }
        QStringList fonts;
        for (auto [font, names] : users.asKeyValueRange()) {
            names.sort();
            fonts << font + QStringLiteral(": ") + names.join(QLatin1Char(' '));
        }
        QStringList expected{
            "Courier New 9 bold italic: version",
            "ＭＳ Ｐゴシック 9.75: List1",
            "ＭＳ Ｐゴシック 9: Check1 Check2 Label2",
            "ＭＳ ゴシック 9.75: Text1(0) Text1(1) Text1(2) Text1(3)",
            "ＭＳ ゴシック 9: CmdClose CmdCls CmdEnd CmdSave Label1(0) Label1(1) Label1(2) "
            "Label1(3) Label1(4) Option1(0) Option1(1) PingCmd",
        };
        fonts.sort();
        expected.sort();
        QCOMPARE(fonts, expected);
    }

    void initialValuesLimitsAndColours() {
        SetPing window;
        QVERIFY(window.Option1(0)->isChecked());
        QVERIFY(!window.Option1(1)->isChecked());
        QVERIFY(!window.Check1->isChecked());
        QVERIFY(!window.Check2->isChecked());
        QCOMPARE(window.List1->count(), 0);
        QCOMPARE(window.IconState, std::string("0"));
        QCOMPARE(window.Text1(0)->maxLength(), 32767);  // Qt's "no limit"
        QCOMPARE(window.Text1(1)->maxLength(), 3);
        QCOMPARE(window.Text1(2)->maxLength(), 5);
        QCOMPARE(window.Text1(3)->maxLength(), 5);
        for (int i : {0, 1, 2, 3, 4}) {
            QCOMPARE(window.Label1(i)->palette().color(QPalette::WindowText), QColor(0, 0, 0));
            QVERIFY(window.Label1(i)->alignment() & Qt::AlignLeft);
        }
        QCOMPARE(window.version->palette().color(QPalette::WindowText), QColor(128, 128, 128));
        QVERIFY(window.version->alignment() & Qt::AlignHCenter);
        QVERIFY(window.Label2->alignment() & Qt::AlignHCenter);
        QVERIFY(window.Timer1->isActive());
        QCOMPARE(window.Timer1->interval(), 500);
        // Typing past the limit is cut off.
        QTest::keyClicks(window.Text1(1), "12345");
        QCOMPARE(window.Text1(1)->text(), QStringLiteral("212"));
        // The host field takes no double quote, typed or pasted, so every host
        // reads back from the settings file as it was saved.
        window.Text1(0)->clear();
        QTest::keyClicks(window.Text1(0), "a\"b");
        QCOMPARE(window.Text1(0)->text(), QStringLiteral("ab"));
        QApplication::clipboard()->setText(QStringLiteral("\"x\".example"));
        window.Text1(0)->paste();
        QCOMPARE(window.Text1(0)->text(), QStringLiteral("abx.example"));
    }

    void frameMenuAndPictures() {
        SetPing window;
        QVERIFY(window.windowFlags() & Qt::Tool);  // no taskbar button
        QVERIFY(window.windowFlags() & Qt::WindowCloseButtonHint);
        QVERIFY(!(window.windowFlags() & Qt::WindowMinimizeButtonHint));
        QVERIFY(!(window.windowFlags() & Qt::WindowMaximizeButtonHint));
        QCOMPARE(window.mnuTRAY->title(), QStringLiteral("タスクトレイに表示するメニュー"));
        QCOMPARE(window.mnuTRAY->actions().size(), 2);
        QCOMPARE(window.mnuTRAY->actions()[0]->text(), QStringLiteral("設定"));
        QCOMPARE(window.mnuTRAY->actions()[0]->objectName(), QStringLiteral("mnuOPEN"));
        QCOMPARE(window.mnuTRAY->actions()[1]->text(), QStringLiteral("終了"));
        QCOMPARE(window.mnuTRAY->actions()[1]->objectName(), QStringLiteral("mnuCLOSE"));
        QVERIFY(window.findChildren<QMenuBar*>().isEmpty());
        // The pictures: 16 x 16, the normal one pink on black, the active one
        // black on pink.
        const QImage normal = window.normalPicture().pixmap(16, 16).toImage();
        const QImage active = window.activePicture().pixmap(16, 16).toImage();
        QCOMPARE(normal.size(), QSize(16, 16));
        QCOMPARE(normal.pixelColor(0, 0), QColor(0, 0, 0));
        QCOMPARE(active.pixelColor(0, 0), QColor(255, 0, 204));
        int pinkMarks = 0;
        for (int y = 0; y < 16; ++y)
            for (int x = 0; x < 16; ++x) {
                const bool markNormal = normal.pixelColor(x, y) == QColor(255, 0, 204);
                const bool markActive = active.pixelColor(x, y) == QColor(0, 0, 0);
                QCOMPARE(markNormal, markActive);
                QCOMPARE(normal.pixelColor(x, y).alpha(), 255);
                pinkMarks += markNormal;
            }
        QVERIFY(pinkMarks > 10);
        QCOMPARE(window.windowIcon().pixmap(16, 16).toImage().pixelColor(0, 0), QColor(0, 0, 0));

        // Larger renditions of both designs for panels and screens that draw
        // the icon bigger; the 16 x 16 pictures stay the icon files' own.
        const std::pair<const QIcon*, const char*> pictures[] = {
            {&window.normalPicture(), ":/pictures/normal.ico"},
            {&window.activePicture(), ":/pictures/active.ico"}};
        for (const auto& [icon, file] : pictures) {
            const QImage own =
                QImage(QString::fromLatin1(file)).convertToFormat(QImage::Format_ARGB32);
            QCOMPARE(icon->pixmap(16, 16).toImage().convertToFormat(QImage::Format_ARGB32), own);
            for (int size : {22, 24, 32, 48, 64}) {
                QVERIFY2(icon->availableSizes().contains(QSize(size, size)), file);
                const QImage big = icon->pixmap(size, size).toImage();
                QCOMPARE(big.size(), QSize(size, size));
                // Same ground, fully opaque, in the corners; at whole multiples
                // of 16 the mark's colour where the small picture has its top bar.
                QCOMPARE(big.pixelColor(0, 0), own.pixelColor(0, 0));
                QCOMPARE(big.pixelColor(size - 1, size - 1), own.pixelColor(15, 15));
                if (size % 16 == 0)
                    QCOMPARE(big.pixelColor(size * 7 / 32, size * 7 / 32), own.pixelColor(3, 3));
            }
        }
    }

    void screenReadersGetRolesNamesAndLabels() {
        SetPing window;
        QAccessibleInterface* dialog = QAccessible::queryAccessibleInterface(&window);
        QCOMPARE(dialog->role(), QAccessible::Dialog);
        QCOMPARE(dialog->text(QAccessible::Name), QStringLiteral("Zorvek-自動Pinging"));
        QStringList described;
        for (const AccessibleRow& row : kAccessible) {
            auto* w = window.findChild<QWidget*>(QString::fromUtf8(row.name));
            QAccessibleInterface* iface = QAccessible::queryAccessibleInterface(w);
            QVERIFY2(iface != nullptr, row.name);
            QCOMPARE(iface->role(), row.role);
            QCOMPARE(iface->text(QAccessible::Name), QString::fromUtf8(row.spokenName));
            QStringList labels;
            for (const auto& [label, relation] : iface->relations(QAccessible::Label))
                labels << label->object()->objectName();
            QCOMPARE(labels, row.labelledBy ? QStringList{QString::fromUtf8(row.labelledBy)}
                                            : QStringList{});
            described << w->objectName();
        }
        // The unit buttons are read inside their named group.
        QCOMPARE(QAccessible::queryAccessibleInterface(window.Frame1)->text(QAccessible::Name),
                 QStringLiteral("インターバルの単位"));
        // Every control that takes the focus is in the table above.
        for (QWidget* w : window.findChildren<QWidget*>())
            if (w->focusPolicy() != Qt::NoFocus && !qobject_cast<QMenu*>(w))
                QVERIFY2(described.contains(w->objectName()), qPrintable(w->objectName()));
    }

    void tabOrderAndOptionGroup() {
        SetPing window;
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        window.Text1(0)->setFocus();
        QCOMPARE(QApplication::focusWidget(), window.Text1(0));
        QStringList visited{window.Text1(0)->objectName()};
        for (int i = 0; i < 13; ++i) {
            QTest::keyClick(QApplication::focusWidget(), Qt::Key_Tab);
            visited << QApplication::focusWidget()->objectName();
        }
        // The unit group takes one stop.
        const QStringList expected{"Text1(0)", "Text1(1)", "Option1(0)", "Text1(2)", "Text1(3)",
                                   "Check2",   "Check1",   "List1",      "CmdClose", "CmdSave",
                                   "PingCmd",  "CmdCls",   "CmdEnd",     "Text1(0)"};
        QCOMPARE(visited, expected);
        // Every control that takes the focus by the keyboard is a stop; the
        // unit buttons share one.
        for (QWidget* w : controlsOf(window)) {
            if (!(w->focusPolicy() & Qt::TabFocus)) continue;
            const QString stop =
                qobject_cast<QRadioButton*>(w) ? QStringLiteral("Option1(0)") : w->objectName();
            QVERIFY2(visited.contains(stop), qPrintable(w->objectName()));
        }

        // Choosing one unit clears the other, by keyboard and by mouse.
        window.Option1(0)->setFocus();
        QTest::keyClick(window.Option1(0), Qt::Key_Right);
        QVERIFY(window.Option1(1)->isChecked());
        QVERIFY(!window.Option1(0)->isChecked());
        QTest::mouseClick(window.Option1(0), Qt::LeftButton);
        QVERIFY(window.Option1(0)->isChecked());
        QVERIFY(!window.Option1(1)->isChecked());
        // The group's stop is the chosen unit, from either side, also where
        // the settings chose it.
        window.Option1(1)->setChecked(true);
        window.Text1(1)->setFocus();
        QTest::keyClick(window.Text1(1), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), window.Option1(1));
        QTest::keyClick(window.Option1(1), Qt::Key_Tab);
        QCOMPARE(QApplication::focusWidget(), window.Text1(2));
        QTest::keyClick(window.Text1(2), Qt::Key_Backtab, Qt::ShiftModifier);
        QCOMPARE(QApplication::focusWidget(), window.Option1(1));
        window.Option1(0)->setChecked(true);
        // Clicking a label does not change the box beside it.
        QTest::mouseClick(window.Label1(4), Qt::LeftButton);
        QVERIFY(!window.Check2->isChecked());
        QVERIFY(!window.Image1->isVisible());
    }

    void returnAndEnterPressTheFocusedButtonOnly() {
        SetPing window;
        window.show();
        window.activateWindow();
        QVERIFY(QTest::qWaitForWindowActive(&window));
        const QList<QPushButton*> buttons{window.CmdClose, window.CmdSave, window.PingCmd,
                                          window.CmdCls, window.CmdEnd};
        QList<int> clicks(buttons.size(), 0);
        for (qsizetype i = 0; i < buttons.size(); ++i)
            QObject::connect(buttons[i], &QPushButton::clicked, [&clicks, i] { ++clicks[i]; });
        // Return in a field presses no button, before or after a button had the focus.
        for (int pass = 0; pass < 2; ++pass) {
            for (int i = 0; i < 4; ++i) {
                window.Text1(i)->setFocus(Qt::TabFocusReason);
                QVERIFY(window.Text1(i)->hasFocus());
                QTest::keyClick(window.Text1(i), Qt::Key_Return);
                QTest::keyClick(window.Text1(i), Qt::Key_Enter);
            }
            QCOMPARE(clicks, QList<int>(buttons.size(), 0));
            window.CmdSave->setFocus(Qt::TabFocusReason);
        }
        for (qsizetype i = 0; i < buttons.size(); ++i) {
            buttons[i]->setFocus(Qt::TabFocusReason);
            QVERIFY(buttons[i]->hasFocus());
            QTest::keyClick(buttons[i], Qt::Key_Return);
            QCOMPARE(clicks[i], 1);
            QTest::keyClick(buttons[i], Qt::Key_Enter);
            QCOMPARE(clicks[i], 2);
        }
        QCOMPARE(clicks, QList<int>(buttons.size(), 2));
    }

    void closeCommandAsksTheProgram() {
        SetPing window;
        window.show();
        QSignalSpy unload(&window, &SetPing::unloadRequested);
        window.close();
        QCOMPARE(unload.count(), 1);
        QVERIFY(window.isVisible());  // the program, not the window, decides
    }
};

QTEST_MAIN(SetPingTest)
#include "set_ping_qtest.moc"
