// Export folders are passed between users, so anything may be planted in them. Each row plants
// one thing, runs the real program (with a time limit: a pipe must not hang it), and checks that
// nothing outside the folder was written, that a refused file leaves the archive as it was and
// is named, and that what is allowed still works.
#include <gtest/gtest.h>
#include <sys/stat.h>

#include <chrono>
#include <filesystem>
#include <functional>

#include "support/asset_builder.h"
#include "support/payloads.h"
#include "support/test_env.h"

namespace kestrix {
namespace {

using namespace testing;  // NOLINT: the builder vocabulary
namespace fs = std::filesystem;

struct Hostile {
  TempDir dir;
  std::string Archive() const { return dir.File("level0.assets"); }
  std::string Folder() const { return dir.File("Unity_Assets_Files/level0/"); }
  std::string Outside() const { return dir.File("private/"); }
  RunResult Run(const std::string& task) const {
    return RunKestrixUntil(
        {task, Archive()}, {}, [](int) { return false; }, std::chrono::seconds(30));
  }
  // The raw file of Zeta with one byte changed: an edit of the same length, written in place.
  void EditZeta(const std::string& path) const {
    Bytes raw = ReadFileBytes(Folder() + "Zeta.mat");
    raw.back() ^= 0xFF;
    fs::remove(Folder() + "Zeta.mat");
    WriteFileBytes(path, raw);
  }
  void Fifo(const std::string& path) const { ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0); }
  std::vector<std::string> OutsideState() const {
    std::vector<std::string> state;
    for (const auto& e : fs::recursive_directory_iterator(Outside())) {
      const std::string path = e.path().string();
      std::string bytes;
      if (e.is_regular_file()) {
        const Bytes b = ReadFileBytes(path);
        bytes.assign(b.begin(), b.end());
      }
      struct stat st {};
      ::lstat(path.c_str(), &st);
      state.push_back(path + " " + bytes + " " + std::to_string(st.st_mtim.tv_sec) + "." +
                      std::to_string(st.st_mtim.tv_nsec));
    }
    return state;
  }
};

TEST(HostileExportFolder, PlantedLinksAndPipesAreNeverFollowedOutOrWaitedOn) {
  AssetSpec desc;
  desc.objects = {{21, NamedObject("Zeta", Bytes(40, 0x21))}, {28, TextureObject("Hero", 10)}};
  struct Case {
    const char* what;
    const char* task;
    std::function<void(const Hostile&)> plant;
    const char* named;     // the output must name this file of the folder ("" none)
    bool archive_changes;  // import rows: the edit went in
    int status;
  };
  const std::vector<Case> cases = {
      {"a raw output that is a link out", "export",
       [](const Hostile& h) {
         fs::create_symlink(h.Outside() + "secret", h.Folder() + "Zeta.mat");
       },
       "", false, 0},
      {"a DDS output that is a link out", "export",
       [](const Hostile& h) {
         fs::create_directories(h.Folder() + "Textures");
         fs::create_symlink(h.Outside() + "secret", h.Folder() + "Textures/Hero.tex.dds");
       },
       "", false, 0},
      {"a Textures folder that is a link out", "export",
       [](const Hostile& h) { fs::create_symlink(h.Outside() + "dir", h.Folder() + "Textures"); },
       "Textures", false, 1},
      {"a replacement that is a link out", "import",
       [](const Hostile& h) {
         fs::remove(h.Folder() + "Zeta.mat");
         fs::create_symlink(h.Outside() + "secret", h.Folder() + "Zeta.mat");
       },
       "Zeta.mat", false, 1},
      {"a replacement that is a link staying inside", "import",
       [](const Hostile& h) {
         fs::create_directories(h.Folder() + "edits");
         h.EditZeta(h.Folder() + "edits/zeta");
         fs::create_symlink("edits/zeta", h.Folder() + "Zeta.mat");
       },
       "", true, 0},
      {"a FIFO as a replacement", "import",
       [](const Hostile& h) {
         fs::remove(h.Folder() + "Zeta.mat");
         h.Fifo(h.Folder() + "Zeta.mat");
       },
       "Zeta.mat", false, 1},
      {"a link to a FIFO as a converter source, beside an edit", "import",
       [](const Hostile& h) {
         h.EditZeta(h.Folder() + "Zeta.mat");
         h.Fifo(h.Folder() + "pipe");
         fs::create_directories(h.Folder() + "Textures");
         fs::create_symlink("../pipe", h.Folder() + "Textures/Hero.tex.dds");
       },
       "Textures/Hero.tex.dds", true, 1},
      {"a dangling link at the rollback journal's name", "import",
       [](const Hostile& h) {
         h.EditZeta(h.Folder() + "Zeta.mat");
         fs::create_symlink(h.Outside() + "made", h.dir.File(".level0.assets.kestrix-journal"));
       },
       "", true, 0},
  };
  for (const Case& c : cases) {
    Hostile h;
    WriteFileBytes(h.Archive(), BuildAssetFile(desc));
    fs::create_directories(h.Outside() + "dir");
    WriteFileBytes(h.Outside() + "secret", Bytes(40, 0x53));
    fs::create_directories(h.Folder());
    const bool import = c.task == std::string("import");
    if (import) {
      ASSERT_EQ(h.Run("export").status, 0) << c.what;
      fs::remove_all(h.Folder() + "Textures");
    }
    c.plant(h);
    const Bytes archive = ReadFileBytes(h.Archive());
    const std::vector<std::string> outside = h.OutsideState();

    const RunResult run = h.Run(c.task);
    ASSERT_EQ(run.signal, 0) << c.what << ": the run hung";
    EXPECT_EQ(run.status, c.status) << c.what << ": " << run.err;
    EXPECT_EQ(h.OutsideState(), outside) << c.what;
    if (*c.named) {
      EXPECT_NE((run.out + run.err).find(h.Folder() + c.named), std::string::npos)
          << c.what << ": " << run.out << run.err;
    }
    EXPECT_EQ(ReadFileBytes(h.Archive()) != archive, c.archive_changes) << c.what << run.err;
    if (!import) {
      // Export went on with what it may write; a planted link was replaced, not written through.
      EXPECT_EQ(fs::status(h.Folder() + "Zeta.mat").type(), fs::file_type::regular) << c.what;
      EXPECT_FALSE(fs::is_symlink(h.Folder() + "Zeta.mat")) << c.what;
    }
  }
}

}  // namespace
}  // namespace kestrix
