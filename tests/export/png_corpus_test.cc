// Real archives: every texture ImageMagick reads as DDS gives a PNG with the same pixels; what
// cannot be shown as a picture is counted by format.
#include <gtest/gtest.h>

#include <map>

#include "core/session.h"
#include "export/converter.h"
#include "export/png_file.h"
#include "export/texture_header.h"
#include "formats/archive_open.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/reader.h"
#include "support/image_tools.h"
#include "support/test_env.h"
#include "types/object_layouts.h"
#include "types/type_info.h"

namespace kestrix {
namespace {

bool HasTextures(const testing::CorpusRow& row) {
  return testing::IsHandledPlainFile(row) &&
         (row.classes_present.find("28x") != std::string::npos ||
          row.classes_present.find("89x") != std::string::npos);
}

std::string Quoted(const std::string& path) {
  std::string q = "'";
  for (char c : path) q += c == '\'' ? std::string("'\\''") : std::string(1, c);
  return q + "'";
}

TEST(PngCorpus, PicturesHoldWhatImageMagickReadsFromTheDds) {
  const std::string corpus = testing::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  if (!testing::HaveImageMagick()) GTEST_SKIP() << "ImageMagick is not installed";
  testing::TempDir out;
  struct Pair {
    std::string dds, png, format;
    bool colour_only;
  };
  std::vector<Pair> pairs;
  std::map<std::string, int> not_shown;  // note text's format -> count
  int archives = 0;
  for (const testing::CorpusRow& row : testing::CorpusManifest()) {
    if (!HasTextures(row)) continue;
    SCOPED_TRACE(row.relpath);
    testing::TempDir tmp;
    const std::string base = out.Path() + "/" + std::to_string(archives++) + "/";
    Session s;
    ExportRequest request;
    request.Switches.ExportDds = request.Switches.ExportPng = true;
    testing::RecordingFrontend fe;
    ASSERT_NO_THROW(OpenArchive(s, fe, testing::CorpusArchiveToOpen(row, tmp)));
    FileSource source(s.Archive.ArchivePath);
    Reader reader(source);
    for (size_t i = 0; i < s.EntryCount(); ++i) {
      const int32_t cls = s.EntryClass(i);
      if ((cls != 28 && cls != 89) || s.PayloadSize(i) == 0) continue;
      const int32_t format = s.Entries.TextureFormat(i);
      const FieldLayout fields = TextureLayoutFor(s.Asset, i);
      const std::string relative = "Unity_Assets_Files/" + s.Archive.ArchiveFolderName + "/" +
                                   (cls == 28 ? "Textures/" : "Cubemap/");
      const std::string name(s.EntryName(i));
      ConverterContext ctx(s, request, fe);
      const size_t notes = fe.lines.size();
      for (auto converter : {ExportDds, ExportPng}) {
        if (converter == ExportDds && !TextureFormatSupports(format, kTargetDds, s.Asset.Engine))
          continue;
        reader.Seek(s.PayloadOffset(i));
        ConverterCall call{reader, s.PayloadSize(i), s.Asset.BigEndian != 0, base, relative, name};
        call.texture_fields = &fields;
        try {
          converter(call, ctx);
        } catch (const MissingResourceError& e) {
          // The corpus leaves some resource files out.
          EXPECT_FALSE(FileExists(testing::MissingFileOf(e.what()))) << e.what();
        } catch (const std::exception& e) {
          ADD_FAILURE() << name << " (" << TextureFormatName(format, s.Asset.Engine)
                        << "): " << e.what();
        }
      }
      for (size_t n = notes; n < fe.lines.size(); ++n)
        if (fe.lines[n].find("cannot be shown as a picture") != std::string::npos)
          ++not_shown[TextureFormatName(format, s.Asset.Engine)];
      reader.Seek(s.PayloadOffset(i));
      const TextureHeader h =
          ReadTextureHeader(reader.ReadBytes(s.PayloadSize(i)), s.Asset.BigEndian != 0, &fields);
      const std::string png = base + relative + name + ".png";
      // One image: a strip of cubemap faces has no single DDS to compare with.
      if (h.ImageCount() != 1 || !FileExists(png)) continue;
      // A block-format height that is not a multiple of 4 leaves the DDS shifted by its partial
      // block row; the picture is cut where the engine cuts it.
      if (format >= 10 && format <= 12 && h.height % 4 != 0) continue;
      pairs.push_back({base + relative + name + ".dds", png, TextureFormatName(format, s.Asset.Engine),
                       format == 10 || format == 3 || format == 7});
    }
    CloseArchive(s);
  }
  std::map<std::string, int> compared, unreadable;
  for (const Pair& p : pairs) {
    int status = 0;
    std::string rgba = testing::CaptureCommand(
        "convert " + Quoted(p.dds + "[0]") + " -depth 8 rgba:- 2>/dev/null", &status);
    if (status != 0 || rgba.empty()) {
      ++unreadable[p.format];
      continue;
    }
    RgbaImage png = ReadPngFile(p.png);
    ASSERT_EQ(rgba.size(), png.pixels.size()) << p.png;
    size_t differ = 0;
    for (size_t b = 0; b < rgba.size(); ++b)
      if ((!p.colour_only || b % 4 != 3) && static_cast<uint8_t>(rgba[b]) != png.pixels[b])
        ++differ;
    EXPECT_EQ(differ, 0u) << p.png << " " << p.format;
    ++compared[p.format];
  }
  int total = 0;
  for (const auto& [format, n] : compared) {
    std::printf("same pixels as ImageMagick: %4d  %s\n", n, format.c_str());
    total += n;
  }
  for (const auto& [format, n] : unreadable)
    std::printf("ImageMagick cannot read the DDS: %d  %s\n", n, format.c_str());
  for (const auto& [format, n] : not_shown)
    std::printf("cannot be shown as a picture: %d  %s\n", n, format.c_str());
  EXPECT_GE(total, 100);
}

}  // namespace
}  // namespace kestrix
