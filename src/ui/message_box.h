// SPDX-License-Identifier: MIT
// Modal message boxes with one OK button and no icon.
#pragma once

#include <QString>

class QWidget;

namespace zorvek::ui {

inline constexpr char kAppTitle[] = "Zorvek";

class BoxPresenter {
public:
    virtual ~BoxPresenter() = default;
    // Shows the box and returns once the user has dismissed it.
    virtual void show(const QString& text, const QString& title) = 0;
};

class ModalBoxPresenter : public BoxPresenter {
public:
    // Boxes are centred over `window` while it is shown, on the screen otherwise.
    explicit ModalBoxPresenter(QWidget* window) : window_(window) {}
    void show(const QString& text, const QString& title) override;

private:
    QWidget* window_;
};

}  // namespace zorvek::ui
