// Whole archives, the demo one and real ones from games: every AudioClip and Mesh goes through
// its converter as the export driver calls it. Reachable sounds come out whole in their
// container; meshes become OBJ files that assimp loads with the counts of their summary line.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>

#include "core/error.h"
#include "core/localization.h"
#include "core/session.h"
#include "export/audio_detect.h"
#include "export/converter.h"
#include "export/export_driver.h"
#include "formats/archive_open.h"
#include "platform/byte_order.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/reader.h"
#include "support/asset_builder.h"
#include "support/test_env.h"
#include "support/tool_checks.h"

namespace kestrix {
namespace {

bool HasAudioOrMeshes(const testing::CorpusRow& row) {
  if (row.container != "plain" || row.serialized_format.empty()) return false;
  int format = std::stoi(row.serialized_format);
  if (format < 9 || format > 17) return false;
  const std::string classes = "," + row.classes_present;
  return classes.find(",83x") != std::string::npos || classes.find(",43x") != std::string::npos;
}

// The length a sound file's own header states, or 0 when the container has none we know.
uint64_t StatedLength(const testing::Bytes& file) {
  if (file.size() >= 60 && std::memcmp(file.data(), "FSB5", 4) == 0) {
    uint32_t version = Get32(file.data() + 4, ByteOrder::Little);
    uint64_t header = version == 0 ? 64 : 60;
    return header + Get32(file.data() + 12, ByteOrder::Little) +
           Get32(file.data() + 16, ByteOrder::Little) + Get32(file.data() + 20, ByteOrder::Little);
  }
  if (file.size() >= 8 && std::memcmp(file.data(), "RIFF", 4) == 0)
    return 8 + uint64_t{Get32(file.data() + 4, ByteOrder::Little)};
  return 0;
}

struct Tally {
  int sounds = 0, missing = 0, meshes = 0;
  std::vector<std::string> refused;  // engine version and name of each undecodable mesh
};

void ExportSounds(Session& s, testing::RecordingFrontend& fe, Reader& in, size_t i, Tally& tally) {
  ExportRequest request;
  ConverterContext ctx(s, request, fe);
  std::string folder = "Unity_Assets_Files/" + s.Archive.ArchiveFolderName + "/Sounds/";
  ConverterCall call{
      in,     s.PayloadSize(i),           s.Asset.BigEndian != 0, s.Archive.OutputRoot,
      folder, std::string(s.EntryName(i))};
  bool missing = false;
  try {
    ExportAudio(call, ctx, s.Archive.ArchiveFolderName, StreamFileName(s.Archive) + ".resS");
  } catch (const MissingResourceError& e) {
    // Only a resource file that is not there may keep a sound from being written.
    EXPECT_FALSE(FileExists(testing::MissingFileOf(e.what()))) << e.what();
    missing = true;
  } catch (const std::exception& e) {
    FAIL() << s.EntryName(i) << ": " << e.what();
  }
  if (missing) {
    ++tally.missing;
    return;
  }
  ASSERT_FALSE(fe.lines.empty());
  std::string line = fe.lines.back();
  std::string extension = line.substr(line.rfind(" - ") + 3);
  std::string written;
  for (const std::string& f : testing::ListFiles(s.Archive.OutputRoot + folder))
    if (FileNameOf(f) == std::string(s.EntryName(i)) + extension)
      written = s.Archive.OutputRoot + folder + f;
  ASSERT_FALSE(written.empty()) << line;
  testing::Bytes sound = testing::ReadFileBytes(written);
  EXPECT_EQ(DetectAudioExtension(sound.data(), sound.size()), extension) << written;
  uint64_t stated = StatedLength(sound);
  if (stated) {
    EXPECT_EQ(stated, sound.size()) << written;
  }
  if (extension == ".ogg") {
    testing::ToolReport tool = testing::RunOgginfo(written);
    if (tool.ran) {
      EXPECT_EQ(tool.status, 0) << tool.output;
    }
  }
  ++tally.sounds;
}

void ExportMesh(Session& s, testing::RecordingFrontend& fe, Reader& in, size_t i, Tally& tally) {
  ExportRequest request;
  ConverterContext ctx(s, request, fe);
  std::string folder = "Unity_Assets_Files/" + s.Archive.ArchiveFolderName + "/Mesh/";
  ConverterCall call{
      in,     s.PayloadSize(i),           s.Asset.BigEndian != 0, s.Archive.OutputRoot,
      folder, std::string(s.EntryName(i))};
  try {
    ExportObj(call, ctx, s.Asset.MajorVersion);
  } catch (const Error& e) {
    // Layouts of other engine releases are refused, not misread; the tests name each one.
    EXPECT_EQ(std::string(e.what()), std::string(s.EntryName(i)) + " " + Str(kStrMeshMemory));
    EXPECT_FALSE(FileExists(s.Archive.OutputRoot + folder + std::string(s.EntryName(i)) + ".obj"));
    tally.refused.push_back(s.Asset.UnityVersion + " " + std::string(s.EntryName(i)));
    return;
  }
  std::string path = s.Archive.OutputRoot + folder + std::string(s.EntryName(i)) + ".obj";
  testing::Bytes bytes = testing::ReadFileBytes(path);
  std::string text(bytes.begin(), bytes.end());
  std::string summary = text.substr(0, text.find("\r\n"));
  long faces = std::strtol(summary.c_str() + summary.find("/used=", summary.find("Faces:")) + 6,
                           nullptr, 10);
  long groups = std::strtol(summary.c_str() + summary.find("Meshes = ") + 9, nullptr, 10);
  testing::ToolReport tool = testing::RunAssimpInfo(path);
  if (tool.ran) {
    EXPECT_NE(tool.output.find("Importing file ...                   OK"), std::string::npos)
        << path << tool.output;
    EXPECT_EQ(testing::ReportNumber(tool.output, "Faces:"), faces) << path;
    EXPECT_EQ(testing::ReportNumber(tool.output, "Meshes:"), groups) << path;
  }
  ++tally.meshes;
}

// Exports the sounds and meshes of the open archive into `out`. A bundle's contained file that
// is not an asset file is written raw, where clips look for their resource data.
void ExportOpenMedia(Session& s, testing::RecordingFrontend& fe, const std::string& out,
                     Tally& tally) {
  s.Archive.OutputRoot = out + "/";
  FileSource source(s.Archive.ArchivePath);
  Reader in(source);
  if (s.Asset.RawSingleFile) {
    EXPECT_TRUE(ExportEntry(s, ExportRequest(), 0, in, fe)) << s.Archive.ArchiveFolderName;
    return;
  }
  for (size_t i = 0; i < s.EntryCount(); ++i) {
    int32_t cls = s.EntryClass(i);
    if (cls != 83 && cls != 43) continue;
    in.Seek(s.PayloadOffset(i));
    if (cls == 83) ExportSounds(s, fe, in, i, tally);
    if (cls == 43) ExportMesh(s, fe, in, i, tally);
  }
}

Session ConsoleSession() {
  Session s;
  return s;
}

void ExportMedia(const std::string& path, const std::string& out, Tally& tally) {
  Session s = ConsoleSession();
  testing::RecordingFrontend fe;
  ASSERT_NO_THROW(OpenArchive(s, fe, path));
  ExportOpenMedia(s, fe, out, tally);
  CloseArchive(s);
}

TEST(ArchiveMedia, DemoArchiveExportsItsClipsAndMesh) {
  InitLocalization(0x0409);
  testing::TempDir out;
  Tally tally;
  ExportMedia(std::string(KESTRIX_SAMPLES_DIR) + "/sounds_and_meshes.assets", out.Path(), tally);
  EXPECT_EQ(testing::ListFiles(out.Path()),
            (std::vector<std::string>{
                "Unity_Assets_Files/sounds_and_meshes/Mesh/Quad.mesh.obj",
                "Unity_Assets_Files/sounds_and_meshes/Sounds/Theme.snd.ogg",
                "Unity_Assets_Files/sounds_and_meshes/Sounds/res_sounds_and_meshes.resource/"
                "Click.snd.wav",
            }));
  EXPECT_EQ(tally.sounds, 2);
  EXPECT_EQ(tally.meshes, 1);
}

TEST(ArchiveMedia, SoundsAndMeshesOfPlainCorpusFilesExport) {
  std::string dir = testing::CorpusDir();
  if (dir.empty()) GTEST_SKIP() << "no corpus";
  InitLocalization(0x0409);
  Tally tally;
  for (const testing::CorpusRow& row : testing::CorpusManifest()) {
    if (!HasAudioOrMeshes(row)) continue;
    SCOPED_TRACE(row.relpath);
    testing::TempDir out;
    ExportMedia(dir + "/" + row.relpath, out.Path(), tally);
  }
  // Three FSB5 clips stream from a resource file that is in the corpus; six name resource
  // files that were not collected. Every mesh decodes: 40 of engines 4 and 5 and the 28 of a
  // 2018.2 build.
  EXPECT_EQ(tally.sounds, 3);
  EXPECT_EQ(tally.missing, 6);
  EXPECT_EQ(tally.meshes, 68);
  EXPECT_TRUE(tally.refused.empty()) << tally.refused.front();
}

// Bundles of the versions the container stage reads, whose asset files the asset reader takes.
bool BundleWithMedia(const testing::CorpusRow& row) {
  if (row.container != "UnityRaw-v3" && row.container != "UnityWeb-v3" &&
      row.container != "UnityFS-v6")
    return false;
  if (row.big_endian || row.serialized_format.empty()) return false;
  for (size_t at = 0; at < row.serialized_format.size();) {
    int format = std::stoi(row.serialized_format.substr(at));
    if (format < 9 || format > 17) return false;
    at = row.serialized_format.find(',', at);
    if (at != std::string::npos) ++at;
  }
  const std::string classes = "," + row.classes_present;
  return classes.find(",83x") != std::string::npos || classes.find(",43x") != std::string::npos;
}

TEST(ArchiveMedia, SoundsAndMeshesOfCorpusBundlesExport) {
  std::string dir = testing::CorpusDir();
  if (dir.empty()) GTEST_SKIP() << "no corpus";
  InitLocalization(0x0409);
  Tally tally;
  for (const testing::CorpusRow& row : testing::CorpusManifest()) {
    if (!BundleWithMedia(row)) continue;
    SCOPED_TRACE(row.relpath);
    testing::TempDir tmp;
    const std::string name = row.relpath.substr(row.relpath.find_last_of('/') + 1);
    testing::CopyFile(dir + "/" + row.relpath, tmp.File(name));
    Session s = ConsoleSession();
    testing::RecordingFrontend fe;
    ASSERT_NO_THROW(OpenArchive(s, fe, tmp.File(name), testing::Pick(0)));
    // Resource files usually come last in the table; going backwards writes them before the
    // clips that read them. The bundle is unpacked once.
    for (int i = static_cast<int>(s.Archive.Bundle.ContainedFiles.size()) - 1; i >= 0; --i) {
      ASSERT_NO_THROW(ReopenWithSelection(s, fe, i)) << i;
      ExportOpenMedia(s, fe, tmp.File("out"), tally);
    }
    CloseArchive(s);
  }
  // Every clip of these bundles streams from a resource file inside the same bundle: 40 FSB5
  // sounds, none missing. All 28 meshes decode: 27 of engines 4.1 to 5.2 (4.1 through the rows
  // of the releases before 4.3) and one of 2017.4, whose index format precedes the index buffer.
  EXPECT_EQ(tally.sounds, 40);
  EXPECT_EQ(tally.missing, 0);
  EXPECT_EQ(tally.meshes, 28);
  EXPECT_TRUE(tally.refused.empty()) << tally.refused.front();
}

}  // namespace
}  // namespace kestrix
