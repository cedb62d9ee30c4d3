// The rule for files Kestrix did not make, on planted folders: what reading accepts and refuses,
// what folder creation goes through, how an output replaces what stands at its name, and the
// rollback journal's name holding a link.
#include "platform/safe_files.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <csignal>
#include <filesystem>
#include <functional>

#include "platform/file_ops.h"
#include "platform/rollback_journal.h"
#include "support/asset_builder.h"
#include "support/test_env.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;
using testing::Bytes;

// A shared folder and, beside it, the private files a planted link would reach.
struct Planted {
  testing::TempDir dir;
  std::string Folder() const { return dir.File("shared/"); }
  std::string Outside() const { return dir.File("private/"); }
  Planted() {
    fs::create_directories(Folder());
    fs::create_directories(Outside() + "dir");
    testing::WriteFileBytes(Outside() + "secret", Bytes(40, 0x53));
    testing::WriteFileBytes(Folder() + "plain", Bytes(8, 0x50));
  }
  void Link(const std::string& target, const std::string& name) const {
    fs::create_symlink(target, Folder() + name);
  }
  void Fifo(const std::string& path) const { ASSERT_EQ(::mkfifo(path.c_str(), 0644), 0); }
  // Every file outside with its bytes and modification time, to show that nothing was written.
  std::vector<std::string> OutsideState() const {
    std::vector<std::string> state;
    for (const std::string& name : testing::ListFiles(Outside())) {
      const Bytes bytes = testing::ReadFileBytes(Outside() + name);
      state.push_back(name + " " + std::string(bytes.begin(), bytes.end()) + " " +
                      std::to_string(StampOf(Outside() + name).modified_ns));
    }
    return state;
  }
};

TEST(OpenInsideFolder, ReadsRegularFilesInsideAndRefusesEverythingElseWithoutBlocking) {
  struct Case {
    const char* what;
    std::function<void(const Planted&)> plant;  // makes Folder() + "x"
    const char* refusal;  // part of the RefusedFile reason; "" accepted, "-" another IoError
  };
  const std::vector<Case> cases = {
      {"a regular file",
       [](const Planted& p) { fs::copy_file(p.Folder() + "plain", p.Folder() + "x"); }, ""},
      {"a link that stays inside", [](const Planted& p) { p.Link("plain", "x"); }, ""},
      {"a link leading out", [](const Planted& p) { p.Link(p.Outside() + "secret", "x"); },
       "link leading out"},
      {"a relative link climbing out", [](const Planted& p) { p.Link("../private/secret", "x"); },
       "link leading out"},
      {"a file reached through a folder link leading out",
       [](const Planted& p) {
         testing::WriteFileBytes(p.Outside() + "dir/x", Bytes(3, 1));
         p.Link(p.Outside() + "dir", "sub");
       },
       "folder on its way"},
      {"a FIFO", [](const Planted& p) { p.Fifo(p.Folder() + "x"); }, "not a regular file"},
      {"a link to a FIFO inside",
       [](const Planted& p) {
         p.Fifo(p.Folder() + "pipe");
         p.Link("pipe", "x");
       },
       "not a regular file"},
      {"a device through a link", [](const Planted& p) { p.Link("/dev/zero", "x"); },
       "link leading out"},
      {"a dangling link", [](const Planted& p) { p.Link(p.Outside() + "gone", "x"); }, "-"},
  };
  for (const Case& c : cases) {
    Planted p;
    c.plant(p);
    const std::string path =
        p.Folder() + (std::string(c.what).find("folder link") != std::string::npos ? "sub/x" : "x");
    const std::vector<std::string> before = p.OutsideState();
    try {
      const Bytes bytes = ReadWholeFileInside(p.Folder(), path);
      EXPECT_EQ(std::string(c.refusal), "") << c.what << ": read";
      EXPECT_EQ(bytes, Bytes(8, 0x50)) << c.what;
    } catch (const RefusedFile& e) {
      EXPECT_NE(e.Reason().find(c.refusal), std::string::npos) << c.what << ": " << e.what();
      EXPECT_NE(std::string(e.what()).find(path), std::string::npos) << c.what;
      EXPECT_NE(std::string(c.refusal), "") << c.what << ": " << e.what();
    } catch (const IoError& e) {
      EXPECT_EQ(std::string(c.refusal), "-") << c.what << ": " << e.what();
    }
    EXPECT_EQ(p.OutsideState(), before) << c.what;
  }
}

TEST(CreateFoldersBelow, CreatesThroughLinksInsideButNeverOutOfTheRoot) {
  struct Case {
    const char* what;
    std::function<void(const Planted&)> plant;
    const char* refused_part;  // "" when the folders are made
  };
  const std::vector<Case> cases = {
      {"nothing there", [](const Planted&) {}, ""},
      {"a link to a folder inside",
       [](const Planted& p) {
         fs::create_directories(p.Folder() + "real");
         p.Link("real", "a");
       },
       ""},
      {"a link to a folder outside", [](const Planted& p) { p.Link(p.Outside() + "dir", "a"); },
       "a"},
      {"a dangling link", [](const Planted& p) { p.Link(p.Outside() + "dir/new", "a"); }, "a"},
      {"a file in the way", [](const Planted& p) { testing::WriteFileBytes(p.Folder() + "a", {}); },
       "a"},
      {"a deeper link out",
       [](const Planted& p) {
         fs::create_directories(p.Folder() + "a");
         fs::create_symlink(p.Outside() + "dir", p.Folder() + "a/b");
       },
       "a/b"},
  };
  for (const Case& c : cases) {
    Planted p;
    c.plant(p);
    const std::vector<std::string> before = p.OutsideState();
    const std::string target = p.Folder() + "a/b/c/";
    try {
      CreateFoldersBelow(p.Folder(), target);
      EXPECT_EQ(std::string(c.refused_part), "") << c.what << ": created";
      EXPECT_TRUE(FolderExists(target)) << c.what;
    } catch (const RefusedFile& e) {
      EXPECT_EQ(e.Path(), p.Folder() + c.refused_part) << c.what << ": " << e.what();
    }
    EXPECT_EQ(p.OutsideState(), before) << c.what;
    EXPECT_TRUE(fs::is_empty(p.Outside() + "dir")) << c.what;
  }
}

// An export output replaces what stands at its name and never writes through it; a file this
// run made is written in place, keeping the inode its in-use mark is on.
TEST(OutputFile, ReplacesWhatStandsAtTheNameAndKeepsRunFilesInPlace) {
  Planted p;
  p.Link(p.Outside() + "secret", "raw");
  p.Link(p.Outside() + "gone", "dangling");
  p.Fifo(p.Folder() + "pipe");
  const std::vector<std::string> before = p.OutsideState();
  for (const char* name : {"raw", "dangling", "plain"}) {
    OutputFile out(p.Folder() + name);
    out.Write(Bytes{1, 2, 3});
    out.Close();
    EXPECT_FALSE(fs::is_symlink(p.Folder() + name)) << name;
    EXPECT_EQ(testing::ReadFileBytes(p.Folder() + name), (Bytes{1, 2, 3})) << name;
  }
  EXPECT_THROW(OutputFile(p.Folder() + "pipe"), RefusedFile);
  EXPECT_EQ(p.OutsideState(), before);
  EXPECT_EQ(testing::ListFiles(p.Folder()),
            (std::vector<std::string>{"dangling", "plain", "raw"}));  // no part file stays
  EXPECT_TRUE(fs::is_fifo(p.Folder() + "pipe"));

  // A run file: its inode, and so another run's view of its in-use mark, stays.
  auto run_file = MakeRunFile(p.Folder(), ".work.", ".TEMP");
  const FileStamp made = StampOf(run_file->Path());
  {
    OutputFile out(run_file->Path(), OutputFile::Target::kRunFile);
    out.Write(Bytes(10, 7));
    out.Close();
  }
  EXPECT_EQ(StampOf(run_file->Path()).inode, made.inode);
  const int probe = ::open(run_file->Path().c_str(), O_RDONLY | O_CLOEXEC);
  EXPECT_NE(::flock(probe, LOCK_EX | LOCK_NB), 0) << "the in-use mark was lost";
  ::close(probe);
  // A link put at a run file's name is not written through.
  fs::remove(run_file->Path());
  fs::create_symlink(p.Outside() + "secret", run_file->Path());
  EXPECT_THROW(OutputFile(run_file->Path(), OutputFile::Target::kRunFile), IoError);
  EXPECT_EQ(p.OutsideState(), before);
}

// The disk refusing the bytes of a new file: Close reports it, and neither the part file nor the
// earlier version is lost or left half-written.
TEST(OutputFile, AWriteTheDiskRefusesKeepsTheEarlierVersion) {
  testing::TempDir tmp;
  const std::string path = tmp.File("raw.tex");
  testing::WriteFileBytes(path, Bytes{4, 5, 6});
  struct sigaction ignore {
  }, old_action{};
  ignore.sa_handler = SIG_IGN;
  ::sigaction(SIGXFSZ, &ignore, &old_action);
  rlimit old_limit{};
  ::getrlimit(RLIMIT_FSIZE, &old_limit);
  rlimit small = old_limit;
  small.rlim_cur = 1000;
  ::setrlimit(RLIMIT_FSIZE, &small);
  bool thrown = false;
  try {
    OutputFile out(path);
    out.Write(Bytes(5000, 9));
    out.Close();
  } catch (const IoError&) {
    thrown = true;
  }
  ::setrlimit(RLIMIT_FSIZE, &old_limit);
  ::sigaction(SIGXFSZ, &old_action, nullptr);
  EXPECT_TRUE(thrown);
  EXPECT_EQ(testing::ReadFileBytes(path), (Bytes{4, 5, 6}));
  EXPECT_EQ(testing::ListFiles(tmp.Path()), std::vector<std::string>{"raw.tex"});
}

TEST(RollbackJournal, ALinkAtTheJournalsNameIsNeverFollowed) {
  Planted p;
  const std::string file = p.Folder() + "plain";
  const std::string journal = JournalPathFor(file);
  // Creating the journal: neither a dangling link nor a link to a file writes where it leads.
  for (const std::string& target : {p.Outside() + "made", p.Outside() + "secret"}) {
    const std::vector<std::string> before = p.OutsideState();
    fs::create_symlink(target, journal);
    {
      RollbackJournal writing(file, {{0, 4}});
      writing.WriteAt(0, "abcd", 4);
      writing.Finish();
    }
    EXPECT_EQ(p.OutsideState(), before) << target;
    EXPECT_FALSE(fs::exists(fs::symlink_status(journal))) << target;
  }
  // Recovery: a link there is no journal; it goes, the file is left as it is.
  fs::create_symlink(p.Outside() + "secret", journal);
  const std::vector<std::string> before = p.OutsideState();
  EXPECT_EQ(RecoverInterruptedWrite(file), JournalRecovery::kNone);
  EXPECT_FALSE(fs::exists(fs::symlink_status(journal)));
  EXPECT_EQ(p.OutsideState(), before);
  // A FIFO there is refused at once, not waited on.
  p.Fifo(journal);
  EXPECT_THROW(RecoverInterruptedWrite(file), Error);
  EXPECT_EQ(testing::ReadFileBytes(file), (Bytes{'a', 'b', 'c', 'd', 0x50, 0x50, 0x50, 0x50}));
}

}  // namespace
}  // namespace kestrix
