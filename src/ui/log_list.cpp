// SPDX-License-Identifier: MIT
#include "ui/log_list.h"

#include <QAbstractItemDelegate>
#include <QAccessible>
#include <QCursor>
#include <QEvent>
#include <QFontMetricsF>
#include <QMouseEvent>
#include <QPainter>
#include <QScrollBar>
#include <QSignalBlocker>
#include <QStyle>
#include <QStyleOptionSlider>
#include <QStyleOptionViewItem>
#include <algorithm>
#include <array>
#include <climits>
#include <cmath>

namespace zorvek::ui {
namespace {

// The vertical scroll bar, painted again only when what it shows changes.
// Once the list is long, its slider is as short as the style allows and sits
// at the bottom while lines are appended, so a repaint on every change of
// range and value would draw the same pixels again for each line.
class SteadyScrollBar : public QScrollBar {
public:
    using QScrollBar::QScrollBar;

    // While held, changes are only noted; the last release compares once, so
    // that a range grown before the value follows does not count as a change.
    void hold() { ++held_; }
    void release() {
        if (--held_ == 0 && changed_) {
            changed_ = false;
            repaintIfChanged(SliderValueChange);
        }
    }

protected:
    void sliderChange(SliderChange change) override {
        if (change == SliderOrientationChange) {
            QScrollBar::sliderChange(change);
        } else if (held_ > 0) {
            changed_ = true;
        } else {
            repaintIfChanged(change);
        }
    }

    void paintEvent(QPaintEvent* event) override {
        painted_ = look();
        QScrollBar::paintEvent(event);
    }

private:
    // What the style draws from the range and value: where the slider is, and
    // whether the bar is at an end or has no range at all.
    struct Look {
        QRect slider;
        bool empty = false;
        bool atMinimum = false;
        bool atMaximum = false;
        bool operator==(const Look&) const = default;
    };

    Look look() const {
        QStyleOptionSlider option;
        initStyleOption(&option);
        return {style()->subControlRect(QStyle::CC_ScrollBar, &option, QStyle::SC_ScrollBarSlider,
                                        this),
                minimum() == maximum(), value() == minimum(), value() == maximum()};
    }

    void repaintIfChanged(SliderChange change) {
        if (look() != painted_) QScrollBar::sliderChange(change);
    }

    Look painted_;
    int held_ = 0;
    bool changed_ = false;
};

// Holds the scroll bar's repaint decision for the length of a scope.
class HoldRepaint {
public:
    explicit HoldRepaint(QScrollBar* bar) : bar_(dynamic_cast<SteadyScrollBar*>(bar)) {
        if (bar_) bar_->hold();
    }
    ~HoldRepaint() {
        if (bar_) bar_->release();
    }
    HoldRepaint(const HoldRepaint&) = delete;
    HoldRepaint& operator=(const HoldRepaint&) = delete;

private:
    SteadyScrollBar* bar_;
};

// The scripts of a text's characters as one key: up to eight distinct
// scripts, sorted; 0 when the text holds characters the delegate lays out
// specially (line breaks, tabs, other control characters), or more scripts.
quint64 scriptsOf(QStringView text) {
    std::array<quint8, 8> scripts{};
    size_t count = 0;
    for (qsizetype i = 0; i < text.size(); ++i) {
        char32_t c = text[i].unicode();
        if (QChar::isHighSurrogate(c) && i + 1 < text.size() && text[i + 1].isLowSurrogate()) {
            c = QChar::surrogateToUcs4(text[i], text[i + 1]);
            ++i;
        }
        if (c < 0x20 || (c >= 0x7f && c < 0xa0) || c == 0x2028 || c == 0x2029) return 0;
        const auto script = static_cast<quint8>(QChar::script(c));
        const auto end = scripts.begin() + static_cast<std::ptrdiff_t>(count);
        const auto at = std::lower_bound(scripts.begin(), end, script);
        if (at != end && *at == script) continue;
        if (count == scripts.size()) return 0;
        std::copy_backward(at, end, end + 1);
        *at = script;
        ++count;
    }
    quint64 key = 1;  // never 0, also for an empty text
    for (size_t i = 0; i < count; ++i) key = (key << 8) | scripts[i];
    return key;
}

bool isDigit(QChar c) { return c >= QLatin1Char('0') && c <= QLatin1Char('9'); }

// True if `a` and `b` have the same length and differ only where both hold
// an ASCII digit.
bool differsInDigitsOnly(QStringView a, QStringView b) {
    if (a.size() != b.size()) return false;
    for (qsizetype i = 0; i < a.size(); ++i) {
        if (a[i] != b[i] && !(isDigit(a[i]) && isDigit(b[i]))) return false;
    }
    return true;
}

}  // namespace

LogList::LogList(QWidget* parent) : QListView(parent), lines_(new LogLines(this)) {
    // Offsets below are pixels in both directions, and lines run left to right
    // whatever the application's direction.
    setLayoutDirection(Qt::LeftToRight);
    auto* bar = new SteadyScrollBar(Qt::Vertical, this);
    setVerticalScrollBar(bar);
    // The view's own connection went with the bar it replaced.
    connect(bar, &QScrollBar::valueChanged, this, &LogList::verticalScrollbarValueChanged);
    setModel(lines_);  // for good: nothing replaces it
    connect(lines_, &QAbstractItemModel::rowsRemoved, this,
            [this](const QModelIndex& parent, int first, int) { rowsRemoved(parent, first); });
    setVerticalScrollMode(QAbstractItemView::ScrollPerPixel);
    setHorizontalScrollMode(QAbstractItemView::ScrollPerPixel);
}

void LogList::appendLine(const QString& line) {
    const HoldRepaint hold(verticalScrollBar());  // range and value change together
    lines_->append(line);
    // A hidden list scrolls once, when it is shown.
    if (isVisible()) {
        scrollToBottom();
    } else {
        scrollPending_ = true;
    }
}

void LogList::clear() { lines_->clear(); }

int LogList::rowCount() const { return model()->rowCount(rootIndex()); }

int LogList::rowWidth() const { return std::max(largest().width(), viewport()->width()); }

std::pair<int, int> LogList::rowsBetween(int top, int bottom) const {
    const int h = rowHeight();
    const int from = top + verticalOffset();
    const int to = bottom + verticalOffset();
    if (to < 0 || to < from) return {0, -1};
    return {std::max(0, from) / h, std::min(rowCount() - 1, to / h)};
}

const QSize& LogList::largest() const {
    const int rows = rowCount();
    if (measured_ < rows) {
        measure(measured_, rows - 1);
        measured_ = rows;
    }
    return largest_;
}

bool LogList::measure(int first, int last) const {
    // The font's metrics and the style's margin follow the font and the style
    // alone (a change of either forgets them), so they are looked up once
    // rather than for every line: building the item option and the metrics
    // costs more than measuring a line the list has seen the like of.
    if (!metrics_) {
        QStyleOptionViewItem option;
        initViewItemOption(&option);
        // The style's text layout: the text's natural width, rounded up,
        // within a margin on either side.
        margin_ = style()->pixelMetric(QStyle::PM_FocusFrameHMargin, &option, this) + 1;
        metrics_.emplace(option.font);
    }
    const QSize before = largest_;
    for (int row = first; row <= last; ++row) {
        const QStringView text = lines_->line(row);
        const quint64 scripts = scriptsOf(text);
        const auto known = known_.find(scripts);
        if (scripts != 0 && known != known_.end()) {
            if (known->text != text) {
                // A time stamp differs from the one before only in its digits;
                // where the font sets every digit alike, its width is the same.
                const bool sameWidth = differsInDigitsOnly(known->text, text) &&
                                       digitsInterchangeable(*known, *metrics_);
                known->text = text.toString();
                if (!sameWidth) {
                    known->width =
                        static_cast<int>(std::ceil(metrics_->horizontalAdvance(known->text))) +
                        2 * margin_;
                    known->digitsChecked.reset();
                }
            }
            largest_ = largest_.expandedTo(QSize(known->width, known->height));
            continue;
        }
        const QModelIndex index = model()->index(row, modelColumn(), rootIndex());
        if (const QAbstractItemDelegate* delegate = itemDelegateForIndex(index)) {
            QStyleOptionViewItem option;
            initViewItemOption(&option);
            const QSize size = delegate->sizeHint(option, index);
            if (scripts != 0)
                known_.insert(scripts, {size.height(), text.toString(), size.width(), {}});
            largest_ = largest_.expandedTo(size);
        }
    }
    return largest_ != before;
}

bool LogList::digitsInterchangeable(Known& known, const QFontMetricsF& metrics) {
    if (!known.digitsChecked) {
        // Kerning and ligatures act on neighbouring glyphs. The digits are
        // interchangeable here if the line laid out with every digit the same
        // one is as wide for each of the ten digits as the line itself, and a
        // run holding each ordered pair of digits once is as wide as as many
        // zeros: then no digit is wider than another, next to another digit
        // or next to the line's other characters. The check is made once for
        // each line of new shape, and again after a change of font.
        const qreal width = metrics.horizontalAdvance(known.text);
        bool alike = true;
        for (char16_t digit = u'0'; alike && digit <= u'9'; ++digit) {
            QString same = known.text;
            for (QChar& c : same) {
                if (isDigit(c)) c = QChar(digit);
            }
            alike = metrics.horizontalAdvance(same) == width;
        }
        if (alike) {
            static const QString pairs = QStringLiteral(
                "00102030405060708091121314151617181922324252627282933435363738394454647484955657"
                "585966768697787988990");
            alike =
                metrics.horizontalAdvance(pairs) ==
                static_cast<qreal>(pairs.size()) * metrics.horizontalAdvance(QStringLiteral("0"));
        }
        known.digitsChecked = alike;
    }
    return *known.digitsChecked;
}

void LogList::forgetSizes() {
    largest_ = QSize(0, 0);
    measured_ = 0;
    known_.clear();
    metrics_.reset();
}

QRect LogList::visualRect(const QModelIndex& index) const {
    if (!index.isValid() || index.model() != model() || index.parent() != rootIndex() ||
        index.column() != modelColumn()) {
        return {};
    }
    const int h = rowHeight();
    return {-horizontalOffset(), index.row() * h - verticalOffset(), rowWidth(), h};
}

QModelIndex LogList::indexAt(const QPoint& point) const {
    const int x = point.x() + horizontalOffset();
    const int y = point.y() + verticalOffset();
    if (x < 0 || x >= rowWidth() || y < 0) return {};
    const int row = y / rowHeight();
    if (row >= rowCount()) return {};
    return model()->index(row, modelColumn(), rootIndex());
}

void LogList::scrollTo(const QModelIndex& index, ScrollHint hint) {
    executeDelayedItemsLayout();  // the scroll range may wait for the list to be shown
    const QRect rect = visualRect(index);
    if (!rect.isValid()) return;
    const QRect area = viewport()->rect();
    int value = verticalScrollBar()->value();
    switch (hint) {
        case EnsureVisible:
            if (rect.top() < area.top())
                value += rect.top();
            else if (rect.bottom() > area.bottom())
                value += std::min(rect.top(), rect.bottom() - area.bottom());
            break;
        case PositionAtTop: value += rect.top(); break;
        case PositionAtBottom: value += rect.bottom() - area.bottom(); break;
        case PositionAtCenter: value += rect.top() - (area.height() - rect.height()) / 2; break;
    }
    verticalScrollBar()->setValue(value);
}

void LogList::doItemsLayout() {
    // There is nothing to place: a row's position follows from its number.
    // This sets the scroll ranges and repaints, without QListView's layout.
    QAbstractItemView::doItemsLayout();
}

void LogList::reset() {
    QListView::reset();
    forgetSizes();
}

void LogList::rowsInserted(const QModelIndex& parent, int first, int last) {
    // Not QListView's: it throws its layout away and builds it again for every
    // row. QAbstractItemView's is needed only while the list is shown (it
    // moves open editors); while hidden it merely starts a timer to ask the
    // model for more rows, which the lines' model never has, and that timer
    // would wake the event loop once more after every line.
    if (isVisible()) QAbstractItemView::rowsInserted(parent, first, last);
    if (parent != rootIndex()) return;
    const QSize before = largest_;
    if (!isVisible()) {
        // Measured now, a few microseconds a line, so that showing a long
        // list does not wait for all its lines at once.
        largest();
        scheduleDelayedItemsLayout();  // done once, when the list is shown
        return;
    }
    const bool grew = largest() != before;  // only the new lines are measured
    updateScrollRanges();
    if (grew) {
        viewport()->update();  // every row takes the new size
        return;
    }
    // The new rows and those they pushed down; after an append at the end
    // that is the new row, which is often still below the viewport.
    const int h = rowHeight();
    const QRect moved(QPoint(0, first * h - verticalOffset()),
                      QPoint(viewport()->width() - 1, rowCount() * h - verticalOffset() - 1));
    const QRect dirty = moved & viewport()->rect();
    if (!dirty.isEmpty()) viewport()->update(dirty);
}

void LogList::rowsAboutToBeRemoved(const QModelIndex& parent, int first, int last) {
    // Not QListView's: it throws its layout away. The ranges are set and the
    // rows repainted once the rows are gone (rowsRemoved).
    QAbstractItemView::rowsAboutToBeRemoved(parent, first, last);
    if (parent != rootIndex()) return;
    if (last - first + 1 >= rowCount()) {
        forgetSizes();
    } else if (first < measured_) {
        measured_ -= std::min(last + 1, measured_) - first;
    }
}

void LogList::rowsRemoved(const QModelIndex& parent, int first) {
    if (parent != rootIndex()) return;
    if (!isVisible()) {
        scheduleDelayedItemsLayout();  // done once, when the list is shown
        return;
    }
    updateScrollRanges();  // may scroll back, which paints what comes into view
    // The rows that moved up into the place of the removed ones, and the
    // space they left.
    const QRect moved(0, first * rowHeight() - verticalOffset(), viewport()->width(),
                      viewport()->height());
    const QRect dirty = moved & viewport()->rect();
    if (!dirty.isEmpty()) viewport()->update(dirty);
}

void LogList::dataChanged(const QModelIndex& topLeft, const QModelIndex& bottomRight,
                          const QList<int>& roles) {
    // A changed line may be wider than any before.
    if (topLeft.isValid() && topLeft.parent() == rootIndex() && topLeft.row() < measured_ &&
        measure(topLeft.row(), std::min(bottomRight.row(), measured_ - 1))) {
        scheduleDelayedItemsLayout();
    }
    QAbstractItemView::dataChanged(topLeft, bottomRight, roles);
}

void LogList::updateGeometries() {
    updateScrollRanges();
    QAbstractItemView::updateGeometries();
}

void LogList::updateScrollRanges() {
    const int rows = rowCount();
    const int h = rowHeight();
    const QSize contents(rows > 0 ? largest().width() : 0,
                         static_cast<int>(std::min<qint64>(qint64{rows} * h, INT_MAX)));
    QScrollBar* vertical = verticalScrollBar();
    QScrollBar* horizontal = horizontalScrollBar();
    // Whether a bar is needed is decided on the whole inside of the frame, so
    // that one bar taking room cannot make the other come and go without end.
    const QSize whole = contentsRect().marginsRemoved(viewportMargins()).size();
    const int verticalExtent = style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, vertical);
    const int horizontalExtent =
        style()->pixelMetric(QStyle::PM_ScrollBarExtent, nullptr, horizontal);
    const bool tall = contents.height() > whole.height();
    const bool wantsHorizontal = contents.width() > whole.width() - (tall ? verticalExtent : 0);
    const bool wantsVertical =
        contents.height() > whole.height() - (wantsHorizontal ? horizontalExtent : 0);
    const bool bothAsNeeded = verticalScrollBarPolicy() == Qt::ScrollBarAsNeeded &&
                              horizontalScrollBarPolicy() == Qt::ScrollBarAsNeeded;
    const QSize view = viewport()->size();
    const HoldRepaint hold(vertical);
    horizontal->setSingleStep(h);
    horizontal->setPageStep(view.width());
    horizontal->setRange(0, bothAsNeeded && !wantsHorizontal ? 0 : contents.width() - view.width());
    vertical->setSingleStep(h);
    vertical->setPageStep(view.height());
    const int verticalMax =
        std::max(0, bothAsNeeded && !wantsVertical ? 0 : contents.height() - view.height());
    if (vertical->maximum() > 0 && verticalMax > 0 && vertical->value() <= verticalMax) {
        // The scroll area lays its bars out again after every range change (a
        // queued call, the bar's only listener for it). While the bar stays
        // shown and its value stays, as when a line is appended to a long
        // list, that would change nothing, so the change is not signalled.
        const QSignalBlocker quiet(vertical);
        vertical->setRange(0, verticalMax);
    } else {
        vertical->setRange(0, verticalMax);
    }
}

void LogList::verticalScrollbarValueChanged(int) {
    // QAbstractItemView asks the X server where the pointer is after every
    // scroll, a round trip per appended line, to move the hover highlight.
    // That is needed only while the pointer is over the lines, and scrolling
    // moves the lines, not the viewport, so the pointer's last position over
    // the viewport still holds while hover events keep it. (The lines'
    // model never fetches more rows, the base's other task here.)
    if (!viewport()->underMouse()) return;
    setHover(indexAt(viewport()->testAttribute(Qt::WA_Hover)
                         ? pointer_
                         : viewport()->mapFromGlobal(QCursor::pos())));
}

void LogList::horizontalScrollbarValueChanged(int) {
    // Every row spans the whole width: the row under the pointer stays.
}

void LogList::setHover(const QModelIndex& index) {
    if (hover_ == index) return;
    update(hover_);
    update(index);
    hover_ = index;
}

bool LogList::viewportEvent(QEvent* event) {
    switch (event->type()) {
        case QEvent::HoverEnter:
        case QEvent::HoverMove:
            pointer_ = static_cast<QHoverEvent*>(event)->position().toPoint();
            setHover(indexAt(pointer_));
            break;
        case QEvent::MouseMove:
            pointer_ = static_cast<QMouseEvent*>(event)->position().toPoint();
            setHover(indexAt(pointer_));
            break;
        case QEvent::HoverLeave:
        case QEvent::Leave: setHover(QModelIndex()); break;
        default: break;
    }
    return QListView::viewportEvent(event);
}

void LogList::selectionChanged(const QItemSelection& selected, const QItemSelection& deselected) {
#if QT_CONFIG(accessibility)
    // Screen readers hear of the first row that joined and the first that left
    // the selection; QListView would ask its own layout for the row's number.
    if (QAccessible::isActive()) {
        const auto tell = [this](const QItemSelection& rows, QAccessible::Event kind) {
            if (rows.isEmpty() || !rows.first().topLeft().isValid()) return;
            QAccessibleEvent event(this, kind);
            event.setChild(rows.first().topLeft().row());
            QAccessible::updateAccessibility(&event);
        };
        tell(selected, QAccessible::SelectionAdd);
        tell(deselected, QAccessible::SelectionRemove);
    }
#endif
    QAbstractItemView::selectionChanged(selected, deselected);
}

void LogList::currentChanged(const QModelIndex& current, const QModelIndex& previous) {
#if QT_CONFIG(accessibility)
    if (QAccessible::isActive() && current.isValid() && hasFocus()) {
        QAccessibleEvent event(this, QAccessible::Focus);
        event.setChild(current.row());
        QAccessible::updateAccessibility(&event);
    }
#endif
    QAbstractItemView::currentChanged(current, previous);
}

int LogList::horizontalOffset() const { return horizontalScrollBar()->value(); }

int LogList::verticalOffset() const { return verticalScrollBar()->value(); }

QModelIndex LogList::moveCursor(CursorAction action, Qt::KeyboardModifiers) {
    const int rows = rowCount();
    if (rows == 0) return {};
    const QModelIndex current = currentIndex();
    if (!current.isValid()) return model()->index(0, modelColumn(), rootIndex());
    // A page is the rows in view less one, so one row stays in sight.
    const int h = rowHeight();
    const int page = std::max(1, (viewport()->height() + h / 2) / h - 1);
    int row = current.row();
    switch (action) {
        case MoveUp:
        case MovePrevious: row -= 1; break;
        case MoveDown:
        case MoveNext: row += 1; break;
        case MovePageUp: row -= page; break;
        case MovePageDown: row += page; break;
        case MoveHome: row = 0; break;
        case MoveEnd: row = rows - 1; break;
        case MoveLeft:
        case MoveRight: break;  // one column: nothing beside
    }
    return model()->index(std::clamp(row, 0, rows - 1), modelColumn(), rootIndex());
}

bool LogList::isIndexHidden(const QModelIndex&) const { return false; }

void LogList::setSelection(const QRect& rect, QItemSelectionModel::SelectionFlags command) {
    if (!selectionModel()) return;
    const QRect area = rect.normalized();
    QItemSelection selection;
    const int left = area.left() + horizontalOffset();
    const int right = area.right() + horizontalOffset();
    if (right >= 0 && left < rowWidth()) {
        const auto [first, last] = rowsBetween(area.top(), area.bottom());
        if (first <= last) {
            selection.select(model()->index(first, modelColumn(), rootIndex()),
                             model()->index(last, modelColumn(), rootIndex()));
        }
    }
    selectionModel()->select(selection, command);
}

QRegion LogList::visualRegionForSelection(const QItemSelection& selection) const {
    QRegion region;
    const QRect area = viewport()->rect();
    const int h = rowHeight();
    for (const QItemSelectionRange& range : selection) {
        if (!range.isValid() || range.parent() != rootIndex()) continue;
        const QRect rows(QPoint(-horizontalOffset(), range.top() * h - verticalOffset()),
                         QSize(rowWidth(), (range.bottom() - range.top() + 1) * h));
        region += rows & area;
    }
    return region;
}

QSize LogList::viewportSizeHint() const {
    return {largest().width(),
            static_cast<int>(std::min<qint64>(qint64{rowCount()} * rowHeight(), INT_MAX))};
}

void LogList::scrollContentsBy(int dx, int dy) {
    // What is painted moves along; only the rows scrolled into view are painted.
    scrollDirtyRegion(dx, dy);
    viewport()->scroll(dx, dy);
}

void LogList::paintEvent(QPaintEvent* event) {
    QStyleOptionViewItem option;
    initViewItemOption(&option);
    const QStyle::State state = option.state;
    const bool enabled = state.testFlag(QStyle::State_Enabled);
    const QModelIndex current = currentIndex();
    const bool focus = (hasFocus() || viewport()->hasFocus()) && current.isValid();
    const bool editing = this->state() == EditingState;
    const QItemSelectionModel* selections = selectionModel();
    QPainter painter(viewport());
    const auto [first, last] = rowsBetween(event->rect().top(), event->rect().bottom());
    for (int row = first; row <= last; ++row) {
        const QModelIndex index = model()->index(row, modelColumn(), rootIndex());
        QAbstractItemDelegate* delegate = itemDelegateForIndex(index);
        if (!delegate) continue;
        option.rect = visualRect(index);
        option.state = state;
        option.state.setFlag(QStyle::State_Selected, selections && selections->isSelected(index));
        if (enabled) {
            const bool itemEnabled = model()->flags(index).testFlag(Qt::ItemIsEnabled);
            option.state.setFlag(QStyle::State_Enabled, itemEnabled);
            option.palette.setCurrentColorGroup(itemEnabled ? QPalette::Normal
                                                            : QPalette::Disabled);
        }
        if (focus && index == current) {
            option.state |= QStyle::State_HasFocus;
            option.state.setFlag(QStyle::State_Editing, editing);
        }
        option.state.setFlag(QStyle::State_MouseOver, index == hover_);
        delegate->paint(&painter, option, index);
    }
}

void LogList::resizeEvent(QResizeEvent* event) {
    // Not QListView's, which waits for its own layout.
    QAbstractItemView::resizeEvent(event);
}

void LogList::timerEvent(QTimerEvent* event) {
    // Not QListView's, which would go on with its own layout.
    QAbstractItemView::timerEvent(event);
}

void LogList::showEvent(QShowEvent* event) {
    QListView::showEvent(event);
    if (scrollPending_) {
        scrollPending_ = false;
        scrollToBottom();
    }
}

void LogList::changeEvent(QEvent* event) {
    QListView::changeEvent(event);
    if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) {
        // Each line's size follows the font and the style: all are measured
        // again, once a size is needed.
        forgetSizes();
        scheduleDelayedItemsLayout();
    }
}

}  // namespace zorvek::ui
