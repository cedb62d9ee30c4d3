// The virtual list behind ListView1: it owns the row cache and formats cells from it when the
// view asks for them. No Qt object exists per entry.
#pragma once

#include <QAbstractTableModel>
#include <climits>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "core/list_row.h"

namespace kestrix {

struct ListRow;
struct Session;

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
  // The rows were rebuilt in place (import): repaint them, keep the selection.
  void RowsChanged();

  // Sorting by a column, ascending or descending; the rows a filter hides are sorted too, so
  // that they come back in the same order.
  void SortBy(const Session& session, int column, bool descending);
  int SortColumn() const { return sort_column_; }
  bool SortDescending() const { return sort_descending_; }

  // Shows only the rows of one class (kAllClasses: every row). The view forgets its selection.
  static constexpr int64_t kAllClasses = INT64_MIN;
  void FilterClass(const Session& session, int64_t class_id);
  int64_t FilteredClass() const { return filter_class_; }
  bool Filtered() const { return filter_class_ != kAllClasses; }
  // Every row, shown or not (import refreshes them all).
  size_t AllRowCount() const { return rows_.size() + hidden_.size(); }
  template <typename F>
  void ForEachRow(F f) {
    for (ListRow& r : rows_) f(r);
    for (ListRow& r : hidden_) f(r);
  }
  // The classes of the archive with the name the list gives each ("Texture2D"), by name.
  std::vector<std::pair<std::string, int32_t>> ClassesPresent() const;
  // The captions follow the interface language.
  void CaptionsChanged();

 private:
  // Puts hidden rows back and orders all rows by the sort in force.
  void Unfilter(const Session& session);
  void ApplyFilter();

  std::vector<ListRow> rows_;
  std::vector<ListRow> hidden_;
  int sort_column_ = -1;
  bool sort_descending_ = false;
  int64_t filter_class_ = kAllClasses;
};

}  // namespace kestrix
