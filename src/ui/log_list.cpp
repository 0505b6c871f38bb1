// SPDX-License-Identifier: MIT
#include "ui/log_list.h"

#include <QStyledItemDelegate>
#include <algorithm>

namespace zorvek::ui {
namespace {

// Hands the view the largest line size instead of the sampled line's own, so
// the one size the view lays every line out with fits them all.
class LargestLineDelegate : public QStyledItemDelegate {
public:
    LargestLineDelegate(const QSize& largest, QObject* parent)
        : QStyledItemDelegate(parent), largest_(largest) {}
    QSize sizeHint(const QStyleOptionViewItem& option, const QModelIndex& index) const override {
        return QStyledItemDelegate::sizeHint(option, index).expandedTo(largest_);
    }

private:
    const QSize& largest_;
};

}  // namespace

LogList::LogList(QWidget* parent) : QListWidget(parent), measurer_(new QStyledItemDelegate(this)) {
    // The view then asks for one size per layout, not for the size of every
    // line; the delegate makes that one size fit the largest line.
    setUniformItemSizes(true);
    // Scrolling by items keeps a table of every line's position for the scroll
    // bar, rebuilt on each append; by pixels it needs only the total height.
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setItemDelegate(new LargestLineDelegate(largest_, this));
}

void LogList::rowsInserted(const QModelIndex& parent, int first, int last) {
    QListWidget::rowsInserted(parent, first, last);
    // Only the new lines are measured.
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    for (int row = first; row <= last; ++row)
        largest_ = largest_.expandedTo(measurer_->sizeHint(option, model()->index(row, 0)));
}

void LogList::reset() {
    QListWidget::reset();
    largest_ = QSize(0, 0);
}

void LogList::appendLine(const QString& line) {
    addItem(line);
    // Scrolling lays the list out at once; a hidden list can wait until shown.
    if (isVisible()) {
        scrollToBottom();
    } else {
        scrollPending_ = true;
    }
}

void LogList::showEvent(QShowEvent* event) {
    QListWidget::showEvent(event);
    if (scrollPending_) {
        scrollPending_ = false;
        scrollToBottom();
    }
}

}  // namespace zorvek::ui
