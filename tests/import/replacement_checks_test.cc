// Replacement textures are checked against what their headers claim before anything is decoded
// or allocated: the real program refuses each lie with a message naming the file, leaves the
// archive as it was and fails the run; memory stays small whatever the file claims; and every
// texture Kestrix itself exports from the corpus still passes the checks.
#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <filesystem>
#include <functional>

#include "export/texture_header.h"
#include "platform/byte_order.h"
#include "platform/paths.h"
#include "support/asset_builder.h"
#include "support/test_env.h"
#include "support/texture_payloads.h"

namespace kestrix {
namespace {

using namespace testing;  // NOLINT: the builder vocabulary
namespace fs = std::filesystem;

void PutLe(Bytes& b, size_t at, uint32_t v) { Put32(b.data() + at, v, ByteOrder::Little); }
void PutBe(Bytes& b, size_t at, uint32_t v, int bytes) {
  for (int i = 0; i < bytes; ++i) b[at + i] = static_cast<uint8_t>(v >> (8 * (bytes - 1 - i)));
}

// The crunch format's CRC-16 in its byte-wise form, written apart from the importer's bit-wise
// one so that the two check each other.
uint16_t Crc16(const uint8_t* p, size_t n) {
  uint16_t crc = 0xFFFF;
  while (n--) {
    const uint16_t q = static_cast<uint16_t>(*p++ ^ (crc >> 8));
    crc = static_cast<uint16_t>(crc << 8);
    uint16_t r = static_cast<uint16_t>((q >> 4) ^ q);
    crc ^= r;
    r = static_cast<uint16_t>(r << 5);
    crc ^= r;
    r = static_cast<uint16_t>(r << 7);
    crc ^= r;
  }
  return static_cast<uint16_t>(~crc);
}

// A crunched file of one level: a 74-byte header with both checksums, then `data`.
Bytes CrnFile(int w, int h, const Bytes& data) {
  Bytes file(74 + data.size(), 0);
  std::copy(data.begin(), data.end(), file.begin() + 74);
  file[0] = 'H', file[1] = 'x';
  PutBe(file, 2, 74, 2);
  PutBe(file, 6, static_cast<uint32_t>(74 + data.size()), 4);
  PutBe(file, 12, static_cast<uint32_t>(w), 2);
  PutBe(file, 14, static_cast<uint32_t>(h), 2);
  file[16] = 1;  // levels
  file[17] = 1;  // faces
  file[18] = 2;  // DXT5
  PutBe(file, 70, 74, 4);
  PutBe(file, 10, Crc16(file.data() + 74, data.size()), 2);
  PutBe(file, 4, Crc16(file.data() + 6, 74 - 6), 2);
  return file;
}

Bytes DdsFile(int32_t format, uint32_t w, uint32_t h, uint32_t levels, size_t data_bytes) {
  const DdsHeader header = BuildDdsHeader(format, 0, 4, 4, levels);
  Bytes file(header.bytes.begin(), header.bytes.end());
  PutLe(file, 12, h);
  PutLe(file, 16, w);
  file.resize(file.size() + data_bytes, 0x33);
  return file;
}

Bytes KtxFile(uint32_t w, uint32_t h, uint32_t levels, const std::vector<uint32_t>& level_sizes) {
  Bytes k(64, 0);
  PutLe(k, 28, 0x9278);  // ETC2 RGBA8
  PutLe(k, 32, 0x1908);
  PutLe(k, 36, w);
  PutLe(k, 40, h);
  PutLe(k, 52, 1);
  PutLe(k, 56, levels);
  for (uint32_t size : level_sizes) {
    k.resize(k.size() + 4);
    PutLe(k, k.size() - 4, size);
    k.resize(k.size() + std::min<uint32_t>(size, 64), 0x44);
  }
  return k;
}

Bytes PvrFile(uint32_t w, uint32_t h, size_t data_bytes) {
  Bytes p(52, 0);
  PutLe(p, 0, 0x03525650);
  PutLe(p, 8, 23);  // ETC2 RGBA8
  PutLe(p, 24, h);
  PutLe(p, 28, w);
  PutLe(p, 32, 1);
  PutLe(p, 36, 1);
  PutLe(p, 40, 1);
  PutLe(p, 44, 1);
  p.resize(p.size() + data_bytes, 0x55);
  return p;
}

// A PNG's signature and header claiming w x h, an empty image and its end: 65 bytes.
Bytes PngClaiming(uint32_t w, uint32_t h) {
  Bytes png = {0x89, 'P', 'N', 'G', '\r', '\n', 0x1A, '\n', 0, 0, 0, 13, 'I', 'H', 'D', 'R'};
  png.resize(png.size() + 8);
  PutBe(png, 16, w, 4);
  PutBe(png, 20, h, 4);
  png.insert(png.end(), {8, 6, 0, 0, 0, 0, 0, 0, 0});  // RGBA 8 bits, then a CRC left 0
  png.insert(png.end(), {0, 0, 0, 8, 'I', 'D', 'A', 'T', 0x78, 0x9C, 3, 0, 0, 0, 0, 1, 0, 0, 0, 0});
  png.insert(png.end(), {0, 0, 0, 0, 'I', 'E', 'N', 'D', 0xAE, 0x42, 0x60, 0x82});
  return png;
}

// An archive with a 16x16 ARGB32 texture (Hero), a 16x16 ETC2 one (Mobile) and a 16x16
// crunched one (Packed), and its export folder.
struct Fixture {
  TempDir dir;
  std::string archive = dir.File("level0");
  std::string textures = dir.File("Unity_Assets_Files/level0/Textures/");
  Bytes original;

  Fixture() {
    AssetSpec desc;
    TextureSpec hero;
    hero.width = hero.height = 16;
    hero.format = 5;
    hero.images = Bytes(16 * 16 * 4, 0x11);
    TextureSpec mobile = hero;
    mobile.format = 47;
    mobile.images = Bytes(256, 0x22);
    TextureSpec packed = hero;
    packed.format = 29;
    packed.images = CrnFile(16, 16, Bytes(40, 0x66));
    desc.objects = {{28, TextureObject("Hero", hero)},
                    {28, TextureObject("Mobile", mobile)},
                    {28, TextureObject("Packed", packed)}};
    original = BuildAssetFile(desc);
    WriteFileBytes(archive, original);
    fs::create_directories(textures);
  }
};

TEST(ReplacementChecks, LyingFilesAreRefusedAndTheArchiveStaysAsItWas) {
  struct Case {
    std::string name;  // in Textures/
    std::function<Bytes()> bytes;
    std::string says;
    std::vector<std::string> args = {};
  };
  const std::vector<Case> cases = {
      {"Hero.tex.dds",
       [] { return DdsFile(5, 65535, 65535, 0, 64); },
       "the DDS claims 65535x65535 pixels, more than 16384 a side.",
       {"-nft"}},
      {"Hero.tex.dds", [] { return DdsFile(5, 1u << 31, 1u << 31, 0, 64); },
       "the DDS claims 2147483648x2147483648 pixels, more than 16384 a side."},
      {"Hero.tex.dds", [] { return DdsFile(5, 0, 16, 0, 0); },
       "the DDS claims 0x16 pixels, a texture has at least 1 a side."},
      {"Hero.tex.dds", [] { return DdsFile(5, 16384, 16384, 0, 0); },
       "the DDS holds 0 bytes of image data; 16384x16384 ARGB32 with 1 level needs 1073741824."},
      {"Hero.tex.dds", [] { return DdsFile(12, 16, 16, 5, 367); },
       "the DDS holds 367 bytes of image data; 16x16 DXT5 with 5 levels needs 368."},
      {"Hero.tex.dds", [] { return DdsFile(5, 16, 16, 0, 1025); },
       "the DDS holds 1025 bytes of image data; 16x16 ARGB32 with 1 level needs 1024, so the file "
       "is longer than its header says."},
      {"Hero.tex.dds", [] { return DdsFile(5, 16, 16, 200, 1024); },
       "the DDS claims 200 mip levels; a 16x16 picture has at most 5."},
      {"Mobile.tex.ktx", [] { return KtxFile(16384, 16384, 1, {}); },
       "the KTX holds 0 bytes of image data; 16384x16384 ETC2_RGBA8 with 1 level needs "
       "268435456."},
      {"Mobile.tex.ktx", [] { return KtxFile(16, 16, 1, {0x7FFFFFF0}); },
       "KTX level 1 claims 2147483632 bytes; 16x16 ETC2_RGBA8 takes 256."},
      {"Mobile.tex.ktx",
       [] {
         return KtxFile(16, 8, 1, {64, 64});
       },
       "KTX level 1 claims 64 bytes; 16x8 ETC2_RGBA8 takes 128."},
      {"Mobile.tex.ktx", [] { return KtxFile(70000, 16, 1, {}); },
       "the KTX claims 70000x16 pixels, more than 16384 a side."},
      {"Mobile.tex.pvr", [] { return PvrFile(16384, 16384, 0); },
       "the PVR holds 0 bytes of image data; 16384x16384 ETC2_RGBA8 with 1 level needs "
       "268435456."},
      {"Mobile.tex.pvr", [] { return PvrFile(16, 16, 257); }, "the PVR holds 257 bytes"},
      {"Hero.tex.png", [] { return PngClaiming(16384, 16384); },
       "the PNG claims 16384x16384 pixels; the texture needs 16x16."},
      {"Hero.tex.png", [] { return Bytes(64, 0x89); }, "it is not a PNG file"},
      {"Packed.tex.crn", [] { return Bytes(); },
       "it is not a crunched file: it has 0 bytes, fewer than a crunched header."},
      {"Packed.tex.crn", [] { return Bytes(300, 0x9D); },
       "it is not a crunched file: it lacks the signature \"Hx\"."},
      {"Packed.tex.crn",
       [] {
         Bytes crn = CrnFile(16, 16, Bytes(40, 0x66));
         crn[20] ^= 1;
         return crn;
       },
       "it is not a crunched file: its header checksum does not match."},
      {"Packed.tex.crn",
       [] {
         Bytes crn = CrnFile(16, 16, Bytes(40, 0x66));
         crn.push_back(0);
         return crn;
       },
       "it is not a crunched file: its header gives 114 bytes, the file has 115."},
      {"Packed.tex.crn",
       [] {
         Bytes crn = CrnFile(16, 16, Bytes(40, 0x66));
         crn.back() ^= 1;
         return crn;
       },
       "it is not a crunched file: its data checksum does not match."},
      {"Packed.tex.crn", [] { return CrnFile(32, 16, Bytes(40, 0x66)); },
       "the crunched file claims 32x16 pixels"},
      {"Hero.tex.crn", [] { return CrnFile(16, 16, Bytes(40, 0x66)); },
       "the texture is ARGB32, not a crunched format; a .crn file cannot replace it."},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name + ": " + c.says);
    Fixture f;
    const std::string path = f.textures + c.name;
    WriteFileBytes(path, c.bytes());
    std::vector<std::string> args = {"import", f.archive};
    args.insert(args.end(), c.args.begin(), c.args.end());
    const RunResult run = RunKestrix(args);
    EXPECT_EQ(run.status, 1) << run.err;
    EXPECT_NE(NativeSeparators(run.err).find(NativeSeparators("Cannot import " + path + ": " + c.says)),
              std::string::npos)
        << run.err;
    EXPECT_TRUE(ReadFileBytes(f.archive) == f.original);
    EXPECT_EQ(ListFiles(f.dir.File("Unity_Assets_Files")),
              std::vector<std::string>{"level0/Textures/" + c.name});
  }
}

// The peak memory of a `kestrix import` of the archive, in bytes, measured by GNU time: a
// process this one starts itself would report this one's peak, which the kernel carries into a
// child when it starts another program, while time's child starts from time's own small one.
uint64_t PeakMemoryOfImport(const std::string& archive, const std::string& report, int* status) {
  const RunResult run =
      RunProgram("/usr/bin/time", {"-f", "%M", "-o", report, KESTRIX_BINARY, "import", archive});
  *status = run.status;
  // A failed command's status comes first ("Command exited with non-zero status 1").
  const Bytes bytes = ReadFileBytes(report);
  std::string text(bytes.begin(), bytes.end());
  while (!text.empty() && text.back() == '\n') text.pop_back();
  return std::stoull(text.substr(text.find_last_of('\n') + 1)) * 1024;
}

#ifndef _WIN32  // measured with /usr/bin/time
TEST(ReplacementChecks, MemoryFollowsTheEntryNotTheClaim) {
  struct Case {
    std::string name;
    std::function<void(const std::string& path)> make;
  };
  const std::vector<Case> cases = {
      {"Hero.tex.png",
       [](const std::string& path) { WriteFileBytes(path, PngClaiming(16384, 16384)); }},
      // A sparse gigabyte behind the header that the entry itself exports.
      {"Hero.tex.dds",
       [](const std::string& path) {
         WriteFileBytes(path, DdsFile(5, 16, 16, 0, 1024));
         ASSERT_EQ(::truncate(path.c_str(), off_t{1} << 30), 0);
       }},
  };
  if (!fs::exists("/usr/bin/time")) GTEST_SKIP() << "GNU time is not installed";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Fixture f;
    c.make(f.textures + c.name);
    int status = 0;
    const uint64_t peak = PeakMemoryOfImport(f.archive, f.dir.File("peak.txt"), &status);
    EXPECT_EQ(status, 1);
    EXPECT_LT(peak, (uint64_t{64} << 20) + f.original.size()) << peak;
    EXPECT_TRUE(ReadFileBytes(f.archive) == f.original);
    std::printf("%s refused at a peak of %.1f MB\n", c.name.c_str(),
                static_cast<double>(peak) / (1 << 20));
  }
}
#endif

// Every texture Kestrix exports from the corpus (plain files and bundles) as DDS, KTX, PVR, PNG or
// CRN passes the checks when it comes back: the import of the whole folder succeeds.
TEST(Corpus, ExportedTexturesPassTheReplacementChecks) {
  if (CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  int archives = 0;
  size_t files = 0;
  for (const CorpusRow& row : CorpusManifest()) {
    const bool textures = row.classes_present.find("28x") != std::string::npos ||
                          row.classes_present.find("89x") != std::string::npos;
    if (!textures || (!IsHandledPlainFile(row) && !IsReadableBundle(row))) continue;
    SCOPED_TRACE(row.relpath);
    TempDir tmp;
    std::string path = CorpusArchiveToOpen(row, tmp);
    if (path.rfind(tmp.Path() + "/", 0) != 0) {
      const std::string copy = tmp.File(fs::path(path).filename().string());
      CopyFile(path, copy);
      fs::permissions(copy, fs::perms::owner_write, fs::perm_options::add);
      path = copy;
    }
    const std::string out = tmp.File("out");
    RunResult exported = RunKestrix({"export", path, "-p", out, "-t", "dds,ktx,pvr,png,crn"});
    ASSERT_EQ(exported.signal, 0);
    std::vector<std::string> listed = ListFiles(out);
    if (listed.empty()) continue;
    files += listed.size();
    RunResult imported = RunKestrix({"import", path, "-p", out});
    EXPECT_EQ(imported.status, 0) << imported.err;
    ++archives;
  }
  EXPECT_GE(archives, 10);
  std::printf("%d archives, %zu exported texture files imported\n", archives, files);
}

}  // namespace
}  // namespace kestrix
