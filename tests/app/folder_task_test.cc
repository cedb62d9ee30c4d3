// A whole game folder at once: the same files as its archives one by one, none written twice,
// one line per archive; and an output folder nothing can be written into is said once.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <sstream>

#include "app/folder_tasks.h"
#include "formats/archive_detect.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "support/asset_builder.h"
#include "support/test_env.h"

namespace kestrix {
namespace {

using namespace testing;  // NOLINT: the builder vocabulary
namespace fs = std::filesystem;

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

// The files of a game folder that are not resource files or later pieces, below it.
std::vector<std::string> NonCompanionFiles(const std::string& game) {
  std::vector<std::string> out;
  for (const auto& e : fs::recursive_directory_iterator(game))
    if (e.is_regular_file() && !IsArchiveCompanion(e.path().filename().string()))
      out.push_back(e.path().string());
  std::sort(out.begin(), out.end());
  return out;
}

TEST(FolderTask, CorpusGameFoldersExportAsTheirArchivesOneByOne) {
  const std::string corpus = CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  for (const auto& game_entry : fs::directory_iterator(corpus + "/plain")) {
    const std::string game = game_entry.path().string() + kSep;
    SCOPED_TRACE(game);
    // Every file of these folders but the resource files is an archive.
    const std::vector<std::string> archives = FindArchivesBelow(game);
    EXPECT_EQ(archives, NonCompanionFiles(game));
    TempDir tmp;
    const RunResult all = RunKestrix({"export", game, "-p", tmp.File("all")});
    const std::vector<std::string> lines = Lines(all.out);
    ASSERT_EQ(lines.size(), archives.size() + 1) << all.out;
    EXPECT_EQ(lines.back().rfind(std::to_string(archives.size()) + " archives, ", 0), 0u);

    std::map<std::string, size_t> writer;  // file below the output root -> archive
    int worst = 0;
    for (size_t k = 0; k < archives.size(); ++k) {
      const std::string relative = archives[k].substr(game.size());
      std::string root = tmp.File("one" + std::to_string(k));
      if (!FolderOf(relative).empty()) root += kSep + FolderOf(relative);
      const RunResult one = RunKestrix({"export", archives[k], "-p", root});
      worst = std::max(worst, one.status);
      EXPECT_EQ(lines[k].rfind(relative + ": ", 0), 0u) << lines[k];
      const std::string top = tmp.File("one" + std::to_string(k));
      for (const std::string& file : ListFiles(top)) {
        const auto [it, fresh] = writer.emplace(file, k);
        EXPECT_TRUE(fresh) << file << " is written by " << archives[it->second] << " and "
                           << archives[k];
        EXPECT_EQ(ReadWholeFile(top + kSep + file), ReadWholeFile(tmp.File("all/" + file))) << file;
      }
    }
    EXPECT_EQ(all.status, worst);
    EXPECT_EQ(ListFiles(tmp.File("all")).size(), writer.size());
  }
}

Bytes ThreeObjects() {
  AssetSpec desc;
  desc.objects = {{21, NamedObject("A", Bytes(40, 1))},
                  {21, NamedObject("B", Bytes(40, 2))},
                  {21, NamedObject("C", Bytes(40, 3))}};
  return BuildAssetFile(desc);
}

TEST(FolderTask, AnOutputFolderThatCannotBeMadeIsOneErrorAndListsNothing) {
  TempDir dir;
  fs::create_directories(dir.File("game/sub"));
  WriteFileBytes(dir.File("game/level0"), ThreeObjects());
  WriteFileBytes(dir.File("game/sub/level1"), ThreeObjects());
  WriteFileBytes(dir.File("blocker"), Bytes(4, 0));  // a file where the folder would go
  struct Case {
    std::string path;
    size_t error_lines;
  };
  // One archive: one error; a folder of two: one error each, and the summary.
  const Case cases[] = {{dir.File("game/level0"), 1}, {dir.File("game"), 2}};
  for (const Case& c : cases) {
    const RunResult r = RunKestrix({"export", c.path, "-p", dir.File("blocker")});
    EXPECT_EQ(r.status, 1) << c.path;
    EXPECT_EQ(Lines(r.err).size(), c.error_lines) << r.err;
    EXPECT_EQ(r.out.find("Unity_Assets_Files"), std::string::npos) << r.out;
  }
}

TEST(FolderTask, EachTaskPrintsALinePerArchiveAndASummary) {
  TempDir dir;
  fs::create_directories(dir.File("game/sub"));
  WriteFileBytes(dir.File("game/level0"), ThreeObjects());
  WriteFileBytes(dir.File("game/level0.resS"), Bytes(64, 9));
  WriteFileBytes(dir.File("game/sub/level0"), ThreeObjects());
  WriteFileBytes(dir.File("game/readme.txt"), Bytes(64, 'x'));
  const std::string game = dir.File("game");
  struct Case {
    std::vector<std::string> args;
    std::vector<std::string> out;
    int status;
  };
  const Case cases[] = {
      {{"list", game},
       {"level0: 3 objects", "sub/level0: 3 objects", "2 archives, 6 objects, 0 failures"},
       0},
      // Never exported: passed over, not failed.
      {{"import", game},
       {"level0: not exported, passed over", "sub/level0: not exported, passed over",
        "2 archives, 0 objects written, 0 failures"},
       0},
      {{"export", game},
       {"level0: 3 objects, 3 written, 0 failed", "sub/level0: 3 objects, 3 written, 0 failed",
        "2 archives, 6 objects written, 0 failures"},
       0},
      {{"import", game},
       {"level0: 3 files, 0 written, 0 failed", "sub/level0: 3 files, 0 written, 0 failed",
        "2 archives, 0 objects written, 0 failures"},
       0},
      {{"export", dir.File("game/readme.txt") + "x"}, {}, 1},
  };
  for (const Case& c : cases) {
    const RunResult r = RunKestrix(c.args);
    EXPECT_EQ(r.status, c.status) << c.args[0] << r.err;
    EXPECT_EQ(Lines(r.out), NativeLines(c.out)) << c.args[0];
  }
  EXPECT_TRUE(FolderExists(dir.File("game/sub/Unity_Assets_Files/level0")));
  // An empty folder holds no archive: said, and a failure.
  fs::create_directories(dir.File("empty"));
  const RunResult none = RunKestrix({"export", dir.File("empty")});
  EXPECT_EQ(none.status, 1);
  EXPECT_NE(none.err.find("No Unity archive"), std::string::npos);
}

// A resource file kept in another folder of the game than its archive is found by a run over the
// whole folder (and only then: the archive alone misses it); one whose name is in two places is
// not guessed between.
TEST(FolderTask, ResourceFilesAreFoundAcrossTheGameFolder) {
  const std::string corpus = CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  const std::string source = corpus + "/plain/fmt22_u2020318_HI-LO_Data/";
  TempDir tmp;
  // What the archive writes with its resource file beside it.
  fs::create_directories(tmp.File("beside"));
  CopyFile(source + "level0", tmp.File("beside/level0"));
  CopyFile(source + "level0.resS", tmp.File("beside/level0.resS"));
  ASSERT_EQ(RunKestrix({"export", tmp.File("beside/level0"), "-p", tmp.File("ref")}).status, 0);
  const std::vector<std::string> expected = ListFiles(tmp.File("ref"));

  struct Case {
    // Where copies of level0.resS go below the game: the first is the real one, the others are
    // as long but zero-filled, so taking one of them shows in the pictures.
    std::vector<std::string> resources;
    bool found;
  };
  const Case cases[] = {{{"streams/level0.resS"}, true},
                        {{"data/streams/level0.resS", "other/level0.resS"}, true},
                        {{"streams/level0.resS", "more/level0.resS"}, false}};
  const Bytes real = ReadFileBytes(source + "level0.resS");
  int n = 0;
  for (const Case& c : cases) {
    const std::string game = tmp.File("game" + std::to_string(n++));
    fs::create_directories(game + "/data");
    CopyFile(source + "level0", game + "/data/level0");
    for (const std::string& r : c.resources) {
      fs::create_directories(FolderOf(game + "/" + r));
      WriteFileBytes(game + "/" + r, r == c.resources[0] ? real : Bytes(real.size(), 0));
    }
    const RunResult alone = RunKestrix({"export", game + "/data/level0", "-p", game + "/alone"});
    EXPECT_EQ(alone.status, 1) << "the archive alone cannot see the other folders";
    const RunResult all = RunKestrix({"export", game, "-p", game + "/all"});
    EXPECT_EQ(all.status, c.found ? 0 : 1) << all.err;
    const std::string out = game + "/all/data";
    if (!c.found) {
      EXPECT_LT(ListFiles(out).size(), expected.size());
      continue;
    }
    EXPECT_EQ(ListFiles(out), expected);
    for (const std::string& file : expected)
      EXPECT_EQ(ReadWholeFile(out + kSep + file), ReadWholeFile(tmp.File("ref/" + file))) << file;
  }
}

}  // namespace
}  // namespace kestrix
