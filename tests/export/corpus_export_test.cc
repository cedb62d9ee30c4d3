// Real archives from games: every plain serialized file of the handled formats exports one file
// per entry (an embedded text of length 0 gives none) and lists one line per object.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <set>
#include <sstream>

#include "core/session.h"
#include "formats/archive_open.h"
#include "support/test_env.h"

namespace kestrix {
namespace {

size_t CountLines(const std::string& text) {
  return static_cast<size_t>(std::count(text.begin(), text.end(), '\n'));
}

TEST(Corpus, PlainFilesExportOneFilePerEntryAndList) {
  std::string dir = testing::CorpusDir();
  if (dir.empty()) GTEST_SKIP() << "no corpus";
  int checked = 0;
  for (const testing::CorpusRow& row : testing::CorpusManifest()) {
    if (!testing::IsHandledPlainFile(row)) continue;
    testing::TempDir tmp;
    const std::string path = testing::CorpusArchiveToOpen(row, tmp);

    // What the export must write, from the same open in this process.
    Session s;
    testing::RecordingFrontend fe;
    ASSERT_NO_THROW(OpenArchive(s, fe, path)) << row.relpath;
    std::set<std::string> expected;
    size_t outputs = 0;
    for (size_t i = 0; i < s.EntryCount(); ++i) {
      if (s.HasEmbeddedPayload(i) && s.PayloadSize(i) == 0) continue;
      expected.insert(std::string(s.EntryName(i)));
      ++outputs;
    }
    const std::string folder = tmp.File("out/Unity_Assets_Files/") + s.Archive.ArchiveFolderName;
    const size_t entries = s.EntryCount();
    CloseArchive(s);
    EXPECT_EQ(expected.size(), outputs) << row.relpath << ": two entries share a file name";

    testing::RunResult run = testing::RunKestrix({"export", path, "-p", tmp.File("out")});
    // Meshes and textures of every engine convert: any failure is a fault, but for the resource
    // files the corpus leaves out (each one a failure of its object).
    if (run.status != 0 || !run.err.empty()) {
      EXPECT_TRUE(run.status == 1 && testing::OnlyMissingResources(run.err))
          << row.relpath << "\n" << run.err;
    }
    EXPECT_EQ(run.signal, 0) << row.relpath;
    std::set<std::string> written;
    for (const std::string& f : testing::ListFiles(folder))
      if (f.find('/') == std::string::npos) written.insert(f);
    EXPECT_EQ(written, expected) << row.relpath;
    // The path line of every exported entry (converter reports may come between them).
    size_t path_lines = 0;
    for (size_t at = 0; (at = run.out.find(folder + "/", at)) != std::string::npos; ++at)
      ++path_lines;
    EXPECT_EQ(run.out.substr(0, 8), "export\n\n") << row.relpath;
    EXPECT_EQ(path_lines, entries) << row.relpath;

    testing::RunResult list = testing::RunKestrix({"list", path});
    EXPECT_EQ(list.status, 0) << row.relpath << "\n" << list.err;
    EXPECT_EQ(static_cast<long>(CountLines(list.out)), row.object_count) << row.relpath;
    ++checked;
  }
  EXPECT_GE(checked, 20);
}

}  // namespace
}  // namespace kestrix
