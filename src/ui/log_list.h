// SPDX-License-Identifier: MIT
// The log list List1: a list box that only grows at its end (until it is
// cleared) and must not get slower to append to however long it gets. Every
// line is laid out with one size, the largest line seen so far, instead of
// measuring every line again on each append; so a long result line still
// sets the width the horizontal scroll bar covers. While the list is hidden,
// scrolling to the newest line waits and is done once when it is shown.
#pragma once

#include <QListWidget>
#include <QSize>

class QStyledItemDelegate;

namespace zorvek::ui {

class LogList : public QListWidget {
    Q_OBJECT
public:
    explicit LogList(QWidget* parent = nullptr);

    // Appends `line` after the last line and keeps the newest line in view.
    void appendLine(const QString& line);

    // The size every line is laid out with: the widest and the tallest line
    // since the list was last emptied.
    QSize lineSize() const { return largest_; }

    void reset() override;  // the list was emptied

protected:
    void rowsInserted(const QModelIndex& parent, int first, int last) override;
    void showEvent(QShowEvent* event) override;

private:
    QStyledItemDelegate* measurer_;
    QSize largest_{0, 0};
    bool scrollPending_ = false;
};

}  // namespace zorvek::ui
