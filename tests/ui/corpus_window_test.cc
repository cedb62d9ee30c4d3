// Real archives in the window: every plain serialized file lists its objects with the labels and
// sorts by each column; any other archive either opens or leaves the window usable with nothing
// open.
#include <gtest/gtest.h>

#include <QLabel>
#include <QPushButton>
#include <filesystem>

#include "core/session.h"
#include "support/test_env.h"
#include "ui/list_model.h"
#include "ui/list_sort.h"
#include "ui/main_window.h"

namespace kestrix {
namespace {

bool PlainFormat(const testing::CorpusRow& row) {
  if (row.container != "plain" || row.serialized_format.empty()) return false;
  const int format = std::stoi(row.serialized_format);
  return format >= 9 && format <= 17;
}

bool SortedBy(const std::vector<ListRow>& rows, int column) {
  for (size_t r = 1; r < rows.size(); ++r) {
    const ListRow& a = rows[r - 1];
    const ListRow& b = rows[r];
    switch (column) {
      case kColumnType:
        if (static_cast<uint32_t>(a.ClassId) > static_cast<uint32_t>(b.ClassId)) return false;
        break;
      case kColumnSize:
        if (a.Size > b.Size) return false;
        break;
      case kColumnOffset:
        if (a.Offset > b.Offset) return false;
        break;
      default:
        if (a.Number > b.Number) return false;
    }
  }
  return true;
}

TEST(CorpusWindow, ArchivesListAndSortInTheWindow) {
  const std::string dir = testing::CorpusDir();
  if (dir.empty()) GTEST_SKIP() << "no corpus";
  int listed = 0;
  for (const testing::CorpusRow& row : testing::CorpusManifest()) {
    const std::string& rel = row.relpath;
    // Pieces are joined beside the input, and ".resS" companions are not archives.
    if (rel.find(".split") != std::string::npos || rel.find(".res") != std::string::npos) continue;
    TForm1 form;
    std::vector<std::string> errors;
    form.SetBoxSink([&](bool error, const std::string& text) {
      if (error) errors.push_back(text);
    });
    // Bundles unpack beside the archive: every archive is opened from a copy.
    testing::TempDir tmp;
    const std::string copy = tmp.File(rel.substr(rel.find_last_of('/') + 1));
    testing::CopyFile(dir + "/" + rel, copy);
    form.OpenPath(copy);
    if (!PlainFormat(row)) {
      // Whatever the container stage makes of it, the window ends usable.
      EXPECT_TRUE(form.Button1->isEnabled()) << rel;
      if (!errors.empty()) {
        EXPECT_EQ(form.model().rowCount(), 0) << rel;
      }
      continue;
    }
    ASSERT_TRUE(errors.empty()) << rel << ": " << errors.front();
    EXPECT_EQ(form.model().rowCount(), row.object_count) << rel;
    EXPECT_EQ(form.Label4->text().toStdString(), "Files: " + std::to_string(row.object_count))
        << rel;
    EXPECT_EQ(form.Button2->isEnabled(), row.object_count > 0) << rel;
    for (int column : {kColumnName, kColumnType, kColumnSize, kColumnOffset, kColumnNumber}) {
      form.ListView1ColumnClick(column);
      EXPECT_TRUE(column == kColumnName || SortedBy(form.model().Rows(), column))
          << rel << " " << column;
    }
    ++listed;
  }
  EXPECT_GE(listed, 20);
}

}  // namespace
}  // namespace kestrix
