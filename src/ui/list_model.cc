#include "ui/list_model.h"

#include "core/list_row.h"
#include "core/localization.h"
#include "core/session.h"
#include "ui/list_sort.h"

namespace kestrix {

ListModel::ListModel(const Session& session, QObject* parent)
    : QAbstractTableModel(parent), session_(session) {}

int ListModel::rowCount(const QModelIndex& parent) const { return parent.isValid() ? 0 : count_; }

int ListModel::columnCount(const QModelIndex& parent) const {
  return parent.isValid() ? 0 : kListColumnCount;
}

QVariant ListModel::data(const QModelIndex& index, int role) const {
  if (role != Qt::DisplayRole || !index.isValid()) return {};
  const size_t r = static_cast<size_t>(index.row());
  // Open empties the rows before the view hears of it; such a row paints blank.
  if (r >= session_.ListRows.size()) return {};
  const ListRow& row = session_.ListRows[r];
  switch (index.column()) {
    case kColumnNumber: return QString::number(row.Number);
    case kColumnName: return QString::fromUtf8(row.Name.data(), static_cast<qsizetype>(row.Name.size()));
    case kColumnType: return QString::fromUtf8(TypeCellText(row));
    case kColumnSize: return QString::number(row.Size);
    case kColumnOffset: return QString::fromLatin1(OffsetCellText(row.Offset));
    default: return {};
  }
}

QVariant ListModel::headerData(int section, Qt::Orientation orientation, int role) const {
  if (orientation != Qt::Horizontal || role != Qt::DisplayRole) return {};
  if (section < 0 || section >= kListColumnCount) return {};
  return QString::fromStdString(Str(kStrColNumber + section));
}

void ListModel::SetRowCount(int count) {
  beginResetModel();
  count_ = count;
  endResetModel();
}

void ListModel::RowsChanged() {
  if (count_ > 0) emit dataChanged(index(0, 0), index(count_ - 1, kListColumnCount - 1));
}

void ListModel::CaptionsChanged() { emit headerDataChanged(Qt::Horizontal, 0, kListColumnCount - 1); }

}  // namespace kestrix
