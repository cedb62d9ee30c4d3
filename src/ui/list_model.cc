#include "ui/list_model.h"

#include "core/list_row.h"
#include "core/localization.h"
#include "ui/list_sort.h"

namespace kestrix {

ListModel::ListModel(QObject* parent) : QAbstractTableModel(parent) {}

int ListModel::rowCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : static_cast<int>(rows_.size());
}

int ListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kListColumnCount;
}

QVariant ListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  const size_t r = static_cast<size_t>(index.row());
  if (r >= rows_.size()) return {};
  const ListRow& row = rows_[r];
  switch (index.column()) {
    case kColumnNumber:
      return QString::number(row.Number);
    case kColumnName:
      return QString::fromUtf8(row.Name.data(), static_cast<qsizetype>(row.Name.size()));
    case kColumnType:
      return QString::fromUtf8(TypeCellText(row));
    case kColumnSize:
      return QString::number(row.Size);
    case kColumnOffset:
      return QString::fromLatin1(OffsetCellText(row.Offset));
    default:
      return {};
  }
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section < 0 || section >= kListColumnCount) return {};
  return QString::fromStdString(Str(kStrColNumber + section));
}

void ListModel::SetRows(std::vector<ListRow> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  endResetModel();
}

void ListModel::RowsChanged() {
  const int count = rowCount();
  if (count > 0) emit dataChanged(index(0, 0), index(count - 1, kListColumnCount - 1));
}

void ListModel::CaptionsChanged() {
  emit headerDataChanged(Qt::Horizontal, 0, kListColumnCount - 1);
}

}  // namespace kestrix
