// SPDX-License-Identifier: MIT
#include "ui/log_lines.h"

#include <utility>

namespace zorvek::ui {

int LogLines::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : rows_; }

QVariant LogLines::data(const QModelIndex& index, int role) const {
    if (!index.isValid() || index.model() != this || index.column() != 0 || index.row() >= rows_)
        return {};
    if (role != Qt::DisplayRole && role != Qt::EditRole) return {};
    return line(index.row()).toString();
}

Qt::ItemFlags LogLines::flags(const QModelIndex& index) const {
    if (!index.isValid()) return Qt::NoItemFlags;
    return Qt::ItemIsSelectable | Qt::ItemIsEnabled | Qt::ItemNeverHasChildren;
}

QStringView LogLines::lineOf(const std::vector<Block>& blocks, int row) {
    const Block& block = blocks[static_cast<size_t>(row / kDropped)];
    const size_t i = static_cast<size_t>(row % kDropped);
    const std::uint32_t begin = i == 0 ? 0 : block.ends[i - 1];
    return QStringView(block.text.data() + begin, block.ends[i] - begin);
}

QStringView LogLines::line(int row) const { return lineOf(blocks_, row); }

void LogLines::appendToBlocks(QStringView line) {
    if (blocks_.empty() || blocks_.back().ends.size() == static_cast<size_t>(kDropped)) {
        // The full block keeps no spare room; the new one has room for its ends.
        if (!blocks_.empty()) blocks_.back().text.shrink_to_fit();
        blocks_.emplace_back().ends.reserve(kDropped);
    }
    Block& block = blocks_.back();
    block.text.insert(block.text.end(), line.utf16(), line.utf16() + line.size());
    block.ends.push_back(static_cast<std::uint32_t>(block.text.size()));
    ++rows_;
}

void LogLines::append(QStringView line) {
    if (rows_ >= kMostLines) {
        // The oldest block is full: it goes whole, without moving another line.
        beginRemoveRows(QModelIndex(), 0, kDropped - 1);
        blocks_.erase(blocks_.begin());
        rows_ -= kDropped;
        endRemoveRows();
    }
    beginInsertRows(QModelIndex(), rows_, rows_);
    appendToBlocks(line);
    endInsertRows();
}

void LogLines::clear() {
    beginResetModel();
    blocks_.clear();
    rows_ = 0;
    endResetModel();
}

bool LogLines::removeRows(int row, int count, const QModelIndex& parent) {
    if (parent.isValid() || row < 0 || count <= 0 || row + count > rows_) return false;
    beginRemoveRows(parent, row, row + count - 1);
    if (row % kDropped == 0 && (count % kDropped == 0 || row + count == rows_)) {
        // Whole blocks (the last may be partly filled).
        const auto first = blocks_.begin() + row / kDropped;
        blocks_.erase(first, first + (count + kDropped - 1) / kDropped);
        rows_ -= count;
    } else if (row + count == rows_) {
        // The newest lines: the blocks past the new end go, the last is cut.
        blocks_.resize(static_cast<size_t>((row + kDropped - 1) / kDropped));
        if (row % kDropped != 0) {
            Block& last = blocks_.back();
            last.ends.resize(static_cast<size_t>(row % kDropped));
            last.text.resize(last.ends.back());
        }
        rows_ = row;
    } else {
        // Elsewhere the kept lines are packed into blocks again.
        std::vector<Block> old = std::exchange(blocks_, {});
        const int oldRows = std::exchange(rows_, 0);
        for (int r = 0; r < oldRows; ++r) {
            if (r < row || r >= row + count) appendToBlocks(lineOf(old, r));
        }
    }
    endRemoveRows();
    return true;
}

}  // namespace zorvek::ui
