#include "ui/list_model.h"

#include <algorithm>
#include <map>

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
  if (orientation != Qt::Horizontal) return {};
  if (role == Qt::InitialSortOrderRole) return Qt::AscendingOrder;
  if (role != Qt::DisplayRole) return {};
  if (section < 0 || section >= kListColumnCount) return {};
  return QString::fromStdString(Str(kStrColNumber + section));
}

void ListModel::SetRows(std::vector<ListRow> rows) {
  beginResetModel();
  rows_ = std::move(rows);
  hidden_.clear();
  sort_column_ = -1;
  sort_descending_ = false;
  filter_class_ = kAllClasses;
  endResetModel();
}

void ListModel::Unfilter(const Session& session) {
  if (hidden_.empty()) return;
  rows_.reserve(rows_.size() + hidden_.size());
  for (ListRow& r : hidden_) rows_.push_back(std::move(r));
  hidden_.clear();
  hidden_.shrink_to_fit();
  // Table order first: the sort in force then gives every row the place it had.
  std::sort(rows_.begin(), rows_.end(),
            [](const ListRow& a, const ListRow& b) { return a.Number < b.Number; });
  if (sort_column_ >= 0) SortListRows(rows_, session, sort_column_, sort_descending_);
}

void ListModel::ApplyFilter() {
  if (filter_class_ == kAllClasses) return;
  // Moved, not copied: a million rows stay a million strings.
  std::vector<ListRow> shown;
  for (ListRow& r : rows_) (r.ClassId == filter_class_ ? shown : hidden_).push_back(std::move(r));
  rows_ = std::move(shown);
}

void ListModel::SortBy(const Session& session, int column, bool descending) {
  beginResetModel();
  Unfilter(session);
  sort_column_ = column;
  sort_descending_ = descending;
  SortListRows(rows_, session, column, descending);
  ApplyFilter();
  endResetModel();
}

void ListModel::FilterClass(const Session& session, int64_t class_id) {
  beginResetModel();
  Unfilter(session);
  filter_class_ = class_id;
  ApplyFilter();
  endResetModel();
}

std::vector<std::pair<std::string, int32_t>> ListModel::ClassesPresent() const {
  std::map<int32_t, std::string> names;
  auto note = [&names](const ListRow& r) {
    if (names.count(r.ClassId)) return;
    // " (Texture2D id: 10 - DXT1)" names the class first.
    const std::string& t = r.TypeSuffix;
    const size_t start = t.find('(');
    std::string name = start == std::string::npos ? std::string() : t.substr(start + 1);
    name = name.substr(0, name.find_first_of(" )"));
    names[r.ClassId] = name.empty() ? std::to_string(r.ClassId) : name;
  };
  for (const ListRow& r : rows_) note(r);
  for (const ListRow& r : hidden_) note(r);
  std::vector<std::pair<std::string, int32_t>> out;
  for (const auto& [id, name] : names) out.emplace_back(name, id);
  std::sort(out.begin(), out.end());
  return out;
}

void ListModel::RowsChanged() {
  const int count = rowCount();
  if (count > 0) emit dataChanged(index(0, 0), index(count - 1, kListColumnCount - 1));
}

void ListModel::CaptionsChanged() {
  emit headerDataChanged(Qt::Horizontal, 0, kListColumnCount - 1);
}

}  // namespace kestrix
