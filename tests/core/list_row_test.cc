// The list's rows: what the window shows and what "list" prints come from the same values.
#include "core/list_row.h"

#include <gtest/gtest.h>
#ifndef _WIN32
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <functional>
#include <stdexcept>
#include <system_error>
#include <thread>

#include "core/session.h"
#include "formats/archive_open.h"
#include "formats/asset_reader.h"
#include "platform/byte_source.h"
#include "platform/io_error.h"
#include "platform/reader.h"
#include "support/asset_builder.h"
#include "support/samples.h"
#include "support/test_env.h"
#include "types/naming.h"

namespace kestrix {
namespace {

// What `print` writes to a stream, read back from a temporary file.
std::string Printed(const std::function<void(std::FILE*)>& print) {
  std::FILE* out = std::tmpfile();
  if (out == nullptr) throw std::runtime_error("no temporary file");
  print(out);
  std::fflush(out);
  std::string text;
  std::rewind(out);
  char buffer[4096];
  for (size_t n; (n = std::fread(buffer, 1, sizeof buffer, out)) > 0;) text.append(buffer, n);
  std::fclose(out);
  return text;
}

TEST(ListRow, RowsAndListLinesAgreeForEveryDemoEntry) {
  testing::TempDir dir;
  for (const auto& [name, bytes] : testing::SampleArchives()) {
    testing::WriteFileBytes(dir.File(name), bytes);
    Session s;
    testing::RecordingFrontend fe;
    OpenArchive(s, fe, dir.File(name));
    ListLineWriter writer(s);
    std::string all_lines;
    for (size_t i = 0; i < s.EntryCount(); ++i) {
      const ListRow row = BuildListRow(s, i);
      EXPECT_EQ(row.Number, static_cast<int32_t>(i + 1));
      EXPECT_EQ(row.TypeSuffix, " (" + s.Entries.TypeText(i) + ")");
      std::string direct;
      AppendListLine(s, i, direct);
      EXPECT_EQ(direct, ListLineText(row)) << name << " entry " << i;
      EXPECT_EQ(direct, std::to_string(i + 1) + "\t" + std::string(s.EntryName(i)) + "\t" +
                            TypeCellText(row) + "\t" + std::to_string(row.Size) + "\t" +
                            OffsetCellText(row.Offset));
      std::string written(writer.Bound(i), '\0');
      written.resize(static_cast<size_t>(writer.Put(i, written.data()) - written.data()));
      EXPECT_EQ(written, direct + "\n") << name << " entry " << i;
      all_lines += written;
    }
    // The whole listing, cut into runs of every length a second thread may format.
    for (size_t run : {size_t{1}, size_t{2}, size_t{3}, kListLinesRun}) {
      EXPECT_EQ(Printed([&](std::FILE* out) { WriteListLines(s, out, run); }), all_lines)
          << name << " in runs of " << run;
#ifndef _WIN32  // no full device on Windows
      // A listing that cannot be written whole is an error, not a shorter listing.
      std::FILE* full = std::fopen("/dev/full", "w");
      ASSERT_NE(full, nullptr);
      EXPECT_THROW(WriteListLines(s, full, run), IoError) << name << " in runs of " << run;
      std::fclose(full);
#endif
    }
    CloseArchive(s);
  }
  EXPECT_EQ(OffsetCellText(0x1A2C), "0x00001A2C");
  EXPECT_EQ(OffsetCellText(0xFFFFFFFFu), "0xFFFFFFFF");
  EXPECT_EQ(OffsetCellText(0x123456789ull), "0x123456789");
}

#ifndef _WIN32
// Reads, names and lists a file of `count` objects held in memory.
std::string ListingOf(const testing::Bytes& file) {
  MemorySource source(file);
  Reader reader(source);
  Session s;
  s.Archive.AssetBaseName = "level0";
  testing::RecordingFrontend fe;
  ReadAssetFile(s.Asset, s.Archive, fe, reader);
  NamingPass(s, fe, source, false);
  return Printed([&](std::FILE* out) { WriteListLines(s, out); });
}

// Windows has no per-user process limit to keep a child from starting threads: Linux only.
// Where the system starts no more threads (a limit on processes), a big file is read, named and
// listed on the one thread there is, with the same result.
TEST(ListRow, BigFilesListTheSameWithoutASecondThread) {
  testing::AssetSpec desc;
  const char* names[] = {"Rock", "rock", "Tree", "ROCK"};
  for (size_t i = 0; i < 70001; ++i) {
    if (i % 3 == 0)
      desc.objects.push_back({21, testing::NamedObject(names[i % 4], testing::Bytes(4, 1))});
    else
      desc.objects.push_back({1, testing::Bytes(8, 2)});
  }
  const testing::Bytes file = testing::BuildAssetFile(desc);
  const std::string expected = ListingOf(file);
  ASSERT_EQ(std::count(expected.begin(), expected.end(), '\n'), 70001);
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    // A user other than root, allowed no further process or thread.
    if (geteuid() == 0 && (setgid(65534) != 0 || setuid(65534) != 0)) _exit(3);
    const rlimit none{0, 0};
    if (setrlimit(RLIMIT_NPROC, &none) != 0) _exit(3);
    try {
      std::thread([] {}).join();
      _exit(3);  // threads still start: nothing to check here
    } catch (const std::system_error&) {
    }
    try {
      _exit(ListingOf(file) == expected ? 0 : 1);
    } catch (...) {
      _exit(2);
    }
  }
  int status = 0;
  ASSERT_EQ(waitpid(child, &status, 0), child);
  ASSERT_TRUE(WIFEXITED(status));
  if (WEXITSTATUS(status) == 3) GTEST_SKIP() << "this system cannot be kept from starting threads";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "1: another listing, 2: an error";
}
#endif

}  // namespace
}  // namespace kestrix
