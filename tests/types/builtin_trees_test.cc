// The built-in layouts for files without type trees: every object of a class with a layout in
// the corpus files built without trees reads through it and rebuilds byte for byte, and the
// built-in trees state the same fields as the trees real files carry for the same engine.
#include "types/builtin_trees.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <functional>
#include <map>
#include <set>

#include "core/error.h"
#include "core/field_layout.h"
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
#include "types/tree_walker.h"
#include "types/type_info.h"

namespace kestrix {
namespace {

constexpr int32_t kClassSpriteAtlas = 687078895;

// Every class's table builds for every engine generation the tables cover, into a tree the
// walker takes whole: an object of that tree with every number zero and every array empty reads
// and rebuilds. Script objects, unknown versions and later engines get no tree.
TEST(BuiltInTrees, BuildForEveryEngineGeneration) {
  const char* releases[] = {"3.4.0",    "3.5.7",    "4.0.0",    "4.3.4",    "4.7.2",    "5.0.0",
                            "5.2.0",    "5.3.8",    "5.4.6",    "5.5.0",    "5.6.7",    "2017.1.0",
                            "2017.3.0", "2018.1.0", "2018.2.0", "2019.3.0", "2020.1.0", "2020.2.0",
                            "2021.1.0", "2021.3.0", "2022.2.0", "2023.2.0", "6000.0.0", "6000.3.0"};
  std::vector<uint8_t> zeros(4096, 0);
  bool mesh_swept = false;
  MemorySource source(zeros);
  Reader reader(source);
  for (const int32_t cls : BuiltInTreeClasses()) {
    // Classes with several entries are swept once.
    if (cls == kClassMesh && !mesh_swept) {
      mesh_swept = true;
    } else if (cls == kClassMesh) {
      continue;
    }
    for (const char* release : releases) {
      SCOPED_TRACE(ClassIdToName(cls) + " " + release);
      const EngineVersion v = ParseEngineVersion(release);
      const TypeTree* tree = BuiltInTypeTree(cls, v);
      // Shaders keep no text from 5.5 on; meshes of 3.5 to 4.2 are left to the fixed readers;
      // sprite atlases came with 2017.1.
      const bool gap = (cls == kClassShader && v.AtLeast(5, 5)) ||
                       (cls == kClassSpriteAtlas && !v.AtLeast(2017, 1)) ||
                       (cls == kClassMesh && v.AtLeast(3, 5) && !v.AtLeast(4, 3));
      if (gap) {
        EXPECT_EQ(tree, nullptr);
        continue;
      }
      ASSERT_NE(tree, nullptr);
      EXPECT_EQ(tree, BuiltInTypeTree(cls, ParseEngineVersion(release)));  // built once
      const ObjectTree walker(*tree);
      // The class names of the list (sprite atlases have a number beyond it) are the roots'.
      if (cls != kClassSpriteAtlas) {
        EXPECT_EQ(walker.RootType(), ClassIdToName(cls));
      }
      // The zero object's size is where the walk stops short of the buffer's end.
      uint64_t size = 0;
      try {
        ObjectCursor all(reader, 0, zeros.size(), ByteOrder::Little);
        walker.ToJson(all);
      } catch (const Error& e) {
        const std::string what = e.what();
        const size_t at = what.find("ends after ");
        ASSERT_NE(at, std::string::npos) << what;
        size = std::stoull(what.substr(at + 11));
      }
      ObjectCursor exact(reader, 0, size, ByteOrder::Little);
      EXPECT_EQ(walker.FromJson(ParseJson(walker.ToJson(exact)), ByteOrder::Little),
                std::vector<uint8_t>(size, 0));
    }
  }
  EXPECT_EQ(BuiltInTypeTree(kClassMonoBehaviour, ParseEngineVersion("2019.4.0")), nullptr);
  EXPECT_EQ(BuiltInTypeTree(kClassTexture2D, ParseEngineVersion("7000.0.0")), nullptr);
  EXPECT_EQ(BuiltInTypeTree(kClassTexture2D, EngineVersion{}), nullptr);
}

// Calls `visit` with every serialized file of the corpus rows that `want` takes (every
// contained file of bundles and web data), opened from a copy.
void ForEachCorpusFile(const std::function<bool(const testing::CorpusRow&)>& want,
                       const std::function<void(const testing::CorpusRow&, Session&)>& visit) {
  for (const testing::CorpusRow& row : testing::CorpusManifest()) {
    if (!want(row)) continue;
    const bool contained = testing::IsReadableBundle(row) || row.container == "webgl";
    if (!contained && !testing::IsHandledPlainFile(row)) continue;
    testing::TempDir tmp;
    std::string path = testing::CorpusArchiveToOpen(row, tmp);
    if (contained) {
      path = tmp.File("archive");
      testing::CopyFile(testing::CorpusDir() + "/" + row.relpath, path);
    }
    size_t count = 1;
    for (size_t k = 0; k < count; ++k) {
      Session s;
      testing::RecordingFrontend fe;
      ASSERT_NO_THROW(OpenArchive(s, fe, path, testing::Pick(static_cast<int>(k)))) << row.relpath;
      if (contained) count = fe.chooser.size();
      if (!s.Asset.RawSingleFile) visit(row, s);
      CloseArchive(s);
    }
  }
}

// The path ids a GameObject's JSON lists as its components (in this file).
void AddComponents(const JsonValue& game_object, std::set<int64_t>& ids) {
  const JsonValue* list = game_object.Member("m_Component");
  if (!list) return;
  for (const JsonValue& entry : list->items) {
    // {"component": PPtr} from 5.5 on, {"first": class, "second": PPtr} before.
    const JsonValue* ptr =
        entry.Member("component") ? entry.Member("component") : entry.Member("second");
    if (ptr && ptr->Member("m_FileID")->text == "0")
      ids.insert(std::stoll(ptr->Member("m_PathID")->text));
  }
}

// Some engines record a behaviour whose script is missing under the GameObject class (its owner
// lists it among its components): such an object is no GameObject, must be refused, and is
// counted apart. Every other object of a class with a layout reads and rebuilds byte for byte.
TEST(BuiltInTrees, EveryObjectOfFilesWithoutTreesRebuildsByteForByte) {
  if (testing::CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  std::map<std::string, size_t> fitted, without;
  size_t misrecorded = 0;
  ForEachCorpusFile(
      [](const testing::CorpusRow& row) { return row.has_type_trees == "0"; },
      [&](const testing::CorpusRow& row, Session& s) {
        FileSource source(s.Archive.ArchivePath);
        Reader reader(source);
        const ByteOrder order = s.Asset.IsBigEndian() ? ByteOrder::Big : ByteOrder::Little;
        ObjectTrees trees;
        std::set<int64_t> components;
        std::vector<std::pair<size_t, std::string>> refused;
        for (size_t i = 0; i < s.EntryCount(); ++i) {
          const std::string cls = ClassIdToName(s.EntryClass(i)) + " " + s.Asset.UnityVersion;
          if (!ObjectLayoutTree(s.Asset, i)) {
            ++without[ClassIdToName(s.EntryClass(i))];
            continue;
          }
          const uint64_t start = s.Asset.DataStart + s.EntryOffset(i);
          ObjectCursor cursor(reader, start, start + s.EntrySize(i), order);
          std::vector<uint8_t> bytes(s.EntrySize(i));
          source.ReadAt(start, bytes.data(), bytes.size());
          try {
            const ObjectTree& tree = trees.For(s, i);
            const JsonValue json = ParseJson(tree.ToJson(cursor));
            EXPECT_EQ(tree.FromJson(json, order), bytes)
                << row.relpath << ": " << cls << " path id " << s.Object(i).PathId;
            if (s.EntryClass(i) == 1) AddComponents(json, components);
            ++fitted[cls];
          } catch (const Error& e) {
            refused.emplace_back(i, e.what());
          }
        }
        for (const auto& [i, why] : refused) {
          if (s.EntryClass(i) == 1 && components.count(s.Object(i).PathId)) {
            ++misrecorded;
            continue;
          }
          ADD_FAILURE() << row.relpath << ": " << ClassIdToName(s.EntryClass(i)) << " "
                        << s.Asset.UnityVersion << " path id " << s.Object(i).PathId << ": " << why;
        }
      });
  for (const auto& [cls, n] : fitted) std::printf("built-in layout: %5zu x %s\n", n, cls.c_str());
  for (const auto& [cls, n] : without) std::printf("no layout:       %5zu x %s\n", n, cls.c_str());
  std::printf("components recorded as GameObjects, refused: %zu\n", misrecorded);
  EXPECT_GE(fitted.size(), 150u);
}

// A tree as comparable lines: each node's level, type and name, and whether padding follows
// it (a string's or vector's padding may sit on the field or on its array).
std::vector<std::string> Lines(const TypeTree& tree) {
  std::vector<std::string> out;
  const std::vector<TypeTreeNode>& n = tree.Nodes;
  for (size_t k = 0; k < n.size(); ++k) {
    bool align = n[k].MetaFlags & 0x4000;
    const bool has_array_child = k + 1 < n.size() && n[k + 1].Level == n[k].Level + 1 &&
                                 (n[k + 1].TypeFlags & 1) &&
                                 TreeText(tree, n[k + 1].TypeNameOffset) == "Array";
    if (has_array_child) align = align || (n[k + 1].MetaFlags & 0x4000);
    const bool is_array_of_field =
        (n[k].TypeFlags & 1) && k > 0 && TreeText(tree, n[k].TypeNameOffset) == "Array";
    if (is_array_of_field) align = false;  // counted on its field
    out.push_back(std::string(n[k].Level, ' ') + TreeText(tree, n[k].TypeNameOffset) + " " +
                  TreeText(tree, n[k].FieldNameOffset) + (align ? " (aligned)" : ""));
  }
  return out;
}

TEST(BuiltInTrees, StateTheFieldsOfTheTreesRealFilesCarry) {
  if (testing::CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  std::map<std::string, bool> compared;
  ForEachCorpusFile(
      [](const testing::CorpusRow& row) { return row.has_type_trees == "1"; },
      [&](const testing::CorpusRow& row, Session& s) {
        for (const SerializedType& type : s.Asset.Types) {
          const TypeTree* ours = BuiltInTypeTree(type.ClassId, s.Asset.Engine);
          if (type.Tree.Nodes.empty() || !ours) continue;
          const std::string key = ClassIdToName(type.ClassId) + " " + s.Asset.UnityVersion;
          if (compared.count(key)) continue;
          const std::vector<std::string> theirs = Lines(type.Tree), mine = Lines(*ours);
          size_t k = 0;
          while (k < mine.size() && k < theirs.size() && mine[k] == theirs[k]) ++k;
          compared[key] = mine == theirs;
          EXPECT_TRUE(compared[key])
              << row.relpath << ": " << key << ": node " << k << " is \""
              << (k < mine.size() ? mine[k] : "(none)") << "\" here and \""
              << (k < theirs.size() ? theirs[k] : "(none)") << "\" in the file";
        }
      });
  for (const auto& [key, same] : compared)
    std::printf("compared with the file's tree: %s%s\n", key.c_str(), same ? "" : " (differs)");
  EXPECT_GE(compared.size(), 15u);
}

}  // namespace
}  // namespace kestrix
