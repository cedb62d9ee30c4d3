// The command line's import, run as the real program: its folder rule and lines, a kill at any
// moment of an import, and the round trip of real archives (export raw, import unchanged:
// byte-identical; a longer text: every other object unchanged).
#include <gtest/gtest.h>
#ifndef _WIN32
#include <fcntl.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <chrono>
#include <filesystem>
#include <random>
#include <thread>

#include "core/session.h"
#include "formats/archive_open.h"
#include "platform/byte_source.h"
#include "platform/paths.h"
#include "support/asset_builder.h"
#include "support/payloads.h"
#include "support/test_env.h"

#ifndef _WIN32
extern char** environ;
#endif

namespace kestrix {
namespace {

using namespace testing;  // NOLINT: the builder vocabulary
namespace fs = std::filesystem;

TEST(ImportTask, NeedsTheExportFolderAndPrintsEachWrittenObject) {
  TempDir dir;
  AssetSpec desc;
  desc.objects = {{21, NamedObject("Zeta", Bytes(40, 1))}, {28, TextureObject("Hero", 10)}};
  const std::string archive = dir.File("level0");
  WriteFileBytes(archive, BuildAssetFile(desc));
  RunResult missing = RunKestrix({"import", archive});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(NativeSeparators(missing.err).find(NativeSeparators(dir.File("Unity_Assets_Files/level0/"))),
            std::string::npos)
      << missing.err;

  const std::string folder = dir.File("Unity_Assets_Files/level0/");
  fs::create_directories(folder);
  WriteFileBytes(folder + "Zeta.mat", Bytes(16, 2));
  WriteFileBytes(folder + "Hero.tex", Bytes(96, 3));
  RunResult run = RunKestrix({"import", archive, "-t", "TEX"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(NativeSeparators(run.out), NativeSeparators("import\n\n" + folder + "Hero.tex\n"));
  // The texture went in and the folder's record notes it: only the other file is new now.
  run = RunKestrix({"import", archive});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_EQ(NativeSeparators(run.out), NativeSeparators("import\n\n" + folder + "Zeta.mat\n"));
}

// A cubemap's faces are files named after the face; an edit of any face, not only the first,
// goes back in, and the next export writes it under the same name.
TEST(ImportTask, CubemapFacesGoBackFromTheFilesNamedAfterThem) {
  TempDir dir;
  const std::string archive = dir.File("textures.assets");
  CopyFile(std::string(KESTRIX_SAMPLES_DIR) + "/textures.assets", archive);
  ASSERT_EQ(RunKestrix({"export", archive, "-t", "dds"}).status, 0);
  const std::string cubemaps = dir.File("Unity_Assets_Files/textures/Cubemap/");
  EXPECT_EQ(ListFiles(cubemaps),
            (std::vector<std::string>{"Sky.cbm_nx.dds", "Sky.cbm_ny.dds", "Sky.cbm_nz.dds",
                                      "Sky.cbm_px.dds", "Sky.cbm_py.dds", "Sky.cbm_pz.dds"}));
  Bytes face = ReadFileBytes(cubemaps + "Sky.cbm_nz.dds");
  for (size_t i = 128; i < face.size(); ++i) face[i] = static_cast<uint8_t>(i);
  WriteFileBytes(cubemaps + "Sky.cbm_nz.dds", face);
  RunResult run = RunKestrix({"import", archive, "-t", "dds"});
  EXPECT_EQ(run.status, 0) << run.err;
  EXPECT_NE(run.out.find("Sky.cbm_px.dds -> TEX"), std::string::npos) << run.out;
  ASSERT_EQ(RunKestrix({"export", archive, "-t", "dds", "-p", dir.File("again")}).status, 0);
  EXPECT_EQ(ReadFileBytes(dir.File("again/Unity_Assets_Files/textures/Cubemap/Sky.cbm_nz.dds")),
            face);
}

#ifndef _WIN32
pid_t Spawn(const std::vector<std::string>& args) {
  std::vector<char*> argv;
  std::string program = KESTRIX_BINARY;
  argv.push_back(program.data());
  std::vector<std::string> copy = args;
  for (std::string& a : copy) argv.push_back(a.data());
  argv.push_back(nullptr);
  pid_t pid = -1;
  posix_spawn_file_actions_t actions;
  posix_spawn_file_actions_init(&actions);
  posix_spawn_file_actions_addopen(&actions, 1, "/dev/null", O_WRONLY, 0);
  posix_spawn(&pid, program.c_str(), &actions, nullptr, argv.data(), environ);
  posix_spawn_file_actions_destroy(&actions);
  return pid;
}
#endif

#ifndef _WIN32  // kills at random moments; on Windows commit_test kills a child at each step
// A kill at any moment leaves the old archive or the finished new one, and nothing that a later
// import does not clear.
TEST(ImportTask, AKilledImportLeavesTheOldArchiveOrTheNewOne) {
  TempDir dir;
  AssetSpec desc;
  for (int i = 0; i < 12; ++i)
    desc.objects.push_back({21, NamedObject("Obj" + std::to_string(i), Bytes(2 << 20, i))});
  const Bytes old_file = BuildAssetFile(desc);
  desc.objects[1].data = NamedObject("Obj1", Bytes((2 << 20) + 4096, 0x7E));
  const Bytes new_file = BuildAssetFile(desc);
  const std::string archive = dir.File("level0");
  const std::string folder = dir.File("Unity_Assets_Files/level0/");
  fs::create_directories(folder);
  WriteFileBytes(folder + "Obj1.mat", Bytes((2 << 20) + 4096, 0x7E));

  WriteFileBytes(archive, old_file);
  auto start = std::chrono::steady_clock::now();
  RunResult whole = RunKestrix({"import", archive});
  const auto took = std::chrono::steady_clock::now() - start;
  ASSERT_EQ(whole.status, 0) << whole.err;
  ASSERT_TRUE(ReadFileBytes(archive) == new_file);

  std::mt19937 random(12345);
  const auto range = std::chrono::duration_cast<std::chrono::microseconds>(took).count();
  int old_seen = 0, new_seen = 0;
  // Every round starts where the first did: the old archive and no export record.
  const std::string record = folder + ".kestrix-export";
  for (int round = 0; round < 8; ++round) {
    WriteFileBytes(archive, old_file);
    fs::remove(record);
    const pid_t pid = Spawn({"import", archive});
    ASSERT_GT(pid, 0);
    std::this_thread::sleep_for(std::chrono::microseconds(random() % (range + 1)));
    kill(pid, SIGKILL);
    int status = 0;
    waitpid(pid, &status, 0);
    const Bytes now = ReadFileBytes(archive);
    const bool is_old = now == old_file, is_new = now == new_file;
    EXPECT_TRUE(is_old || is_new) << "round " << round << ": " << now.size() << " bytes";
    old_seen += is_old;
    new_seen += is_new;
  }
  if (ReadFileBytes(archive) == old_file) fs::remove(record);
  RunResult after = RunKestrix({"import", archive});
  EXPECT_EQ(after.status, 0) << after.err;
  EXPECT_TRUE(ReadFileBytes(archive) == new_file);
  EXPECT_EQ(ListFiles(dir.Path()),
            (std::vector<std::string>{"Unity_Assets_Files/level0/Obj1.mat", "level0"}));
  std::printf("killed imports: %d left the old archive, %d the new one\n", old_seen, new_seen);
}
#endif

TEST(Corpus, PlainFilesImportTheirOwnRawExportUnchangedAndALongerText) {
  if (CorpusDir().empty()) GTEST_SKIP() << "no corpus";
  int checked = 0, texts = 0;
  for (const CorpusRow& row : CorpusManifest()) {
    if (!IsHandledPlainFile(row)) continue;
    TempDir tmp;
    // Imports rewrite the archive: always a copy, never the corpus file itself.
    std::string path = CorpusArchiveToOpen(row, tmp);
    if (path.rfind(tmp.Path() + "/", 0) != 0) {
      const std::string copy = tmp.File(fs::path(path).filename().string());
      CopyFile(path, copy);
      fs::permissions(copy, fs::perms::owner_write, fs::perm_options::add);
      path = copy;
    }
    ASSERT_EQ(path.rfind(tmp.Path() + "/", 0), 0u) << path;
    // Without -t every object is written as stored, beside the converted files.
    RunResult all = RunKestrix({"export", path, "-p", tmp.File("out")});
    ASSERT_EQ(all.signal, 0) << row.relpath;
    Session s;
    RecordingFrontend fe;
    OpenOptions out;
    out.OutputRootGiven = true;
    out.OutputRootOption = tmp.File("out");
    ASSERT_NO_THROW(OpenArchive(s, fe, path, out)) << row.relpath;
    const std::string folder = ExportFolder(s.Archive);
    for (const char* sub : {"Textures", "Cubemap", "ProceduralTextures", "Mesh", "Sounds"})
      fs::remove_all(folder + sub);
    const std::string stream = s.Archive.ArchivePath;
    const Bytes original = ReadFileBytes(stream);

    RunResult same = RunKestrix({"import", path, "-p", tmp.File("out")});
    EXPECT_EQ(same.status, 0) << row.relpath << "\n" << same.err;
    EXPECT_TRUE(ReadFileBytes(stream) == original) << row.relpath << ": changed by its own files";

    // The first text of the file gets longer; every other payload stays.
    size_t text = s.EntryCount();
    for (int32_t cls : {49, 48})
      for (size_t i = 0; i < s.EntryCount() && text == s.EntryCount(); ++i)
        if (s.EntryClass(i) == cls && fs::exists(folder + std::string(s.EntryName(i)))) text = i;
    if (text == s.EntryCount()) {
      ++checked;
      continue;
    }
    auto payloads = [](const Session& in, const std::string& file) {
      std::vector<Bytes> out;
      FileSource source(file);
      for (size_t i = 0; i < in.EntryCount(); ++i) {
        Bytes bytes(in.PayloadSize(i));
        source.ReadAt(in.PayloadOffset(i), bytes.data(), bytes.size());
        out.push_back(std::move(bytes));
      }
      return out;
    };
    std::vector<Bytes> before = payloads(s, stream);
    const std::string edited = "edited by the round trip, longer than before\n";
    before[text].insert(before[text].end(), edited.begin(), edited.end());
    WriteFileBytes(folder + std::string(s.EntryName(text)), before[text]);
    RunResult longer = RunKestrix({"import", path, "-p", tmp.File("out")});
    EXPECT_EQ(longer.status, 0) << row.relpath << "\n" << longer.err;
    Session reopened;
    ASSERT_NO_THROW(OpenArchive(reopened, fe, path)) << row.relpath;
    ASSERT_EQ(reopened.EntryCount(), s.EntryCount()) << row.relpath;
    EXPECT_TRUE(payloads(reopened, stream) == before) << row.relpath;
    ++checked;
    ++texts;
  }
  EXPECT_GE(checked, 20);
  EXPECT_GE(texts, 1);
}

}  // namespace
}  // namespace kestrix
