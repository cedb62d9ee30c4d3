#include "ui/list_sort.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <random>
#include <string>
#include <vector>

#include "core/list_row.h"
#include "core/session.h"

namespace kestrix {
namespace {

std::string Folded(std::string s) {
  for (char& c : s)
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  return s;
}

TEST(QuickSortKeys, SortsRandomAndRepetitiveKeys) {
  std::mt19937 rng(7);
  for (uint32_t distinct : {1u, 3u, 1000u, 0xFFFFFFFFu}) {
    std::vector<KeyedRow> items(5000);
    for (uint32_t r = 0; r < items.size(); ++r)
      items[r] = {static_cast<uint32_t>(distinct == 0xFFFFFFFFu ? rng() : rng() % distinct), r};
    std::vector<KeyedRow> expected = items;
    QuickSortKeys(items);
    std::sort(expected.begin(), expected.end(),
              [](const KeyedRow& a, const KeyedRow& b) { return a.key < b.key; });
    for (size_t i = 0; i < items.size(); ++i) ASSERT_EQ(items[i].key, expected[i].key);
    // Every row is still there once.
    std::vector<uint32_t> rows;
    for (const KeyedRow& k : items) rows.push_back(k.row);
    std::sort(rows.begin(), rows.end());
    for (uint32_t r = 0; r < rows.size(); ++r) ASSERT_EQ(rows[r], r);
  }
}

TEST(SortListRows, NamesFoldOnlyAsciiLettersAndCompareLongNamesWhole) {
  const Session s;
  std::vector<ListRow> rows;
  const std::vector<std::string> names = {
      "b", "A", "_x", "a", "prefix_12b", "PREFIX_12a", "prefix_1", "Я.txt", "prefix_12", "z"};
  for (size_t i = 0; i < names.size(); ++i) {
    ListRow row;
    row.Number = static_cast<int32_t>(i + 1);
    row.Name = names[i];
    rows.push_back(row);
  }
  SortListRows(rows, s, kColumnName);
  ASSERT_EQ(rows.size(), names.size());
  for (size_t r = 1; r < rows.size(); ++r)
    EXPECT_LE(Folded(rows[r - 1].Name), Folded(rows[r].Name)) << r;
  EXPECT_EQ(rows.front().Name, "_x");  // "_" sorts before the folded letters
  EXPECT_EQ(rows.back().Name, "Я.txt");
  // Each row still carries its own entry number.
  for (const ListRow& row : rows) EXPECT_EQ(names[static_cast<size_t>(row.Number - 1)], row.Name);
}

}  // namespace
}  // namespace kestrix
