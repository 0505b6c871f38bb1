// SPDX-License-Identifier: MIT
#include "ui/message_box.h"

#include <QMessageBox>
#include <QWidget>
#include <memory>

namespace zorvek::ui {
namespace {

// Window-modal rather than application-modal: an application-modal box would
// also block the tray icon's own window and its menu, and with them the only
// way to reach the program while the window is hidden.
QMessageBox* makeBox(const QString& text, const QString& title, QWidget* window) {
    auto* box = new QMessageBox(QMessageBox::NoIcon, title, text, QMessageBox::Ok, window);
    box->setObjectName(QStringLiteral("ZorvekMessageBox"));
    box->setWindowModality(Qt::WindowModal);
    return box;
}

}  // namespace

void ModalBoxPresenter::show(const QString& text, const QString& title) {
    const std::unique_ptr<QMessageBox> box(makeBox(text, title, window_));
    box->exec();
}

void ModalBoxPresenter::open(const QString& text, const QString& title,
                             std::function<void()> closed) {
    QMessageBox* box = makeBox(text, title, window_);
    box->setAttribute(Qt::WA_DeleteOnClose);
    QObject::connect(box, &QDialog::finished, box, [closed = std::move(closed)] {
        if (closed) closed();
    });
    box->show();
}

}  // namespace zorvek::ui
