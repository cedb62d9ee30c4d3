// The import driver on built archives. The strongest check: importing raw files gives exactly
// the file the builder makes from the edited objects, in every format and byte order, and the
// session then equals a fresh open of it. Then candidate listing, the converter runs, and
// failures that must leave the archive and the session untouched.
#include "import/import_driver.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <filesystem>
#include <functional>
#include <map>

#include "core/error.h"
#include "core/session.h"
#include "formats/archive_open.h"
#include "import/replacement_discovery.h"
#include "platform/byte_source.h"
#include "platform/io_error.h"
#include "platform/paths.h"
#include "platform/rollback_journal.h"
#include "platform/sys.h"
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

#ifndef _WIN32  // mingw's <sys/stat.h>, which gtest includes first, renames stat
uint64_t InodeOf(const std::string& path) {
  sys::Stat st{};
  EXPECT_EQ(sys::stat(path.c_str(), &st), 0) << path;
  return st.st_ino;
}
#endif

TEST(ImportAll, RebuildIsTheFileBuiltFromTheEditedObjects) {
  struct Case {
    const char* what;
    std::map<size_t, Bytes> raw;  // entry -> new payload
    int64_t net;
    size_t lines;   // objects written
    bool in_place;  // no object changes its stored size: written over the old bytes
  };
  const std::vector<Case> cases = {
      {"same size in place", {{1, Bytes(40, 0x77)}}, 0, 1, true},
      {"two shrinks", {{1, Bytes(32, 0x55)}, {3, Bytes()}}, -24, 2, false},
      {"a shrink before a growth", {{1, Bytes()}, {4, Bytes(132, 0x66)}}, 60, 2, false},
      {"text of 5 to 6 bytes keeps its padded size", {{0, Text("hello!")}}, 0, 1, true},
      {"text and two objects of the same sizes",
       {{0, Text("HELLO")}, {2, Bytes(24, 0x31)}, {4, Bytes(32, 0x32)}},
       0,
       3,
       true},
      {"a growth and a shrink that cancel out",
       {{1, Bytes(48, 5)}, {2, Bytes(16, 6)}},
       0,
       2,
       false},
      {"text past its padding and a growth",
       {{0, Text("hello world!!")}, {2, Bytes(32, 9)}},
       16,
       2,
       false},
      {"every object",
       {{0, Text("")}, {1, Bytes(48, 1)}, {2, Bytes(8, 2)}, {3, Bytes(16, 3)}, {4, Bytes(0, 4)}},
       -8 - 16 + 8 - 32,
       5,
       false},
      // Later objects keep their 8-byte alignment behind fresh zero padding (the text grows
      // into its old padding); the last object needs none.
      {"odd changes keep the later objects aligned",
       {{0, Text("hello world")}, {1, Bytes(77, 1)}, {3, Bytes(3, 2)}, {4, Bytes(33, 3)}},
       0 + 40 - 8 + 1,
       4,
       false},
  };
  for (uint32_t format : {6u, 7u, 8u, 9u, 14u, 15u, 16u, 17u, 18u, 19u, 20u, 21u, 22u}) {
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
#ifndef _WIN32
        const uint64_t inode = InodeOf(o.Archive());
#endif
        ImportResult r = ImportAll(o.s, ImportRequest(), o.fe, ImportConverters());
        EXPECT_EQ(ReadFileBytes(o.Archive()), BuildAssetFile(SpecOf(after, format, big))) << what;
        EXPECT_EQ(r.in_place, c.in_place) << what;
        EXPECT_EQ(r.rebuilt, !c.in_place) << what;
#ifndef _WIN32
        EXPECT_EQ(InodeOf(o.Archive()) == inode, c.in_place) << what;
#endif
        EXPECT_FALSE(std::filesystem::exists(JournalPathFor(o.Archive()))) << what;
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

// The bytes that pad an embedded text are not always zeros (a file another tool wrote):
// importing the exported payload unchanged must keep them.
TEST(ImportAll, AnUnchangedEmbeddedPayloadKeepsTheBytesPastItsLength) {
  ByteWriter shader;
  shader.U32(5).Text("hello").Text("XYZ").U32(77);
  AssetSpec desc;
  desc.format = 15;
  desc.unity_version = "5.4.6f3";  // a shader that holds its text
  desc.objects = {{48, NamedObject("Shady", shader.Data())}, {21, NamedObject("Zeta", Bytes(8))}};
  const Bytes original = BuildAssetFile(desc);
  Opened o;
  o.Open(original);
  ASSERT_EQ(o.s.PayloadSize(0), 5u);
  o.Raw(0, Text("hello"));
  ImportAll(o.s, ImportRequest(), o.fe, ImportConverters());
  EXPECT_EQ(ReadFileBytes(o.Archive()), original);
}

// Kills itself (no destructor, no cleanup) at the `kill_at`-th pause of the run, as a power
// cut or an OOM kill would.
class KillingFrontend : public RecordingFrontend {
 public:
  explicit KillingFrontend(int kill_at) : kill_at_(kill_at) { window = true; }
  void ProcessMessages() override {
    if (++calls_ == kill_at_) ::raise(SIGKILL);
  }

 private:
  int kill_at_;
  int calls_ = 0;
};

#ifndef _WIN32  // fork(); on Windows commit_test kills a child at each step
// An in-place import killed at each of its pauses (before the journal, after it, between the
// regions): the next open finds the old archive, or the new one once the run got through.
// Then the journals an open may find: one cut short or damaged was written before the archive
// was touched and is removed; one stating another length than the file has refuses the open.
TEST(ImportAll, AKilledInPlaceImportIsRolledBackByTheNextOpen) {
  const Objects before;
  Objects after = before;
  after.text = "HELLO";
  after.zeta = Bytes(40, 0x41);
  after.last = Bytes(32, 0x42);
  const Bytes original = BuildAssetFile(SpecOf(before, 17, false));
  const Bytes edited = BuildAssetFile(SpecOf(after, 17, false));
  Opened o;
  o.Open(original);
  o.Raw(0, Text(after.text));
  o.Raw(1, after.zeta);
  o.Raw(4, after.last);
  const std::string journal = JournalPathFor(o.Archive());
  Bytes left_journal;
  int rolled_back = 0, half_written = 0;
  bool finished = false;
  for (int kill_at = 1; !finished && kill_at < 64; ++kill_at) {
    const std::string what = "kill at pause " + std::to_string(kill_at);
    WriteFileBytes(o.Archive(), original);
    Session s;
    RecordingFrontend quiet;
    OpenArchive(s, quiet, o.Archive());
    const pid_t pid = ::fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) {
      KillingFrontend fe(kill_at);
      try {
        ImportAll(s, ImportRequest(), fe, ImportConverters());
      } catch (...) {
        ::_exit(2);
      }
      ::_exit(0);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    const bool killed = WIFSIGNALED(status);
    finished = !killed;
    if (!killed) {
      ASSERT_EQ(WEXITSTATUS(status), 0) << what;
      EXPECT_EQ(ReadFileBytes(o.Archive()), edited) << what;
      EXPECT_FALSE(std::filesystem::exists(journal)) << what;
      continue;
    }
    const Bytes now = ReadFileBytes(o.Archive());
    const bool has_journal = std::filesystem::exists(journal);
    if (!has_journal) {
      EXPECT_EQ(now, original) << what << ": touched without a journal";
    }
    if (has_journal) left_journal = ReadFileBytes(journal);
    half_written += now != original && now != edited;
    RecordingFrontend fe;
    OpenArchive(s, fe, o.Archive());
    EXPECT_EQ(ReadFileBytes(o.Archive()), original) << what;
    EXPECT_FALSE(std::filesystem::exists(journal)) << what;
    EXPECT_EQ(fe.messages.size(), has_journal ? 1u : 0u) << what;
    if (has_journal && !fe.messages.empty()) {
      EXPECT_NE(fe.messages[0].find("rolled back"), std::string::npos) << fe.messages[0];
      ++rolled_back;
    }
  }
  EXPECT_TRUE(finished);
  // Kills after the journal was flushed: right after it, after the first region, the second.
  EXPECT_GE(rolled_back, 3);
  EXPECT_GE(half_written, 2);
  ASSERT_FALSE(left_journal.empty());

  struct Left {
    const char* what;
    std::function<void(Bytes& journal, Bytes& archive)> change;
    bool refused;
  };
  const std::vector<Left> cases = {
      {"cut short by one byte", [](Bytes& j, Bytes&) { j.pop_back(); }, false},
      {"only its header", [](Bytes& j, Bytes&) { j.resize(24); }, false},
      {"an old byte changed", [](Bytes& j, Bytes&) { j[40] ^= 1; }, false},
      {"a longer file", [](Bytes&, Bytes& a) { a.push_back(0); }, true},
      {"a shorter file", [](Bytes&, Bytes& a) { a.resize(a.size() - 4); }, true},
  };
  for (const Left& c : cases) {
    Bytes j = left_journal, archive = edited;
    c.change(j, archive);
    WriteFileBytes(o.Archive(), archive);
    WriteFileBytes(journal, j);
    Session s;
    RecordingFrontend fe;
    try {
      OpenArchive(s, fe, o.Archive());
      EXPECT_FALSE(c.refused) << c.what << ": opened";
    } catch (const Error& e) {
      EXPECT_TRUE(c.refused) << c.what << ": " << e.what();
      EXPECT_NE(std::string(e.what()).find("something else changed it"), std::string::npos)
          << e.what();
    }
    EXPECT_EQ(ReadFileBytes(o.Archive()), archive) << c.what;
    EXPECT_TRUE(fe.messages.empty()) << c.what;
    EXPECT_EQ(std::filesystem::exists(journal), c.refused) << c.what;
    if (c.refused) {
      EXPECT_EQ(ReadFileBytes(journal), j) << c.what;
    }
  }
}
#endif

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
  EXPECT_EQ(log.calls, NativeLines({
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

TEST(ImportAll, RefusedFilesAreReportedAndRefusedImportsLeaveTheArchiveAsItWas) {
  Objects objects;
  const Bytes original = BuildAssetFile(SpecOf(objects, 17, false));
  Objects zeta_edited = objects;
  zeta_edited.zeta = Bytes(8, 1);
  struct Case {
    const char* what;
    std::function<void(Opened&)> prepare;
    const char* message;  // a part of the error text
    bool whole;           // the import as a whole is refused; else the file alone
    Bytes result;         // the archive afterwards
  };
  auto sparse = [](const std::string& path, uint64_t size) {
    WriteFileBytes(path, Bytes());
    std::filesystem::resize_file(path, size);
  };
  const std::vector<Case> cases = {
      // A file that does not fit its object is named; the other files still go in.
#ifndef _WIN32  // a dangling link: mingw makes no links
      {"a raw file that cannot be read",
       [](Opened& o) {
         o.Raw(1, Bytes(8, 1));
         std::filesystem::create_symlink(o.dir.File("gone"), o.Folder() + "Last.mat");
       },
       "Last.mat", false, BuildAssetFile(SpecOf(zeta_edited, 17, false))},
#endif
      {"an object past its 32-bit size field",
       [&](Opened& o) { sparse(o.Folder() + "Zeta.mat", uint64_t{1} << 32); }, "32-bit size", false,
       original},
      {"an embedded file past its 32-bit length field",
       [&](Opened& o) { sparse(o.Folder() + "readme.txt", uint64_t{1} << 32); }, "32-bit length",
       false, original},
      // Files that fit alone but not together: nothing is written.
      {"a file past the header's 32-bit size field",
       [&](Opened& o) {
         o.Raw(2, Bytes(8, 1));
         sparse(o.Folder() + "Zeta.mat", 0xFFFFFF00u);
       },
       "header's 32-bit size", true, original},
  };
  for (const Case& c : cases) {
    Opened o;
    o.Open(original);
    c.prepare(o);
    std::vector<std::string> files_before = ListFiles(o.dir.Path());
    try {
      ImportAll(o.s, ImportRequest(), o.fe, ImportConverters());
      EXPECT_FALSE(c.whole) << c.what << ": imported";
      ASSERT_EQ(o.fe.errors.size(), 1u) << c.what;
      EXPECT_NE(o.fe.errors[0].find(c.message), std::string::npos)
          << c.what << ": " << o.fe.errors[0];
    } catch (const std::exception& e) {
      EXPECT_TRUE(c.whole) << c.what << ": " << e.what();
      EXPECT_NE(std::string(e.what()).find(c.message), std::string::npos)
          << c.what << ": " << e.what();
      EXPECT_EQ(ListFiles(o.dir.Path()), files_before) << c.what << ": a file was left behind";
    }
    EXPECT_EQ(ReadFileBytes(o.Archive()), c.result) << c.what;
    ExpectSessionIsFreshOpen(o.s, o.Archive(), c.what);
    EXPECT_EQ(o.fe.enables, (std::vector<bool>{false, true})) << c.what;
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
