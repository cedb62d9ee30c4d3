#include "ui/search.h"

#include <gtest/gtest.h>

#include <cstring>
#include <string>
#include <vector>

#include "core/list_row.h"
#include "core/session.h"
#include "platform/byte_source.h"

namespace kestrix {
namespace {

// A list of rows without an entry table: the data search then reads at the rows' offsets.
std::vector<ListRow> RowsNamed(const std::vector<std::string>& names) {
  std::vector<ListRow> rows;
  for (size_t i = 0; i < names.size(); ++i) {
    ListRow row;
    row.Number = static_cast<int32_t>(i + 1);
    row.Name = names[i];
    row.ClassId = 21;
    rows.push_back(row);
  }
  return rows;
}

TEST(SearchStream, FindsTextAcrossChunkBoundaries) {
  const std::string word = "needle";
  for (long shift : {-6L, -3L, -1L, 0L}) {
    std::vector<uint8_t> data(2 * kSearchChunkSize + 500, 'x');
    const size_t at = static_cast<size_t>(static_cast<long>(kSearchChunkSize) + shift);
    std::memcpy(data.data() + at, word.data(), word.size());
    MemorySource source(data);
    EXPECT_TRUE(SearchStream(source, word, 0, data.size())) << "shift " << shift;
    // A start past the word, or an end that cuts it, hides it.
    EXPECT_FALSE(SearchStream(source, word, at + 1, data.size())) << "shift " << shift;
    EXPECT_FALSE(SearchStream(source, word, 0, at + word.size() - 1)) << "shift " << shift;
    EXPECT_TRUE(SearchStream(source, word, at, at + word.size())) << "shift " << shift;
  }
}

TEST(SearchStream, EdgesOfTheRange) {
  std::vector<uint8_t> data(100, 'x');
  std::memcpy(data.data() + 94, "needle", 6);
  MemorySource source(data);
  EXPECT_TRUE(SearchStream(source, "needle", 0, 100));
  // An end past the stream is clipped instead of reading outside it.
  EXPECT_TRUE(SearchStream(source, "needle", 90, 5000));
  EXPECT_FALSE(SearchStream(source, "needle", 200, 5000));
  EXPECT_FALSE(SearchStream(source, "", 0, 100));
  EXPECT_FALSE(SearchStream(source, "needles", 0, 100));
}

TEST(SearchStream, TextLongerThanAChunkEnds) {
  std::vector<uint8_t> data(3 * kSearchChunkSize, 'a');
  std::string text(kSearchChunkSize + 10, 'a');
  text.back() = 'b';
  MemorySource source(data);
  EXPECT_FALSE(SearchStream(source, text, 0, data.size()));
  data[2 * kSearchChunkSize + 7] = 'b';
  EXPECT_TRUE(SearchStream(source, text, 0, data.size()));
}

TEST(FindMatchingRow, NamesWithAndWithoutCase) {
  const Session s;
  std::vector<ListRow> rows = RowsNamed({"a.mat", "HERO.tex", "b.mat"});
  EXPECT_EQ(FindMatchingRow(rows, s, 0, "hero", false, false, false, kSearchNames, nullptr), 1);
  EXPECT_EQ(FindMatchingRow(rows, s, 0, "hero", false, true, false, kSearchNames, nullptr), -1);
  EXPECT_EQ(FindMatchingRow(rows, s, 0, "HERO", false, true, false, kSearchNames, nullptr), 1);
  EXPECT_EQ(FindMatchingRow(rows, s, 0, "", false, false, true, kSearchNames, nullptr), -1);
}

TEST(FindMatchingRow, CyrillicIsComparedAsBytes) {
  const Session s;
  std::vector<ListRow> rows = RowsNamed({"a.mat", "Привет.txt", "привет.txt"});
  EXPECT_EQ(FindMatchingRow(rows, s, 0, "привет", false, false, false, kSearchNames, nullptr), 2);
  EXPECT_EQ(FindMatchingRow(rows, s, 0, "Привет", false, false, false, kSearchNames, nullptr), 1);
}

TEST(FindMatchingRow, DirectionAndWrapAround) {
  // Matches at rows 2 and 7 of 10.
  std::vector<std::string> names(10, "other");
  names[2] = "key_two";
  names[7] = "key_seven";
  const Session s;
  std::vector<ListRow> rows = RowsNamed(names);
  auto find = [&](int start, bool backward, bool wrap) {
    return FindMatchingRow(rows, s, start, "key", backward, false, wrap, kSearchNames, nullptr);
  };
  EXPECT_EQ(find(0, false, false), 2);
  EXPECT_EQ(find(3, false, false), 7);
  EXPECT_EQ(find(8, false, false), -1);
  EXPECT_EQ(find(8, false, true), 2);
  EXPECT_EQ(find(10, false, false), -1);
  EXPECT_EQ(find(10, false, true), 2);
  EXPECT_EQ(find(9, true, false), 7);
  EXPECT_EQ(find(6, true, false), 2);
  EXPECT_EQ(find(1, true, false), -1);
  EXPECT_EQ(find(1, true, true), 7);
  EXPECT_EQ(find(-1, true, true), 7);
  // A wrapping walk tests the start row last.
  EXPECT_EQ(find(3, false, true), 7);
  EXPECT_EQ(find(8, true, true), 7);
}

TEST(FindMatchingRow, WrappingSearchWithoutMatchEnds) {
  const Session s;
  std::vector<ListRow> rows = RowsNamed(std::vector<std::string>(10, "other"));
  for (int start : {0, 5, 9, 10, -1})
    for (bool backward : {false, true})
      EXPECT_EQ(
          FindMatchingRow(rows, s, start, "key", backward, false, true, kSearchNames, nullptr), -1);
}

TEST(FindMatchingRow, DataModeReadsPayloadsAndSkipsMediaClasses) {
  std::vector<uint8_t> data(400, '.');
  std::memcpy(data.data() + 10, "needle", 6);   // row 0: a texture
  std::memcpy(data.data() + 110, "needle", 6);  // row 1: a text asset
  std::memcpy(data.data() + 250, "needle", 6);  // between rows
  MemorySource source(data);
  const Session s;
  std::vector<ListRow> rows = RowsNamed({"tex", "text", "mat"});
  rows[0].ClassId = 28;
  rows[0].Offset = 0;
  rows[0].Size = 100;
  rows[1].ClassId = 49;
  rows[1].Offset = 100;
  rows[1].Size = 100;
  rows[2].Offset = 200;
  rows[2].Size = 50;  // ends before the third word
  EXPECT_EQ(FindMatchingRow(rows, s, 0, "needle", false, true, false, kSearchData, &source), 1);
  EXPECT_EQ(FindMatchingRow(rows, s, 2, "needle", false, true, true, kSearchData, &source), 1);
  EXPECT_EQ(FindMatchingRow(rows, s, 0, "NEEDLE", false, true, false, kSearchData, &source), -1);
  for (int cls : {27, 83, 128, 152}) {
    rows[1].ClassId = cls;
    EXPECT_EQ(FindMatchingRow(rows, s, 0, "needle", false, true, true, kSearchData, &source), -1)
        << cls;
  }
}

}  // namespace
}  // namespace kestrix
