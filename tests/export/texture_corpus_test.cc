// Real archives: every texture whose format a container takes is exported, and ImageMagick opens
// the DDS files with the size the texture declares.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <sstream>

#include "core/session.h"
#include "export/converter.h"
#include "export/crn_export.h"
#include "export/export_driver.h"
#include "export/texture_header.h"
#include "export/texture_source.h"
#include "formats/archive_open.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/reader.h"
#include "support/image_tools.h"
#include "support/test_env.h"
#include "types/object_layouts.h"
#include "types/type_info.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

bool HandledPlainFormat(const testing::CorpusRow& row) {
  return testing::IsHandledPlainFile(row) &&
         (row.classes_present.find("28x") != std::string::npos ||
          row.classes_present.find("89x") != std::string::npos);
}

// Bundles the container stage reads whose files hold textures, in little-endian files of the
// formats the asset reader takes.
bool TextureBundle(const testing::CorpusRow& row) {
  if (row.container != "UnityRaw-v3" && row.container != "UnityWeb-v3" &&
      row.container != "UnityFS-v6")
    return false;
  if (row.big_endian || row.serialized_format.empty()) return false;
  for (size_t at = 0; at < row.serialized_format.size();) {
    const int format = std::stoi(row.serialized_format.substr(at));
    if (format < 9 || format > 17) return false;
    at = row.serialized_format.find(',', at);
    if (at != std::string::npos) ++at;
  }
  return row.classes_present.find("28x") != std::string::npos ||
         row.classes_present.find("89x") != std::string::npos;
}

struct Expected {
  int32_t width, height, format;
};

TEST(TextureCorpus, ExportsEveryTextureAContainerTakes) {
  const std::string corpus = testing::CorpusDir();
  if (corpus.empty()) GTEST_SKIP() << "no corpus";
  testing::TempDir out, no_tools;
  std::map<std::string, Expected> dds_files;  // path -> what the texture declares
  int converted = 0, missing_resources = 0, archives = 0;

  ExportRequest request;
  request.Switches.ExportDds = true;
  testing::RecordingFrontend fe;
  // Every texture of the open file (for a bundle, of the chosen contained file).
  // The engine's default resources share one archive name: each archive gets its own base.
  auto new_base = [&] { return out.Path() + "/" + std::to_string(++archives) + "/"; };
  auto export_textures = [&](Session& s, const std::string& base) {
    FileSource source(s.Archive.ArchivePath);
    Reader reader(source);
    for (size_t i = 0; i < s.EntryCount(); ++i) {
      const int32_t cls = s.EntryClass(i);
      if ((cls != 28 && cls != 89) || s.PayloadSize(i) == 0) continue;
      const int32_t format = s.Entries.TextureFormat(i);
      const FieldLayout fields = TextureLayoutFor(s.Asset, i);
      const std::string relative = "Unity_Assets_Files/" + s.Archive.ArchiveFolderName + "/" +
                                   (cls == 28 ? "Textures/" : "Cubemap/");
      auto run = [&](auto&& converter) -> bool {
        reader.Seek(s.PayloadOffset(i));
        ConverterCall call{reader, s.PayloadSize(i), s.Asset.BigEndian != 0,
                           base,   relative,         std::string(s.EntryName(i)),
                           &fields};
        ConverterContext ctx(s, request, fe);
        size_t before = fe.messages.size();
        try {
          converter(call, ctx);
        } catch (const MissingResourceError& e) {
          // Only resource files the corpus leaves out may be missing.
          EXPECT_FALSE(FileExists(testing::MissingFileOf(e.what()))) << e.what();
          ++missing_resources;
          return false;
        } catch (const std::exception& e) {
          ADD_FAILURE() << s.EntryName(i) << " (" << TextureFormatName(format) << "): " << e.what();
        }
        ++converted;
        for (size_t m = before; m < fe.messages.size(); ++m) {
          // Only resource files the corpus leaves out may be reported.
          const std::string prefix = "Отсутствует файл: ";
          if (fe.messages[m].rfind(prefix, 0) != 0) {
            ADD_FAILURE() << fe.messages[m];
            continue;
          }
          EXPECT_FALSE(FileExists(fe.messages[m].substr(prefix.size())));
          ++missing_resources;
        }
        return fe.messages.size() == before;
      };
      if (TextureFormatSupports(format, 1, s.Asset.Engine) && run(ExportDds)) {
        reader.Seek(s.PayloadOffset(i));
        std::vector<uint8_t> payload = reader.ReadBytes(s.PayloadSize(i));
        TextureHeader h = ReadTextureHeader(payload, s.Asset.BigEndian != 0, &fields);
        std::string sub = h.Streamed() ? "res_" + UpToFirstDot(h.resource_path) + "/" : "";
        for (int32_t image = 0; image < h.ImageCount() && h.complete_image_size > 0; ++image) {
          std::string path = base + relative + sub + std::string(s.EntryName(i)) +
                             ImageSuffix(image, h.ImageCount()) + ".dds";
          EXPECT_TRUE(FileExists(path)) << path;
          dds_files[path] = {h.width, h.height, h.format};
        }
      }
      if (TextureFormatSupports(format, 2, s.Asset.Engine))
        run([&](const ConverterCall& c, ConverterContext& x) {
          ExportCrnWithTool(c, x, no_tools.Path() + "/");
        });
      if (TextureFormatSupports(format, 3, s.Asset.Engine)) run(ExportKtx);
      if (TextureFormatSupports(format, 4, s.Asset.Engine)) run(ExportPvr);
    }
  };

  for (const testing::CorpusRow& row : testing::CorpusManifest()) {
    SCOPED_TRACE(row.relpath);
    testing::TempDir tmp;
    Session s;
    if (HandledPlainFormat(row)) {
      ASSERT_NO_THROW(OpenArchive(s, fe, testing::CorpusArchiveToOpen(row, tmp)));
      export_textures(s, new_base());
    } else if (TextureBundle(row)) {
      testing::CopyFile(corpus + "/" + row.relpath, tmp.File("bundle"));
      ASSERT_NO_THROW(OpenArchive(s, fe, tmp.File("bundle"), testing::Pick(0)));
      // Resource files usually come last in the table; going backwards writes them out, where
      // the textures streamed from them look, before the textures are read.
      const std::string base = new_base();
      for (size_t k = s.Archive.Bundle.ContainedFiles.size(); k-- > 0;) {
        ASSERT_NO_THROW(ReopenWithSelection(s, fe, static_cast<int>(k)));
        if (!s.Asset.RawSingleFile) {
          export_textures(s, base);
          continue;
        }
        s.Archive.OutputRoot = base;
        FileSource source(s.Archive.ArchivePath);
        Reader reader(source);
        EXPECT_TRUE(ExportEntry(s, ExportRequest(), 0, reader, fe));
      }
    } else {
      continue;
    }
    CloseArchive(s);
  }
  EXPECT_GE(dds_files.size(), 100u);
  std::printf("corpus textures: %d converter calls, %zu DDS files, %d missing resource files\n",
              converted, dds_files.size(), missing_resources);

  // Formats named by the DX10 extension (BC6H reflection probes of 2019) go to Pillow, which
  // reads them; ImageMagick 6 does not.
  std::vector<std::string> dx10_files, dx10_sizes;
  for (auto it = dds_files.begin(); it != dds_files.end();) {
    const DdsPixelFormat* pf = FindDdsPixelFormat(it->second.format);
    if (!pf || pf->dxgi == 0) {
      ++it;
      continue;
    }
    dx10_files.push_back(it->first);
    dx10_sizes.push_back(std::to_string(it->second.width) + " " +
                         std::to_string(it->second.height));
    it = dds_files.erase(it);
  }
  if (!dx10_files.empty() && testing::HavePillow()) {
    std::vector<std::string> sizes = testing::PillowSizes(dx10_files);
    for (size_t k = 0; k < dx10_files.size(); ++k)
      EXPECT_EQ(sizes[k], dx10_sizes[k]) << "Pillow reads " << dx10_files[k];
    std::printf("Pillow opened %zu DX10 DDS files\n", dx10_files.size());
  }
  if (!testing::HaveImageMagick()) GTEST_SKIP() << "ImageMagick is not installed";
  // One identify run for all files; a file it cannot read prints no line.
  std::string command = "identify -format '%w %h %i\\n'";
  for (const auto& [path, e] : dds_files) {
    std::string quoted;
    for (char c : path) quoted += c == '\'' ? std::string("'\\''") : std::string(1, c);
    command += " '" + quoted + "'";
  }
  std::string report = testing::CaptureCommand(command);
  std::map<std::string, std::string> seen;
  std::istringstream lines(report);
  for (std::string line; std::getline(lines, line);) {
    size_t a = line.find(' '), b = line.find(' ', a + 1);
    if (a == std::string::npos || b == std::string::npos) continue;
    seen.emplace(line.substr(b + 1), line.substr(0, b));
  }
  int opened = 0;
  for (const auto& [path, e] : dds_files) {
    auto it = seen.find(path);
    if (e.format == 1) continue;  // ImageMagick reads no alpha-only DDS
    ASSERT_NE(it, seen.end()) << "ImageMagick cannot read " << path;
    EXPECT_EQ(it->second, std::to_string(e.width) + " " + std::to_string(e.height)) << path;
    ++opened;
  }
  std::printf("ImageMagick opened %d DDS files\n", opened);
}

}  // namespace
}  // namespace kestrix
