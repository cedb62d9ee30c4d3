// Texture import: files written by the real exporters come back as the payload they came from;
// files edited by ImageMagick come back at their new size; malformed files change nothing.
#include "import/texture_import.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <algorithm>
#include <fstream>
#include <functional>

#include "core/error.h"
#include "export/converter.h"
#include "export/ktx_pvr_formats.h"
#include "platform/byte_order.h"
#include "platform/file_ops.h"
#include "platform/io_error.h"
#include "support/converter_rig.h"
#include "support/image_tools.h"
#include "support/texture_payloads.h"
#include "types/object_layouts.h"

namespace kestrix {
namespace {

using testing::Bytes;
using testing::ConverterRig;
using testing::Rgba;
using testing::TextureSpec;

const std::string kRawRelative = "Unity_Assets_Files/demo/Hero.tex";

std::string RawPath(const ConverterRig& rig) { return rig.Base() + kRawRelative; }

// Calls an importer the way the import driver does: the payload inside a larger working file.
using ImportFn = std::function<void(const ImporterCall&, ImporterContext&)>;

void RunImport(ConverterRig& rig, const ImportFn& fn, const Bytes& payload,
               const std::string& source, bool big_endian = false, int32_t entry_format = 0,
               const FieldLayout& texture_fields = {}) {
  Bytes working(20 + payload.size() + 16, 0xEE);
  std::copy(payload.begin(), payload.end(), working.begin() + 20);
  MemorySource source_bytes(working);
  ImporterCall call{source_bytes, 20,           static_cast<uint32_t>(payload.size()),
                    big_endian,   rig.Base(),   source,
                    kRawRelative, entry_format, texture_fields};
  ImporterContext ctx{rig.frontend, rig.Base(), rig.request.NoTextureFlip};
  fn(call, ctx);
}

bool IsDxt(int32_t format) { return format >= 10 && format <= 12; }

// A picture that differs in every pixel, level and face, so that a row or block out of place
// changes the bytes.
Bytes Picture(int32_t format, int w, int h, int levels, int face) {
  auto pixel = [face](int x, int y, int level) {
    return Rgba{static_cast<uint8_t>(x * 7 + y * 13 + level * 29 + face * 50),
                static_cast<uint8_t>(x ^ (y * 5)), static_cast<uint8_t>(y * 17 + face),
                static_cast<uint8_t>(255 - x)};
  };
  return IsDxt(format) ? testing::EncodeDxt(format, w, h, levels, pixel)
                       : testing::EncodePixels(format, w, h, levels, pixel);
}

Bytes Ramp(size_t n, int seed = 0) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(i * 31 + (i >> 8) + seed * 77);
  return b;
}

// Puts a layout-3 texture's images in its resource file beside the archive; returns the
// subfolder export writes into.
std::string Stream(ConverterRig& rig, TextureSpec& s) {
  if (s.layout != 3) return "";
  s.resource_path = "sharedassets0.assets.resS";
  s.resource_offset = 100;
  testing::WriteFileBytes(rig.dir.File(s.resource_path), testing::TextureResourceFile(s));
  return "res_sharedassets0/";
}

// What a texture looks like after an import: a streamed one carries its data inline, with
// zeros where its resource offset, size and path length were.
TextureSpec Inline(TextureSpec s) {
  if (s.layout != 3) return s;
  s.layout = 2;
  s.resource_path.clear();
  s.resource_offset = 0;
  Bytes tail(12, 0);
  tail.insert(tail.end(), s.tail.begin(), s.tail.end());
  s.tail = tail;
  return s;
}

TEST(DdsImport, ExportedFilesComeBackAsTheirPayload) {
  struct Case {
    int32_t format;
    int layout;
    bool big_endian;
    int images;
  };
  std::vector<Case> cases;
  for (int32_t format : {1, 2, 3, 4, 5, 7, 10, 11, 12, 13, 14, 37})
    for (int layout : {1, 2, 3})
      for (bool be : {false, true}) cases.push_back({format, layout, be, 1});
  for (int32_t format : {5, 12, 13}) cases.push_back({format, 2, format == 13, 6});
  cases.push_back({10, 3, true, 6});

  for (const Case& c : cases) {
    SCOPED_TRACE("format " + std::to_string(c.format) + " layout " + std::to_string(c.layout) +
                 (c.big_endian ? " big-endian" : "") + " images " + std::to_string(c.images));
    ConverterRig rig;
    // 9 levels, a height that leaves partial 4x4 blocks and odd rows further down.
    const int w = 256, h = 20, levels = 9;
    TextureSpec s;
    s.layout = c.layout;
    s.big_endian = c.big_endian;
    s.width = w;
    s.height = h;
    s.format = c.format;
    s.mip = c.layout == 1 ? 1 : levels;
    s.image_count = c.images;
    TextureSpec expected = s;
    const bool folds = c.format == 4 || c.format == 14 || c.format == 37;
    if (folds) expected.format = 5;
    for (int face = 0; face < c.images; ++face) {
      Bytes picture = Picture(c.format, w, h, levels, face);
      s.images.insert(s.images.end(), picture.begin(), picture.end());
      // The 32-bit orders come back as ARGB32 holding the same colours.
      Bytes back = folds ? Picture(5, w, h, levels, face) : picture;
      expected.images.insert(expected.images.end(), back.begin(), back.end());
    }
    const std::string sub = Stream(rig, s);
    const Bytes payload = testing::Texture2DPayload(s);
    rig.Run(ExportDds, payload, "Hero.tex", c.big_endian);

    // A cubemap's faces come back from the files export named after them.
    const std::string first = rig.Out(sub + (c.images == 6 ? "Hero.tex_px.dds" : "Hero.tex.dds"));
    RunImport(rig, ImportDds, payload, first, c.big_endian, c.format);
    EXPECT_EQ(testing::ReadFileBytes(RawPath(rig)), testing::Texture2DPayload(Inline(expected)));
    EXPECT_TRUE(rig.frontend.messages.empty());
    EXPECT_EQ(rig.frontend.lines.back(), first + " -> TEX");
  }
}

// Textures of the releases read field by field go out as DDS (BC4 to BC7 with the DX10
// extension, which Pillow reads) and come back as the payload they came from; a streamed one
// comes back with its data inline and its stream fields cleared.
TEST(DdsImport, LaterReleasesComeBackAsTheirPayload) {
  const int w = 64, h = 18, levels = 7;
  for (const char* engine : {"2017.1.0f1", "2017.3.0f1", "2018.2.6f1", "2019.1.2f1", "2019.3.0f1",
                             "2020.1.0f1", "2020.2.2f1", "2022.3.18f1"}) {
    for (int32_t format : {3, 12, 26, 27, 25}) {
      for (bool streamed : {false, true}) {
        SCOPED_TRACE(::testing::Message()
                     << engine << " format " << format << (streamed ? " streamed" : ""));
        ConverterRig rig;
        rig.texture_fields = TextureFieldsForVersion(ParseEngineVersion(engine));
        TextureSpec s;
        s.engine = engine;
        s.width = w;
        s.height = h;
        s.format = format;
        s.mip = levels;
        s.tail = {1, 2, 3, 4};
        const DdsPixelFormat* pf = FindDdsPixelFormat(format);
        ASSERT_NE(pf, nullptr);
        if (format <= 12) {
          s.images = Picture(format, w, h, levels, 0);
        } else {
          uint64_t chain = 0;
          for (int level = 0, lw = w, lh = h; level < levels; ++level, lw /= 2, lh /= 2)
            chain += BlockLevelSize(std::max(lw, 1), std::max(lh, 1), pf->block_bytes);
          s.images = Ramp(chain, format);
        }
        std::string sub;
        if (streamed) {
          s.resource_path = "sharedassets0.assets.resS";
          s.resource_offset = 100;
          testing::WriteFileBytes(rig.dir.File(s.resource_path), testing::TextureResourceFile(s));
          sub = "res_sharedassets0/";
        }
        const Bytes payload = testing::Texture2DPayload(s);
        rig.Run(ExportDds, payload);
        const std::string dds = rig.Out(sub + "Hero.tex.dds");
        const Bytes file = testing::ReadFileBytes(dds);
        ASSERT_GE(file.size(), 148u);
        EXPECT_EQ(Get32(file.data() + 84, ByteOrder::Little) == 0x30315844, pf->dxgi != 0);
        if (pf->dxgi != 0) {
          EXPECT_EQ(Get32(file.data() + 128, ByteOrder::Little), pf->dxgi);
          // Pillow 9 takes BC4 only under its older FourCC "ATI1", not as DX10.
          if (testing::HavePillow() && format != 26) {
            EXPECT_EQ(testing::PillowSizes({dds}), std::vector<std::string>{"64 18"});
          }
        }

        RunImport(rig, ImportDds, payload, dds, false, format, rig.texture_fields);
        TextureSpec expected = s;
        expected.resource_path.clear();
        expected.resource_offset = 0;
        EXPECT_EQ(testing::ReadFileBytes(RawPath(rig)), testing::Texture2DPayload(expected));
        EXPECT_TRUE(rig.frontend.messages.empty());
      }
    }
  }
}

TEST(DdsImport, NoTextureFlipAndAtcKeepTheFileRowOrder) {
  for (int32_t format : {5, 12, 35, 36}) {
    for (bool no_flip : {false, true}) {
      SCOPED_TRACE("format " + std::to_string(format) + (no_flip ? " no flip" : ""));
      ConverterRig rig;
      rig.request.NoTextureFlip = no_flip;
      TextureSpec s;
      s.width = s.height = 16;
      s.format = format;
      s.mip = 1;
      s.images = format >= 35 ? Ramp(format == 35 ? 128 : 256) : Picture(format, 16, 16, 1, 0);
      const Bytes payload = testing::Texture2DPayload(s);
      rig.Run(ExportDds, payload);
      RunImport(rig, ImportDds, payload, rig.Out("Hero.tex.dds"), false, format);
      EXPECT_EQ(testing::ReadFileBytes(RawPath(rig)), payload);
    }
  }
}

TEST(DdsImport, ProceduralTexturesComeBack) {
  struct Case {
    int32_t format;
    int w, h, levels;
  };
  for (Case c : {Case{5, 16, 8, 1}, Case{3, 7, 5, 1}, Case{12, 16, 12, 3}, Case{13, 8, 8, 4},
                 Case{4, 8, 4, 1}, Case{36, 8, 8, 1}}) {
    for (bool be : {false, true}) {
      SCOPED_TRACE("format " + std::to_string(c.format) + (be ? " big-endian" : ""));
      ConverterRig rig;
      rig.relative = "Unity_Assets_Files/demo/ProceduralTextures/";
      testing::ProceduralSpec s;
      s.big_endian = be;
      s.width = c.w;
      s.height = c.h;
      s.format = c.format;
      s.mip = c.levels >= 2 ? static_cast<uint32_t>(c.levels) : 0;
      // ATC RGBA: 16 bytes a block, one a pixel, as the flip walks it.
      s.image = c.format == 36 ? Ramp(64) : Picture(c.format, c.w, c.h, c.levels, 0);
      const Bytes payload = testing::ProceduralTexturePayload(s);
      rig.Run(ExportProceduralDds, payload, "Hero.tex", be);
      RunImport(rig, ImportProceduralDds, payload, rig.Out("Hero.tex.dds"), be);
      testing::ProceduralSpec expected = s;
      if (c.format == 4) {
        expected.format = 5;
        expected.image = Picture(5, c.w, c.h, c.levels, 0);
      }
      EXPECT_EQ(testing::ReadFileBytes(RawPath(rig)), testing::ProceduralTexturePayload(expected));
    }
  }
}

// Reads the fields the engine cares about from a rebuilt layout-2 payload.
struct RawTexture {
  int32_t width, height, complete, format;
  uint32_t mip;
  Bytes data;
};
RawTexture ReadRaw(const Bytes& raw) {
  const ByteOrder le = ByteOrder::Little;
  RawTexture t;
  t.width = static_cast<int32_t>(Get32(raw.data(), le));
  t.height = static_cast<int32_t>(Get32(raw.data() + 4, le));
  t.complete = static_cast<int32_t>(Get32(raw.data() + 8, le));
  t.format = static_cast<int32_t>(Get32(raw.data() + 12, le));
  t.mip = Get32(raw.data() + 16, le);
  const uint32_t size = Get32(raw.data() + 56, le);
  t.data.assign(raw.begin() + 60, raw.begin() + 60 + size);
  return t;
}

TEST(DdsImport, AFileEditedByImageMagickComesBackAtItsNewSize) {
  if (!testing::HaveImageMagick()) GTEST_SKIP() << "ImageMagick is not installed";
  ConverterRig rig;
  TextureSpec s;
  s.width = 64;
  s.height = 32;
  s.format = 5;
  s.mip = 1;
  // The last stored row is the top row on screen: red there, blue elsewhere.
  s.images = testing::EncodePixels(5, 64, 32, 1, [](int, int y, int) {
    return y == 31 ? Rgba{255, 0, 0, 255} : Rgba{0, 0, 255, 255};
  });
  const Bytes payload = testing::Texture2DPayload(s);
  rig.Run(ExportDds, payload);
  const std::string edited = rig.dir.File("Hero.tex.dds");
  int status = -1;
  testing::CaptureCommand("convert '" + rig.Out("Hero.tex.dds") +
                              "' -crop 32x16+0+0 +repage -alpha set -define dds:compression=none "
                              "-define dds:mipmaps=0 '" +
                              edited + "'",
                          &status);
  ASSERT_EQ(status, 0);
  RunImport(rig, ImportDds, payload, edited, false, 5);
  const RawTexture t = ReadRaw(testing::ReadFileBytes(RawPath(rig)));
  EXPECT_EQ(t.width, 32);
  EXPECT_EQ(t.height, 16);
  EXPECT_EQ(t.format, 5);
  EXPECT_EQ(t.mip, 1u);
  EXPECT_EQ(t.complete, 32 * 16 * 4);
  ASSERT_EQ(t.data.size(), 32u * 16 * 4);
  // ARGB: the top row (stored last) red, the bottom row blue.
  EXPECT_EQ(Bytes(t.data.end() - 4, t.data.end()), (Bytes{255, 255, 0, 0}));
  EXPECT_EQ(Bytes(t.data.begin(), t.data.begin() + 4), (Bytes{255, 0, 0, 255}));
}

TEST(KtxPvrImport, ExportedFilesComeBackAsTheirPayload) {
  struct Case {
    int32_t format;
    int w, h;
    int layout;
    uint32_t mip;
    size_t image_bytes;
    int images;
    bool big_endian;
  };
  // KTX and PVR: PVRTC with its levels counted from the sizes (and the 8-pixel trial), ETC2,
  // ASTC RGB and RGBA sharing a GL format, EAC with PVR channel types, YUY2 (PVR only), levels
  // past the mip count (written after the last level), cubemaps of one file per face, streamed
  // data.
  const std::vector<Case> cases = {
      {33, 256, 256, 1, 1, 43704, 1, true}, {33, 16, 16, 2, 5, 256, 1, false},
      {45, 64, 64, 3, 4, 2744, 1, false},   {50, 100, 100, 2, 1, 4624, 1, true},
      {56, 100, 100, 3, 2, 5920, 1, false}, {41, 32, 32, 2, 3, 680, 1, false},
      {42, 32, 32, 1, 0, 512, 1, true},     {47, 8, 8, 2, 1, 64, 6, false},
      {34, 16, 16, 3, 2, 160, 6, true},     {21, 16, 16, 1, 0, 512, 1, false},
  };
  for (const Case& c : cases) {
    for (bool ktx : {true, false}) {
      if (ktx && c.format == 21) continue;  // KTX does not take YUY2
      SCOPED_TRACE(std::string(ktx ? "KTX" : "PVR") + " format " + std::to_string(c.format) +
                   " layout " + std::to_string(c.layout));
      ConverterRig rig;
      TextureSpec s;
      s.layout = c.layout;
      s.big_endian = c.big_endian;
      s.width = c.w;
      s.height = c.h;
      s.format = c.format;
      s.mip = c.mip;
      s.image_count = c.images;
      for (int face = 0; face < c.images; ++face) {
        Bytes b = Ramp(c.image_bytes, face);
        s.images.insert(s.images.end(), b.begin(), b.end());
      }
      const std::string sub = Stream(rig, s);
      const Bytes payload = testing::Texture2DPayload(s);
      rig.Run(ktx ? ExportKtx : ExportPvr, payload, "Hero.tex", c.big_endian);
      const std::string face = c.images == 6 ? "_px" : "";
      RunImport(rig, ktx ? ImportKtx : ImportPvr, payload,
                rig.Out(sub + "Hero.tex" + face + (ktx ? ".ktx" : ".pvr")), c.big_endian,
                c.format);
      EXPECT_EQ(testing::ReadFileBytes(RawPath(rig)), testing::Texture2DPayload(Inline(s)));
    }
  }
}

void PutLe(Bytes& b, size_t at, uint32_t v) { Put32(b.data() + at, v, ByteOrder::Little); }

TEST(KtxPvrImport, HeadersOfOtherToolsAreRead) {
  // Key/value data in KTX (padded to 4), metadata in PVR, and format codes from the tables;
  // a pair in no row keeps the texture's code.
  struct Case {
    bool ktx;
    uint32_t a, b;   // KTX: internal and base format; PVR: format id and channel type
    uint32_t extra;  // KTX: key/value bytes; PVR: metadata bytes
    int32_t current, expected;
  };
  for (Case c : {Case{true, 0x9278, 0x1908, 5, 34, 47}, Case{true, 0x93B0, 0x1908, 0, 48, 48},
                 Case{true, 0x93BD, 0x1908, 9, 34, 59}, Case{true, 0x1234, 0x1908, 0, 34, 34},
                 Case{true, 0x9272, 0x8227, 0, 34, 43}, Case{false, 26, 5, 7, 34, 44},
                 Case{false, 40, 0, 0, 53, 53}, Case{false, 25, 9, 0, 34, 34},
                 Case{false, 24, 0, 3, 34, 46}}) {
    SCOPED_TRACE(std::to_string(c.a) + " -> " + std::to_string(c.expected));
    ConverterRig rig;
    TextureSpec s;
    s.format = c.current;
    s.mip = 1;
    s.images = Ramp(32);
    const Bytes image = Ramp(MobileLevelSize(*FindMobileFormat(c.expected), 12, 8, true), 3);
    Bytes file(c.ktx ? 64 : 52, 0);
    if (c.ktx) {
      PutLe(file, 28, c.a);
      PutLe(file, 32, c.b);
      PutLe(file, 36, 12);
      PutLe(file, 40, 8);
      PutLe(file, 52, 1);
      PutLe(file, 56, 1);
      PutLe(file, 60, c.extra);
      file.resize(64 + (c.extra + 3) / 4 * 4, 0xAA);
      file.insert(file.end(), {static_cast<uint8_t>(image.size()), 0, 0, 0});
    } else {
      PutLe(file, 8, c.a);
      PutLe(file, 20, c.b);
      PutLe(file, 24, 8);
      PutLe(file, 28, 12);
      PutLe(file, 44, 1);
      PutLe(file, 48, c.extra);
      file.resize(52 + c.extra, 0xAA);
    }
    file.insert(file.end(), image.begin(), image.end());
    const std::string path = rig.dir.File(c.ktx ? "Hero.tex.ktx" : "Hero.tex.pvr");
    testing::WriteFileBytes(path, file);
    RunImport(rig, c.ktx ? ImportKtx : ImportPvr, testing::Texture2DPayload(s), path);
    const RawTexture t = ReadRaw(testing::ReadFileBytes(RawPath(rig)));
    EXPECT_EQ(t.format, c.expected);
    EXPECT_EQ(t.width, 12);
    EXPECT_EQ(t.height, 8);
    EXPECT_EQ(t.complete, static_cast<int32_t>(image.size()));
    EXPECT_EQ(t.data, image);
  }
}

// A crunched file of one level of w x h: the header with both checksums (CRC-16 of polynomial
// 0x1021, all bits set before and after), then `data`.
Bytes CrnFile(int w, int h, const Bytes& data) {
  auto crc16 = [](const uint8_t* p, size_t n) {
    uint32_t crc = 0xFFFF;
    for (size_t i = 0; i < n; ++i) {
      crc ^= uint32_t{p[i]} << 8;
      for (int bit = 0; bit < 8; ++bit) crc = (crc & 0x8000 ? (crc << 1) ^ 0x1021 : crc << 1);
    }
    return ~crc & 0xFFFF;
  };
  auto put_be = [](Bytes& b, size_t at, uint32_t v, int bytes) {
    for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * (bytes - 1 - i)));
  };
  Bytes file(74, 0);
  file[0] = 'H', file[1] = 'x';
  put_be(file, 2, 74, 2);
  put_be(file, 6, static_cast<uint32_t>(74 + data.size()), 4);
  put_be(file, 12, static_cast<uint32_t>(w), 2);
  put_be(file, 14, static_cast<uint32_t>(h), 2);
  file[16] = 1;
  file[17] = 1;
  put_be(file, 70, 74, 4);
  file.insert(file.end(), data.begin(), data.end());
  put_be(file, 10, crc16(file.data() + 74, data.size()), 2);
  put_be(file, 4, crc16(file.data() + 6, 74 - 6), 2);
  return file;
}

// A stand-in for the crunch tool: records its arguments and copies -file to -out.
void InstallFakeTool(const std::string& folder) {
  const std::string path = folder + "/crunch_x64.exe";
  std::ofstream(path) << "#!/bin/sh\n"
                         "printf '%s\\n' \"$@\" > \"$(dirname \"$0\")/args.txt\"\n"
                         "cp \"$4\" \"$2\"\n";
  ::chmod(path.c_str(), 0755);
}

#ifndef _WIN32  // the stand-in tool is a shell script
TEST(CrnImport, TheToolRebuildsTheCrnFromTheEditedDdsWhenBothAreThere) {
  for (bool tool : {false, true}) {
    for (bool edited : {false, true}) {
      SCOPED_TRACE(std::string(tool ? "tool" : "no tool") + (edited ? ", edited dds" : ""));
      ConverterRig rig;
      testing::TempDir tools;
      if (tool) InstallFakeTool(tools.Path());
      TextureSpec s;
      s.format = 29;
      s.width = s.height = 64;
      s.mip = 7;
      s.images = Ramp(37);
      const std::string crn = rig.dir.File("Hero.tex.crn");
      const Bytes old_crn = CrnFile(64, 64, Ramp(41, 1)), new_crn = CrnFile(64, 64, Ramp(23, 2));
      testing::WriteFileBytes(crn, old_crn);
      if (edited) testing::WriteFileBytes(crn + ".dds", new_crn);
      RunImport(
          rig,
          [&](const ImporterCall& call, ImporterContext& ctx) {
            ImportCrnWithTool(call, ctx, tools.Path() + "/");
          },
          testing::Texture2DPayload(s), crn);

      const bool ran = tool && edited;
      TextureSpec expected = s;
      expected.images = ran ? new_crn : old_crn;  // size, format and mip field stay
      EXPECT_EQ(testing::ReadFileBytes(RawPath(rig)), testing::Texture2DPayload(expected));
      std::vector<std::string> lines = {crn + " -> TEX"};
      if (ran) {
        lines.insert(lines.begin(), kRawRelative + ".crn.dds -> CRN");
        const Bytes args = testing::ReadFileBytes(tools.File("args.txt"));
        EXPECT_EQ(std::string(args.begin(), args.end()),
                  "-out\n" + crn + "\n-file\n" + crn + ".dds\n");
      } else {
        EXPECT_FALSE(FileExists(tools.File("args.txt")));
      }
      EXPECT_EQ(rig.frontend.lines, lines);
    }
  }
}
#endif

// A DDS header as export writes it, for `format` at w x h with `levels` levels.
Bytes DdsFile(int32_t format, int w, int h, uint32_t levels, size_t data_bytes) {
  const DdsHeader header = BuildDdsHeader(format, 0, w, h, levels);
  Bytes file(header.bytes.begin(), header.bytes.end());
  Bytes data = Ramp(data_bytes);
  file.insert(file.end(), data.begin(), data.end());
  return file;
}

TEST(TextureImport, MalformedSourcesChangeNothing) {
  enum Outcome { kFails, kUnsupported, kCrnImages };
  struct Case {
    std::string name;
    Importer importer;
    std::function<Bytes()> source;  // written to Hero.tex.<ext>
    Outcome outcome;
    int32_t images = 1;
  };
  auto patched = [](Bytes b, size_t at, uint32_t v) {
    PutLe(b, at, v);
    return b;
  };
  const Bytes ktx_ok = [] {
    Bytes k(64, 0);
    PutLe(k, 28, 0x9278);
    PutLe(k, 32, 0x1908);
    PutLe(k, 36, 4);
    PutLe(k, 40, 4);
    PutLe(k, 52, 1);
    PutLe(k, 56, 1);
    k.insert(k.end(), {16, 0, 0, 0});
    Bytes data = Ramp(16);
    k.insert(k.end(), data.begin(), data.end());
    return k;
  }();
  const Bytes pvr_ok = [] {
    Bytes p(52, 0);
    PutLe(p, 8, 23);
    PutLe(p, 24, 4);
    PutLe(p, 28, 4);
    PutLe(p, 40, 1);
    PutLe(p, 44, 1);
    Bytes data = Ramp(16);
    p.insert(p.end(), data.begin(), data.end());
    return p;
  }();
  const std::vector<Case> cases = {
      {"dds shorter than its header", ImportDds, [] { return Bytes(100, 0); }, kFails},
      {"dds header size past the end", ImportDds,
       [&] { return patched(DdsFile(5, 4, 4, 1, 64), 4, 0xFFFFFFF0); }, kFails},
      {"dds levels past the data", ImportDds, [] { return DdsFile(10, 64, 64, 9, 2048); }, kFails},
      {"dds rows past the data", ImportDds,
       [&] { return patched(DdsFile(5, 4, 4, 1, 64), 16, 0x7FFFFFFF); }, kFails},
      {"dds cubemap face missing", ImportDds, [] { return DdsFile(5, 4, 4, 1, 64); }, kFails, 6},
      {"dds extended header", ImportDds,
       [&] { return patched(DdsFile(5, 4, 4, 1, 64), 84, 0x30315844); }, kUnsupported},
      {"dds unknown masks", ImportDds, [&] { return patched(DdsFile(5, 4, 4, 1, 64), 92, 0xFF); },
       kUnsupported},
      {"procedural dds unknown masks", ImportProceduralDds,
       [&] { return patched(DdsFile(5, 4, 4, 1, 64), 92, 0xFF); }, kUnsupported},
      {"procedural dds shorter than its header", ImportProceduralDds, [] { return Bytes(127, 0); },
       kFails},
      {"ktx shorter than its header", ImportKtx, [] { return Bytes(63, 0); }, kFails},
      {"ktx key/value data past the end", ImportKtx,
       [&] { return patched(ktx_ok, 60, 0xFFFFFFFF); }, kFails},
      {"ktx level past the end", ImportKtx, [&] { return patched(ktx_ok, 64, 0x7FFFFFFF); },
       kFails},
      {"ktx levels past the end", ImportKtx, [&] { return patched(ktx_ok, 56, 0xFFFFFFFF); },
       kFails},
      {"ktx face count", ImportKtx, [&] { return patched(ktx_ok, 52, 0xFFFFFFFF); }, kFails},
      {"ktx faces missing", ImportKtx, [&] { return patched(ktx_ok, 52, 6); }, kFails},
      {"pvr shorter than its header", ImportPvr, [] { return Bytes(51, 0); }, kFails},
      {"pvr metadata past the end", ImportPvr, [&] { return patched(pvr_ok, 48, 0xFFFFFFFF); },
       kFails},
      {"pvr faces too large", ImportPvr, [&] { return patched(pvr_ok, 40, 0x7FFFFFFF); }, kFails},
      {"missing source", ImportPvr, [] { return Bytes(); }, kFails},
      {"crn of a cubemap", ImportCrn, [] { return Ramp(40); }, kCrnImages, 6},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ConverterRig rig;
    CreateFolders(rig.Base() + "Unity_Assets_Files/demo");
    const Bytes old_raw = {'o', 'l', 'd'};
    testing::WriteFileBytes(RawPath(rig), old_raw);
    const std::string source = rig.dir.File("Hero.tex.src");
    const Bytes bytes = c.source();
    if (!bytes.empty()) testing::WriteFileBytes(source, bytes);

    Bytes payload;
    if (c.importer == ImportProceduralDds) {
      testing::ProceduralSpec p;
      p.format = 5;
      p.image = Ramp(64);
      payload = testing::ProceduralTexturePayload(p);
    } else {
      TextureSpec s;
      s.image_count = c.images;
      s.images = Ramp(64 * static_cast<size_t>(c.images));
      payload = testing::Texture2DPayload(s);
    }
    bool failed = false;
    try {
      RunImport(rig, c.importer, payload, source, false, 4);
    } catch (const Error&) {
      failed = true;
    }
    EXPECT_EQ(failed, c.outcome == kFails);
    std::vector<std::string> messages;
    if (c.outcome == kUnsupported) messages = {"Format dds not supported!"};
    if (c.outcome == kCrnImages) messages = {"Crunched texture of 6 images not supported!"};
    // A refusal that passes the file over is still a failure of the run.
    EXPECT_EQ(rig.frontend.errors, messages);
    EXPECT_TRUE(rig.frontend.messages.empty());
    EXPECT_EQ(testing::ReadFileBytes(RawPath(rig)), old_raw);
    EXPECT_EQ(testing::ListFiles(rig.Base() + "Unity_Assets_Files/demo"),
              std::vector<std::string>{"Hero.tex"});
  }
}

TEST(TextureImport, ShortProceduralPayloadsWriteNothing) {
  ConverterRig rig;
  const std::string source = rig.dir.File("Hero.tex.dds");
  testing::WriteFileBytes(source, DdsFile(5, 4, 4, 1, 64));
  RunImport(rig, ImportProceduralDds, Bytes(88, 0), source);
  EXPECT_FALSE(FileExists(RawPath(rig)));
}

}  // namespace
}  // namespace kestrix
