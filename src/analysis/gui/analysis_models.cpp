#include "analysis/gui/analysis_models.h"

#include <algorithm>
#include <limits>

#include "analysis/export.h"
#include "app/gui/qt_text.h"

namespace kordel::analysis::gui {

void AnalysisTableModel::setTable(const ResultTable* table) {
  beginResetModel();
  table_ = table;
  endResetModel();
}

int AnalysisTableModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid() || table_ == nullptr) return 0;
  return static_cast<int>(
      std::min<std::size_t>(table_->rows.size(), std::numeric_limits<int>::max()));
}

int AnalysisTableModel::columnCount(const QModelIndex& parent) const {
  if (parent.isValid() || table_ == nullptr) return 0;
  return static_cast<int>(table_->columns.size());
}

QVariant AnalysisTableModel::data(const QModelIndex& index, int role) const {
  if (table_ == nullptr || !index.isValid() || index.row() >= rowCount() ||
      index.column() >= columnCount()) {
    return QVariant();
  }
  const auto& row = table_->rows[static_cast<std::size_t>(index.row())];
  const auto c = static_cast<std::size_t>(index.column());
  if (c >= row.size()) return QVariant();
  const Cell& cell = row[c];
  switch (role) {
    case Qt::DisplayRole:
      return kordel::gui::fromCp1251(cellText(cell));
    case Qt::TextAlignmentRole:
      return cell.type == CellType::Text ? QVariant(Qt::AlignLeft | Qt::AlignVCenter)
                                         : QVariant(Qt::AlignRight | Qt::AlignVCenter);
    case kSortRole:
      // An empty cell in a column of times (no call) sorts as text, before the times.
      if (cell.type == CellType::Text) return kordel::gui::fromCp1251(cell.text);
      return QVariant::fromValue<qlonglong>(cell.number);
    default:
      return QVariant();
  }
}

QVariant AnalysisTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (table_ == nullptr || role != Qt::DisplayRole || orientation != Qt::Horizontal ||
      section < 0 || section >= columnCount()) {
    return QVariant();
  }
  return kordel::gui::fromCp1251(table_->columns[static_cast<std::size_t>(section)].title);
}

}  // namespace kordel::analysis::gui
