// SPDX-License-Identifier: MIT
#include "ui/message_box.h"

#include <QMessageBox>
#include <QWidget>

namespace zorvek::ui {

void ModalBoxPresenter::show(const QString& text, const QString& title) {
    QWidget* parent = (window_ != nullptr && window_->isVisible()) ? window_ : nullptr;
    QMessageBox box(QMessageBox::NoIcon, title, text, QMessageBox::Ok, parent);
    box.setObjectName(QStringLiteral("ZorvekMessageBox"));
    box.setWindowModality(Qt::ApplicationModal);
    box.exec();
}

}  // namespace zorvek::ui
