// SPDX-License-Identifier: MIT
#include "ui/field_handlers.h"

#include <QAbstractButton>
#include <QApplication>
#include <QFocusEvent>
#include <QLineEdit>
#include <QPointer>
#include <QTimer>

#include "settings/conversions.h"
#include "ui/set_ping.h"

namespace zorvek::ui {

FieldHandlers::FieldHandlers(SetPing& window, BoxPresenter& boxes)
    : QObject(&window), window_(window), boxes_(boxes) {
    for (int i = 0; i < 4; ++i) {
        QLineEdit* field = window_.Text1(i);
        field->installEventFilter(this);
        // A saved text longer than the field's typing limit widened it (see
        // SetPing::setFieldText); once the user's edits make the text fit,
        // the limit is back, so typing never makes a text longer than that.
        connect(field, &QLineEdit::textEdited, this, [field, i](const QString& text) {
            if (text.size() <= SetPing::fieldLimit(i)) field->setMaxLength(SetPing::fieldLimit(i));
        });
    }
    for (QAbstractButton* button : window_.findChildren<QAbstractButton*>())
        button->installEventFilter(this);
}

int FieldHandlers::indexOf(QObject* object) const {
    for (int i = 0; i < 4; ++i)
        if (window_.Text1(i) == object) return i;
    return -1;
}

bool FieldHandlers::eventFilter(QObject* watched, QEvent* event) {
    if (watched == pendingClick_ && (event->type() == QEvent::MouseButtonPress ||
                                     event->type() == QEvent::MouseButtonDblClick)) {
        // The press that left the field reaches the button only after the
        // box: the button must not go down, as its release went to the box.
        return true;
    }
    const int index = indexOf(watched);
    if (index < 0) return false;
    if (event->type() != QEvent::FocusIn && event->type() != QEvent::FocusOut) return false;
    // Another window taking over (a message box, another program, a popup
    // menu such as the field's own context menu) is neither leaving the field
    // nor, when it gives the focus back, entering it: the field keeps its
    // caret and selection, and is checked when the user really leaves it.
    const Qt::FocusReason reason = static_cast<QFocusEvent*>(event)->reason();
    const bool elsewhere = reason == Qt::ActiveWindowFocusReason || reason == Qt::PopupFocusReason;
    if (event->type() == QEvent::FocusIn) {
        // The window's first focus (shown for the first time) still enters.
        if (!(elsewhere && index == keptFocus_)) gotFocus(index);
        keptFocus_ = -1;
    } else if (elsewhere) {
        keptFocus_ = index;
    } else {
        keptFocus_ = -1;
        // A mouse press on a button of the window moves the focus there before
        // the button sees the press; the focus widget is already the button.
        QAbstractButton* clicked = nullptr;
        if (reason == Qt::MouseFocusReason) {
            clicked = qobject_cast<QAbstractButton*>(QApplication::focusWidget());
            if (clicked != nullptr && clicked->window() != &window_) clicked = nullptr;
        }
        if (lostFocus(index) && clicked != nullptr) carryOutClick(clicked);
    }
    return false;
}

void FieldHandlers::carryOutClick(QAbstractButton* button) {
    pendingClick_ = button;
    // Queued: it runs once the press that is being delivered has been
    // dropped, so the click happens exactly once, after the box.
    QTimer::singleShot(0, this, [this] {
        const QPointer<QAbstractButton> button = pendingClick_;
        pendingClick_ = nullptr;
        if (button && button->isEnabled()) button->click();
    });
}

void FieldHandlers::gotFocus(int index) {
    QLineEdit* field = window_.Text1(index);
    field->setSelection(0, static_cast<int>(field->text().size()));
    // A mouse click places the caret after the focus arrives; select again
    // once the click has been handled so the whole text stays selected.
    QPointer<QLineEdit> guard(field);
    QTimer::singleShot(0, field, [guard] {
        if (guard && guard->hasFocus())
            guard->setSelection(0, static_cast<int>(guard->text().size()));
    });
}

bool FieldHandlers::intervalIsValid(const QString& text) {
    const std::optional<double> number = settings::parseNumber(text.toStdString());
    if (!number) return false;
    // Rounded as the platform's conversion rounds (a half to the even
    // neighbour); compared as a double, so no text is too large to judge.
    const double rounded = settings::roundHalfEven(*number);
    return rounded >= 1.0 && rounded <= 999.0;
}

bool FieldHandlers::lostFocus(int index) {
    if (refusing_) return false;
    QLineEdit* field = window_.Text1(index);
    bool refused = false;
    if (index == 1) {
        if (!settings::parseNumber(field->text().toStdString()))
            field->setText(QStringLiteral("0"));
        if (!intervalIsValid(field->text())) {
            refuse(index, kIntervalMessage, QStringLiteral("1"));
            refused = true;
        }
    } else if (index == 2 || index == 3) {
        if (const std::optional<std::string> time =
                settings::normaliseTime(field->text().toStdString())) {
            field->setText(QString::fromStdString(*time));
        } else {
            refuse(index, kTimeMessage, QStringLiteral("00:00"));
            refused = true;
        }
    }
    // A longer text from a damaged settings file widened the field's limit;
    // once the text fits again the usual limit is back.
    if (field->text().size() <= SetPing::fieldLimit(index))
        field->setMaxLength(SetPing::fieldLimit(index));
    return refused;
}

void FieldHandlers::refuse(int index, const char* message, const QString& replacement) {
    refusing_ = true;
    boxes_.show(QString::fromUtf8(message), QString::fromUtf8(kAppTitle));
    QLineEdit* field = window_.Text1(index);
    field->setText(replacement);
    // The box has taken the activation; give it back so the focus lands in
    // the field at once (not every window manager, or none, does it for us).
    if (window_.isVisible()) window_.activateWindow();
    field->setFocus(Qt::OtherFocusReason);
    if (field->hasFocus()) gotFocus(index);
    refusing_ = false;
}

}  // namespace zorvek::ui
