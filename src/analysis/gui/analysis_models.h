// Analysis window: a table model over one ResultTable of the call analysis. Cells are made
// when the view asks for them: counts and amounts on the right, and a sort key per cell so that
// a click on a column header sorts by the value, not by its text.
#pragma once

#include <QAbstractTableModel>

#include "analysis/tables.h"

namespace kordel::analysis::gui {

class AnalysisTableModel : public QAbstractTableModel {
 public:
  // The role of the sort key: the number of a count, span, amount or time; the text otherwise.
  static constexpr int kSortRole = Qt::UserRole + 1;

  explicit AnalysisTableModel(QObject* parent = nullptr) : QAbstractTableModel(parent) {}

  // The table shown (not owned; nullptr: none). It must stay alive and unchanged until the next
  // setTable().
  void setTable(const ResultTable* table);
  const ResultTable* table() const { return table_; }

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role = Qt::DisplayRole) const override;
  QVariant headerData(int section, Qt::Orientation orientation,
                      int role = Qt::DisplayRole) const override;

 private:
  const ResultTable* table_ = nullptr;
};

}  // namespace kordel::analysis::gui
