// The import driver on built archives. The strongest check: importing raw files gives exactly
// the file the builder makes from the edited objects, in every format and byte order, and the
// session then equals a fresh open of it. Then candidate listing, the converter runs, and
// failures that must leave the archive and the session untouched.
#include "import/import_driver.h"

#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <map>

#include "core/error.h"
#include "core/session.h"
#include "formats/archive_open.h"
#include "import/replacement_discovery.h"
#include "platform/byte_source.h"
#include "platform/io_error.h"
#include "support/asset_builder.h"
#include "support/payloads.h"
#include "support/test_env.h"

namespace kestrix {
namespace {

using namespace testing;  // NOLINT: the builder vocabulary

// Objects whose sizes are multiples of 8, so that the builder puts no padding between them and
// a file built from edited objects is what an import must produce.
struct Objects {
  std::string text = "hello";
  Bytes zeta = Bytes(40, 0x21), beta = Bytes(24, 0x22), gam = Bytes(16, 0x23),
        last = Bytes(32, 0x24);
};

AssetSpec SpecOf(const Objects& o, uint32_t format, bool big) {
  AssetSpec desc;
  desc.format = format;
  desc.big_endian = big;
  desc.unity_version = format <= 9 ? "4.3.2f1" : "5.6.3f1";
  desc.objects = {{49, TextObject("readme", o.text, big)},
                  {21, NamedObject("Zeta", o.zeta, big)},
                  {21, NamedObject("Beta", o.beta, big)},
                  {21, NamedObject("Gam", o.gam, big)},
                  {21, NamedObject("Last", o.last, big)}};
  return desc;
}

Bytes Text(const std::string& s) { return Bytes(s.begin(), s.end()); }

struct Opened {
  TempDir dir;
  Session s;
  RecordingFrontend fe;
  std::string Archive() const { return dir.File("level0"); }
  std::string Folder() const { return dir.File("Unity_Assets_Files/level0/"); }
  void Open(const Bytes& file) {
    WriteFileBytes(Archive(), file);
    OpenArchive(s, fe, Archive());
    fe = RecordingFrontend();
    std::filesystem::create_directories(Folder());
  }
  void Raw(size_t entry, const Bytes& bytes) {
    WriteFileBytes(Folder() + std::string(s.EntryName(entry)), bytes);
  }
};

// What a reopen of the file shows must be what the import left in the session.
void ExpectSessionIsFreshOpen(const Session& s, const std::string& path, const std::string& what) {
  Session fresh;
  RecordingFrontend quiet;
  OpenArchive(fresh, quiet, path);
  ASSERT_EQ(fresh.EntryCount(), s.EntryCount()) << what;
  EXPECT_EQ(fresh.Asset.AssetFileSize, s.Asset.AssetFileSize) << what;
  for (size_t i = 0; i < s.EntryCount(); ++i) {
    EXPECT_EQ(fresh.EntryOffset(i), s.EntryOffset(i)) << what << " entry " << i;
    EXPECT_EQ(fresh.EntrySize(i), s.EntrySize(i)) << what << " entry " << i;
    EXPECT_EQ(fresh.PayloadSize(i), s.PayloadSize(i)) << what << " entry " << i;
    EXPECT_EQ(fresh.Entries.TypeText(i), s.Entries.TypeText(i)) << what << " entry " << i;
  }
}

TEST(ImportAll, RebuildIsTheFileBuiltFromTheEditedObjects) {
  struct Case {
    const char* what;
    std::map<size_t, Bytes> raw;  // entry -> new payload
    int64_t net;
    size_t lines;  // objects written
  };
  const std::vector<Case> cases = {
      {"same size in place", {{1, Bytes(40, 0x77)}}, 0, 1},
      {"two shrinks", {{1, Bytes(32, 0x55)}, {3, Bytes()}}, -24, 2},
      {"a shrink before a growth", {{1, Bytes()}, {4, Bytes(132, 0x66)}}, 60, 2},
      {"text of 5 to 6 bytes keeps its padded size", {{0, Text("hello!")}}, 0, 1},
      {"text past its padding and a growth",
       {{0, Text("hello world!!")}, {2, Bytes(32, 9)}},
       16,
       2},
      {"every object",
       {{0, Text("")}, {1, Bytes(48, 1)}, {2, Bytes(8, 2)}, {3, Bytes(16, 3)}, {4, Bytes(0, 4)}},
       -8 - 16 + 8 - 32,
       5},
  };
  for (uint32_t format : {9u, 14u, 15u, 16u, 17u}) {
    for (bool big : {false, true}) {
      for (const Case& c : cases) {
        const std::string what =
            std::string(c.what) + ", format " + std::to_string(format) + (big ? " big-endian" : "");
        const Objects before;
        Objects after = before;
        for (const auto& [entry, bytes] : c.raw) {
          Bytes* object[] = {nullptr, &after.zeta, &after.beta, &after.gam, &after.last};
          if (entry == 0) {
            after.text.assign(bytes.begin(), bytes.end());
          } else {
            *object[entry] = bytes;
          }
        }
        const Bytes original = BuildAssetFile(SpecOf(before, format, big));
        Opened o;
        o.Open(original);
        for (const auto& [entry, bytes] : c.raw) o.Raw(entry, bytes);
        ImportResult r = ImportAll(o.s, ImportRequest(), o.fe, ImportConverters());
        EXPECT_EQ(ReadFileBytes(o.Archive()), BuildAssetFile(SpecOf(after, format, big))) << what;
        EXPECT_EQ(r.net_change, c.net) << what;
        EXPECT_EQ(o.fe.lines.size(), c.lines) << what;
        EXPECT_TRUE(o.fe.messages.empty() && o.fe.errors.empty()) << what;
        ExpectSessionIsFreshOpen(o.s, o.Archive(), what);

        // The session is ready for the next import: the old payloads put back give the old file.
        for (const auto& [entry, bytes] : c.raw) {
          (void)bytes;
          const Bytes* object[] = {nullptr, &before.zeta, &before.beta, &before.gam, &before.last};
          o.Raw(entry, entry == 0 ? Text(before.text) : *object[entry]);
        }
        ImportAll(o.s, ImportRequest(), o.fe, ImportConverters());
        EXPECT_EQ(ReadFileBytes(o.Archive()), original) << what << ", imported back";
      }
    }
  }
}

// Newer engines' parsed shaders look like texts whose "length" is a count: the bytes after it
// are data, not padding, and importing the exported payload unchanged must keep them.
TEST(ImportAll, AnUnchangedEmbeddedPayloadKeepsTheBytesPastItsLength) {
  ByteWriter shader;
  shader.U32(5).Text("hello").Text("XYZ").U32(77);
  AssetSpec desc;
  desc.objects = {{48, NamedObject("Shady", shader.Data())}, {21, NamedObject("Zeta", Bytes(8))}};
  const Bytes original = BuildAssetFile(desc);
  Opened o;
  o.Open(original);
  ASSERT_EQ(o.s.PayloadSize(0), 5u);
  o.Raw(0, Text("hello"));
  ImportAll(o.s, ImportRequest(), o.fe, ImportConverters());
  EXPECT_EQ(ReadFileBytes(o.Archive()), original);
}

TEST(ImportAll, TypeWordsChooseTheCandidatesAndUnknownFilesAreReported) {
  AssetSpec desc;
  desc.objects = {{28, TextureObject("Hero", 10)},  // Hero.tex
                  {-2, Bytes(16, 0x31)},            // a script object: level0_00002.-2
                  {21, NamedObject("Zeta", Bytes(8, 1))}};
  struct Case {
    bool filter;
    std::vector<std::string> words;
    std::vector<size_t> changed;
  };
  const std::vector<Case> cases = {{false, {}, {0, 1, 2}},
                                   {true, {"tex"}, {0}},
                                   {true, {"114"}, {1}},
                                   {true, {"tex", "114", "tex"}, {0, 1}},
                                   {true, {"28"}, {}}};
  for (const Case& c : cases) {
    const std::string what =
        c.filter ? c.words.front() + " ... (" + std::to_string(c.words.size()) + " words)"
                 : "no -t";
    Opened o;
    o.Open(BuildAssetFile(desc));
    std::vector<uint32_t> sizes;
    for (size_t i = 0; i < 3; ++i) sizes.push_back(o.s.EntrySize(i));
    // Each raw file grows its object by 8 bytes; the texture's now says format 12 (DXT5).
    ByteWriter texture;
    texture.U32(4).U32(4).U32(16).U32(12).Zeros(o.s.PayloadSize(0) - 16 + 8);
    o.Raw(0, texture.Data());
    o.Raw(1, Bytes(24, 0x32));
    o.Raw(2, Bytes(16, 0x33));
    WriteFileBytes(o.Folder() + "level0_00012.114", Bytes(4, 0));
    WriteFileBytes(o.Folder() + "Notes.tex", Bytes(4, 0));

    ImportRequest request;
    request.TypeFilterGiven = c.filter;
    request.TypeWords = c.words;
    ImportResult r = ImportAll(o.s, request, o.fe, ImportConverters());
    EXPECT_EQ(r.net_change, static_cast<int64_t>(8 * c.changed.size())) << what;
    for (size_t i = 0; i < 3; ++i) {
      const bool changed = std::count(c.changed.begin(), c.changed.end(), i) != 0;
      EXPECT_EQ(o.s.EntrySize(i), sizes[i] + (changed ? 8 : 0)) << what << " entry " << i;
    }
    const bool tex_listed = !c.filter || std::count(c.words.begin(), c.words.end(), "tex");
    EXPECT_EQ(o.s.Entries.TypeText(0),
              tex_listed ? "Texture2D id: 12 - DXT5" : "Texture2D id: 10 - DXT1")
        << what;
    // Files that name no entry are reported once each and change nothing.
    std::vector<std::string> expected;
    if (!c.filter)
      expected.push_back("File not found in archive: Notes.tex\r\nAnd it will be skipped.");
    if (!c.filter)
      expected.push_back("File not found in archive: level0_00012.114\r\nAnd it will be skipped.");
    if (c.filter && tex_listed)
      expected.push_back("File not found in archive: Notes.tex\r\nAnd it will be skipped.");
    EXPECT_EQ(o.fe.messages, expected) << what;
    ExpectSessionIsFreshOpen(o.s, o.Archive(), what);
  }
}

// Test importers: each records its call and writes the source file's bytes, with a mark of the
// run, as the raw object file.
struct ConverterLog {
  std::vector<std::string> calls;
};
ConverterLog* g_log = nullptr;

void WriteRaw(const ImporterCall& call, const std::string& mark) {
  Bytes bytes = ReadFileBytes(call.source_path);
  bytes.insert(bytes.end(), mark.begin(), mark.end());
  WriteFileBytes(call.output_root + call.relative_path, bytes);
  g_log->calls.push_back(mark + " " + call.source_path.substr(call.output_root.size()) + " @" +
                         std::to_string(call.payload_start) + "+" +
                         std::to_string(call.payload_size));
}
void Dds(const ImporterCall& call, ImporterContext&) { WriteRaw(call, "dds"); }
void Ktx(const ImporterCall& call, ImporterContext&) { WriteRaw(call, "ktx"); }
void Audio(const ImporterCall& call, ImporterContext&, const std::string& folder,
           const std::string& resource) {
  WriteRaw(call, "snd:" + folder + ":" + resource);
}

TEST(ImportAll, ConvertersRunInOrderOnMatchingSourcesBeforeTheImport) {
  AssetSpec desc;
  desc.objects = {{28, TextureObject("Hero", 10)}, {83, EmbeddedAudioObject("Boom")}};
  Opened o;
  o.Open(BuildAssetFile(desc));
  const std::string hero = std::to_string(o.s.PayloadOffset(0)) + "+" +
                           std::to_string(o.s.EntrySize(0) - o.s.HeaderSkip(0));
  const std::string boom = std::to_string(o.s.PayloadOffset(1)) + "+" +
                           std::to_string(o.s.EntrySize(1) - o.s.HeaderSkip(1));
  const std::string f = o.Folder();
  for (const char* source : {"Textures/Hero.tex.dds", "Textures/res_level0/Hero.tex.dds",
                             "Textures/Hero.tex.KTX", "Textures/hero.tex.dds", "Textures/Hero.dds",
                             "Textures/Hero.tex.crn", "Sounds/Boom.snd.ogg", "Sounds/readme.txt"}) {
    std::filesystem::create_directories(std::filesystem::path(f + source).parent_path());
    WriteFileBytes(f + source, Bytes(24, 0x41));
  }
  ConverterLog log;
  g_log = &log;
  ImportConverters converters;
  converters.dds = Dds;
  converters.ktx = Ktx;  // no CRN importer: its run is left out
  converters.audio = Audio;
  ImportAll(o.s, ImportRequest(), o.fe, converters);
  g_log = nullptr;
  const std::string p = "Unity_Assets_Files/level0/";
  EXPECT_EQ(log.calls, (std::vector<std::string>{
                           "dds " + p + "Textures/Hero.tex.dds @" + hero,
                           "dds " + p + "Textures/res_level0/Hero.tex.dds @" + hero,
                           "ktx " + p + "Textures/Hero.tex.KTX @" + hero,
                           "snd:level0:level0.resS " + p + "Sounds/Boom.snd.ogg @" + boom,
                       }));
  // The last run wins, and its raw file is what the import put into the archive.
  Bytes expected(24, 0x41);
  for (char ch : std::string("ktx")) expected.push_back(static_cast<uint8_t>(ch));
  Bytes payload(o.s.EntrySize(0) - o.s.HeaderSkip(0));
  FileSource(o.Archive()).ReadAt(o.s.PayloadOffset(0), payload.data(), payload.size());
  EXPECT_EQ(payload, expected);
}

TEST(ImportAll, RefusedImportsLeaveTheArchiveAndTheSessionAsTheyWere) {
  Objects objects;
  const Bytes original = BuildAssetFile(SpecOf(objects, 17, false));
  struct Case {
    const char* what;
    std::function<void(Opened&)> prepare;
    const char* message;  // a part of the error text
  };
  auto sparse = [](const std::string& path, uint64_t size) {
    WriteFileBytes(path, Bytes());
    ASSERT_EQ(::truncate(path.c_str(), static_cast<off_t>(size)), 0);
  };
  const std::vector<Case> cases = {
      {"a raw file that cannot be read",
       [](Opened& o) {
         o.Raw(1, Bytes(8, 1));
         std::filesystem::create_symlink(o.dir.File("gone"), o.Folder() + "Last.mat");
       },
       "Cannot read file"},
      {"an object past its 32-bit size field",
       [&](Opened& o) { sparse(o.Folder() + "Zeta.mat", uint64_t{1} << 32); }, "32-bit size"},
      {"a file past the header's 32-bit size field",
       [&](Opened& o) {
         o.Raw(2, Bytes(8, 1));
         sparse(o.Folder() + "Zeta.mat", 0xFFFFFF00u);
       },
       "header's 32-bit size"},
      {"an embedded file past its 32-bit length field",
       [&](Opened& o) { sparse(o.Folder() + "readme.txt", uint64_t{1} << 32); }, "32-bit length"},
  };
  for (const Case& c : cases) {
    Opened o;
    o.Open(original);
    c.prepare(o);
    const bool read_only = c.message == std::string("read-only");
    std::vector<std::string> files_before = ListFiles(o.dir.Path());
    try {
      ImportAll(o.s, ImportRequest(), o.fe, ImportConverters());
      ADD_FAILURE() << c.what << ": imported";
    } catch (const std::exception& e) {
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << c.what << ": " << e.what();
    }
    EXPECT_EQ(ReadFileBytes(o.Archive()), original) << c.what;
    EXPECT_EQ(ListFiles(o.dir.Path()), files_before) << c.what << ": a file was left behind";
    ExpectSessionIsFreshOpen(o.s, o.Archive(), c.what);
    // Read-only is refused before the commands are disabled; the others after the listing.
    const std::vector<bool> enables =
        read_only ? std::vector<bool>() : std::vector<bool>{false, true};
    EXPECT_EQ(o.fe.enables, enables) << c.what;
  }

  // A raw single file has no object table to import into.
  Opened ogg;
  Bytes sound = {'O', 'g', 'g', 'S', 0, 2};
  sound.resize(64, 7);
  ogg.Open(sound);
  EXPECT_THROW(ImportAll(ogg.s, ImportRequest(), ogg.fe, ImportConverters()), Error);
}

}  // namespace
}  // namespace kestrix
