// The import driver against a hostile export folder: raw files of any length and content, named
// like entries or not, imported into a valid archive built by the test builder. The import may
// refuse, but it must not crash, must leave no file behind, and when it succeeds the archive must
// reopen with every replaced payload equal to its raw file.
#include <cstdlib>
#include <filesystem>
#include <set>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/session.h"
#include "formats/archive_open.h"
#include "import/import_driver.h"
#include "platform/byte_source.h"
#include "platform/io_error.h"
#include "support.h"
#include "support/asset_builder.h"
#include "support/payloads.h"

namespace {

namespace fs = std::filesystem;
using namespace kestrix;
using testing::Bytes;

Bytes Archive(uint8_t choice) {
  static const uint32_t kFormats[] = {9, 14, 15, 16, 17, 7, 8, 19, 21, 22};
  const bool big = choice & 0x80;
  testing::AssetSpec desc;
  desc.format = kFormats[(choice & 0x7F) % (sizeof kFormats / sizeof kFormats[0])];
  desc.big_endian = big;
  desc.unity_version = desc.format <= 9 ? "4.3.2f1" : "5.6.3f1";
  desc.objects = {{49, testing::TextObject("readme", "hello", big)},
                  {21, testing::NamedObject("Zeta", Bytes(40, 1), big)},
                  {28, testing::TextureObject("Hero", 10, Bytes(64, 0x5A), big)},
                  {-2, Bytes(16, 3)},
                  {128, testing::FontObject("Font", testing::FontLayout::kMarker,
                                            testing::FakeTrueTypeFont(), big)},
                  {152, testing::MovieObject("intro", 16, testing::FakeOggStream(), big)},
                  {186, testing::ProceduralTextureObject("Proc", 12, big)},
                  {48, testing::TextObject("Glow", "Shader {}", big)}};
  return testing::BuildAssetFile(desc);
}

std::set<std::string> FilesBelow(const std::string& folder) {
  std::set<std::string> out;
  std::error_code ec;
  for (auto it = fs::recursive_directory_iterator(folder, ec); !ec && it != fs::end(it);
       it.increment(ec))
    out.insert(it->path().string());
  return out;
}

// Keeps the failures the import reports per file: a refused file is named, and its object stays.
class RefusalsFrontend : public fuzz::QuietFrontend {
 public:
  void ErrorBox(const std::string& text) override { errors += text + "\n"; }
  bool Refused(const std::string& path) const {
    return errors.find(path + ":") != std::string::npos;
  }
  std::string errors;
};

[[noreturn]] void Fail(const char* what) {
  std::fprintf(stderr, "fuzz_import: %s\n", what);
  std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  fuzz::Input in(data, size);
  fuzz::ClearScratch();
  const std::string dir = fuzz::ScratchDir();
  const std::string archive = dir + "/level0";
  const Bytes built = Archive(in.Byte());
  if (!fuzz::WriteScratchFile("level0", built.data(), built.size())) return 0;

  Session s;
  fuzz::QuietFrontend frontend;
  OpenArchive(s, frontend, archive);
  const std::string folder = ExportFolder(s.Archive);
  fs::create_directories(folder);

  // Raw files: a name (an entry's, or one of a few that are not), then length and bytes.
  static const char* kOthers[] = {"stray.bin", "Hero.TEX", "level0", "readme", ".hidden"};
  std::vector<std::pair<std::string, size_t>> written;  // name, entry (or SIZE_MAX)
  for (int k = 0; k < 6; ++k) {
    const uint8_t pick = in.Byte();
    std::string name;
    size_t entry = SIZE_MAX;
    if (pick < 200 && s.EntryCount() > 0) {
      entry = pick % s.EntryCount();
      name = std::string(s.EntryName(entry));
    } else {
      name = kOthers[pick % 5];
    }
    size_t got = 0;
    const uint8_t* bytes = in.Take(in.Le32() % 4096, &got);
    const std::string relative = folder.substr(dir.size() + 1) + name;
    if (!fuzz::WriteScratchFile(relative, bytes, got)) continue;
    written.push_back({name, entry});
  }

  // Whether a payload is an embedded file is decided before the import: an embedded font or
  // movie replaced by an empty file has no embedded file afterwards.
  std::vector<bool> embedded(s.EntryCount());
  for (size_t i = 0; i < s.EntryCount(); ++i) embedded[i] = s.HasEmbeddedPayload(i);
  const std::set<std::string> before = FilesBelow(dir);
  bool imported = false;
  RefusalsFrontend import_frontend;
  try {
    ImportAll(s, ImportRequest(), import_frontend, ImportConverters());
    imported = true;
  } catch (const Error&) {
  }
  // Nothing appears but export's record, nothing goes: no temporary file, nothing outside the
  // two folders.
  std::set<std::string> after = FilesBelow(dir);
  after.erase(folder + ".kestrix-export");
  if (after != before) Fail("the files of the scratch folder changed");
  if (!imported) return 0;

  Session fresh;
  try {
    OpenArchive(fresh, frontend, archive);
  } catch (const std::exception&) {
    Fail("the imported archive does not open");
  }
  if (fresh.EntryCount() != s.EntryCount()) Fail("the entry count changed");
  FileSource source(archive);
  for (const auto& [name, entry] : written) {
    if (entry == SIZE_MAX || import_frontend.Refused(folder + name)) continue;
    // The session the import left must agree with a fresh open.
    if (fresh.EntryOffset(entry) != s.EntryOffset(entry) ||
        fresh.EntrySize(entry) != s.EntrySize(entry))
      Fail("the session does not match the rebuilt archive");
    const Bytes raw = testing::ReadFileBytes(folder + name);
    const uint64_t length = embedded[entry] ? s.Entries[entry].PayloadLength
                                            : uint64_t{s.EntrySize(entry)} - s.HeaderSkip(entry);
    if (length != raw.size()) Fail("a payload does not have its raw file's length");
    Bytes payload(raw.size());
    source.ReadAt(s.PayloadOffset(entry), payload.data(), payload.size());
    if (payload != raw) Fail("a payload is not its raw file");
  }
  return 0;
}
