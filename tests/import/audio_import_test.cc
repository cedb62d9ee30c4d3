// Audio import: the three clip shapes rebuilt in both byte orders, streamed sounds appended
// without touching the bytes the old archive points at, the refusals and reports that write
// nothing, and round trips through the real exporter.
#include "import/audio_import.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <unistd.h>

#include <cstdio>

#include "core/error.h"
#include "core/session.h"
#include "export/converter.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/io_error.h"
#include "platform/paths.h"
#include "platform/reader.h"
#include "support/audio_payloads.h"
#include "support/test_env.h"

namespace kestrix {
namespace {

using testing::Bytes;

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 8));
  return b;
}

Bytes Concat(Bytes a, const Bytes& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

// A file of `size` bytes that holds no data blocks, for lengths past 32 bits.
void MakeSparseFile(const std::string& path, uint64_t size) {
  testing::WriteFileBytes(path, {});
  std::filesystem::resize_file(path, size);
}

// The archive lies in <tmp>/game (where resource files are looked for), the export folder is
// <tmp>/out, and replacement sounds come from <tmp>/edit.
class AudioImport : public ::testing::Test {
 protected:
  AudioImport() {
    CreateFolders(GameFolder());
    CreateFolders(tmp_.Path() + "/edit");
  }
  std::string GameFolder() const { return tmp_.Path() + "/game/"; }
  std::string OutRoot() const { return tmp_.Path() + "/out/"; }
  std::string RawPath(const std::string& entry = "clip.snd") const {
    return OutRoot() + "Unity_Assets_Files/" + archive_folder_ + "/" + entry;
  }

  // Imports `sound` for a clip whose payload sits between unrelated bytes of the working file.
  void Import(const Bytes& payload, const Bytes& sound, bool big_endian = false,
              const std::string& entry = "clip.snd") {
    const std::string source = tmp_.Path() + "/edit/" + entry + ".ogg";
    testing::WriteFileBytes(source, sound);
    ImportFile(payload, source, big_endian, entry);
  }
  void ImportFile(const Bytes& payload, const std::string& source, bool big_endian = false,
                  const std::string& entry = "clip.snd") {
    Bytes working = Concat(Concat(Bytes(12, 0xEE), payload), Bytes(8, 0xEE));
    MemorySource memory(working);
    ImporterCall call{memory,
                      12,
                      static_cast<uint32_t>(payload.size()),
                      big_endian,
                      OutRoot(),
                      source,
                      "Unity_Assets_Files/" + archive_folder_ + "/" + entry};
    ImporterContext ctx{frontend_, GameFolder()};
    ImportAudio(call, ctx, archive_folder_, "game.assets.resS");
  }
  std::vector<std::string> Written() const { return testing::ListFiles(tmp_.Path() + "/out"); }

  testing::TempDir tmp_;
  std::string archive_folder_ = "game";
  testing::RecordingFrontend frontend_;
};

TEST_F(AudioImport, EmbeddedClipCarriesTheNewSoundPaddedToFourBytes) {
  const Bytes old_sound = testing::SilentOggVorbis();
  for (bool big : {false, true}) {
    // 1001 bytes need three bytes of padding; a WAV replaces an Ogg all the same.
    for (const Bytes& sound :
         {Pattern(1001, 3), Pattern(1000, 4), Pattern(1, 5), Bytes{}, testing::PcmWav()}) {
      Import(testing::EmbeddedClipPayload(old_sound, big), sound, big);
      const Bytes raw = testing::ReadFileBytes(RawPath());
      EXPECT_EQ(raw, testing::EmbeddedClipPayload(sound, big)) << sound.size() << " " << big;
      EXPECT_EQ(raw.size(), (20 + sound.size() + 3) / 4 * 4);
    }
  }
  EXPECT_EQ(Written(), std::vector<std::string>{"Unity_Assets_Files/game/clip.snd"});
  EXPECT_TRUE(frontend_.messages.empty());
  EXPECT_TRUE(frontend_.lines.empty());  // a successful import prints nothing
}

// Where the old sound's place would hold the new one (the shorter case) it is still appended:
// the old archive points at those bytes until the new archive replaces it.
TEST_F(AudioImport, StreamedClipsGetTheSoundAppendedAndTheOldBytesKept) {
  archive_folder_ = "bundle/CAB-1234";
  const std::string cab = OutRoot() + "Unity_Assets_Files/bundle/CAB-1234.resource/";
  CreateFolders(cab);
  enum Shape { kLegacy, kRecord, kArchiveRecord };
  int k = 0;
  for (Shape shape : {kLegacy, kRecord, kArchiveRecord}) {
    for (bool big : {false, true}) {
      for (size_t new_size : {size_t{700}, size_t{5000}}) {
        const std::string file = shape == kLegacy   ? GameFolder() + "game.assets.resS"
                                 : shape == kRecord ? GameFolder() + "sub/level1.resource"
                                                    : cab + "CAB-1234.resource";
        const std::string source =
            shape == kRecord ? "sub/level1.resource" : "archive:/CAB-1234/CAB-1234.resource";
        CreateFolders(GameFolder() + "sub");
        const Bytes old_file = Pattern(3000 + 4 * k, static_cast<uint8_t>(k));
        testing::WriteFileBytes(file, old_file);
        const Bytes sound = Pattern(new_size, static_cast<uint8_t>(100 + k));
        const std::string entry = "clip" + std::to_string(k++) + ".snd";
        auto payload = [&](uint64_t offset, uint64_t length) {
          return shape == kLegacy
                     ? testing::LegacyResourceClipPayload(static_cast<uint32_t>(length),
                                                          static_cast<uint32_t>(offset), big)
                     : testing::ResourceRecordClipPayload(source, offset, length, big);
        };

        Import(payload(1000, 1500), sound, big, entry);
        SCOPED_TRACE(entry);
        EXPECT_EQ(testing::ReadFileBytes(file), Concat(old_file, sound));
        EXPECT_EQ(testing::ReadFileBytes(RawPath(entry)), payload(old_file.size(), sound.size()));
      }
    }
  }
  EXPECT_TRUE(frontend_.messages.empty()) << frontend_.messages[0];
}

// Each of these is reported and leaves every file as it was: no raw file, no resource growth.
TEST_F(AudioImport, RefusedAndMissingResourcesAreReportedAndWriteNothing) {
  const Bytes outside = testing::PcmWav();
  testing::WriteFileBytes(tmp_.Path() + "/secret.resource", outside);
  CreateFolders(OutRoot());
  testing::WriteFileBytes(OutRoot() + "secret.resource", outside);
  const std::string refused = "Refused resource path outside the archive folder: ";
  struct Case {
    Bytes payload;
    std::string message;  // the whole message, or its start when it ends in ": "
    bool note = false;    // a converter note rather than a message box
    bool failure = false;  // thrown: the clip's import fails, the others go on
  } cases[] = {
      {testing::ResourceRecordClipPayload("../secret.resource", 0, 16), refused},
      {testing::ResourceRecordClipPayload("sub/../../secret.resource", 0, 16), refused},
      {testing::ResourceRecordClipPayload("/etc/passwd", 0, 16), refused},
      {testing::ResourceRecordClipPayload("\\\\server\\share\\x.resource", 0, 16), refused},
      {testing::ResourceRecordClipPayload("C:\\secret.resource", 0, 16), refused},
      {testing::ResourceRecordClipPayload("archive:/CAB/..", 0, 16), refused},
      {testing::ResourceRecordClipPayload("sub/", 0, 16), refused},
      {testing::LegacyResourceClipPayload(10, 0),
       "Missing file: " + GameFolder() + "game.assets.resS", false, true},
      {testing::ResourceRecordClipPayload("level9.resource", 0, 16),
       "Missing file: " + GameFolder() + "level9.resource", false, true},
      {testing::ResourceRecordClipPayload("archive:/CAB-9/CAB-9.resource", 0, 16),
       "Missing file: " + OutRoot() + "Unity_Assets_Files/game/CAB-9.resource/CAB-9.resource", false,
       true},
      {Bytes(40, 0), "Not supported file clip.snd", true},  // zeros at 20, but under 52 bytes
      {Bytes(19, 0x01), "Not supported file clip.snd", true},
  };
  for (const Case& c : cases) {
    frontend_.messages.clear();
    frontend_.lines.clear();
    std::string failure;
    try {
      Import(c.payload, testing::PcmWav());
    } catch (const Error& e) {
      failure = e.what();
    }
    if (c.failure) {
      EXPECT_EQ(NativeSeparators(failure), NativeSeparators(c.message));
      EXPECT_TRUE(frontend_.messages.empty() && frontend_.lines.empty()) << c.message;
      continue;
    }
    EXPECT_EQ(failure, "") << c.message;
    const std::vector<std::string>& got = c.note ? frontend_.lines : frontend_.messages;
    ASSERT_EQ(got.size(), 1u) << c.message;
    if (c.message.ends_with(": "))
      EXPECT_TRUE(got[0].starts_with(c.message)) << got[0];
    else
      EXPECT_EQ(got[0], c.message);
    EXPECT_TRUE((c.note ? frontend_.messages : frontend_.lines).empty()) << c.message;
  }
  // An entry name that would put the raw file outside the export folder.
  frontend_.messages.clear();
  ImportFile(testing::EmbeddedClipPayload(outside), tmp_.Path() + "/secret.resource", false,
             "../../../escaped");
  ASSERT_EQ(frontend_.messages.size(), 1u);
  EXPECT_TRUE(frontend_.messages[0].starts_with("Refused output path")) << frontend_.messages[0];
  EXPECT_FALSE(FileExists(tmp_.Path() + "/escaped"));

  EXPECT_EQ(Written(), std::vector<std::string>{"secret.resource"});
  EXPECT_EQ(testing::ReadFileBytes(tmp_.Path() + "/secret.resource"), outside);
  EXPECT_EQ(testing::ReadFileBytes(OutRoot() + "secret.resource"), outside);
}

// Failures throw before anything is written: a raw file that export left stays as it was, no
// temporary file is left behind, and the resource file keeps its length.
TEST_F(AudioImport, MalformedClipsAndOversizedFilesThrowBeforeWriting) {
  const std::string resource = GameFolder() + "game.assets.resS";
  testing::WriteFileBytes(resource, Pattern(64, 1));
  const std::string huge = tmp_.Path() + "/edit/huge.wav";
  MakeSparseFile(huge, (uint64_t{1} << 32) + 1);
  const std::string small = tmp_.Path() + "/edit/small.wav";
  testing::WriteFileBytes(small, Pattern(10, 2));

  Bytes record = testing::ResourceRecordClipPayload("game.assets.resS", 0, 16);
  Bytes long_path = record;  // a path length that runs past the payload
  long_path[32] = 0xF0;
  Bytes huge_path = record;
  std::fill(huge_path.begin() + 32, huge_path.begin() + 36, 0xFF);
  Bytes no_fields = record;  // the path fits, the offset and length after it do not
  no_fields.resize(52);
  no_fields[32] = 14;
  struct Case {
    const char* what;
    Bytes payload;
    std::string sound;
  } cases[] = {
      {"path length past the payload", long_path, small},
      {"path length 0xFFFFFFFF", huge_path, small},
      {"fields past the payload", no_fields, small},
      {"embedded sound past 32 bits", testing::EmbeddedClipPayload(testing::PcmWav()), huge},
      {"legacy sound past 32 bits", testing::LegacyResourceClipPayload(8, 0), huge},
  };
  CreateFolders(OutRoot() + "Unity_Assets_Files/game");
  testing::WriteFileBytes(RawPath(), Bytes(8, 0x42));
  for (const Case& c : cases) {
    EXPECT_THROW(ImportFile(c.payload, c.sound), Error) << c.what;
  }

  // A resource file of 4 GiB or more: an appended sound lies beyond a 32-bit offset.
  MakeSparseFile(resource, uint64_t{1} << 32);
  EXPECT_THROW(ImportFile(testing::LegacyResourceClipPayload(8, 0), small), Error);
  EXPECT_EQ(FileSizeOf(resource), uint64_t{1} << 32);

  // A payload that runs past the working file is damaged data, not a read outside it.
  Bytes working(30, 0);
  MemorySource memory(working);
  ImporterCall call{memory, 8, 24, false, OutRoot(), small, "Unity_Assets_Files/game/clip.snd"};
  ImporterContext ctx{frontend_, GameFolder()};
  try {
    ImportAudio(call, ctx, "game", "game.assets.resS");
    ADD_FAILURE() << "a payload past the working file was read";
  } catch (const Error& e) {
    EXPECT_EQ(e.Kind(), ErrorKind::kDamagedData) << e.what();
  }

  EXPECT_EQ(Written(), std::vector<std::string>{"Unity_Assets_Files/game/clip.snd"});
  EXPECT_EQ(testing::ReadFileBytes(RawPath()), Bytes(8, 0x42));
  EXPECT_TRUE(frontend_.messages.empty());
}

// Export a clip with the real exporter, import the exported file unchanged (the sound stays
// where it is), then an edited one, then export the rebuilt payload again: import and export
// must agree on where the sound is.
TEST_F(AudioImport, RoundTripsThroughExport) {
  Session session;
  session.Archive.ArchivePath = GameFolder() + "game.assets";
  session.Archive.OutputRoot = OutRoot();
  ExportRequest request;
  testing::RecordingFrontend export_frontend;
  ConverterContext export_ctx(session, request, export_frontend);
  auto export_clip = [&](const Bytes& payload, bool big, const std::string& name) {
    MemorySource memory(payload);
    Reader in(memory);
    ConverterCall call{in,        static_cast<uint32_t>(payload.size()), big,
                       OutRoot(), "Unity_Assets_Files/game/Sounds/",     name};
    ExportAudio(call, export_ctx, "game", "game.assets.resS");
  };
  const std::string sounds = OutRoot() + "Unity_Assets_Files/game/Sounds/";

  const Bytes ogg = testing::SilentOggVorbis();
  const Bytes wav = testing::PcmWav();
  const Bytes old_file = Concat(Concat(Pattern(40, 9), wav), Pattern(13, 8));
  testing::WriteFileBytes(GameFolder() + "game.assets.resS", old_file);
  testing::WriteFileBytes(GameFolder() + "level0.resource", old_file);
  int k = 0;
  for (bool big : {false, true}) {
    struct Case {
      Bytes payload;
      std::string exported;  // below the Sounds folder
      std::string resource;  // "" for an embedded clip
    } cases[] = {
        {testing::EmbeddedClipPayload(ogg, big), ".ogg", ""},
        {testing::LegacyResourceClipPayload(static_cast<uint32_t>(wav.size()), 40, big),
         "resS_game.assets.resS/", "game.assets.resS"},
        {testing::ResourceRecordClipPayload("level0.resource", 40, wav.size(), big),
         "res_level0.resource/", "level0.resource"},
    };
    for (const Case& c : cases) {
      const std::string name = "clip" + std::to_string(k++) + ".snd";
      SCOPED_TRACE(name);
      export_clip(c.payload, big, name);
      const std::string exported =
          c.resource.empty() ? sounds + name + c.exported : sounds + c.exported + name + ".wav";
      const Bytes sound = testing::ReadFileBytes(exported);
      const std::string resource = GameFolder() + c.resource;
      const Bytes before = c.resource.empty() ? Bytes{} : testing::ReadFileBytes(resource);

      ImportFile(c.payload, exported, big, name);
      if (c.resource.empty()) {
        EXPECT_EQ(testing::ReadFileBytes(RawPath(name)), c.payload);
        continue;
      }
      EXPECT_EQ(testing::ReadFileBytes(RawPath(name)), c.payload);
      EXPECT_EQ(testing::ReadFileBytes(resource), before);  // nothing appended

      Bytes edited = sound;
      edited.back() ^= 0x5A;
      testing::WriteFileBytes(exported, edited);
      ImportFile(c.payload, exported, big, name);
      const Bytes raw = testing::ReadFileBytes(RawPath(name));
      const Bytes after = testing::ReadFileBytes(resource);
      ASSERT_EQ(after.size(), before.size() + edited.size());
      EXPECT_EQ(Bytes(after.begin(), after.begin() + before.size()), before);
      EXPECT_EQ(Bytes(after.begin() + before.size(), after.end()), edited);
      EXPECT_NE(raw, c.payload);  // it points at the appended copy now

      const std::string again = name + ".again";
      export_clip(raw, big, again);
      EXPECT_EQ(testing::ReadFileBytes(sounds + c.exported + again + ".wav"), edited);
    }
  }
  EXPECT_TRUE(export_frontend.messages.empty());
  EXPECT_TRUE(frontend_.messages.empty());
}

}  // namespace
}  // namespace kestrix
