// SPDX-License-Identifier: MIT
// The handlers the four edit fields share: entering a field selects its whole
// text; leaving the interval field or a time field validates and normalises
// it, with one message box and a safe replacement for invalid input. Another
// window or a popup taking the focus for a while is neither. A click on a
// button that left an invalid field is carried out once the field's box has
// been answered, with the field's safe text in place.
#pragma once

#include <QObject>
#include <QPointer>

#include "ui/message_box.h"
#include "ui/user_texts.h"

class QAbstractButton;
class QLineEdit;

namespace zorvek::ui {

class SetPing;

class FieldHandlers : public QObject {
    Q_OBJECT
public:
    FieldHandlers(SetPing& window, BoxPresenter& boxes);

    // Entering field `index`: caret at the start, whole text selected.
    void gotFocus(int index);
    // Leaving field `index`: 1 validates the interval, 2 and 3 the times.
    // True when the text was refused (a box was shown and the safe text put in).
    bool lostFocus(int index);

    // True when the interval text is a number from 1 to 999 once rounded.
    static bool intervalIsValid(const QString& text);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void refuse(int index, const char* message, const QString& replacement);
    int indexOf(QObject* object) const;
    void carryOutClick(QAbstractButton* button);

    SetPing& window_;
    BoxPresenter& boxes_;
    // Set while a box is open and while the focus is handed back to the field
    // it is about: the focus changes this causes are not the user leaving a
    // field and must not raise further boxes.
    bool refusing_ = false;
    // The field that had the focus when another window or a popup took it;
    // -1 when none. The focus coming back there is not entering the field.
    int keptFocus_ = -1;
    // The button whose mouse press left an invalid field: the press, still on
    // its way to the button when the box closes, is dropped there, and the
    // click is carried out on its own once the press has been handled.
    QPointer<QAbstractButton> pendingClick_;
};

}  // namespace zorvek::ui
