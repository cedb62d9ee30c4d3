// Web build data files: built containers in each wrapper open through the bundle inside, give
// up every file, and take an import written back in the same wrapper; the real ones of the
// corpus list, extract and round-trip.
#include <gtest/gtest.h>

#include <algorithm>
#include <filesystem>
#include <functional>
#include <map>

#include "core/session.h"
#include "formats/archive_open.h"
#include "formats/bundle_extract.h"
#include "formats/stream_wrappers.h"
#include "import/import_driver.h"
#include "import/standard_converters.h"
#include "platform/byte_order.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "support/asset_builder.h"
#include "support/bundle_builder.h"
#include "support/payloads.h"
#include "support/test_env.h"
#include "types/class_ids.h"

namespace kestrix {
namespace {

using testing::Bytes;

const std::string kGzipMarker = "UnityWeb Compressed Content (gzip)";
const std::string kBrotliMarker = "UnityWeb Compressed Content (brotli)";

Bytes Container(const std::vector<std::pair<std::string, Bytes>>& entries) {
  uint32_t header = 20;
  for (const auto& e : entries) header += 12 + static_cast<uint32_t>(e.first.size());
  Bytes out(16);
  std::copy_n("UnityWebData1.0", 16, out.begin());
  auto put = [&out](uint32_t v) {
    uint8_t b[4];
    Put32(b, v, ByteOrder::Little);
    out.insert(out.end(), b, b + 4);
  };
  put(header);
  uint32_t offset = header;
  for (const auto& e : entries) {
    put(offset);
    put(static_cast<uint32_t>(e.second.size()));
    put(static_cast<uint32_t>(e.first.size()));
    out.insert(out.end(), e.first.begin(), e.first.end());
    offset += static_cast<uint32_t>(e.second.size());
  }
  for (const auto& e : entries) out.insert(out.end(), e.second.begin(), e.second.end());
  return out;
}

// Wrapped the way the engine's builds wrap: the marker text in the gzip comment or in a brotli
// metadata block first.
Bytes Wrapped(const Bytes& plain, StreamWrapper kind) {
  if (kind == StreamWrapper::kNone) return plain;
  WrapperLayout layout;
  layout.kind = kind;
  if (kind == StreamWrapper::kGzip) {
    layout.gzip_header = {0x1F, 0x8B, 8, 0x10, 0, 0, 0, 0, 0, 3};
    layout.gzip_header.insert(layout.gzip_header.end(), kGzipMarker.begin(), kGzipMarker.end());
    layout.gzip_header.push_back(0);
  } else {
    layout.brotli_has_metadata = true;
    layout.brotli_metadata.assign(kBrotliMarker.begin(), kBrotliMarker.end());
  }
  MemorySource source(plain);
  Bytes out;
  Wrap(source, layout, [&out](const uint8_t* d, size_t n) { out.insert(out.end(), d, d + n); });
  return out;
}

Bytes Unwrapped(const std::string& path, StreamWrapper kind) {
  Bytes bytes = testing::ReadFileBytes(path);
  if (kind == StreamWrapper::kNone) return bytes;
  MemorySource source(bytes);
  Bytes out;
  Unwrap(source, kind, [&out](const uint8_t* d, size_t n) { out.insert(out.end(), d, d + n); });
  return out;
}

bool Contains(const Bytes& bytes, const std::string& text) {
  return std::search(bytes.begin(), bytes.end(), text.begin(), text.end()) != bytes.end();
}

Bytes Asset(const std::string& text) {
  testing::AssetSpec asset;
  asset.format = 17;
  asset.unity_version = "5.6.0f3";
  asset.objects = {{kClassTextAsset, testing::TextObject("readme", text)},
                   {21, testing::NamedObject("Mat", Bytes(64, 0x21))}};
  return testing::BuildAssetFile(asset);
}

// Data files named and wrapped as the engine's builds name and wrap them: the contained files
// are offered in container order, the bundle's in its place; every file comes out; an import
// into the bundle and one into a file of the container itself are written back in the same
// wrapper and open again.
TEST(WebData, BuiltContainersOpenExtractAndTakeImportsInEachWrapper) {
  struct Case {
    const char* name;
    StreamWrapper kind;
  } cases[] = {{"Build.data", StreamWrapper::kNone},
               {"Build.data.gz", StreamWrapper::kGzip},
               {"Build.data.unityweb", StreamWrapper::kGzip},
               {"Build.data.br", StreamWrapper::kBrotli},
               {"Build.data.unityweb", StreamWrapper::kBrotli}};
  testing::BundleV6Spec bundle;
  bundle.version = 7;
  bundle.engine_version = "2020.3.19f1";
  bundle.files = {{"globalgamemanagers", Asset("in the bundle")},
                  {"sharedassets0.assets.resS", Bytes(3000, 9), 0}};
  const Bytes built_bundle = testing::BuildBundleV6(bundle).bytes;
  const Bytes boot = {'w', 'a', 'i', 't'};
  const Bytes plain = Container({{"boot.config", boot},
                                 {"data.unity3d", built_bundle},
                                 {"Resources/unity_default_resources", Asset("beside it")}});
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " wrapper " + std::to_string(static_cast<int>(c.kind)));
    testing::TempDir tmp;
    const std::string path = tmp.File(c.name);
    testing::WriteFileBytes(path, Wrapped(plain, c.kind));

    Session s;
    testing::RecordingFrontend fe;
    ASSERT_NO_THROW(OpenArchive(s, fe, path, testing::Pick(1)));
    EXPECT_EQ(fe.chooser, testing::NativeLines({"boot.config", "data.unity3d/globalgamemanagers",
                                                "data.unity3d/sharedassets0.assets.resS",
                                                "Resources/unity_default_resources"}));
    EXPECT_EQ(fe.chooser_selected, 1);
    ASSERT_EQ(s.EntryCount(), 2u);
    ASSERT_NO_THROW(ReopenWithSelection(s, fe, 2));
    EXPECT_TRUE(s.Asset.RawSingleFile);
    EXPECT_EQ(s.PayloadSize(0), 3000u);
    EXPECT_THROW(OpenArchive(s, fe, path, testing::Pick(4)), Error);

    // Every file, the bundle's under its name.
    ASSERT_NO_THROW(OpenContainer(s.Archive, fe, path));
    const std::string out = tmp.File("out/");
    EXPECT_EQ(ExtractBundleFiles(s.Archive, fe, out), 4);
    EXPECT_EQ(testing::ReadFileBytes(out + "boot.config"), boot);
    EXPECT_EQ(testing::ReadFileBytes(out + "data.unity3d/globalgamemanagers"),
              Asset("in the bundle"));
    EXPECT_EQ(testing::ReadFileBytes(out + "Resources/unity_default_resources"),
              Asset("beside it"));
    CloseArchive(s);

    // A longer text into the bundle, then into the container's own asset file.
    for (int index : {1, 3}) {
      ASSERT_NO_THROW(OpenArchive(s, fe, path, testing::Pick(index)));
      const std::string folder = ExportFolder(s.Archive);
      CreateFolders(folder);
      const std::string text = "a longer text for file " + std::to_string(index);
      testing::WriteFileBytes(folder + std::string(s.EntryName(0)), Bytes(text.begin(), text.end()));
      ASSERT_NO_THROW(ImportAll(s, ImportRequest(), fe, StandardImportConverters()));
      CloseArchive(s);
      EXPECT_TRUE(fe.errors.empty()) << fe.errors.front();
      const Bytes file = testing::ReadFileBytes(path);
      const bool gzip = file.size() > 2 && file[0] == 0x1F && file[1] == 0x8B;
      EXPECT_EQ(gzip, c.kind == StreamWrapper::kGzip);
      const Bytes start(file.begin(), file.begin() + 64);
      EXPECT_EQ(Contains(start, kGzipMarker), c.kind == StreamWrapper::kGzip);
      EXPECT_EQ(Contains(start, kBrotliMarker), c.kind == StreamWrapper::kBrotli);
      Session again;
      ASSERT_NO_THROW(OpenArchive(again, fe, path, testing::Pick(index)));
      FileSource source(again.Archive.ArchivePath);
      Bytes payload(again.PayloadSize(0));
      source.ReadAt(again.PayloadOffset(0), payload.data(), payload.size());
      EXPECT_EQ(payload, Bytes(text.begin(), text.end()));
      EXPECT_EQ(again.EntryCount(), 2u);
      CloseArchive(again);
    }
    const Bytes now = Unwrapped(path, c.kind);
    EXPECT_TRUE(Contains(now, "wait"));
    EXPECT_EQ(Bytes(now.begin(), now.begin() + 16), Bytes(plain.begin(), plain.begin() + 16));
    // Nothing of this run's own is left beside the file.
    EXPECT_EQ(testing::ListFiles(tmp.Path()).size(),
              testing::ListFiles(tmp.File("out")).size() + 1 +
                  testing::ListFiles(tmp.File("Unity_Assets_Files")).size());
  }
}

bool IsWebData(const testing::CorpusRow& row) { return row.container == "webgl"; }

StreamWrapper WrapperOf(const testing::CorpusRow& row) {
  if (row.compression == "gzip") return StreamWrapper::kGzip;
  if (row.compression == "brotli") return StreamWrapper::kBrotli;
  return StreamWrapper::kNone;
}

std::map<std::string, Bytes> Extracted(const std::string& path, const std::string& out) {
  Session s;
  testing::RecordingFrontend fe;
  OpenContainer(s.Archive, fe, path);
  ExtractBundleFiles(s.Archive, fe, out);
  CloseArchive(s);
  std::map<std::string, Bytes> files;
  for (const std::string& f : testing::ListFiles(out)) files[f] = testing::ReadFileBytes(out + f);
  return files;
}

// Every real data file: the objects listed over all its indices are those of its serialized
// files; extraction writes each contained file byte for byte (the container's own entries
// against the unwrapped container, the bundle's against the object counts they give); a raw
// round trip (an object changed and changed back) leaves every contained file as it was, in
// the same wrapper, and the file opens again.
TEST(WebData, CorpusFilesListExtractAndRoundTrip) {
  if (testing::CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  int files = 0;
  for (const testing::CorpusRow& row : testing::CorpusManifest()) {
    if (!IsWebData(row)) continue;
    SCOPED_TRACE(row.relpath);
    testing::TempDir tmp;
    const std::string path = tmp.File(FileNameOf(row.relpath));
    testing::CopyFile(testing::CorpusDir() + "/" + row.relpath, path);
    std::filesystem::permissions(path, std::filesystem::perms::owner_write,
                                 std::filesystem::perm_options::add);

    Session s;
    testing::RecordingFrontend fe;
    ASSERT_NO_THROW(OpenArchive(s, fe, path, testing::Pick(0)));
    const size_t count = fe.chooser.size();
    long objects = 0;
    int edit_index = -1;
    size_t entry = SIZE_MAX;
    for (size_t i = 0; i < count; ++i) {
      ASSERT_NO_THROW(OpenArchive(s, fe, path, testing::Pick(static_cast<int>(i)))) << i;
      if (s.Asset.RawSingleFile) continue;
      objects += s.Asset.ObjectCount;
      if (edit_index >= 0 || fe.chooser[i].find("data.unity3d") != 0) continue;
      for (size_t k = 0; k < s.EntryCount() && entry == SIZE_MAX; ++k)
        if (s.EntryClass(k) == kClassTextAsset ||
            (!s.HasEmbeddedPayload(k) && s.PayloadSize(k) >= 8 && s.PayloadSize(k) < (1u << 20)))
          entry = k;
      if (entry != SIZE_MAX) edit_index = static_cast<int>(i);
    }
    CloseArchive(s);
    EXPECT_EQ(objects, row.object_count);
    ASSERT_GE(edit_index, 0);

    const std::map<std::string, Bytes> before = Extracted(path, tmp.File("before/"));
    const Bytes container = Unwrapped(testing::CorpusDir() + "/" + row.relpath, WrapperOf(row));
    EXPECT_EQ(before.size(), count);
    for (const auto& [name, bytes] : before) {
      if (name.find("data.unity3d/") != 0) {
        EXPECT_NE(std::search(container.begin(), container.end(),
                              std::boyer_moore_horspool_searcher(bytes.begin(), bytes.end())),
                  container.end())
            << name;
      } else if (!EndsWith(name, ".resS") && !EndsWith(name, ".resource")) {
        // An asset file states its own length (format 22 and later as 64 bits at 24).
        ASSERT_GE(bytes.size(), 32u) << name;
        const bool wide = Get32(bytes.data() + 8, ByteOrder::Big) >= 22;
        EXPECT_EQ(wide ? Get64(bytes.data() + 24, ByteOrder::Big)
                       : Get32(bytes.data() + 4, ByteOrder::Big),
                  bytes.size())
            << name;
      }
    }

    // An object's bytes changed, then put back: two commits through the wrapper.
    ASSERT_NO_THROW(OpenArchive(s, fe, path, testing::Pick(edit_index)));
    FileSource source(s.Archive.ArchivePath);
    Bytes original(s.PayloadSize(entry));
    source.ReadAt(s.PayloadOffset(entry), original.data(), original.size());
    const std::string folder = ExportFolder(s.Archive);
    const std::string file = folder + std::string(s.EntryName(entry));
    CreateFolders(folder);
    Bytes changed = original;
    changed.push_back(0x5A);
    testing::WriteFileBytes(file, changed);
    ASSERT_NO_THROW(ImportAll(s, ImportRequest(), fe, StandardImportConverters()));
    testing::WriteFileBytes(file, original);
    ASSERT_NO_THROW(ImportAll(s, ImportRequest(), fe, StandardImportConverters()));
    CloseArchive(s);
    EXPECT_TRUE(fe.errors.empty()) << fe.errors.front();

    const Bytes head = testing::ReadFileBytes(path);
    EXPECT_EQ(head[0] == 0x1F && head[1] == 0x8B, WrapperOf(row) == StreamWrapper::kGzip);
    EXPECT_EQ(Contains(Bytes(head.begin(), head.begin() + 40), kBrotliMarker),
              WrapperOf(row) == StreamWrapper::kBrotli);
    EXPECT_EQ(Extracted(path, tmp.File("after/")), before);
    ++files;
  }
  EXPECT_EQ(files, 7);
}

}  // namespace
}  // namespace kestrix
