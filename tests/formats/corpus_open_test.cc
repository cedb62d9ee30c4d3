// Real archives from games: every plain serialized file of the handled formats opens with the
// object count its manifest row states.
#include <gtest/gtest.h>

#include <filesystem>

#include "core/session.h"
#include "formats/archive_open.h"
#include "support/test_env.h"

namespace kestrix {
namespace {

bool HandledPlainFormat(const testing::CorpusRow& row) {
  if (row.container != "plain" || row.serialized_format.empty()) return false;
  int format = std::stoi(row.serialized_format);
  return format >= 9 && format <= 17;
}

TEST(Corpus, PlainFilesOpenWithTheirObjectCount) {
  std::string dir = testing::CorpusDir();
  if (dir.empty()) GTEST_SKIP() << "no corpus";
  int opened = 0;
  for (const testing::CorpusRow& row : testing::CorpusManifest()) {
    if (!HandledPlainFormat(row)) continue;
    // Split pieces are joined beside the input; work on a copy.
    testing::TempDir tmp;
    std::string path = dir + "/" + row.relpath;
    if (row.relpath.size() > 7 && row.relpath.substr(row.relpath.size() - 7) == ".split0") {
      std::string base = row.relpath.substr(row.relpath.find_last_of('/') + 1);
      base = base.substr(0, base.size() - 1);
      for (int i = 0;; ++i) {
        std::string piece = path.substr(0, path.size() - 1) + std::to_string(i);
        std::error_code ec;
        if (!std::filesystem::exists(piece, ec)) break;
        testing::CopyFile(piece, tmp.File(base + std::to_string(i)));
      }
      path = tmp.File(base + "0");
    }
    Session s;
    s.Options.ConsoleMode = true;
    testing::RecordingFrontend fe;
    ASSERT_NO_THROW(OpenArchive(s, fe, path)) << row.relpath;
    EXPECT_EQ(static_cast<long>(s.ObjectCount), row.object_count) << row.relpath;
    EXPECT_EQ(static_cast<long>(s.EntryCount()), row.object_count) << row.relpath;
    EXPECT_TRUE(fe.messages.empty()) << row.relpath << ": " << (fe.messages.empty() ? "" : fe.messages[0]);
    CleanupTemporaryFiles(s);
    ++opened;
  }
  EXPECT_GE(opened, 20);
}

}  // namespace
}  // namespace kestrix
