#include "report/gui/report_models.h"

#include <limits>

#include "app/gui/qt_text.h"

namespace kordel::gui {

using report::ReportKind;

ReportTableModel::ReportTableModel(const report::ReportBook& book, ReportKind kind, QObject* parent)
    : QAbstractTableModel(parent), book_(book), kind_(kind) {}

int ReportTableModel::rowCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  std::size_t rows = 0;
  switch (kind_) {
    case ReportKind::Calls:
      rows = book_.callRowCount();
      break;
    case ReportKind::Lines:
      rows = book_.lineRowCount();
      break;
    case ReportKind::Trunks:
      rows = book_.trunkRowCount();
      break;
  }
  // A view counts rows in int; no data file comes near that.
  return static_cast<int>(std::min<std::size_t>(rows, std::numeric_limits<int>::max()));
}

int ReportTableModel::columnCount(const QModelIndex& parent) const {
  if (parent.isValid()) return 0;
  switch (kind_) {
    case ReportKind::Calls:
      return static_cast<int>(report::kCallColumns);
    case ReportKind::Lines:
      return static_cast<int>(report::kLineColumns);
    default:
      return static_cast<int>(report::kTrunkColumns);
  }
}

std::string ReportTableModel::cell(int row, int column) const {
  const auto r = static_cast<std::size_t>(row);
  const auto c = static_cast<std::size_t>(column);
  switch (kind_) {
    case ReportKind::Calls:
      return book_.callCell(r, c);
    case ReportKind::Lines:
      return book_.lineCell(r, c);
    default:
      return book_.trunkCell(r, c);
  }
}

QVariant ReportTableModel::data(const QModelIndex& index, int role) const {
  if (!index.isValid() || role != Qt::DisplayRole || index.row() >= rowCount() ||
      index.column() >= columnCount()) {
    return QVariant();
  }
  return fromCp1251(cell(index.row(), index.column()));
}

QVariant ReportTableModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (role != Qt::DisplayRole || orientation != Qt::Horizontal || section < 0 ||
      section >= columnCount()) {
    return QVariant();
  }
  const auto c = static_cast<std::size_t>(section);
  switch (kind_) {
    case ReportKind::Calls:
      return fromCp1251(report::callColumnTitle(c));
    case ReportKind::Lines:
      return fromCp1251(report::lineColumnTitle(c));
    default:
      return fromCp1251(report::trunkColumnTitle(c));
  }
}

void ReportTableModel::refresh() {
  beginResetModel();
  endResetModel();
}

}  // namespace kordel::gui
