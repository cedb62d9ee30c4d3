#include "ui/list_sort.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>

#include "core/list_row.h"
#include "core/session.h"
#include "platform/ascii.h"

namespace kestrix {

namespace {

// Hoare partitioning around the middle element: equal keys stop both scans, so lists made of
// few distinct keys (a million rows of a handful of classes) still split in halves. The smaller
// side is sorted first by recursion and the larger one by the loop, which bounds the depth.
template <typename T, typename Less>
void QuickSort(std::vector<T>& a, Less less) {
  if (a.size() < 2) return;
  auto sort_range = [&](auto&& self, ptrdiff_t lo, ptrdiff_t hi) -> void {
    while (lo < hi) {
      ptrdiff_t i = lo;
      ptrdiff_t j = hi;
      const T pivot = a[static_cast<size_t>(lo + (hi - lo) / 2)];
      do {
        while (less(a[static_cast<size_t>(i)], pivot)) ++i;
        while (less(pivot, a[static_cast<size_t>(j)])) --j;
        if (i <= j) {
          std::swap(a[static_cast<size_t>(i)], a[static_cast<size_t>(j)]);
          ++i;
          --j;
        }
      } while (i <= j);
      if (j - lo < hi - i) {
        if (lo < j) self(self, lo, j);
        lo = i;
      } else {
        if (i < hi) self(self, i, hi);
        hi = j;
      }
    }
  };
  sort_range(sort_range, 0, static_cast<ptrdiff_t>(a.size()) - 1);
}

inline unsigned char Fold(unsigned char c) { return AsciiFold(c); }

// A name row carries its first sixteen folded bytes as two numbers, so most comparisons of a
// million names never leave the array; equal prefixes fall back to the whole names.
constexpr size_t kPrefixBytes = 16;

struct NameRow {
  uint64_t high;
  uint64_t low;
  const std::string* name;
  uint32_t row;
};

NameRow MakeNameRow(const std::string& name, uint32_t row) {
  uint64_t word[2] = {0, 0};
  const size_t n = name.size() < kPrefixBytes ? name.size() : kPrefixBytes;
  for (size_t k = 0; k < kPrefixBytes; ++k) {
    const uint64_t byte = k < n ? Fold(static_cast<unsigned char>(name[k])) : 0u;
    word[k / 8] = (word[k / 8] << 8) | byte;
  }
  return {word[0], word[1], &name, row};
}

inline bool NameLess(const NameRow& a, const NameRow& b) {
  if (a.high != b.high) return a.high < b.high;
  if (a.low != b.low) return a.low < b.low;
  const std::string& x = *a.name;
  const std::string& y = *b.name;
  const size_t n = x.size() < y.size() ? x.size() : y.size();
  // Equal prefixes mean the first min(16, n) bytes are equal once folded.
  for (size_t k = n < kPrefixBytes ? n : kPrefixBytes; k < n; ++k) {
    const unsigned char p = Fold(static_cast<unsigned char>(x[k]));
    const unsigned char q = Fold(static_cast<unsigned char>(y[k]));
    if (p != q) return p < q;
  }
  return x.size() < y.size();
}

uint64_t KeyOf(const ListRow& row, int column) {
  switch (column) {
    case kColumnType:
      return static_cast<uint32_t>(row.ClassId);
    case kColumnSize:
      return row.Size;
    default:
      return row.Offset;
  }
}

// The rows always show the entry table as it stands (the naming pass builds them and import
// refreshes them), so moving a row to its new place gives what rebuilding it would, without
// copying two strings per row. Row r takes the row at order[r]; the permutation is applied in
// place, cycle by cycle, so no second table of a million rows is allocated.
void Reorder(std::vector<ListRow>& rows, std::vector<uint32_t>& order) {
  constexpr uint32_t kPlaced = UINT32_MAX;
  for (size_t start = 0; start < order.size(); ++start) {
    if (order[start] == kPlaced) continue;
    ListRow held = std::move(rows[start]);
    size_t to = start;
    for (;;) {
      const size_t from = order[to];
      order[to] = kPlaced;
      if (from == start) {
        rows[to] = std::move(held);
        break;
      }
      rows[to] = std::move(rows[from]);
      to = from;
    }
  }
}

}  // namespace

void QuickSortKeys(std::vector<KeyedRow>& items) {
  QuickSort(items, [](const KeyedRow& a, const KeyedRow& b) { return a.key < b.key; });
}

namespace {

void SortListRowsAscending(std::vector<ListRow>& rows, const Session& s, int column) {
  const size_t n = rows.size();
  if (n == 0) return;
  if (column == kColumnNumber) {
    // Table order: the row of entry r is rebuilt in place r (rows hold every entry here).
    const size_t entries = s.EntryCount();
    for (size_t r = 0; r < n && r < entries; ++r) FillListRow(s, r, rows[r]);
    return;
  }
  std::vector<uint32_t> order(n);
  if (column == kColumnName) {
    std::vector<NameRow> items(n);
    for (size_t r = 0; r < n; ++r) items[r] = MakeNameRow(rows[r].Name, static_cast<uint32_t>(r));
    QuickSort(items, [](const NameRow& a, const NameRow& b) { return NameLess(a, b); });
    for (size_t r = 0; r < n; ++r) order[r] = items[r].row;
  } else {
    std::vector<KeyedRow> items(n);
    for (size_t r = 0; r < n; ++r) items[r] = {KeyOf(rows[r], column), static_cast<uint32_t>(r)};
    QuickSortKeys(items);
    for (size_t r = 0; r < n; ++r) order[r] = items[r].row;
  }
  Reorder(rows, order);
}

}  // namespace

void SortListRows(std::vector<ListRow>& rows, const Session& s, int column, bool descending) {
  SortListRowsAscending(rows, s, column);
  if (descending) std::reverse(rows.begin(), rows.end());
}

}  // namespace kestrix
