// Sorting the window's list. Kept free of Qt so that tests and the benchmark sort without a
// window.
#pragma once

#include <cstdint>
#include <vector>

namespace kestrix {

struct Session;
struct ListRow;

enum ListColumn : int {
  kColumnNumber = 0,
  kColumnName = 1,
  kColumnType = 2,
  kColumnSize = 3,
  kColumnOffset = 4,
  kListColumnCount = 5,
};

// Reorders the window's list rows by a column, ascending (or descending: the ascending order
// reversed), starting from the current row order.
// The "#" column restores the order of the entry table. Names compare with the ASCII letters
// folded; class and size compare as unsigned 32-bit numbers, offsets as 64-bit ones. Equal keys
// may change their relative order on every call (the sort is not stable).
void SortListRows(std::vector<ListRow>& rows, const Session& session, int column,
                  bool descending = false);

// The quicksort behind it (middle element as pivot), on keys with their row numbers; exposed
// for tests.
struct KeyedRow {
  uint64_t key;
  uint32_t row;
};
void QuickSortKeys(std::vector<KeyedRow>& items);

}  // namespace kestrix
