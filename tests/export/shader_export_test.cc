// Shaders hold their source as text up to engine 5.4 and a parsed form from 5.5 on: only the
// text is cut out of the object; a parsed shader goes out and comes back whole, like any object
// without a converter. First built archives of both shapes, then every shader of the corpus.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>

#include "core/object_cursor.h"
#include "core/session.h"
#include "export/entry_preview.h"
#include "export/export_driver.h"
#include "formats/archive_open.h"
#include "import/import_driver.h"
#include "platform/byte_source.h"
#include "platform/reader.h"
#include "support/asset_builder.h"
#include "support/payloads.h"
#include "support/test_env.h"
#include "types/class_ids.h"
#include "types/object_layouts.h"

namespace kestrix {
namespace {

using namespace testing;  // NOLINT: the builder vocabulary

struct ShaderCase {
  const char* what;
  uint32_t format;
  const char* version;
  bool big_endian;
  std::vector<TreeField> tree;  // empty: the file carries no type trees
  bool text;                    // the object holds its source
};

// What follows the name in a parsed shader: it opens with the property count, which a reader
// that takes it for a text length cuts a few bytes from.
Bytes ParsedForm(bool big, uint8_t last) {
  ByteWriter w(big);
  w.U32(3);
  for (int k = 0; k < 91; ++k) w.U8(static_cast<uint8_t>(k * 7 + 1));
  w.U8(last);
  return w.Take();
}

Bytes Chars(const std::string& text) { return Bytes(text.begin(), text.end()); }
// An object's bytes after the name "Glow".
Bytes AfterName(const Bytes& object) { return Bytes(object.begin() + 8, object.end()); }

AssetSpec SpecOf(const ShaderCase& c, const Bytes& shader) {
  AssetSpec desc;
  desc.format = c.format;
  desc.unity_version = c.version;
  desc.big_endian = c.big_endian;
  desc.type_trees = !c.tree.empty();
  if (desc.type_trees) desc.class_trees = {{kClassShader, c.tree}};
  // Object sizes are multiples of 8, so that the builder's file of edited objects is what an
  // import must write.
  desc.objects = {{kClassShader, shader},
                  {kClassMaterial, NamedObject("Wood", Bytes(24, 0x22), c.big_endian)}};
  return desc;
}

struct Opened {
  TempDir dir;
  Session s;
  RecordingFrontend fe;
  std::string Archive() const { return dir.File("level0"); }
  std::string Folder() const { return dir.File("Unity_Assets_Files/level0/"); }
  void Open(const Bytes& file) {
    WriteFileBytes(Archive(), file);
    OpenArchive(s, fe, Archive());
  }
};

TEST(ShaderExport, OnlyShadersThatHoldTheirSourceAreWrittenAsText) {
  const std::vector<TreeField> source = {
      {"string", "m_Name"}, {"string", "m_Script"}, {"string", "m_PathName"}};
  const std::vector<TreeField> parsed = {
      {"string", "m_Name"}, {"SerializedShader", "m_ParsedForm"}, {"vector", "platforms"}};
  const ShaderCase cases[] = {
      {"4.7 source, no tree, big-endian", 9, "4.7.2f1", true, {}, true},
      {"5.4 source, tree", 15, "5.4.6f3", false, source, true},
      {"5.5 parsed form, no tree, big-endian", 17, "5.5.0f3", true, {}, false},
      {"2019.4 parsed form, tree", 21, "2019.4.1f1", false, parsed, false},
      {"a tree naming the source outranks the version", 17, "5.6.3f1", false, source, true},
  };
  const std::string text = "Shader \"Glow\" {}";
  const std::string edited_text = "Shader \"Glow\" { Fallback Off }";
  for (const ShaderCase& c : cases) {
    SCOPED_TRACE(c.what);
    const Bytes object = c.text ? TextObject("Glow", text, c.big_endian)
                                : NamedObject("Glow", ParsedForm(c.big_endian, 0x10), c.big_endian);
    const Bytes edited = c.text ? TextObject("Glow", edited_text, c.big_endian)
                                : NamedObject("Glow", ParsedForm(c.big_endian, 0x99), c.big_endian);
    const Bytes original = BuildAssetFile(SpecOf(c, object));
    Opened o;
    o.Open(original);
    ASSERT_EQ(o.s.EntryCount(), 2u);
    EXPECT_EQ(o.s.EntryName(0), "Glow.shader");
    EXPECT_EQ(o.s.HasEmbeddedPayload(0), c.text);
    EXPECT_EQ(MakeEntryPreview(o.s, 0).kind,
              c.text ? EntryPreview::Kind::kText : EntryPreview::Kind::kHex);

    ExportEntries(o.s, ExportRequest(), o.fe, {0, 1});
    ASSERT_TRUE(o.fe.errors.empty()) << o.fe.errors.front();
    const Bytes written = ReadFileBytes(o.Folder() + "Glow.shader");
    EXPECT_EQ(written, c.text ? Chars(text) : AfterName(object));

    ImportAll(o.s, ImportRequest(), o.fe, ImportConverters());
    EXPECT_EQ(ReadFileBytes(o.Archive()), original) << "unchanged import";

    WriteFileBytes(o.Folder() + "Glow.shader", c.text ? Chars(edited_text) : AfterName(edited));
    ImportAll(o.s, ImportRequest(), o.fe, ImportConverters());
    EXPECT_TRUE(o.fe.errors.empty()) << o.fe.errors.front();
    EXPECT_EQ(ReadFileBytes(o.Archive()), BuildAssetFile(SpecOf(c, edited))) << "edited import";
  }
}

// The field after the name, by the tree's flattened fields (not the naming pass's own look at
// the nodes): a counted run of bytes called m_Script means the object holds its source.
bool TreeNamesSource(const TypeTree& tree) {
  const FieldLayout fields = PayloadFieldsOfTree(tree);
  return !fields.empty() && fields[0].name == "m_Script" && fields[0].kind == FieldKind::kBytes;
}

struct ShaderTally {
  int text = 0, parsed = 0, by_tree = 0;
};

// Exports every shader of the open file, checks the file against the object's bytes, and
// counts what it saw.
void CheckShaders(Session& s, const std::string& where, ShaderTally& tally) {
  FileSource source(s.Archive.ArchivePath);
  Reader data(source);
  const ByteOrder order = s.Asset.IsBigEndian() ? ByteOrder::Big : ByteOrder::Little;
  RecordingFrontend fe;
  for (size_t i = 0; i < s.EntryCount(); ++i) {
    if (s.EntryClass(i) != kClassShader) continue;
    const std::string what = where + " " + std::string(s.EntryName(i));
    const TypeTree* tree = ObjectTypeTree(s.Asset, i);
    const bool text =
        tree ? TreeNamesSource(*tree) : s.Asset.FormatVersion < 17 && !s.Asset.Engine.AtLeast(5, 5);
    tally.by_tree += tree != nullptr;
    ++(text ? tally.text : tally.parsed);
    EXPECT_EQ(s.HasEmbeddedPayload(i), text) << what;

    const uint64_t start = s.Asset.DataStart + s.EntryOffset(i);
    const uint64_t end = start + s.EntrySize(i);
    const uint64_t after_name = start + s.Entries.PrefixSkip + s.Entries[i].NameFieldSize;
    ObjectCursor cursor(data, after_name, end, order);
    const Bytes expected = text ? cursor.ByteArray() : cursor.Bytes(end - after_name);
    if (text) {
      // The shader's text as its author wrote it, or as the engine compiled it.
      const size_t n = std::min<size_t>(expected.size(), 4096);
      EXPECT_NE(std::string(expected.begin(), expected.begin() + n).find("Shader"),
                std::string::npos)
          << what;
    }
    ASSERT_TRUE(ExportEntry(s, ExportRequest(), i, data, fe)) << what << ": " << fe.errors.back();
    const std::string file = ExportFolder(s.Archive) + std::string(s.EntryName(i));
    if (text && expected.empty()) {
      EXPECT_FALSE(std::filesystem::exists(file)) << what;
    } else {
      EXPECT_EQ(ReadFileBytes(file), expected) << what;
    }
  }
}

TEST(ShaderExport, EveryCorpusShaderIsTextOnlyWhereTheObjectHoldsText) {
  if (CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  ShaderTally tally;
  for (const CorpusRow& row : CorpusManifest()) {
    if (row.classes_present.find("48x") == std::string::npos || !FormatsWithin(row)) continue;
    const bool bundle = IsReadableBundle(row);
    if (!bundle && !IsHandledPlainFile(row)) continue;
    SCOPED_TRACE(row.relpath);
    TempDir tmp;
    Session s;
    RecordingFrontend fe;
    OpenOptions options;
    options.OutputRootGiven = true;
    options.OutputRootOption = tmp.File("out");
    if (bundle) {
      CopyFile(CorpusDir() + "/" + row.relpath, tmp.File("bundle"));
      options.SelectedFileIndex = 0;
      ASSERT_NO_THROW(OpenArchive(s, fe, tmp.File("bundle"), options));
      for (size_t k = 0; k < s.Archive.Bundle.ContainedFiles.size(); ++k) {
        if (k > 0) {
          ASSERT_NO_THROW(ReopenWithSelection(s, fe, static_cast<int>(k), options));
        }
        CheckShaders(s, row.relpath + " -i " + std::to_string(k), tally);
      }
    } else {
      ASSERT_NO_THROW(OpenArchive(s, fe, CorpusArchiveToOpen(row, tmp), options));
      CheckShaders(s, row.relpath, tally);
    }
    CloseArchive(s);
  }
  std::printf("corpus shaders: %d text, %d parsed, %d decided by a type tree\n", tally.text,
              tally.parsed, tally.by_tree);
  // Engines 3.4 to 5.2 and 5.5 to 6000.3. Files of formats 14 and 15 whose object table the
  // reader finds without walking the types keep no trees; the others decide by their trees.
  EXPECT_GE(tally.text, 125);
  EXPECT_GE(tally.parsed, 76);
  EXPECT_GE(tally.by_tree, 19);
}

}  // namespace
}  // namespace kestrix
