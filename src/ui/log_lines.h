// SPDX-License-Identifier: MIT
// The lines of the log list, held compactly: the text of a block of lines lies
// in one UTF-16 buffer with the end of each line beside it, about 4 bytes per
// line besides the text itself, where a string or an item per line costs a
// heap block and its header each. Lines are only appended at the end; the
// oldest block is dropped once the log holds its most lines, so a program left
// running for weeks does not exhaust memory.
#pragma once

#include <QAbstractListModel>
#include <QString>
#include <QStringView>
#include <cstdint>
#include <vector>

namespace zorvek::ui {

class LogLines : public QAbstractListModel {
    Q_OBJECT
public:
    // The most lines kept, and how many of the oldest go at once when an
    // append would pass that (dropping in blocks keeps an append cheap).
    static constexpr int kMostLines = 100000;
    static constexpr int kDropped = 1000;

    using QAbstractListModel::QAbstractListModel;

    int rowCount(const QModelIndex& parent = QModelIndex()) const override;
    QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
    Qt::ItemFlags flags(const QModelIndex& index) const override;
    bool removeRows(int row, int count, const QModelIndex& parent = QModelIndex()) override;

    // Appends `line` as the newest line, first dropping the oldest block if
    // the log is full.
    void append(QStringView line);
    // Removes every line.
    void clear();
    // The text of line `row` (0 <= row < rowCount()); valid until the lines change.
    QStringView line(int row) const;

private:
    // kDropped lines at most; every block but the last is full, so line r is
    // line r % kDropped of block r / kDropped.
    struct Block {
        std::vector<char16_t> text;
        std::vector<std::uint32_t> ends;  // where each line's text ends
    };

    static QStringView lineOf(const std::vector<Block>& blocks, int row);
    void appendToBlocks(QStringView line);

    std::vector<Block> blocks_;
    int rows_ = 0;
};

}  // namespace zorvek::ui
