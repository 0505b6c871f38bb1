// SPDX-License-Identifier: MIT
// Message boxes with one OK button and no icon, modal to the program's window
// only: while one is open the window waits for it, but the tray icon and its
// menu stay usable, so the window can be shown and the program quit.
#pragma once

#include <QString>
#include <functional>

class QWidget;

namespace zorvek::ui {

class BoxPresenter {
public:
    virtual ~BoxPresenter() = default;
    // Shows the box and returns once the user has dismissed it.
    virtual void show(const QString& text, const QString& title) = 0;
    // Opens the box and returns at once; `closed` runs once the user has
    // dismissed it. Nothing waits on the box meanwhile.
    virtual void open(const QString& text, const QString& title, std::function<void()> closed) = 0;
};

class ModalBoxPresenter : public BoxPresenter {
public:
    // The boxes belong to `window` and are centred over it; start-up centres
    // the window on the screen, so a box raised while it is hidden stands in
    // the middle of the screen.
    explicit ModalBoxPresenter(QWidget* window) : window_(window) {}
    void show(const QString& text, const QString& title) override;
    void open(const QString& text, const QString& title, std::function<void()> closed) override;

private:
    QWidget* window_;
};

}  // namespace zorvek::ui
