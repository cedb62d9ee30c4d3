// Real archives with type trees as JSON: every object of every such file reads through its tree
// and rebuilds byte for byte; through the command line an unchanged JSON import keeps the
// archive, and an edited string changes its object alone and shows in the next export.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <map>
#include <sstream>

#include "core/json_text.h"
#include "core/object_cursor.h"
#include "core/session.h"
#include "export/json_export.h"
#include "formats/archive_open.h"
#include "platform/byte_source.h"
#include "platform/reader.h"
#include "support/test_env.h"
#include "types/class_ids.h"
#include "types/object_layouts.h"

namespace kestrix {
namespace {

std::string CopyIn(const testing::TempDir& tmp, const testing::CorpusRow& row) {
  const std::string name = row.relpath.substr(row.relpath.find_last_of('/') + 1);
  testing::CopyFile(testing::CorpusDir() + "/" + row.relpath, tmp.File(name));
  // The user's own copy, which the import may rewrite (the corpus is read-only).
  std::filesystem::permissions(tmp.File(name), std::filesystem::perms::owner_write,
                               std::filesystem::perm_options::add);
  return tmp.File(name);
}

std::string Slurp(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::stringstream text;
  text << in.rdbuf();
  return text.str();
}

std::vector<uint8_t> ObjectBytes(const Session& s, FileSource& source, size_t i) {
  std::vector<uint8_t> bytes(s.EntrySize(i));
  source.ReadAt(s.Asset.DataStart + s.EntryOffset(i), bytes.data(), bytes.size());
  return bytes;
}

// Every object of the open file through JSON and back; returns how many had no tree.
size_t RoundTripAll(const Session& s, const std::string& where, size_t* checked) {
  FileSource source(s.Archive.ArchivePath);
  Reader reader(source);
  ObjectTrees trees;
  size_t without = 0;
  for (size_t i = 0; i < s.EntryCount(); ++i) {
    if (!ObjectTypeTree(s.Asset, i)) {
      ++without;
      continue;
    }
    const ObjectTree& tree = trees.For(s, i);
    const uint64_t start = s.Asset.DataStart + s.EntryOffset(i);
    const ByteOrder order = s.Asset.IsBigEndian() ? ByteOrder::Big : ByteOrder::Little;
    ObjectCursor cursor(reader, start, start + s.EntrySize(i), order);
    try {
      const std::string json = tree.ToJson(cursor);
      EXPECT_EQ(tree.FromJson(ParseJson(json), order), ObjectBytes(s, source, i))
          << where << " " << s.EntryName(i);
      ++*checked;
    } catch (const std::exception& e) {
      // Objects holding managed references are refused by name; anything else is a fault.
      EXPECT_NE(std::string(e.what()).find("(managed references)"), std::string::npos)
          << where << " " << s.EntryName(i) << ": " << e.what();
    }
  }
  return without;
}

TEST(JsonCorpus, EveryObjectOfFilesWithTypeTreesRebuildsByteForByte) {
  if (testing::CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  size_t files = 0, objects = 0;
  for (const testing::CorpusRow& row : testing::CorpusManifest()) {
    if (row.has_type_trees != "1") continue;
    const bool bundle = testing::IsReadableBundle(row);
    if (!bundle && !testing::IsHandledPlainFile(row)) continue;
    // Formats before 14 store their trees in an older shape that the asset reader passes over.
    const bool trees_read = testing::FormatsWithin(row, 14, 22);
    testing::TempDir tmp;
    const std::string path = bundle ? CopyIn(tmp, row) : testing::CorpusArchiveToOpen(row, tmp);
    size_t contained = 1;
    for (size_t k = 0; k < contained; ++k) {
      Session s;
      testing::RecordingFrontend fe;
      ASSERT_NO_THROW(OpenArchive(s, fe, path, testing::Pick(static_cast<int>(k)))) << row.relpath;
      if (bundle) contained = s.Archive.Bundle.ContainedFiles.size();
      if (s.Asset.RawSingleFile) {
        CloseArchive(s);
        continue;
      }
      const size_t without = RoundTripAll(s, row.relpath + " -i " + std::to_string(k), &objects);
      if (trees_read) {
        EXPECT_EQ(without, 0u) << row.relpath << " -i " << k;
      }
      ++files;
      CloseArchive(s);
    }
  }
  EXPECT_GE(files, 25u);
  EXPECT_GE(objects, 1500u);
}

struct Edit {
  int32_t class_id;
  const char* field;  // a string field after the object's name
};

// The entry of the first object of a class, and every object's bytes by path id.
struct Snapshot {
  std::string entry;
  std::string folder_name;
  std::map<int64_t, std::vector<uint8_t>> objects;
};

Snapshot Take(const std::string& path, int32_t class_id) {
  Session s;
  testing::RecordingFrontend fe;
  OpenArchive(s, fe, path);
  Snapshot snap;
  snap.folder_name = s.Archive.ArchiveFolderName;
  FileSource source(s.Archive.ArchivePath);
  for (size_t i = 0; i < s.EntryCount(); ++i) {
    if (snap.entry.empty() && s.EntryClass(i) == class_id) snap.entry = s.EntryName(i);
    snap.objects[s.Object(i).PathId] = ObjectBytes(s, source, i);
  }
  CloseArchive(s);
  return snap;
}

TEST(JsonCorpus, EditedStringChangesItsObjectAloneThroughTheCommandLine) {
  if (testing::CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  const std::string relpath =
      "bundles/unityfs/unitypack_single-text-file-2019.3.13f1-no-compression";
  // The text asset keeps its text as an embedded file; the asset bundle's name is a field in
  // the middle of its object, which grows.
  const Edit edits[] = {{kClassTextAsset, "m_Script"}, {142, "m_AssetBundleName"}};
  for (const Edit& edit : edits) {
    testing::TempDir tmp;
    testing::CorpusRow row;
    row.relpath = relpath;
    const std::string path = CopyIn(tmp, row);
    const std::string original = Slurp(path);
    const Snapshot before = Take(path, edit.class_id);
    ASSERT_FALSE(before.entry.empty()) << edit.field;
    const std::string out = tmp.File("out");
    testing::RunResult run = testing::RunKestrix({"export", path, "-t", "json", "-p", out});
    ASSERT_EQ(run.status, 0) << run.err;
    EXPECT_NE(run.out.find("JSON: " + std::to_string(before.objects.size()) +
                           " objects written, 0 passed over."),
              std::string::npos)
        << run.out;
    const std::string folder = out + "/Unity_Assets_Files/" + before.folder_name + "/";

    // Without the record every JSON is taken, rebuilt, and found to be the object as it is.
    std::remove((folder + ".kestrix-export").c_str());
    run = testing::RunKestrix({"import", path, "-t", "json", "-p", out});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(Slurp(path) == original, true) << edit.field;

    const std::string json_path = folder + "Json/" + before.entry + ".json";
    std::string json = Slurp(json_path);
    const std::string at = std::string("\"") + edit.field + "\": \"";
    const size_t pos = json.find(at);
    ASSERT_NE(pos, std::string::npos) << json;
    json.insert(pos + at.size(), "Edited by hand ");
    std::ofstream(json_path, std::ios::binary | std::ios::trunc) << json;
    run = testing::RunKestrix({"import", path, "-t", "json", "-p", out});
    EXPECT_EQ(run.status, 0) << run.err;

    const Snapshot after = Take(path, edit.class_id);
    ASSERT_EQ(after.objects.size(), before.objects.size());
    size_t changed = 0;
    for (const auto& [id, bytes] : before.objects) changed += after.objects.at(id) != bytes;
    EXPECT_EQ(changed, 1u) << edit.field;

    run = testing::RunKestrix({"export", path, "-t", "json", "-p", tmp.File("again")});
    EXPECT_EQ(run.status, 0) << run.err;
    const std::string again = Slurp(tmp.File("again/Unity_Assets_Files/") + after.folder_name +
                                    "/Json/" + before.entry + ".json");
    EXPECT_NE(again.find(at + "Edited by hand "), std::string::npos) << again;
  }
}

}  // namespace
}  // namespace kestrix
