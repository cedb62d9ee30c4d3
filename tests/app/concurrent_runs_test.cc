// Several runs of the real program on one archive at once: readers each unpack into a file of
// their own and leave nothing behind; writers hold the archive alone, so that no edit is lost,
// and a killed holder frees it.
#include <gtest/gtest.h>
#ifndef _WIN32
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <future>
#include <string>
#include <vector>

#include "formats/bundle_repack.h"
#include "formats/split_pieces.h"
#include "platform/archive_lock.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "support/asset_builder.h"
#include "support/bundle_builder.h"
#include "support/test_env.h"

namespace kestrix {
namespace {

using namespace testing;  // NOLINT: the builder vocabulary
namespace fs = std::filesystem;

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 7 + (i >> 9));
  return b;
}

Bytes Asset(int objects, uint8_t seed, size_t size = 3000) {
  AssetSpec desc;
  for (int i = 0; i < objects; ++i)
    desc.objects.push_back({21, NamedObject("Obj" + std::to_string(i), Pattern(size + i, seed))});
  return BuildAssetFile(desc);
}

std::vector<BundleEntry> TwoAssets() {
  return {{"archive:/CAB-1/CAB-1", Asset(30, 1)},
          {"archive:/CAB-1/CAB-1.resS", Pattern(300000, 2), 0},
          {"archive:/CAB-2/CAB-2", Asset(12, 3)}};
}

// Every file below `folder` with its bytes.
std::vector<std::pair<std::string, Bytes>> Tree(const std::string& folder) {
  std::vector<std::pair<std::string, Bytes>> out;
  for (const std::string& f : ListFiles(folder))
    out.push_back({f, ReadFileBytes(folder + "/" + f)});
  return out;
}

void Replace(std::string& text, const std::string& from, const std::string& to) {
  for (size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), to);
}

TEST(ConcurrentRuns, ReadersOfOneBundleAllSucceedAndLeaveNoWorkingFile) {
  BundleV6Spec lz4;
  lz4.codec = BlockCodec::kLz4;
  lz4.block_size = 64 * 1024;
  lz4.files = TwoAssets();
  BundleV3Spec lzma;
  lzma.files = TwoAssets();
  for (const Bytes& bundle : {BuildBundleV6(lz4).bytes, BuildBundleV3(lzma).bytes}) {
    TempDir dir;
    const std::string path = dir.File("b.unity3d");
    WriteFileBytes(path, bundle);
    const std::vector<std::vector<std::string>> kinds = {
        {"list", path, "-i", "0"}, {"list", path, "-i", "2"}, {"exportbundle", path, "-p"}};
    auto command = [&](size_t kind, const std::string& out) {
      std::vector<std::string> args = kinds[kind];
      if (args.back() == "-p") args.push_back(out);
      return args;
    };
    std::vector<RunResult> lone;
    for (size_t k = 0; k < kinds.size(); ++k)
      lone.push_back(RunKestrix(command(k, dir.File("lone"))));

    std::vector<std::future<RunResult>> runs;
    for (int i = 0; i < 8; ++i)
      runs.push_back(std::async(std::launch::async, [&, i] {
        return RunKestrix(command(i % kinds.size(), dir.File("out" + std::to_string(i))));
      }));
    for (int i = 0; i < 8; ++i) {
      SCOPED_TRACE(i);
      RunResult r = runs[i].get();
      const RunResult& alone = lone[i % kinds.size()];
      EXPECT_EQ(r.status, 0) << r.err;
      Replace(r.out, dir.File("out" + std::to_string(i)), dir.File("lone"));
      EXPECT_EQ(r.out, alone.out);
      EXPECT_EQ(r.err, alone.err);
      if (i % kinds.size() == 2) {
        EXPECT_EQ(Tree(dir.File("out" + std::to_string(i))), Tree(dir.File("lone")));
      }
    }
    // The bundle and the output folders: no working file of any run is left.
    for (const std::string& f : ListFiles(dir.Path()))
      EXPECT_TRUE(f == "b.unity3d" || f.rfind("out", 0) == 0 || f.rfind("lone", 0) == 0) << f;
  }
}

// Working files of killed runs go with the next run on that archive, however new they are (a
// run marks its files from their first moment); those of living runs and files of other names
// stay.
TEST(ConcurrentRuns, WorkingFilesOfKilledRunsAreRemovedByTheNext) {
  TempDir dir;
  BundleV6Spec lz4;
  lz4.codec = BlockCodec::kLz4;
  lz4.files = TwoAssets();
  const std::string path = dir.File("b.unity3d");
  WriteFileBytes(path, BuildBundleV6(lz4).bytes);
  const auto old_time = fs::file_time_type::clock::now() - std::chrono::minutes(5);
  const std::vector<std::string> names = {".b.unity3d.killed01.TEMP", ".b.unity3d.living01.TEMP",
                                          ".b.unity3d.recent01.TEMP", ".b.unity3d.TEMP",
                                          "b.unity3d.mine0001.TEMP"};
  for (const std::string& name : names) {
    WriteFileBytes(dir.File(name), Bytes(10, 1));
    if (name.find("recent") == std::string::npos) fs::last_write_time(dir.File(name), old_time);
  }
  TemporaryFile living(dir.File(names[1]));
  living.MarkInUse();
  RunResult r = RunKestrix({"list", path});
  EXPECT_EQ(r.status, 0) << r.err;
  std::vector<std::string> left = {names[1], names[3], names[4], "b.unity3d"};
  std::sort(left.begin(), left.end());
  EXPECT_EQ(ListFiles(dir.Path()), left);
}

struct Edit {
  std::string root;  // the -p folder whose export folder holds the edited object
  Bytes object;      // as export writes it: the bytes after the name
};

// An export folder below `root` with one edited object of the archive "level0".
Edit EditObject(TempDir& dir, const std::string& root, int index, size_t size, uint8_t seed) {
  Edit e{dir.File(root), Pattern(size, seed)};
  const std::string folder = e.root + "/Unity_Assets_Files/level0/";
  fs::create_directories(folder);
  WriteFileBytes(folder + "Obj" + std::to_string(index) + ".mat", e.object);
  return e;
}

// The raw bytes of one object of the archive as it now is.
Bytes ObjectNow(TempDir& dir, const std::string& archive, int index) {
  const std::string out = dir.File("check");
  fs::remove_all(out);
  RunResult r = RunKestrix({"export", archive, "-p", out});
  EXPECT_EQ(r.status, 0) << r.err;
  return ReadFileBytes(out + "/Unity_Assets_Files/level0/Obj" + std::to_string(index) + ".mat");
}

TEST(ConcurrentRuns, TwoImportsAtOnceKeepBothEditsOrRefuseOneClearly) {
  for (int round = 0; round < 3; ++round) {
    SCOPED_TRACE(round);
    TempDir dir;
    const std::string archive = dir.File("level0");
    // Large enough that the runs overlap.
    WriteFileBytes(archive, Asset(40, 9, 400000));
    // One edit grows its object (the archive is rebuilt and renamed), the other keeps the
    // size (written in place behind a journal); in the last round both grow.
    const Edit a = EditObject(dir, "a", 3, 9000, 0x41);
    const Edit b = EditObject(dir, "b", 17, round < 2 ? 400017 : 500000, 0x42);
    auto import = [&](const Edit& e) { return RunKestrix({"import", archive, "-p", e.root}); };
    auto first = std::async(std::launch::async, import, round == 1 ? b : a);
    auto second = std::async(std::launch::async, import, round == 1 ? a : b);
    // Readers meanwhile see a whole archive: the old one or a new one.
    std::vector<std::future<RunResult>> lists;
    for (int i = 0; i < 3; ++i)
      lists.push_back(std::async(std::launch::async, [&] {
        return RunKestrix({"list", archive});
      }));
    const RunResult r1 = first.get(), r2 = second.get();
    const RunResult& ra = round == 1 ? r2 : r1;
    const RunResult& rb = round == 1 ? r1 : r2;
    for (auto& l : lists) {
      RunResult r = l.get();
      EXPECT_EQ(r.status, 0) << r.err;
      EXPECT_EQ(std::count(r.out.begin(), r.out.end(), '\n'), 40) << r.out;
    }
    ASSERT_TRUE(ra.status == 0 || rb.status == 0) << ra.err << rb.err;
    for (const auto& [run, edit, index] :
         {std::tuple<const RunResult&, const Edit&, int>{ra, a, 3}, {rb, b, 17}}) {
      if (run.status == 0) {
        EXPECT_EQ(ObjectNow(dir, archive, index), edit.object);
      } else {
        EXPECT_NE(run.err.find("is in use by process"), std::string::npos) << run.err;
      }
    }
    EXPECT_EQ(ObjectNow(dir, archive, 0), Pattern(400000, 9));
  }
}

#ifndef _WIN32  // fork(); the lock file's holder is covered by the lock tests
TEST(ConcurrentRuns, AHeldArchiveMakesWritersRefuseAndReadersWaitUntilItsHolderDies) {
  TempDir dir;
  const std::string archive = dir.File("level0");
  const Bytes old_file = Asset(5, 4);
  WriteFileBytes(archive, old_file);
  const Edit e = EditObject(dir, "a", 2, 5000, 0x50);

  int ready[2];
  ASSERT_EQ(pipe(ready), 0);
  const pid_t holder = fork();
  ASSERT_GE(holder, 0);
  if (holder == 0) {
    ArchiveLock lock(archive, LockKind::kWrite);
    (void)!write(ready[1], "x", 1);
    for (;;) pause();
  }
  char c;
  ASSERT_EQ(read(ready[0], &c, 1), 1);

  RunResult refused = RunKestrix({"import", archive, "-p", e.root}, {"KESTRIX_LOCK_WAIT=0.2"});
  EXPECT_EQ(refused.status, 1);
  EXPECT_NE(refused.err.find("in use by process " + std::to_string(holder)), std::string::npos)
      << refused.err;
  EXPECT_EQ(ReadFileBytes(archive), old_file);

  auto reader = std::async(std::launch::async, [&] { return RunKestrix({"list", archive}); });
  EXPECT_EQ(reader.wait_for(std::chrono::milliseconds(400)), std::future_status::timeout);
  kill(holder, SIGKILL);
  waitpid(holder, nullptr, 0);
  const RunResult listed = reader.get();
  EXPECT_EQ(listed.status, 0) << listed.err;
  EXPECT_NE(listed.err.find("Waiting for process " + std::to_string(holder)), std::string::npos)
      << listed.err;

  const RunResult imported = RunKestrix({"import", archive, "-p", e.root});
  EXPECT_EQ(imported.status, 0) << imported.err;
  EXPECT_EQ(ObjectNow(dir, archive, 2), e.object);
  close(ready[0]);
  close(ready[1]);
}
#endif

// The files a run leaves below `folder` that have a temporary's form (a name starting with a
// dot, as every temporary and journal of Kestrix has).
std::vector<std::string> Hidden(const std::string& folder) {
  std::vector<std::string> out;
  for (const std::string& f : ListFiles(folder))
    if (fs::path(f).filename().string()[0] == '.') out.push_back(f);
  return out;
}

// A write-back killed outright leaves its temporaries; the next import on that archive removes
// them before it writes, and the archive opens.
TEST(ConcurrentRuns, TemporariesOfAKilledWriteBackGoWithTheNextImport) {
  BundleV6Spec lz4;
  lz4.codec = BlockCodec::kLz4;
  lz4.files = TwoAssets();
  const Bytes bundle = BuildBundleV6(lz4).bytes;
  struct Kill {
    const char* label;
    bool pieces;
    std::string_view step;
  };
  for (const Kill& k : {Kill{"bundle written", false, kStepBundleWritten},
                        Kill{"pieces written", true, kStepPiecesWritten}}) {
    SCOPED_TRACE(k.label);
    TempDir dir;
    std::string path = dir.File("b.unity3d");
    if (k.pieces) {
      WriteSplitPieces(dir.File("b"), bundle, 200 * 1024);
      path = dir.File("b.split0");
    } else {
      WriteFileBytes(path, bundle);
    }
    ASSERT_EQ(RunKestrix({"export", path, "-p", dir.File("out")}).status, 0);
    const std::vector<std::string> before = ListFiles(dir.Path());
    const RunResult killed =
        RunProgram(KESTRIX_REPACK_CHILD, {path, "0", "100", std::string(k.step)});
    ASSERT_EQ(killed.signal, SIGKILL) << killed.err;
    ASSERT_FALSE(Hidden(dir.Path()).empty()) << "the killed run left no temporary";
    const RunResult next = RunKestrix({"import", path, "-p", dir.File("out")});
    EXPECT_EQ(next.status, 0) << next.err;
    EXPECT_EQ(ListFiles(dir.Path()), before);
    const RunResult listed = RunKestrix({"list", path});
    EXPECT_EQ(listed.status, 0) << listed.err;
  }
}

#ifndef _WIN32  // SIGINT and SIGTERM are Linux's
// SIGINT or SIGTERM in the middle of an import ends it as the signal does, with every temporary
// of the run removed and the bundle as it was or as the import makes it, never half-written.
TEST(ConcurrentRuns, AnImportEndedBySigintOrSigtermLeavesNoTemporaryAndAWholeArchive) {
  BundleV6Spec lz4;
  lz4.codec = BlockCodec::kLz4;
  // Large enough that the run is still working when the signal comes.
  lz4.files = {{"archive:/CAB-1/CAB-1", Asset(24, 5, 2 << 20)}};
  const Bytes old_bundle = BuildBundleV6(lz4).bytes;
  auto prepare = [&](const TempDir& dir) {
    WriteFileBytes(dir.File("b.unity3d"), old_bundle);
    const RunResult exported = RunKestrix({"export", dir.File("b.unity3d"), "-p", dir.File("out")});
    EXPECT_EQ(exported.status, 0) << exported.err;
    for (const std::string& f : ListFiles(dir.File("out")))
      if (fs::path(f).filename() == "Obj3.mat")
        WriteFileBytes(dir.File("out/" + f), Pattern(3 << 20, 0x33));
    return std::vector<std::string>{"import", dir.File("b.unity3d"), "-p", dir.File("out")};
  };
  TempDir whole;
  const RunResult done = RunKestrix(prepare(whole));
  ASSERT_EQ(done.status, 0) << done.err;
  const Bytes new_bundle = ReadFileBytes(whole.File("b.unity3d"));
  ASSERT_NE(new_bundle, old_bundle);

  struct Stop {
    int signal;
    int polls;  // how many polls after the working file appeared
  };
  for (const Stop& stop : {Stop{SIGINT, 0}, Stop{SIGTERM, 3}}) {
    SCOPED_TRACE(strsignal(stop.signal));
    TempDir dir;
    const std::vector<std::string> import = prepare(dir);
    int seen = 0;
    const RunResult r = RunKestrixUntil(
        import, {},
        [&](int) {
          for (const std::string& f : ListFiles(dir.Path()))
            if (EndsWith(f, ".TEMP")) return seen++ >= stop.polls;
          return false;
        },
        std::chrono::seconds(60), stop.signal);
    EXPECT_EQ(r.signal, stop.signal) << "status " << r.status << ": " << r.err;
    EXPECT_EQ(Hidden(dir.Path()), std::vector<std::string>());
    const Bytes now = ReadFileBytes(dir.File("b.unity3d"));
    EXPECT_TRUE(now == old_bundle || now == new_bundle);
    const RunResult listed = RunKestrix({"list", dir.File("b.unity3d")});
    EXPECT_EQ(listed.status, 0) << listed.err;
  }
}
#endif

// A wait that is no plain number of seconds is refused by name and value, before anything is
// written; readers, which never wait on it, are not stopped by it.
TEST(ConcurrentRuns, ALockWaitThatIsNoNumberIsRefusedByWriters) {
  TempDir dir;
  const std::string archive = dir.File("level0");
  const Bytes old_file = Asset(5, 4);
  WriteFileBytes(archive, old_file);
  const Edit e = EditObject(dir, "a", 2, 5000, 0x50);
  for (const char* bad : {"", "-1", "5s", "nan", "inf", "1e3", " 5", "0x10", "1.2.3", "86401"}) {
    SCOPED_TRACE(std::string("\"") + bad + "\"");
    const RunResult r =
        RunKestrix({"import", archive, "-p", e.root}, {std::string("KESTRIX_LOCK_WAIT=") + bad});
    EXPECT_EQ(r.status, 1);
    EXPECT_NE(r.err.find(std::string("KESTRIX_LOCK_WAIT is \"") + bad + "\""), std::string::npos)
        << r.err;
    EXPECT_EQ(ReadFileBytes(archive), old_file);
  }
  EXPECT_EQ(RunKestrix({"list", archive}, {"KESTRIX_LOCK_WAIT=5s"}).status, 0);
  for (const char* good : {"0", "2.5", ".5", "86400"}) {
    SCOPED_TRACE(good);
    const RunResult r =
        RunKestrix({"import", archive, "-p", e.root}, {std::string("KESTRIX_LOCK_WAIT=") + good});
    EXPECT_EQ(r.status, 0) << r.err;
  }
  EXPECT_EQ(ObjectNow(dir, archive, 2), e.object);
}

}  // namespace
}  // namespace kestrix
