// The list's rows: what the window shows and what "list" prints come from the same values.
#include "core/list_row.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>

#include "core/session.h"
#include "formats/archive_open.h"
#include "platform/io_error.h"
#include "support/samples.h"
#include "support/test_env.h"

namespace kestrix {
namespace {

TEST(ListRow, RowsAndListLinesAgreeForEveryDemoEntry) {
  testing::TempDir dir;
  for (const auto& [name, bytes] : testing::SampleArchives()) {
    testing::WriteFileBytes(dir.File(name), bytes);
    Session s;
    testing::RecordingFrontend fe;
    OpenArchive(s, fe, dir.File(name));
    ListLineWriter writer(s);
    std::string all_lines;
    for (size_t i = 0; i < s.EntryCount(); ++i) {
      const ListRow row = BuildListRow(s, i);
      EXPECT_EQ(row.Number, static_cast<int32_t>(i + 1));
      EXPECT_EQ(row.TypeSuffix, " (" + s.Entries.TypeText(i) + ")");
      std::string direct;
      AppendListLine(s, i, direct);
      EXPECT_EQ(direct, ListLineText(row)) << name << " entry " << i;
      EXPECT_EQ(direct, std::to_string(i + 1) + "\t" + std::string(s.EntryName(i)) + "\t" +
                            TypeCellText(row) + "\t" + std::to_string(row.Size) + "\t" +
                            OffsetCellText(row.Offset));
      std::string written(writer.Bound(i), '\0');
      written.resize(static_cast<size_t>(writer.Put(i, written.data()) - written.data()));
      EXPECT_EQ(written, direct + "\n") << name << " entry " << i;
      all_lines += written;
    }
    // The whole listing, cut into runs of every length a second thread may format.
    for (size_t run : {size_t{1}, size_t{2}, size_t{3}, kListLinesRun}) {
      char* text = nullptr;
      size_t length = 0;
      std::FILE* out = open_memstream(&text, &length);
      ASSERT_NE(out, nullptr);
      WriteListLines(s, out, run);
      std::fclose(out);
      EXPECT_EQ(std::string(text, length), all_lines) << name << " in runs of " << run;
      std::free(text);
      // A listing that cannot be written whole is an error, not a shorter listing.
      std::FILE* full = std::fopen("/dev/full", "w");
      ASSERT_NE(full, nullptr);
      EXPECT_THROW(WriteListLines(s, full, run), IoError) << name << " in runs of " << run;
      std::fclose(full);
    }
    CloseArchive(s);
  }
  EXPECT_EQ(OffsetCellText(0x1A2C), "0x00001A2C");
  EXPECT_EQ(OffsetCellText(0xFFFFFFFFu), "0xFFFFFFFF");
  EXPECT_EQ(OffsetCellText(0x123456789ull), "0x123456789");
}

}  // namespace
}  // namespace kestrix
