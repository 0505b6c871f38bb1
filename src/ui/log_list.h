// SPDX-License-Identifier: MIT
// The log list List1: a list box that only grows at its end (until it is
// cleared, or drops its oldest lines at its limit) and must not get slower to
// append to however long it gets. The lines live in a compact model of their
// own (LogLines) rather than one item object per line.
//
// QListView lays out every row again whenever a row is inserted and then
// repaints the whole viewport, so each append costs time in proportion to the
// number of lines. Every log line has one height and there is one column, so
// this list computes its geometry itself instead: row r spans the pixels
// r * height .. (r + 1) * height, and every row is as wide as the widest line
// since the list was last emptied (so a long result line still sets the width
// the horizontal scroll bar covers). Each geometry function of QListView is
// replaced so that its row-by-row layout is never built; an append measures the
// new line, sets the scroll ranges and paints only what changed: the new row,
// or, once the list scrolls, the row scrolled into view (the rest of the
// viewport is moved, not painted again). While the list is hidden, scroll
// ranges and scrolling to the newest line wait until it is shown.
//
// A line is measured as the item delegate would lay it out, without asking it
// for each line: the text's advance in the list's font plus the style's text
// margins gives the width, and the height is the delegate's for the first line
// of each mix of scripts (the fallback fonts, and so the height, follow the
// scripts). A line the same as the last one of its mix of scripts (a result
// line is mostly the one before but one) takes that one's width, and so does
// one that differs from it only in its digits (the next time stamp) where the
// font is found to set the digits alike. Lines with control characters are
// left to the delegate.
#pragma once

#include <QFontMetricsF>
#include <QHash>
#include <QListView>
#include <QPersistentModelIndex>
#include <QPoint>
#include <QSize>
#include <optional>
#include <utility>

#include "ui/log_lines.h"

namespace zorvek::ui {

class LogList : public QListView {
    Q_OBJECT
public:
    explicit LogList(QWidget* parent = nullptr);

    // Appends `line` after the last line and keeps the newest line in view.
    // A full list first drops its oldest lines (LogLines::kDropped of them).
    void appendLine(const QString& line);
    // Empties the list.
    void clear();

    int count() const { return lines_->rowCount(); }
    QString line(int row) const { return lines_->line(row).toString(); }

    // The size every line is laid out with: the widest and the tallest line
    // since the list was last emptied.
    QSize lineSize() const { return largest(); }

    QRect visualRect(const QModelIndex& index) const override;
    QModelIndex indexAt(const QPoint& point) const override;
    void scrollTo(const QModelIndex& index, ScrollHint hint = EnsureVisible) override;
    void doItemsLayout() override;
    void reset() override;  // the list was emptied

protected:
    void rowsInserted(const QModelIndex& parent, int first, int last) override;
    void rowsAboutToBeRemoved(const QModelIndex& parent, int first, int last) override;
    void dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                     const QList<int>& roles = QList<int>()) override;
    void updateGeometries() override;
    void verticalScrollbarValueChanged(int value) override;
    void horizontalScrollbarValueChanged(int value) override;
    void selectionChanged(const QItemSelection& selected,
                          const QItemSelection& deselected) override;
    void currentChanged(const QModelIndex& current, const QModelIndex& previous) override;

    int horizontalOffset() const override;
    int verticalOffset() const override;
    QModelIndex moveCursor(CursorAction action, Qt::KeyboardModifiers modifiers) override;
    bool isIndexHidden(const QModelIndex& index) const override;
    void setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) override;
    QRegion visualRegionForSelection(const QItemSelection& selection) const override;
    QSize viewportSizeHint() const override;

    void scrollContentsBy(int dx, int dy) override;
    void paintEvent(QPaintEvent* event) override;
    void resizeEvent(QResizeEvent* event) override;
    void timerEvent(QTimerEvent* event) override;
    void showEvent(QShowEvent* event) override;
    void changeEvent(QEvent* event) override;
    bool viewportEvent(QEvent* event) override;

private:
    int rowCount() const;
    int rowHeight() const {
        const int h = largest().height();
        return h > 0 ? h : 1;
    }
    int rowWidth() const;
    // The first and last row that meet the viewport's pixel rows top..bottom,
    // or first > last when none do.
    std::pair<int, int> rowsBetween(int top, int bottom) const;
    // The largest line size, once the lines not yet measured are.
    const QSize& largest() const;
    // Takes the size of rows first..last into the largest line size; true if
    // it grew.
    bool measure(int first, int last) const;
    // Forgets every size measured (the font or style changed, or the list was
    // emptied).
    void forgetSizes();
    void updateScrollRanges();
    void rowsRemoved(const QModelIndex& parent, int first);
    void setHover(const QModelIndex& index);

    LogLines* lines_;
    // Rows 0..measured_ - 1 are taken into largest_; the rest (after a font
    // or style change) wait until a size is needed.
    mutable QSize largest_{0, 0};
    mutable int measured_ = 0;
    // For each mix of scripts measured so far: the delegate's line height,
    // and the last line measured with its width.
    struct Known {
        int height = 0;
        QString text;
        int width = 0;
        // Whether the font sets the digits of lines shaped like `text`
        // interchangeably; unknown until a line differs from it only there.
        std::optional<bool> digitsChecked;
    };
    // True if a line that differs from `known.text` only in its ASCII digits
    // is as wide as it in `metrics` (checked once per shape of line and font).
    static bool digitsInterchangeable(Known& known, const QFontMetricsF& metrics);
    mutable QHash<quint64, Known> known_;
    // The list's font metrics and the style's text margin, kept between
    // measurements until the font or the style changes.
    mutable std::optional<QFontMetricsF> metrics_;
    mutable int margin_ = 0;
    bool scrollPending_ = false;
    // The row under the pointer, and where the pointer was last seen in the
    // viewport (valid while it is over the viewport).
    QPersistentModelIndex hover_;
    QPoint pointer_;
};

}  // namespace zorvek::ui
