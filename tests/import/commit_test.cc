// A kill at every write step of an import leaves the old archive or the new one: a plain
// rebuild, an in-place write, LZMA and LZ4 bundles recompressed, pieces cut again into more and
// into fewer. The import runs in a child (import_child) that kills itself at the step; the next
// open must then see the old files or the new ones, and the next import must finish the edit
// and leave no temporary behind.
#include <gtest/gtest.h>
#include <signal.h>

#include <algorithm>
#include <filesystem>
#include <map>
#include <regex>
#include <sstream>

#include "core/session.h"
#include "formats/archive_open.h"
#include "support/asset_builder.h"
#include "support/bundle_builder.h"
#include "support/payloads.h"
#include "support/test_env.h"

namespace kestrix {
namespace {

using namespace testing;  // NOLINT: the builder vocabulary
namespace fs = std::filesystem;

Bytes Pattern(size_t n, unsigned seed) {
  Bytes data(n);
  for (size_t k = 0; k < n; ++k) data[k] = static_cast<uint8_t>(((k * 13 + seed) % 241) ^ (k >> 7));
  return data;
}

Bytes Asset(const std::vector<size_t>& sizes) {
  AssetSpec desc;
  desc.format = 17;
  for (size_t i = 0; i < sizes.size(); ++i)
    desc.objects.push_back({21, NamedObject("Obj" + std::to_string(i), Pattern(sizes[i], i))});
  return BuildAssetFile(desc);
}

struct Scenario {
  const char* label;
  Bytes file;
  size_t piece_size;  // 0: one file
  size_t entry;       // the edited object
  Bytes raw;          // its new payload
  int index = 0;      // the contained file of a bundle
};

// "arc" or one of its pieces "arc.split<n>".
bool IsArchiveName(const std::string& name) {
  return std::regex_match(name, std::regex("arc(\\.split[0-9]+)?"));
}

// The archive's own files in `dir` (the file or its pieces), by name. A killed run's working
// file, where the system gives it a name (Windows), is not one of them: the next import
// removes it.
std::map<std::string, Bytes> ArchiveFiles(const std::string& dir) {
  std::map<std::string, Bytes> files;
  for (const std::string& name : ListFiles(dir))
    if (IsArchiveName(name)) files[name] = ReadFileBytes(dir + "/" + name);
  return files;
}

// Lays the scenario out in `dir`: the archive and its export folder with the edited raw file.
std::string Prepare(const Scenario& sc, const TempDir& dir) {
  std::string path = dir.File("arc");
  if (sc.piece_size > 0) {
    WriteSplitPieces(path, sc.file, sc.piece_size);
    path += ".split0";
  } else {
    WriteFileBytes(path, sc.file);
  }
  Session s;
  RecordingFrontend fe;
  OpenOptions options;
  options.OutputRootGiven = true;
  options.OutputRootOption = dir.File("out");
  options.SelectedFileIndex = sc.index;
  OpenArchive(s, fe, path, options);
  fs::create_directories(ExportFolder(s.Archive));
  WriteFileBytes(ExportFolder(s.Archive) + std::string(s.EntryName(sc.entry)), sc.raw);
  return path;
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

TEST(Commit, AKillAtEveryWriteStepLeavesTheOldArchiveOrTheNewOne) {
  BundleV6Spec lzma;
  lzma.codec = BlockCodec::kLzma;
  lzma.flags = 0x43;
  lzma.files = {{"CAB-a", Asset({3000, 2000, 1000})}};
  BundleV6Spec lz4 = lzma;
  lz4.codec = BlockCodec::kLz4Hc;
  lz4.block_size = 4096;
  const Bytes three_mib = Asset({200 * 1024, 2200 * 1024, 300 * 1024});
  const std::vector<Scenario> scenarios = {
      {"plain rebuild", Asset({100, 200, 300}), 0, 1, Pattern(237, 9)},
      {"in place", Asset({100, 200, 300}), 0, 1, Pattern(200, 9)},
      {"LZMA bundle", BuildBundleV6(lzma).bytes, 0, 0, Pattern(3037, 9)},
      {"LZ4 bundle", BuildBundleV6(lz4).bytes, 0, 2, Pattern(20037, 9)},
      {"pieces, 3 to 6", three_mib, 1 << 20, 1, Pattern(5 << 20, 9)},
      {"pieces, 3 to 1", three_mib, 1 << 20, 1, Pattern(100, 9)},
  };
  for (const Scenario& sc : scenarios) {
    SCOPED_TRACE(sc.label);
    // The whole import once, to learn its steps and the new files.
    TempDir model;
    const std::string model_path = Prepare(sc, model);
    const std::map<std::string, Bytes> old_files = ArchiveFiles(model.Path());
    const RunResult full = RunProgram(KESTRIX_IMPORT_CHILD, {model_path, model.File("out"), "-"});
    ASSERT_EQ(full.status, 0) << full.err;
    const std::map<std::string, Bytes> new_files = ArchiveFiles(model.Path());
    ASSERT_NE(old_files, new_files);
    const std::vector<std::string> steps = Lines(full.out);
    ASSERT_FALSE(steps.empty());

    std::map<std::string, int> seen;
    int olds = 0;
    for (const std::string& step : steps) {
      const int occurrence = ++seen[step];
      SCOPED_TRACE(step + " #" + std::to_string(occurrence));
      TempDir dir;
      const std::string path = Prepare(sc, dir);
      const RunResult killed = RunProgram(
          KESTRIX_IMPORT_CHILD, {path, dir.File("out"), step, std::to_string(occurrence)});
      ASSERT_EQ(killed.signal, SIGKILL) << killed.err;
      // The next open settles what the kill left (a journal rolled back, renames finished).
      Session s;
      RecordingFrontend fe;
      OpenOptions options;
      options.SelectedFileIndex = sc.index;
      ASSERT_NO_THROW(OpenArchive(s, fe, path, options));
      CloseArchive(s);
      const std::map<std::string, Bytes> now = ArchiveFiles(dir.Path());
      std::string names;
      for (const auto& [name, bytes] : now) names += " " + name;
      EXPECT_TRUE(now == old_files || now == new_files) << now.size() << " files:" << names;
      olds += now == old_files;
      // The next import finishes the edit and leaves nothing of the killed one.
      const RunResult next = RunProgram(KESTRIX_IMPORT_CHILD, {path, dir.File("out"), "-"});
      EXPECT_EQ(next.status, 0) << next.err;
      EXPECT_TRUE(ArchiveFiles(dir.Path()) == new_files);
      for (const std::string& name : ListFiles(dir.Path()))
        EXPECT_TRUE(IsArchiveName(name) || name.rfind("out/", 0) == 0) << name;
    }
    // A kill before the first rename leaves the old files; an in-place write always rolls back.
    EXPECT_GT(olds, 0);
  }
}

}  // namespace
}  // namespace kestrix
