// Real archives from games: every plain serialized file of the handled formats opens with the
// object count its manifest row states, and names its entries alike on one thread or two.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/list_row.h"
#include "core/session.h"
#include "formats/archive_open.h"
#include "platform/byte_source.h"
#include "support/test_env.h"
#include "types/naming.h"

namespace kestrix {
namespace {

TEST(Corpus, PlainFilesOpenWithTheirObjectCount) {
  std::string dir = testing::CorpusDir();
  if (dir.empty()) GTEST_SKIP() << "no corpus";
  int opened = 0;
  for (const testing::CorpusRow& row : testing::CorpusManifest()) {
    if (!testing::IsHandledPlainFile(row)) continue;
    testing::TempDir tmp;
    const std::string path = testing::CorpusArchiveToOpen(row, tmp);
    Session s;
    testing::RecordingFrontend fe;
    ASSERT_NO_THROW(OpenArchive(s, fe, path)) << row.relpath;
    EXPECT_EQ(static_cast<long>(s.Asset.ObjectCount), row.object_count) << row.relpath;
    EXPECT_EQ(static_cast<long>(s.EntryCount()), row.object_count) << row.relpath;
    EXPECT_TRUE(fe.messages.empty())
        << row.relpath << ": " << (fe.messages.empty() ? "" : fe.messages[0]);
    // Named again by two threads, every entry comes out the same.
    Session two;
    two.Archive.AssetBaseName = s.Archive.AssetBaseName;
    two.Asset = s.Asset;
    FileSource source(s.Archive.ArchivePath);
    NamingPass(two, fe, source, false, 2);
    for (size_t i = 0; i < s.EntryCount(); ++i)
      ASSERT_EQ(ListLineText(BuildListRow(two, i)), ListLineText(BuildListRow(s, i)))
          << row.relpath << " entry " << i;
    CloseArchive(s);
    ++opened;
  }
  EXPECT_GE(opened, 40);
}

}  // namespace
}  // namespace kestrix
