// The texture layouts of later engines: the version tables against the type trees that real
// bundles carry, and engines newer than the tables know.
#include "types/object_layouts.h"

#include <gtest/gtest.h>

#include <functional>

#include "core/error.h"
#include "core/object_cursor.h"
#include "core/session.h"
#include "export/mesh_decoder.h"
#include "formats/archive_open.h"
#include "platform/byte_source.h"
#include "platform/reader.h"
#include "support/test_env.h"
#include "types/class_ids.h"

namespace kestrix {
namespace {

// Calls `check` for every object of the corpus bundles whose file carries its type tree, with
// the reader over the open file.
void ForEachObjectWithATree(const std::function<void(const Session&, size_t, Reader&)>& check) {
  const std::string corpus = testing::CorpusDir();
  for (const testing::CorpusRow& row : testing::CorpusManifest()) {
    if (row.container.rfind("UnityFS", 0) != 0 || row.has_type_trees != "1") continue;
    SCOPED_TRACE(row.relpath);
    testing::TempDir tmp;
    testing::CopyFile(corpus + "/" + row.relpath, tmp.File("bundle"));
    Session s;
    testing::RecordingFrontend fe;
    try {
      OpenArchive(s, fe, tmp.File("bundle"), testing::Pick(0));
    } catch (const Error&) {
      continue;  // a container this build does not open yet
    }
    for (size_t k = 0; k < s.Archive.Bundle.ContainedFiles.size(); ++k) {
      if (k > 0) ReopenWithSelection(s, fe, static_cast<int>(k));
      FileSource source(s.Archive.ArchivePath);
      Reader reader(source);
      for (size_t i = 0; i < s.EntryCount(); ++i)
        if (ObjectTypeTree(s.Asset, i)) check(s, i, reader);
    }
    CloseArchive(s);
  }
}

// Every texture is placed field by field twice, through its tree and through the table of its
// engine version: every field the table names lies where the tree puts it, and both end at the
// same byte.
TEST(ObjectLayouts, TextureTablesAgreeWithTheTypeTreesOfTheCorpus) {
  if (testing::CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  int checked = 0;
  ForEachObjectWithATree([&](const Session& s, size_t i, Reader& reader) {
    if (!IsTextureClass(s.EntryClass(i)) || !UsesTextureFields(s.Asset.Engine)) return;
    const FieldLayout by_tree = PayloadFieldsOfTree(*ObjectTypeTree(s.Asset, i));
    const FieldLayout by_table = TextureFieldsForVersion(s.Asset.Engine);
    const uint64_t start = s.PayloadOffset(i);
    const uint64_t end = s.Asset.DataStart + s.EntryOffset(i) + s.EntrySize(i);
    const ByteOrder order = s.Asset.IsBigEndian() ? ByteOrder::Big : ByteOrder::Little;
    ObjectCursor tree_cursor(reader, start, end, order);
    PlacedFields tree_fields(tree_cursor, by_tree);
    ObjectCursor table_cursor(reader, start, end, order);
    PlacedFields table_fields(table_cursor, by_table);
    for (const FieldStep& step : by_table) {
      if (step.kind == FieldKind::kAlign) continue;
      ASSERT_TRUE(tree_fields.Has(step.name)) << step.name;
      EXPECT_EQ(tree_fields.At(step.name).pos, table_fields.At(step.name).pos) << step.name;
    }
    EXPECT_EQ(tree_fields.End(), table_fields.End());
    EXPECT_EQ(TextureFormatOffset(by_tree), TextureFormatOffset(by_table));
    ++checked;
  });
  EXPECT_GE(checked, 1);
  std::printf("textures placed through their type tree and the version table: %d\n", checked);
}

// The mesh fields a tree has are the ones the version's layout expects, and the mesh decodes
// through its tree.
TEST(ObjectLayouts, MeshTablesAgreeWithTheTypeTreesOfTheCorpus) {
  if (testing::CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  int checked = 0;
  ForEachObjectWithATree([&](const Session& s, size_t i, Reader& reader) {
    if (s.EntryClass(i) != kClassMesh || !s.Asset.Engine.AtLeast(2017, 3)) return;
    const TypeTree& tree = *ObjectTypeTree(s.Asset, i);
    MeshLayoutFeatures by_tree;
    ASSERT_TRUE(MeshLayoutFeatures::FromTree(tree, &by_tree));
    EXPECT_TRUE(by_tree == MeshLayoutFeatures::ForVersion(s.Asset.Engine));
    const std::vector<uint8_t> payload = [&] {
      reader.Seek(s.PayloadOffset(i));
      return reader.ReadBytes(s.PayloadSize(i));
    }();
    MemorySource source(payload);
    Reader in(source);
    TMeshBase mesh;
    EXPECT_NO_THROW(mesh.Decode(in, s.Asset.Engine, &tree)) << s.EntryName(i);
    ++checked;
  });
  EXPECT_GE(checked, 1);
}

TEST(ObjectLayouts, EnginesNewerThanTheTablesAreNamed) {
  EXPECT_FALSE(UsesTextureFields(ParseEngineVersion("2017.0.0")));
  EXPECT_FALSE(UsesTextureFields(ParseEngineVersion("3.5.0f1")));
  EXPECT_FALSE(UsesTextureFields(ParseEngineVersion("2.6.1f1")));
  EXPECT_FALSE(UsesTextureFields(EngineVersion{}));
  EXPECT_TRUE(UsesTextureFields(ParseEngineVersion("3.4.1f5")));
  EXPECT_TRUE(UsesTextureFields(ParseEngineVersion("2017.1.0f3")));
  EXPECT_NO_THROW(TextureFieldsForVersion(ParseEngineVersion("2022.3.18f1")));
  EXPECT_NO_THROW(TextureFieldsForVersion(ParseEngineVersion("6000.3.19f1")));
  try {
    TextureFieldsForVersion(ParseEngineVersion("7000.0.23f1"));
    ADD_FAILURE() << "no error";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::kNotSupported);
    EXPECT_NE(std::string(e.what()).find("7000.0.23"), std::string::npos) << e.what();
  }
  // Where the format code lies for the naming pass, release by release.
  struct Case {
    const char* engine;
    int64_t offset;
  };
  for (const Case& c : {Case{"2017.1.0f1", 12}, Case{"2017.3.0f1", 20}, Case{"2019.4.0f1", 20},
                        Case{"2020.1.0f1", 24}, Case{"2022.3.0f1", 24}, Case{"3.4.1f5", 12},
                        Case{"2023.2.0f1", 20}, Case{"6000.3.19f1", 20}})
    EXPECT_EQ(TextureFormatOffset(TextureFieldsForVersion(ParseEngineVersion(c.engine))), c.offset)
        << c.engine;
}

}  // namespace
}  // namespace kestrix
