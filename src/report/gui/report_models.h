// Report window: table models of the three grids over a ReportBook. Cells are made when the view
// asks for them, so a file of a million calls shows at once and scrolls without delay.
#pragma once

#include <QAbstractTableModel>

#include "report/report_book.h"

namespace kordel::gui {

class ReportTableModel : public QAbstractTableModel {
 public:
  ReportTableModel(const report::ReportBook& book, report::ReportKind kind, QObject* parent);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

  // The book changed (load, sort, selection): the view reads every cell again.
  void refresh();
  // The cell as the core has it (Windows-1251).
  std::string cell(int row, int column) const;

 private:
  const report::ReportBook& book_;
  report::ReportKind kind_;
};

}  // namespace kordel::gui
