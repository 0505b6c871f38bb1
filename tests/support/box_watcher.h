// SPDX-License-Identifier: MIT
// Test helpers for the program's modal boxes.
#pragma once

#include <QApplication>
#include <QMessageBox>
#include <QPointer>
#include <QTimer>
#include <functional>
#include <utility>
#include <vector>

#include "ui/message_box.h"

namespace zorvek::testing {

// Counts the real modal boxes the program opens and dismisses each one with
// Return once it is up, as a user would. Checks on a short timer, so it sees
// boxes opened inside nested event loops too.
class BoxWatcher : public QObject {
public:
    BoxWatcher() {
        timer_.setInterval(5);
        QObject::connect(&timer_, &QTimer::timeout, this, [this] { poll(); });
        timer_.start();
    }
    struct Seen {
        QString title;
        QString text;
        int buttons;
        QMessageBox::Icon icon;
    };
    QList<Seen> seen;
    // Runs while a box is up, before it is dismissed.
    std::function<void()> whileOpen;

private:
    void poll() {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (box == nullptr || box == current_) return;
        current_ = box;
        seen.append({box->windowTitle(), box->text(), static_cast<int>(box->buttons().size()),
                     box->icon()});
        if (whileOpen) whileOpen();
        if (box) box->accept();
    }
    QTimer timer_;
    QPointer<QMessageBox> current_;
};

// Records boxes without showing them. A box is answered at once, after
// whileOpen has run, unless holdOpen is set: then boxes opened with open()
// stay open until dismissAll().
class RecordingBoxes : public ui::BoxPresenter {
public:
    struct Box {
        QString text;
        QString title;
    };
    QList<Box> boxes;
    std::function<void()> whileOpen;
    bool holdOpen = false;
    void show(const QString& text, const QString& title) override {
        boxes.append({text, title});
        if (whileOpen) whileOpen();
    }
    void open(const QString& text, const QString& title, std::function<void()> closed) override {
        show(text, title);
        if (holdOpen)
            open_.push_back(std::move(closed));
        else if (closed)
            closed();
    }
    int openCount() const { return static_cast<int>(open_.size()); }
    void dismissAll() {
        for (auto& closed : std::exchange(open_, {}))
            if (closed) closed();
    }

private:
    std::vector<std::function<void()>> open_;
};

}  // namespace zorvek::testing
