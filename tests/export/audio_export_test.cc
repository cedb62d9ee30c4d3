// Audio clips: container detection, the three payload shapes with and without their resource
// files, resource paths that must not leave their folder, and big-endian records.
#include <gtest/gtest.h>

#include "core/error.h"
#include "core/session.h"
#include "export/audio_detect.h"
#include "export/converter.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/reader.h"
#include "support/audio_payloads.h"
#include "support/test_env.h"
#include "support/tool_checks.h"

namespace kestrix {
namespace {

using testing::Bytes;

Bytes Head(std::initializer_list<int> bytes) {
  Bytes out;
  for (int b : bytes) out.push_back(static_cast<uint8_t>(b));
  return out;
}

TEST(DetectAudioExtension, RecognisesTheContainersByTheirFirstBytes) {
  struct Case {
    Bytes head;
    std::string extension;
  } cases[] = {
      {Head({'O', 'g', 'g', 'S'}), ".ogg"},
      {Head({'R', 'I', 'F', 'F', 0, 0}), ".wav"},
      {Head({'F', 'O', 'R', 'M'}), ".aif"},
      {Head({'F', 'S', 'B', '5'}), ".fsb"},
      {Head({'I', 'D', '3', 0x03}), ".mp3"},
      {Head({'I', 'D', '3', 0x04}), ""},  // other tag versions fall to the frame test, and fail it
      {Head({0xFF, 0xFB, 0x90, 0x00}), ".mp3"},
      {Head({0xFF, 'O', 'g', 'g'}), ".mp3"},
      {Head({'o', 'g', 'g', 's'}), ""},
      {Head({'F', 'S', 'B', '4'}), ""},
      {Head({'O', 'g', 'g'}), ""},  // too short to hold a signature
      {Head({0xFF}), ""},
      {Head({0, 0, 0, 0}), ""},
      {Head({0, 0, 0, 0x18, 'f', 't', 'y', 'p'}), ".m4a"},  // AAC of web builds
      {Head({0, 0, 0, 0x18, 'f', 't', 'y'}), ""},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(DetectAudioExtension(c.head.data(), c.head.size()), c.extension)
        << std::string(c.head.begin(), c.head.end());
  }
}

TEST(DetectAudioExtension, LeavesTheStreamWhereItWas) {
  Bytes data = Head({0, 0, 'R', 'I', 'F', 'F', 1});
  MemorySource source(data);
  Reader in(source);
  in.Seek(2);
  EXPECT_EQ(DetectAudioExtension(in), ".wav");
  EXPECT_EQ(in.Tell(), 2u);
  in.Seek(4);
  EXPECT_EQ(DetectAudioExtension(in), "");  // three bytes left
  EXPECT_EQ(in.Tell(), 4u);
}

// A session whose archive lies in <tmp>/game and whose output goes to <tmp>/out, so that the
// tests see which folder each file is read from.
class AudioExport : public ::testing::Test {
 protected:
  AudioExport() {
    CreateFolders(GameFolder());
    session_.Archive.ArchivePath = GameFolder() + "game.assets";
    session_.Archive.OutputRoot = tmp_.Path() + "/out/";
    session_.Archive.ArchiveFolderName = "game";
  }
  std::string GameFolder() const { return tmp_.Path() + "/game/"; }
  std::string SoundsFolder() const {
    return session_.Archive.OutputRoot + "Unity_Assets_Files/game/Sounds/";
  }

  // Runs the converter on `payload`, placed after some unrelated bytes in the stream.
  void Export(const Bytes& payload, bool big_endian = false, const std::string& name = "clip.snd") {
    testing::ByteWriter w;
    Bytes stream = w.Zeros(12).Raw(payload).Zeros(8).Take();
    MemorySource source(stream);
    Reader in(source);
    in.Seek(12);
    ConverterCall call{in,
                       static_cast<uint32_t>(payload.size()),
                       big_endian,
                       session_.Archive.OutputRoot,
                       "Unity_Assets_Files/game/Sounds/",
                       name};
    ConverterContext ctx(session_, request_, frontend_);
    ExportAudio(call, ctx, session_.Archive.ArchiveFolderName, "game.assets.resS");
  }
  std::vector<std::string> Written() const { return testing::ListFiles(tmp_.Path() + "/out"); }

  testing::TempDir tmp_;
  Session session_;
  ExportRequest request_;
  testing::RecordingFrontend frontend_;
};

TEST_F(AudioExport, EmbeddedClipIsSavedAsItsContainer) {
  Bytes ogg = testing::SilentOggVorbis();
  Export(testing::EmbeddedClipPayload(ogg));
  ASSERT_EQ(Written(), std::vector<std::string>{"Unity_Assets_Files/game/Sounds/clip.snd.ogg"});
  EXPECT_EQ(testing::ReadFileBytes(SoundsFolder() + "clip.snd.ogg"), ogg);
  EXPECT_EQ(frontend_.lines, std::vector<std::string>{"clip.snd -> Audio File - .ogg"});
  EXPECT_TRUE(frontend_.messages.empty());
}

TEST_F(AudioExport, ExportedOggPassesOgginfo) {
  Export(testing::EmbeddedClipPayload(testing::SilentOggVorbis(22050, 40)));
  testing::ToolReport tool = testing::RunOgginfo(SoundsFolder() + "clip.snd.ogg");
  if (!tool.ran) GTEST_SKIP() << "ogginfo (vorbis-tools) is not installed";
  const std::string& report = tool.output;
  EXPECT_EQ(tool.status, 0) << report;
  EXPECT_EQ(report.find("WARNING"), std::string::npos) << report;
  EXPECT_EQ(report.find("ERROR"), std::string::npos) << report;
  EXPECT_NE(report.find("Rate: 22050"), std::string::npos) << report;
}

TEST_F(AudioExport, EmbeddedLengthPastThePayloadWritesNothing) {
  Bytes payload = testing::EmbeddedClipPayload(testing::PcmWav());
  payload[16] += 1;  // one byte more than the clip holds
  EXPECT_THROW(Export(payload), Error);
  EXPECT_TRUE(Written().empty());
}

TEST_F(AudioExport, LegacyResourceIsReadBesideTheArchive) {
  Bytes wav = testing::PcmWav();
  Bytes resource(100, 0x77);
  resource.insert(resource.end(), wav.begin(), wav.end());
  testing::WriteFileBytes(GameFolder() + "game.assets.resS", resource);
  Export(testing::LegacyResourceClipPayload(static_cast<uint32_t>(wav.size()), 100));
  std::string out = "Unity_Assets_Files/game/Sounds/resS_game.assets.resS/clip.snd.wav";
  ASSERT_EQ(Written(), std::vector<std::string>{out});
  EXPECT_EQ(testing::ReadFileBytes(session_.Archive.OutputRoot + out), wav);
  EXPECT_EQ(frontend_.lines, std::vector<std::string>{"clip.snd -> Audio File - .wav"});
}

// A sound whose resource file is not there is a failure of its own, named in the user's language.
TEST_F(AudioExport, MissingResourceIsAFailure) {
  struct Case {
    Bytes payload;
    std::string file;
  };
  for (const Case& c : {Case{testing::LegacyResourceClipPayload(10, 0), "game.assets.resS"},
                        Case{testing::ResourceRecordClipPayload("game.resource", 0, 10),
                             "game.resource"}}) {
    try {
      Export(c.payload);
      ADD_FAILURE() << c.file << ": no failure";
    } catch (const MissingResourceError& e) {
      EXPECT_EQ(std::string(e.what()), "Missing file: " + GameFolder() + c.file);
    }
    EXPECT_TRUE(frontend_.lines.empty());
    EXPECT_TRUE(Written().empty());
  }
}

TEST_F(AudioExport, ResourceDataOfUnknownKindIsSavedWithoutExtension) {
  testing::WriteFileBytes(GameFolder() + "game.assets.resS", Bytes(64, 0x12));
  Export(testing::LegacyResourceClipPayload(32, 8));
  std::string out = "Unity_Assets_Files/game/Sounds/resS_game.assets.resS/clip.snd";
  ASSERT_EQ(Written(), std::vector<std::string>{out});
  EXPECT_EQ(testing::ReadFileBytes(session_.Archive.OutputRoot + out), Bytes(32, 0x12));
}

TEST_F(AudioExport, ResourceRangePastTheFileEndWritesNothing) {
  testing::WriteFileBytes(GameFolder() + "game.resource", Bytes(64, 0x12));
  EXPECT_THROW(Export(testing::ResourceRecordClipPayload("game.resource", 60, 8)), Error);
  EXPECT_TRUE(Written().empty());
}

TEST_F(AudioExport, ResourceRecordIsReadFromItsSourceBesideTheArchive) {
  Bytes ogg = testing::SilentOggVorbis();
  Bytes resource(48, 0);
  resource.insert(resource.end(), ogg.begin(), ogg.end());
  resource.insert(resource.end(), 16, 0);
  testing::WriteFileBytes(GameFolder() + "sharedassets0.resource", resource);
  Export(testing::ResourceRecordClipPayload("sharedassets0.resource", 48, ogg.size()));
  std::string out = "Unity_Assets_Files/game/Sounds/res_sharedassets0.resource/clip.snd.ogg";
  ASSERT_EQ(Written(), std::vector<std::string>{out});
  EXPECT_EQ(testing::ReadFileBytes(session_.Archive.OutputRoot + out), ogg);
}

TEST_F(AudioExport, SourcePathPaddingFollowsTheNameLength) {
  Bytes wav = testing::PcmWav(8000, 10);
  CreateFolders(GameFolder() + "sub");
  for (std::string source : {"a.res", "ab.res", "abc.res", "sub/abcd.res"}) {
    testing::WriteFileBytes(GameFolder() + source, wav);
    Export(testing::ResourceRecordClipPayload(source, 0, wav.size()), false, source.substr(0, 2));
  }
  EXPECT_EQ(Written().size(), 4u);
  EXPECT_TRUE(frontend_.messages.empty());
  EXPECT_TRUE(FileExists(SoundsFolder() + "res_abcd.res/su.wav"));
}

TEST_F(AudioExport, ArchiveSourceIsReadFromTheExportedContainedFile) {
  session_.Archive.ArchiveFolderName = "bundle/CAB-1234";
  Bytes mp3 = Head({0xFF, 0xFB, 0x90, 0x64, 1, 2, 3, 4, 5, 6, 7, 8});
  std::string cab = session_.Archive.OutputRoot + "Unity_Assets_Files/bundle/CAB-1234.resource/";
  CreateFolders(cab);
  Bytes resource(8, 0);
  resource.insert(resource.end(), mp3.begin(), mp3.end());
  testing::WriteFileBytes(cab + "CAB-1234.resource", resource);
  ConverterContext ctx(session_, request_, frontend_);
  Bytes payload =
      testing::ResourceRecordClipPayload("archive:/CAB-1234/CAB-1234.resource", 8, mp3.size());
  MemorySource source(payload);
  Reader in(source);
  ConverterCall call{in,
                     static_cast<uint32_t>(payload.size()),
                     false,
                     session_.Archive.OutputRoot,
                     "Unity_Assets_Files/bundle/CAB-1234/Sounds/",
                     "song.snd"};
  ExportAudio(call, ctx, session_.Archive.ArchiveFolderName, "x.TEMP.resS");
  std::string out = session_.Archive.OutputRoot +
                    "Unity_Assets_Files/bundle/CAB-1234/Sounds/res_CAB-1234.resource/song.snd.mp3";
  EXPECT_EQ(testing::ReadFileBytes(out), mp3);
  EXPECT_TRUE(frontend_.messages.empty());

  // Backslashes in the source name are cut as well.
  payload =
      testing::ResourceRecordClipPayload("archive:\\CAB-1234\\CAB-1234.resource", 8, mp3.size());
  MemorySource source2(payload);
  Reader in2(source2);
  ConverterCall call2{in2,
                      static_cast<uint32_t>(payload.size()),
                      false,
                      session_.Archive.OutputRoot,
                      "Unity_Assets_Files/bundle/CAB-1234/Sounds/",
                      "song2.snd"};
  ExportAudio(call2, ctx, session_.Archive.ArchiveFolderName, "x.TEMP.resS");
  EXPECT_TRUE(
      FileExists(session_.Archive.OutputRoot +
                 "Unity_Assets_Files/bundle/CAB-1234/Sounds/res_CAB-1234.resource/song2.snd.mp3"));
}

TEST_F(AudioExport, ResourcePathsThatLeaveTheirFolderAreRefused) {
  // A file that the refused names would reach.
  testing::WriteFileBytes(tmp_.Path() + "/secret.resource", testing::PcmWav());
  for (std::string source :
       {"../secret.resource", "/etc/passwd", "\\\\server\\share\\x.resource", "C:\\secret.resource",
        "sub/../../secret.resource", "archive:/CAB/..", "archive:/CAB/"}) {
    frontend_.lines.clear();
    Export(testing::ResourceRecordClipPayload(source, 0, 16));
    ASSERT_EQ(frontend_.lines.size(), 1u) << source;
    EXPECT_EQ(frontend_.lines[0].rfind("Refused resource path", 0), 0u) << frontend_.lines[0];
    EXPECT_TRUE(frontend_.messages.empty()) << source;
  }
  EXPECT_TRUE(Written().empty());
}

TEST_F(AudioExport, ShortRecordIsNotSupported) {
  Bytes payload(40, 0);
  payload[0] = 1;
  Export(payload);
  EXPECT_EQ(frontend_.lines, std::vector<std::string>{"Not supported file clip.snd"});
  EXPECT_TRUE(Written().empty());

  // In the window the same report is a message box.
  frontend_.window = true;
  frontend_.lines.clear();
  Export(Bytes(30, 0x01));
  EXPECT_EQ(frontend_.messages, std::vector<std::string>{"Not supported file clip.snd"});
  EXPECT_TRUE(frontend_.lines.empty());
}

TEST_F(AudioExport, BigEndianLengthsAndOffsetsAreSwapped) {
  Bytes wav = testing::PcmWav();
  Bytes resource(0x30, 0);
  resource.insert(resource.end(), wav.begin(), wav.end());
  testing::WriteFileBytes(GameFolder() + "game.assets.resS", resource);
  testing::WriteFileBytes(GameFolder() + "big.resource", resource);

  Export(testing::LegacyResourceClipPayload(static_cast<uint32_t>(wav.size()), 0x30, true), true,
         "a.snd");
  // A 64-bit value swapped as two 32-bit halves would point 0x30 << 32 bytes in and fail.
  Export(testing::ResourceRecordClipPayload("big.resource", 0x30, wav.size(), true), true, "b.snd");
  Bytes ogg = testing::SilentOggVorbis();
  Export(testing::EmbeddedClipPayload(ogg, true), true, "c.snd");

  EXPECT_EQ(testing::ReadFileBytes(SoundsFolder() + "resS_game.assets.resS/a.snd.wav"), wav);
  EXPECT_EQ(testing::ReadFileBytes(SoundsFolder() + "res_big.resource/b.snd.wav"), wav);
  EXPECT_EQ(testing::ReadFileBytes(SoundsFolder() + "c.snd.ogg"), ogg);
  EXPECT_TRUE(frontend_.messages.empty());
}

}  // namespace
}  // namespace kestrix
