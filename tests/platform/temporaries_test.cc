// Temporaries of a run: a killed run's are removed by the next, a living run's are kept, and
// SIGINT or SIGTERM removes a run's own before it ends, never the journal of a user's file.
#include "platform/temporaries.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <thread>

#include "platform/file_ops.h"
#include "platform/rollback_journal.h"
#include "support/asset_builder.h"
#include "support/test_env.h"

namespace kestrix {
namespace {

using testing::Bytes;
using testing::ListFiles;
using testing::TempDir;
using testing::WriteFileBytes;

// In the child of an OtherRun: the descriptor that tells the parent the run is ready.
int ready_fd = -1;

// Tells the parent that the run has made what it was to make (once).
void TellReady() {
  if (ready_fd < 0) return;
  const char one = 1;
  if (::write(ready_fd, &one, 1) != 1) ::_exit(3);
  ::close(ready_fd);
  ready_fd = -1;
}

// A run in a process of its own that makes temporaries through the real code (`make`). A
// killed one dies by SIGKILL right after, with no cleanup, as after a power cut; a living one
// keeps them, marks and all, until the object goes (or a signal the test sends ends it).
class OtherRun {
 public:
  OtherRun(const std::function<void()>& make, bool living) {
    int ready[2];
    if (::pipe(ready) != 0) throw std::runtime_error("pipe");
    pid_ = ::fork();
    if (pid_ == 0) {
      ::close(ready[0]);
      ready_fd = ready[1];
      make();
      if (!living) ::raise(SIGKILL);
      TellReady();
      for (;;) ::pause();
    }
    ::close(ready[1]);
    char byte = 0;
    if (living) {
      EXPECT_EQ(::read(ready[0], &byte, 1), 1) << "the living run did not start";
    } else {
      Reap(SIGKILL);
    }
    ::close(ready[0]);
  }
  ~OtherRun() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGKILL);
    Reap(SIGKILL);
  }

  // Waits for the run to end and checks that `sig` ended it.
  void Reap(int sig) {
    int status = 0;
    ::waitpid(pid_, &status, 0);
    EXPECT_TRUE(WIFSIGNALED(status) && WTERMSIG(status) == sig) << "status " << status;
    pid_ = -1;
  }
  void Signal(int sig) {
    ::kill(pid_, sig);
    Reap(sig);
  }

 private:
  pid_t pid_ = -1;
};

// Files of the user beside the archives and in the export folder, some named much like
// temporaries: no cleanup may touch them.
const char* const kUserFiles[] = {
    "level0", "b.unity3d", "x.split0", "x.split1", "out/Unity_Assets_Files/b/Obj.tex",
    // The journal of the user's archive: only an open of the archive settles it.
    ".b.unity3d.kestrix-journal",
    // Not random letters, another archive, no leading dot, a name without a stem.
    "level0.import-ABCDEFGH", ".c.unity3d.blocks-abcdefgh", "notes.new-abcdefgh",
    ".b.unity3d.TEMP"};

struct Kind {
  const char* label;
  const char* archive;
  std::function<void(const std::string& dir)> make;
};

std::vector<Kind> Kinds() {
  auto keep = [](auto* object) { (void)object; };  // outlives the run: nothing removes it
  return {
      {"rebuilt archive", "level0",
       [](const std::string& dir) { CreateFreeFile(dir, "level0.import-", ""); }},
      {"new bundle", "b.unity3d",
       [=](const std::string& dir) { keep(new ReplacementFile(dir + "b.unity3d")); }},
      {"repack side file", "b.unity3d",
       [=](const std::string& dir) {
         keep(new TemporaryFile(CreateFreeFile(dir, ".b.unity3d.blocks-", "")));
       }},
      {"working file with its journal and its new version", "b.unity3d",
       [=](const std::string& dir) {
         auto working = MakeRunFile(dir, ".b.unity3d.", ".TEMP");
         WriteFileBytes(working->Path(), Bytes(64, 1));
         keep(new RollbackJournal(working->Path(), {{0, 16}}));
         keep(new ReplacementFile(working->Path()));
         keep(new std::shared_ptr<TemporaryFile>(working));
       }},
      {"joined pieces", "x.split0",
       [=](const std::string& dir) {
         keep(new std::shared_ptr<TemporaryFile>(MakeRunFile(dir, ".x.joined-", "")));
       }},
      {"new piece", "x.split0",
       [=](const std::string& dir) { keep(new ReplacementFile(dir + "x.split1")); }},
      {"export folder file", "b.unity3d",
       [=](const std::string& dir) {
         keep(new WholeFileWriter(dir + "out/Unity_Assets_Files/b/Obj.tex"));
       }},
  };
}

std::string MakeUserFiles(const TempDir& dir) {
  std::filesystem::create_directories(dir.File("out/Unity_Assets_Files/b"));
  for (const char* name : kUserFiles) WriteFileBytes(dir.File(name), Bytes(10, 7));
  return dir.Path() + "/";
}

std::vector<std::string> UserFiles() {
  std::vector<std::string> names(std::begin(kUserFiles), std::end(kUserFiles));
  std::sort(names.begin(), names.end());
  return names;
}

TEST(Temporaries, AKilledRunsAreRemovedByTheNextALivingRunsAreKept) {
  for (const Kind& kind : Kinds()) {
    for (bool living : {false, true}) {
      SCOPED_TRACE(std::string(kind.label) + (living ? ", living run" : ", killed run"));
      TempDir dir;
      const std::string folder = MakeUserFiles(dir);
      const std::string archive = folder + kind.archive;
      const std::string exported = folder + "out/Unity_Assets_Files/b";
      auto run = std::make_unique<OtherRun>([&] { kind.make(folder); }, living);
      const std::vector<std::string> made = ListFiles(dir.Path());
      ASSERT_GT(made.size(), UserFiles().size()) << "the run made no temporary";
      RemoveAbandonedTemporaries(archive, exported);
      EXPECT_EQ(ListFiles(dir.Path()), living ? made : UserFiles());
      run.reset();
      RemoveAbandonedTemporaries(archive, exported);
      EXPECT_EQ(ListFiles(dir.Path()), UserFiles());
    }
  }
}

// While a list of pending renames lies beside the pieces, the new pieces it names are the only
// copy of the new archive: they stay until the user has finished the renames.
TEST(Temporaries, NewPiecesStayWhileRenamesArePending) {
  TempDir dir;
  const std::string folder = MakeUserFiles(dir);
  OtherRun killed([&] { new ReplacementFile(folder + "x.split1"); }, false);
  WriteFileBytes(folder + ".x.split-pending-abcd1234", Bytes(5, 1));
  const std::vector<std::string> made = ListFiles(dir.Path());
  RemoveAbandonedTemporaries(folder + "x.split0", "");
  EXPECT_EQ(ListFiles(dir.Path()), made);
  std::filesystem::remove(folder + ".x.split-pending-abcd1234");
  RemoveAbandonedTemporaries(folder + "x.split0", "");
  EXPECT_EQ(ListFiles(dir.Path()), UserFiles());
}

// A signal ends the run as the signal does (its parent sees which), with the run's temporaries
// removed, also one a second thread made, and the journal of the user's archive kept. A held
// signal waits until the step that holds it is done.
TEST(Temporaries, SigintAndSigtermRemoveTheRunsTemporariesAndEndIt) {
  for (int sig : {SIGINT, SIGTERM}) {
    for (bool held : {false, true}) {
      SCOPED_TRACE(std::string(strsignal(sig)) + (held ? ", held" : ""));
      TempDir dir;
      const std::string folder = MakeUserFiles(dir);
      std::filesystem::remove(folder + ".b.unity3d.kestrix-journal");
      OtherRun run(
          [&] {
            RemoveTemporariesOnSignals();
            new TemporaryFile(CreateFreeFile(folder, ".b.unity3d.blocks-", ""));
            std::thread([&] { new ReplacementFile(folder + "x.split1"); }).join();
            new RollbackJournal(folder + "b.unity3d", {{0, 4}});
            if (!held) return;
            SignalsHeld hold;
            TellReady();
            std::this_thread::sleep_for(std::chrono::milliseconds(300));
            WriteFileBytes(folder + "step done", Bytes(1, 1));
          },
          true);
      run.Signal(sig);
      // The journal is the run's own, made anew where the user's was.
      std::vector<std::string> left = UserFiles();
      if (held) left.push_back("step done");
      std::sort(left.begin(), left.end());
      EXPECT_EQ(ListFiles(dir.Path()), left);
    }
  }
}

}  // namespace
}  // namespace kestrix
