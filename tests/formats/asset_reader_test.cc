#include "formats/asset_reader.h"

#include <gtest/gtest.h>

#include <cstring>
#include <utility>
#include <vector>

#include "core/error.h"
#include "core/session.h"
#include "formats/archive_open.h"
#include "support/asset_builder.h"
#include "support/bundle_builder.h"
#include "support/test_env.h"

namespace kestrix {
namespace {

using testing::AssetSpec;
using testing::Bytes;
using testing::ByteWriter;
using testing::NamedObject;
using testing::RecordingFrontend;
using testing::TempDir;

struct Opened {
  Session session;
  RecordingFrontend frontend;
};

void OpenBytes(const Bytes& bytes, Opened& o, const std::string& name = "level0") {
  TempDir dir;
  std::string path = dir.File(name);
  testing::WriteFileBytes(path, bytes);
  OpenArchive(o.session, o.frontend, path);
}

Bytes TextureData(const std::string& name, int32_t format, bool big) {
  ByteWriter w(big);
  w.I32(256).I32(128).I32(43704).I32(format).Zeros(16);
  return NamedObject(name, w.Data(), big);
}

AssetSpec MixedSpec(uint32_t format, bool big, bool trees) {
  AssetSpec desc;
  desc.format = format;
  desc.big_endian = big;
  desc.type_trees = trees;
  desc.unity_version = format <= 8 ? "3.4.2f1" : format <= 9 ? "4.3.2f1" : "5.2.1f1";
  desc.objects.push_back({1, Bytes(40, 0xAB)});
  desc.objects.push_back({28, TextureData("Hero", 10, big)});
  desc.objects.push_back({-3, Bytes(12, 0x01)});
  desc.objects.push_back({114, Bytes(20, 0x02)});
  desc.objects.push_back({1, Bytes(8, 0x03)});
  return desc;
}

class EveryFormat : public ::testing::TestWithParam<std::tuple<uint32_t, bool, bool>> {};

TEST_P(EveryFormat, ReadsRecordsOfItsLayout) {
  auto [format, big, trees] = GetParam();
  AssetSpec desc = MixedSpec(format, big, trees);
  Opened o;
  OpenBytes(testing::BuildAssetFile(desc), o);
  const Session& s = o.session;
  EXPECT_TRUE(o.frontend.messages.empty()) << o.frontend.messages.front();
  ASSERT_EQ(s.Asset.ObjectCount, desc.objects.size());
  EXPECT_EQ(s.Asset.FormatVersion, format);
  EXPECT_EQ(s.Asset.BigEndian, big ? 1u : 0u);
  // Format 6 states neither platform nor version, format 7 no platform.
  EXPECT_EQ(s.Asset.Platform, format >= 8 ? 5 : 0);
  EXPECT_EQ(s.Asset.Engine.Major, format == 6 ? 0 : s.Asset.MajorVersion);
  EXPECT_EQ(s.Asset.MajorVersion, format <= 8 ? 3 : format <= 9 ? 4 : 5);
  EXPECT_EQ(s.Asset.MetadataAtEnd, format <= 8);
  EXPECT_EQ(s.Asset.FileSizeFieldPos, format >= 22 ? 24u : 4u);
  EXPECT_EQ(s.Asset.AssetFileSize, testing::BuildAssetFile(desc).size());
  EXPECT_EQ(s.Asset.TypeIndex.size(), format >= 16 ? desc.objects.size() : 0u);
  // The type trees as stored: two nodes, with reference hashes from format 19 and the
  // type's dependencies from format 21.
  if (trees && format >= 16) {
    ASSERT_EQ(s.Asset.Types.size(), 4u);
    for (const SerializedType& t : s.Asset.Types) {
      ASSERT_EQ(t.Tree.Nodes.size(), 2u);
      EXPECT_EQ(t.Tree.Strings, std::string("Base\0m_Name\0", 12));
      EXPECT_EQ(t.Tree.Nodes[1].FieldNameOffset, 0u);
      EXPECT_EQ(t.Tree.Nodes[1].TypeNameOffset, 5u);
      EXPECT_EQ(t.Tree.Nodes[1].Level, 1);
      EXPECT_EQ(t.Tree.Nodes[1].RefTypeHash, format >= 19 ? 0x1122334455667789ull : 0u);
      EXPECT_EQ(t.Dependencies, format >= 21 ? std::vector<int32_t>{0} : std::vector<int32_t>{});
    }
  }
  // Reference types after the object table, from format 20 on.
  ASSERT_EQ(s.Asset.ReferenceTypes.size(), trees && format >= 20 ? 1u : 0u);
  if (!s.Asset.ReferenceTypes.empty()) {
    const SerializedType& ref = s.Asset.ReferenceTypes[0];
    EXPECT_EQ(ref.StoredClassId, 114);
    EXPECT_EQ(ref.Tree.Nodes.size(), 2u);
    EXPECT_EQ(ref.ClassName, format >= 21 ? "Node" : "");
    EXPECT_EQ(ref.Namespace, format >= 21 ? "Game.Data" : "");
    EXPECT_EQ(ref.AssemblyName, format >= 21 ? "Assembly-CSharp" : "");
  }
  uint64_t offset = 0;
  for (size_t i = 0; i < desc.objects.size(); ++i) {
    EXPECT_EQ(s.EntryClass(i), desc.objects[i].class_id) << "entry " << i;
    EXPECT_EQ(s.EntrySize(i), desc.objects[i].data.size()) << "entry " << i;
    EXPECT_EQ(s.Object(i).PathId, static_cast<int64_t>(i + 1)) << "entry " << i;
    // Objects follow each other in the data.
    EXPECT_GE(s.EntryOffset(i), offset) << "entry " << i;
    offset = s.EntryOffset(i) + s.EntrySize(i);
  }
  EXPECT_EQ(s.EntryName(1), "Hero.tex");
  EXPECT_EQ(s.Entries.TypeText(1), "Texture2D id: 10 - DXT1");
  EXPECT_EQ(s.EntryName(0), "level0_00001.1");
  EXPECT_EQ(s.EntryName(4), "level0_00002.1");
  EXPECT_EQ(s.Entries.TypeText(2), "MonoBehaviour id: 114");
  // The payload of the texture starts after its name field.
  EXPECT_EQ(s.PayloadSize(1), desc.objects[1].data.size() - 8);
}

INSTANTIATE_TEST_SUITE_P(Formats, EveryFormat,
                         ::testing::Combine(::testing::Values(6u, 7u, 8u, 9u, 14u, 15u, 16u, 17u,
                                                              18u, 19u, 20u, 21u, 22u, 23u),
                                            ::testing::Bool(), ::testing::Bool()));

// Tables long enough to be read by two threads come out as one read would give them, and a bad
// record is reported by the first one in the table.
TEST(AssetReader, LongTablesReadWholeAndNameTheirFirstBadRecord) {
  for (uint32_t format : {9u, 17u, 22u}) {
    AssetSpec desc;
    desc.format = format;
    desc.data_alignment = 4;
    const size_t count = 70001;
    const int32_t classes[] = {1, 4, 21, 114};
    for (size_t i = 0; i < count; ++i)
      desc.objects.push_back({classes[i % 4], Bytes(4 + i % 7, static_cast<uint8_t>(i))});
    Bytes file = testing::BuildAssetFile(desc);
    Opened o;
    OpenBytes(file, o);
    const Session& s = o.session;
    ASSERT_EQ(s.EntryCount(), count);
    for (size_t i = 0; i < count; ++i) {
      ASSERT_EQ(s.EntryClass(i), classes[i % 4]) << format << " entry " << i;
      ASSERT_EQ(s.Object(i).PathId, static_cast<int64_t>(i + 1)) << format << " entry " << i;
      ASSERT_EQ(s.EntrySize(i), 4 + i % 7) << format << " entry " << i;
      ASSERT_EQ(file[s.Asset.DataStart + s.EntryOffset(i)], static_cast<uint8_t>(i)) << i;
    }
    if (format < 16) continue;
    // Type indexes past the type list, in one half or in both.
    const uint64_t table = s.Asset.ObjectTableStart;
    const RecordLayout layout = s.Asset.Layout;
    for (const auto& [bad, first] : {std::pair{std::vector<size_t>{100, 60000}, 101},
                                     std::pair{std::vector<size_t>{60000, 69999}, 60001}}) {
      Bytes damaged = file;
      for (size_t k : bad) {
        const uint64_t at = table + k * layout.RecordBytes + layout.TypePos;
        std::memset(&damaged[at], 0x7F, 4);
      }
      Opened d;
      try {
        OpenBytes(damaged, d);
        ADD_FAILURE() << "opened a table with bad type indexes";
      } catch (const Error& e) {
        EXPECT_NE(std::string(e.what()).find("object " + std::to_string(first) + " names type"),
                  std::string::npos)
            << e.what();
      }
    }
  }
}

TEST(RecordLayout, FieldsPerFormat) {
  struct Row {
    uint32_t format, bytes, path_id, offset, offset_bytes, size, type;
  } rows[] = {{5, 20, 4, 4, 4, 8, 12},   {9, 20, 4, 4, 4, 8, 12},   {10, 24, 8, 8, 4, 12, 16},
              {14, 24, 8, 8, 4, 12, 16}, {15, 28, 8, 8, 4, 12, 16}, {16, 24, 8, 8, 4, 12, 16},
              {17, 20, 8, 8, 4, 12, 16}, {21, 20, 8, 8, 4, 12, 16}, {22, 24, 8, 8, 8, 16, 20}};
  for (const Row& r : rows) {
    const RecordLayout l = RecordLayoutForFormat(r.format);
    EXPECT_EQ(l.RecordBytes, r.bytes) << r.format;
    EXPECT_EQ(l.PathIdBytes, r.path_id) << r.format;
    EXPECT_EQ(l.OffsetPos, r.offset) << r.format;
    EXPECT_EQ(l.OffsetBytes, r.offset_bytes) << r.format;
    EXPECT_EQ(l.SizePos, r.size) << r.format;
    EXPECT_EQ(l.TypePos, r.type) << r.format;
  }
}

TEST(EngineVersion, PartsAndOrder) {
  const EngineVersion v = ParseEngineVersion("2018.4.2f1");
  EXPECT_TRUE(v.Known);
  EXPECT_EQ(v.Major, 2018);
  EXPECT_EQ(v.Minor, 4);
  EXPECT_EQ(v.Patch, 2);
  EXPECT_EQ(v.Type, 'f');
  EXPECT_EQ(v.Build, 1);
  EXPECT_TRUE(v.AtLeast(2018, 4));
  EXPECT_TRUE(v.AtLeast(2017, 9, 9));
  EXPECT_FALSE(v.AtLeast(2018, 4, 3));
  EXPECT_FALSE(v.AtLeast(2019));
  EXPECT_EQ(ParseEngineVersion("5.6").Minor, 6);
  EXPECT_FALSE(ParseEngineVersion("").Known);
  EXPECT_FALSE(ParseEngineVersion("x.1").Known);
}

TEST(AssetReader, MajorVersionRules) {
  EXPECT_EQ(MajorVersionOf("2017.4.10f1", 17), 2017);
  EXPECT_EQ(MajorVersionOf("5.6.3f1", 9), 5);
  EXPECT_EQ(MajorVersionOf("", 17), 5);
  EXPECT_EQ(MajorVersionOf("", 15), 5);
  EXPECT_EQ(MajorVersionOf("x.1", 9), 4);
  EXPECT_EQ(MajorVersionOf("", 14), 4);
  EXPECT_EQ(MajorVersionOf("", 16), 0);
  EXPECT_EQ(MajorVersionOf("", 22), 0);
}

TEST(AssetReader, EmptyVersionTextStillReadsFormat17) {
  AssetSpec desc = MixedSpec(17, false, false);
  desc.unity_version = "";
  Opened o;
  OpenBytes(testing::BuildAssetFile(desc), o);
  EXPECT_EQ(o.session.Asset.MajorVersion, 5);
  EXPECT_EQ(o.session.Asset.ObjectCount, 5u);
}

// A newer format is refused by name when the file otherwise looks like an asset file; data
// that does not (a resource file whose third word happens to be large) stays a raw file.
TEST(AssetReader, NewerFormatsAreRefusedByName) {
  AssetSpec desc = MixedSpec(22, false, true);
  desc.unity_version = "6000.7.1f1";
  Bytes file = testing::BuildAssetFile(desc);
  file[11] = 24;
  Opened o;
  try {
    OpenBytes(file, o);
    ADD_FAILURE() << "format 24 opened";
  } catch (const std::exception& e) {
    EXPECT_STREQ(e.what(),
                 "Unsupported asset file: serialized format 24 is not supported yet (engine "
                 "6000.7.1f1).");
  }
  std::fill(file.begin() + 48, file.begin() + 60, 0xEE);
  Opened raw;
  OpenBytes(file, raw, "data.resS");
  EXPECT_TRUE(raw.session.Asset.RawSingleFile);
}

// Format 23 keeps each type tree in the file or, extracted, under its hash: in an entry of the
// bundle the file came in or in a ".typetreedata" archive beside it. A tree found nowhere leaves
// its objects to the engine's layouts, and the open says so.
TEST(AssetReader, Format23TreesInlineOrExtracted) {
  enum class Where { kInline, kBundle, kBeside, kNowhere };
  for (Where where : {Where::kInline, Where::kBundle, Where::kBeside, Where::kNowhere}) {
    SCOPED_TRACE(static_cast<int>(where));
    AssetSpec desc = MixedSpec(23, false, true);
    desc.unity_version = "6000.5.2f1";
    std::vector<std::pair<std::string, Bytes>> trees;
    const Bytes asset = testing::BuildAssetFile(desc, where == Where::kInline ? nullptr : &trees);
    testing::BundleV6Spec bundle;
    bundle.version = 8;
    bundle.engine_version = desc.unity_version;
    bundle.files = {{"CAB-a", asset}};
    testing::BundleV6Spec side = bundle;
    side.files.clear();
    for (const auto& [name, blob] : trees)
      (where == Where::kBundle ? bundle : side).files.push_back({name, blob});
    TempDir dir;
    testing::WriteFileBytes(dir.File("a.bundle"), testing::BuildBundleV6(bundle).bytes);
    if (where == Where::kBeside)
      testing::WriteFileBytes(dir.File("Game.typetreedata"), testing::BuildBundleV6(side).bytes);
    Session s;
    RecordingFrontend fe;
    OpenArchive(s, fe, dir.File("a.bundle"));
    ASSERT_EQ(s.Asset.ObjectCount, desc.objects.size());
    ASSERT_EQ(s.Asset.Types.size(), 4u);
    ASSERT_EQ(s.Asset.ReferenceTypes.size(), 1u);
    const bool found = where != Where::kNowhere;
    for (const SerializedType& t : s.Asset.Types) {
      EXPECT_EQ(t.TreeExtracted, where != Where::kInline);
      ASSERT_EQ(t.Tree.Nodes.size(), found ? 2u : 0u);
      if (found) {
        EXPECT_EQ(t.Tree.Strings, std::string("Base\0m_Name\0", 12));
      }
      EXPECT_EQ(t.Dependencies, std::vector<int32_t>{0});
    }
    EXPECT_EQ(s.Asset.ReferenceTypes[0].Tree.Nodes.size(), found ? 2u : 0u);
    EXPECT_EQ(s.Asset.ReferenceTypes[0].ClassName, "Node");
    EXPECT_EQ(s.EntryName(1), "Hero.tex");
    if (found) {
      EXPECT_TRUE(fe.messages.empty()) << fe.messages.front();
    } else {
      ASSERT_EQ(fe.messages.size(), 1u);
      EXPECT_EQ(fe.messages[0].find("5 type trees of this file are kept outside it"), 0u);
    }
    CloseArchive(s);
  }
}

// An import into a format 23 file writes format 23 back, its trees (inline, or extracted into
// entries of the bundle named by their hash) still found, and keeps the hash-named entries byte
// for byte when the bundle is repacked.
TEST(AssetReader, Format23ImportKeepsTheFormatAndTheExtractedTrees) {
  for (bool extracted : {false, true}) {
    SCOPED_TRACE(extracted);
    AssetSpec desc = MixedSpec(23, false, true);
    desc.unity_version = "6000.5.2f1";
    std::vector<std::pair<std::string, Bytes>> trees;
    testing::BundleV6Spec bundle;
    bundle.version = 8;
    bundle.engine_version = desc.unity_version;
    bundle.files = {{"CAB-a", testing::BuildAssetFile(desc, extracted ? &trees : nullptr)}};
    for (const auto& [name, blob] : trees) bundle.files.push_back({name, blob});
    TempDir dir;
    const std::string path = dir.File("a.bundle");
    testing::WriteFileBytes(path, testing::BuildBundleV6(bundle).bytes);
    std::string name;
    uint64_t size = 0;
    {
      Session s;
      RecordingFrontend fe;
      OpenArchive(s, fe, path);
      name = std::string(s.EntryName(4));
      size = s.PayloadSize(4);
      CloseArchive(s);
    }
    ASSERT_EQ(testing::RunKestrix({"export", path, "-t", "1"}).status, 0);
    std::string raw;
    for (const std::string& f : testing::ListFiles(dir.File("Unity_Assets_Files")))
      if (f == name || (f.size() > name.size() && f.substr(f.size() - name.size() - 1) == "/" + name))
        raw = dir.File("Unity_Assets_Files/" + f);
    ASSERT_FALSE(raw.empty()) << name;
    Bytes grown = testing::ReadFileBytes(raw);
    grown.insert(grown.end(), 8, 0x5A);
    testing::WriteFileBytes(raw, grown);
    const testing::RunResult run = testing::RunKestrix({"import", path, "-t", "1"});
    ASSERT_EQ(run.status, 0) << run.err;

    Session s;
    RecordingFrontend fe;
    OpenArchive(s, fe, path);
    EXPECT_TRUE(fe.messages.empty()) << fe.messages.front();
    EXPECT_EQ(s.Asset.FormatVersion, 23u);
    ASSERT_EQ(s.Asset.ObjectCount, desc.objects.size());
    EXPECT_EQ(s.PayloadSize(4), size + 8);
    for (const SerializedType& t : s.Asset.Types) {
      EXPECT_EQ(t.TreeExtracted, extracted);
      EXPECT_EQ(t.Tree.Nodes.size(), 2u);
    }
    ASSERT_EQ(s.Archive.Bundle.ContainedFiles.size(), bundle.files.size());
    CloseArchive(s);
    ASSERT_EQ(testing::RunKestrix({"exportbundle", path, "-p", dir.File("out")}).status, 0);
    for (const auto& [hash_name, blob] : trees) {
      bool same = false;
      for (const std::string& f : testing::ListFiles(dir.File("out")))
        if (f.size() >= hash_name.size() && f.substr(f.size() - hash_name.size()) == hash_name)
          same = testing::ReadFileBytes(dir.File("out/" + f)) == blob;
      EXPECT_TRUE(same) << hash_name;
    }
  }
}

// A version text stripped to "0.0.0" with no bundle to take one from: --engine names the engine,
// else the format and the type trees decide, and the open says which engine it took.
TEST(AssetReader, StrippedVersionIsNamedOrInferred) {
  struct Case {
    std::vector<testing::TreeField> texture_fields;
    std::string option;
    int32_t major, minor;
    std::string note;  // "" for none
  };
  const std::vector<Case> cases = {
      {{}, "", 2020, 1, "read as engine 2020.1 (inferred from its format)"},
      {{{"string", "m_MipmapLimitGroupName"}, {"int", "m_ForcedFallbackFormat"}},
       "",
       2022,
       2,
       "read as engine 2022.2 (inferred from its type trees)"},
      {{{"string", "m_MipmapLimitGroupName"}}, "", 2023, 2, "read as engine 2023.2"},
      {{}, "2021.3.4f1", 2021, 3, ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.note + c.option);
    AssetSpec desc = MixedSpec(22, false, true);
    desc.unity_version = "0.0.0";
    if (!c.texture_fields.empty()) desc.class_trees = {{28, c.texture_fields}};
    TempDir dir;
    testing::WriteFileBytes(dir.File("level0"), testing::BuildAssetFile(desc));
    Session s;
    RecordingFrontend fe;
    OpenOptions options;
    options.EngineVersion = c.option;
    OpenArchive(s, fe, dir.File("level0"), options);
    EXPECT_FALSE(s.Asset.RawSingleFile);
    EXPECT_EQ(s.Asset.ObjectCount, desc.objects.size());
    EXPECT_EQ(s.Asset.Engine.Major, c.major);
    EXPECT_EQ(s.Asset.Engine.Minor, c.minor);
    EXPECT_EQ(s.Asset.MajorVersion, c.major);
    if (c.note.empty()) {
      EXPECT_TRUE(fe.messages.empty()) << fe.messages.front();
    } else {
      ASSERT_EQ(fe.messages.size(), 1u);
      EXPECT_NE(fe.messages[0].find(c.note), std::string::npos) << fe.messages[0];
    }
    CloseArchive(s);
  }
  Session s;
  RecordingFrontend fe;
  OpenOptions bad;
  bad.EngineVersion = "latest";
  TempDir dir;
  testing::WriteFileBytes(dir.File("level0"), testing::BuildAssetFile(MixedSpec(22, false, false)));
  EXPECT_THROW(OpenArchive(s, fe, dir.File("level0"), bad), Error);
}

// An asset file in a bundle whose version text is stripped to "0.0.0" takes the bundle's.
TEST(AssetReader, StrippedVersionTakesTheBundlesEngine) {
  for (uint32_t format : {17u, 22u}) {
    SCOPED_TRACE(format);
    AssetSpec desc = MixedSpec(format, false, true);
    desc.unity_version = "0.0.0";
    testing::BundleV6Spec bundle;
    bundle.version = 7;
    bundle.engine_version = "2020.3.18f1";
    bundle.files = {{"CAB-a", testing::BuildAssetFile(desc)}};
    TempDir dir;
    testing::WriteFileBytes(dir.File("b.bundle"), testing::BuildBundleV6(bundle).bytes);
    Session s;
    RecordingFrontend fe;
    OpenArchive(s, fe, dir.File("b.bundle"));
    EXPECT_FALSE(s.Asset.RawSingleFile);
    EXPECT_EQ(s.Asset.ObjectCount, desc.objects.size());
    EXPECT_EQ(s.Asset.MajorVersion, 2020);
    EXPECT_EQ(s.Asset.Engine.Minor, 3);
    EXPECT_EQ(s.Asset.UnityVersion, "0.0.0");
    CloseArchive(s);
  }
}

TEST(AssetReader, ScriptTypeIndexBecomesNegativeClass) {
  AssetSpec desc;
  desc.format = 17;
  desc.objects = {{-3, Bytes(8)}, {114, Bytes(8)}, {-7, Bytes(8)}};
  Opened o;
  OpenBytes(testing::BuildAssetFile(desc), o);
  EXPECT_EQ(o.session.Asset.TypeClassIds, (std::vector<int32_t>{-3, 114, -7}));
  EXPECT_EQ(o.session.EntryClass(0), -3);
  EXPECT_EQ(o.session.EntryClass(1), 114);
  EXPECT_EQ(o.session.EntryClass(2), -7);
  EXPECT_EQ(o.session.EntryName(1), "level0_00001.114");
}

TEST(AssetReader, OggFileIsOneAudioClipEntry) {
  Bytes ogg = {'O', 'g', 'g', 'S', 0, 2, 0, 0, 0, 0, 0, 0, 0, 0, 0,
               0,   0,   0,   0,   0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0};
  Opened o;
  OpenBytes(ogg, o, "theme.ogg");
  const Session& s = o.session;
  EXPECT_TRUE(s.Asset.RawSingleFile);
  EXPECT_EQ(s.Asset.ObjectCount, 0u);
  ASSERT_EQ(s.EntryCount(), 1u);
  EXPECT_EQ(s.Entries.TypeText(0), "AudioClip");
  EXPECT_EQ(s.Asset.ShownKind, "OggS");
  EXPECT_EQ(s.EntryName(0), "theme");
  EXPECT_EQ(s.EntryOffset(0), 0u);
  EXPECT_EQ(s.EntrySize(0), ogg.size());
}

TEST(AssetReader, RawKindsOfShortAndOtherFiles) {
  struct Case {
    Bytes bytes;
    const char* type;
    const char* kind;
  } cases[] = {
      {{0xFF, 0xFB, 0x90}, "AudioClip", "MP3"},
      {{'I', 'D', '3', 4, 0, 0}, "AudioClip", "MP3"},
      {{'R', 'I', 'F', 'F', 1, 2}, "AudioClip", "RIFF"},
      {{'F', 'S', 'B', '5', 1, 2}, "AudioClip", "FSB5"},
      {{'h', 'e', 'l', 'l', 'o'}, "unknown", "unknown"},
      {{}, "unknown", "unknown"},
  };
  for (const Case& c : cases) {
    Opened o;
    OpenBytes(c.bytes, o, "blob.bin");
    EXPECT_EQ(o.session.Entries.TypeText(0), c.type);
    EXPECT_EQ(o.session.Asset.ShownKind, c.kind);
    EXPECT_EQ(o.session.EntrySize(0), c.bytes.size());
  }
}

TEST(AssetReader, NoFirstRecordFallsBackToTheTypeTrees) {
  // Format 15 with type trees whose records carry path ids other than 1 (as the engine's built-in
  // resources do): the search finds nothing, the type trees are walked instead.
  AssetSpec desc = MixedSpec(15, false, true);
  Bytes file = testing::BuildAssetFile(desc);
  const uint8_t one[8] = {1, 0, 0, 0, 0, 0, 0, 0};
  for (size_t i = 0; i + 8 <= file.size(); ++i)
    if (std::memcmp(&file[i], one, 8) == 0) file[i] = 9;
  {
    Opened o;
    OpenBytes(file, o);
    EXPECT_TRUE(o.frontend.messages.empty());
    EXPECT_EQ(o.session.Asset.ObjectCount, 5u);
    EXPECT_EQ(o.session.EntryClass(2), -3);
    EXPECT_EQ(o.session.EntryName(1), "Hero.tex");
  }
  // With the trees damaged as well there is no table to read: the list stays empty.
  // Header 20, "5.2.1f1" 8, platform 4, flag 1, count 4, class id 4, hash 16: the node count.
  const uint32_t huge = 0x7FFFFFFF;
  std::memcpy(&file[57], &huge, 4);
  Opened o;
  OpenBytes(file, o);
  EXPECT_EQ(o.frontend.messages, std::vector<std::string>{"Error: Not find offsets."});
  EXPECT_EQ(o.session.Asset.ObjectCount, 0u);
  EXPECT_EQ(o.session.EntryCount(), 0u);
}

// Every cut of a valid file either opens or fails with an error: no crash, no huge allocation.
TEST(AssetReader, TruncationSweepNeverCrashes) {
  // Every length on Linux; under wine, where each open costs many calls to its server, every
  // fourth (the reader is the same code on both systems).
#ifdef _WIN32
  constexpr size_t kStride = 4;
#else
  constexpr size_t kStride = 1;
#endif
  for (uint32_t format : {9u, 15u, 17u}) {
    for (bool trees : {false, true}) {
      Bytes full = testing::BuildAssetFile(MixedSpec(format, format == 9, trees));
      TempDir dir;
      for (size_t len = 0; len < full.size(); len += kStride) {
        Bytes cut(full.begin(), full.begin() + static_cast<long>(len));
        std::string path = dir.File("cut");
        testing::WriteFileBytes(path, cut);
        Session s;
        RecordingFrontend fe;
        try {
          OpenArchive(s, fe, path);
          EXPECT_LE(s.EntryCount(), 5u);
        } catch (const std::exception& e) {
          EXPECT_STRNE(e.what(), "");
        }
      }
    }
  }
}

TEST(AssetReader, HostileCountsAreRefusedBeforeAllocation) {
  AssetSpec desc = MixedSpec(17, false, true);
  Bytes good = testing::BuildAssetFile(desc);
  // Offsets in a format 17 file: header 20 + "5.2.1f1\0" 8 = 28, platform 4, flag 1, count at 33.
  auto patched = [&](size_t at, uint32_t v) {
    Bytes b = good;
    std::memcpy(&b[at], &v, 4);
    return b;
  };
  struct Case {
    const char* what;
    Bytes bytes;
  } cases[] = {
      {"type count", patched(33, 0x80000000u)},
      {"node count", patched(33 + 4 + 4 + 19, 0x80000000u)},
  };
  for (const Case& c : cases) {
    Opened o;
    EXPECT_THROW(OpenBytes(c.bytes, o), std::exception) << c.what;
  }
  // Object count of a format 9 file right after the type list.
  AssetSpec nine = MixedSpec(9, false, false);
  Bytes b9 = testing::BuildAssetFile(nine);
  uint32_t huge = 0x7FFFFFFF;
  std::memcpy(&b9[28 + 4 + 4 + 4], &huge, 4);  // version "4.3.2f1\0", platform, types 0, flag
  Opened o9;
  try {
    OpenBytes(b9, o9);
    FAIL() << "open accepted an object count of 2^31-1";
  } catch (const std::exception& e) {
    EXPECT_NE(std::string(e.what()).find("object count"), std::string::npos) << e.what();
  }
  // A format 9 type tree whose child count is 2^31.
  AssetSpec trees = MixedSpec(9, false, true);
  Bytes bt = testing::BuildAssetFile(trees);
  // First type: class id at 40, "Base\0Base\0" 10 bytes, 20 bytes of fields, child count.
  uint32_t children = 0x80000000u;
  std::memcpy(&bt[40 + 4 + 10 + 20], &children, 4);
  Opened ot;
  EXPECT_THROW(OpenBytes(bt, ot), std::exception);
}

}  // namespace
}  // namespace kestrix
