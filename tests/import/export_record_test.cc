// Import takes what the user changed: export records what it wrote, so that an unchanged file of
// an older export folder cannot undo a newer edit, and an object edited both in the archive and
// in the folder is a conflict. Also `-t png`: the pictures a converter turned into raw files
// are what that word asks for.
#include "export/export_record.h"

#include <gtest/gtest.h>

#include <filesystem>

#include "core/session.h"
#include "export/export_driver.h"
#include "formats/archive_open.h"
#include "import/import_driver.h"
#include "platform/byte_source.h"
#include "support/asset_builder.h"
#include "support/payloads.h"
#include "support/test_env.h"

namespace kestrix {
namespace {

using namespace testing;  // NOLINT: the builder vocabulary

Bytes BuildObjects() {
  AssetSpec desc;
  desc.objects = {{21, NamedObject("Zeta", Bytes(40, 0x21))},
                  {21, NamedObject("Beta", Bytes(24, 0x22))},
                  {21, NamedObject("Gam", Bytes(16, 0x23))}};
  return BuildAssetFile(desc);
}

// One export folder of the archive: `-p root`, opened and exported raw.
struct Folder {
  explicit Folder(std::string r) : root(std::move(r)) {}
  std::string root;
  Session s;
  RecordingFrontend fe;
  void Open(const std::string& archive) {
    OpenOptions options;
    options.OutputRootGiven = true;
    options.OutputRootOption = root;
    fe = RecordingFrontend();
    OpenArchive(s, fe, archive, options);
  }
  std::string File(const std::string& name) const { return ExportFolder(s.Archive) + name; }
  // The raw file of entry i.
  std::string Raw(size_t i) const { return File(std::string(s.EntryName(i))); }
  void Export() {
    ExportRequest request;
    request.Switches.ExportSource = true;
    std::vector<size_t> all;
    for (size_t i = 0; i < s.EntryCount(); ++i) all.push_back(i);
    ExportEntries(s, request, fe, all);
  }
  ImportResult Import(const std::string& archive) {
    Open(archive);  // the archive may have changed since: a session of its own
    return ImportAll(s, ImportRequest(), fe, ImportConverters());
  }
};

Bytes PayloadOf(const std::string& archive, size_t i) {
  Session s;
  RecordingFrontend fe;
  OpenArchive(s, fe, archive);
  Bytes bytes(s.PayloadSize(i));
  FileSource source(s.Archive.ArchivePath);
  source.ReadAt(s.PayloadOffset(i), bytes.data(), bytes.size());
  return bytes;
}

TEST(ExportRecord, TwoFoldersKeepBothEditsAndTheSameObjectIsAConflict) {
  TempDir dir;
  const std::string archive = dir.File("level0");
  WriteFileBytes(archive, BuildObjects());
  Folder a{dir.File("a")}, b{dir.File("b")};
  a.Open(archive);
  a.Export();
  b.Open(archive);
  b.Export();
  ASSERT_TRUE(std::filesystem::exists(a.File(kExportRecordName)));

  // Nothing edited: nothing written, the archive as it was.
  const Bytes original = ReadFileBytes(archive);
  ImportResult none = a.Import(archive);
  EXPECT_EQ(none.replaced, 0u);
  EXPECT_EQ(none.unchanged, 3u);
  EXPECT_EQ(ReadFileBytes(archive), original);

  // Different objects in the two folders: both edits stand, in either order of import.
  WriteFileBytes(a.Raw(0), Bytes(45, 0x61));
  WriteFileBytes(b.Raw(1), Bytes(13, 0x62));
  EXPECT_EQ(a.Import(archive).replaced, 1u);
  ImportResult second = b.Import(archive);
  EXPECT_EQ(second.replaced, 1u);
  EXPECT_EQ(second.refused, 0u);
  EXPECT_EQ(PayloadOf(archive, 0), Bytes(45, 0x61));
  EXPECT_EQ(PayloadOf(archive, 1), Bytes(13, 0x62));

  // Importing a folder again changes nothing: the record follows each import.
  const Bytes both = ReadFileBytes(archive);
  EXPECT_EQ(a.Import(archive).replaced, 0u);
  EXPECT_EQ(b.Import(archive).replaced, 0u);
  EXPECT_EQ(ReadFileBytes(archive), both);

  // The same object edited in the other folder after the first edit went in: a conflict,
  // reported by name, not written.
  WriteFileBytes(b.Raw(0), Bytes(8, 0x63));
  ImportResult conflict = b.Import(archive);
  EXPECT_EQ(conflict.refused, 1u);
  EXPECT_EQ(conflict.replaced, 0u);
  ASSERT_EQ(b.fe.errors.size(), 1u);
  EXPECT_NE(b.fe.errors[0].find("Zeta"), std::string::npos) << b.fe.errors[0];
  EXPECT_NE(b.fe.errors[0].find("conflict"), std::string::npos) << b.fe.errors[0];
  EXPECT_EQ(ReadFileBytes(archive), both);

  // A hostile or broken record is only ever a reason to skip or refuse: garbage is no record.
  WriteFileBytes(a.File(kExportRecordName), Bytes(64, 0xFF));
  WriteFileBytes(a.Raw(2), Bytes(16, 0x64));
  EXPECT_EQ(a.Import(archive).replaced, 3u);  // every file taken, as without a record
  EXPECT_EQ(PayloadOf(archive, 2), Bytes(16, 0x64));
}

// A test converter: the picture's bytes become the raw file.
void PictureToRaw(const ImporterCall& call, ImporterContext&) {
  WriteFileBytes(call.output_root + call.relative_path, ReadFileBytes(call.source_path));
}

TEST(ExportRecord, TypeWordsTakeTheRawFilesTheirSourcesWereConvertedInto) {
  struct Case {
    std::vector<std::string> words;
    bool taken;
  };
  // The raw file's own extension takes it as before; the picture's does now too.
  for (const Case& c : std::vector<Case>{{{"png"}, true}, {{"mat"}, true}, {{"dds"}, false}}) {
    TempDir dir;
    const std::string archive = dir.File("level0");
    WriteFileBytes(archive, BuildObjects());
    Folder f{dir.File("out")};
    f.Open(archive);
    std::filesystem::create_directories(f.File("Textures"));
    ASSERT_EQ(std::string(f.s.EntryName(0)), "Zeta.mat");
    WriteFileBytes(f.File("Textures/Zeta.mat.png"), Bytes(40, 0x71));
    ImportConverters converters;
    converters.png = PictureToRaw;
    ImportRequest request;
    request.TypeFilterGiven = true;
    request.TypeWords = c.words;
    ImportResult r = ImportAll(f.s, request, f.fe, converters);
    EXPECT_EQ(r.replaced, c.taken ? 1u : 0u) << c.words[0];
    EXPECT_EQ(PayloadOf(archive, 0) == Bytes(40, 0x71), c.taken) << c.words[0];
  }
}

}  // namespace
}  // namespace kestrix
