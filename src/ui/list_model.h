// The virtual list behind ListView1: it owns the row cache and formats cells from it when the
// view asks for them. No Qt object exists per entry.
#pragma once

#include <QAbstractTableModel>
#include <vector>

#include "core/list_row.h"

namespace kestrix {

struct ListRow;

class ListModel : public QAbstractTableModel {
  Q_OBJECT

 public:
  explicit ListModel(QObject* parent);

  int rowCount(const QModelIndex& parent = QModelIndex()) const override;
  int columnCount(const QModelIndex& parent = QModelIndex()) const override;
  QVariant data(const QModelIndex& index, int role) const override;
  QVariant headerData(int section, Qt::Orientation orientation, int role) const override;

  // The list shows these rows from now on (the view forgets its old rows and selection).
  void SetRows(std::vector<ListRow> rows);
  // The row cache, in the order the list shows it.
  std::vector<ListRow>& Rows() { return rows_; }
  const std::vector<ListRow>& Rows() const { return rows_; }
  // The rows were rebuilt in place (sorting, import): repaint them, keep the selection.
  void RowsChanged();
  // The captions follow the interface language.
  void CaptionsChanged();

 private:
  std::vector<ListRow> rows_;
};

}  // namespace kestrix
