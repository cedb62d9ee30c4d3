// The crash-safe writers: a file replaced only when it is complete, an output file that does not
// stay cut short, and a file that only grows and loses what an unfinished append wrote.
#include "platform/file_ops.h"

#include <gtest/gtest.h>

#include <cstring>
#include <filesystem>
#include <stdexcept>

#include "platform/byte_source.h"
#include "platform/io_error.h"
#include "support/asset_builder.h"
#include "support/test_env.h"

namespace kestrix {
namespace {

using testing::Bytes;

TEST(WholeFileWriter, TargetChangesOnlyOnCommitAndNoTemporaryFileStays) {
  testing::TempDir tmp;
  const std::string target = tmp.File("raw");
  testing::WriteFileBytes(target, Bytes{1, 2, 3});
  {
    WholeFileWriter abandoned(target);
    abandoned.Out().Write(Bytes(5000, 9));
  }
  EXPECT_EQ(testing::ReadFileBytes(target), (Bytes{1, 2, 3}));
  {
    WholeFileWriter done(target);
    done.Out().Write(Bytes{7, 8});
    EXPECT_EQ(testing::ReadFileBytes(target), (Bytes{1, 2, 3}));
    done.Commit();
  }
  EXPECT_EQ(testing::ReadFileBytes(target), (Bytes{7, 8}));
  EXPECT_EQ(testing::ListFiles(tmp.Path()), std::vector<std::string>{"raw"});
}

// An output file appears only when it was written whole: a copy that fails half-way leaves no
// part behind and the earlier export as it was (it is replaced only by a whole new one), and
// something that is not a regular file at the name is refused and left alone.
TEST(OutputFile, StaysOnlyWhenClosedWhole) {
  testing::TempDir tmp;
  const std::string path = tmp.File("raw.tex");
  {
    OutputFile kept(path);
    kept.Write(Bytes{1, 2, 3});
    kept.Close();
  }
  EXPECT_EQ(testing::ReadFileBytes(path), (Bytes{1, 2, 3}));
  try {
    OutputFile cut(path);  // overwrites the earlier export
    cut.Write(Bytes(5000, 9));
    throw std::runtime_error("the converter failed");
  } catch (const std::runtime_error&) {
  }
  EXPECT_EQ(testing::ListFiles(tmp.Path()), std::vector<std::string>{"raw.tex"});
  EXPECT_EQ(testing::ReadFileBytes(path), (Bytes{1, 2, 3}));
#ifndef _WIN32  // a device in the folder of the name
  EXPECT_THROW(OutputFile("/dev/full"), IoError);
  EXPECT_TRUE(std::filesystem::is_character_file("/dev/full"));
#endif
}

// Hands out its bytes, then fails, as a disk error half-way through a copy would.
class FailingSource : public ByteSource {
 public:
  explicit FailingSource(size_t good) : good_(good) {}
  uint64_t Size() const override { return 1 << 24; }
  void ReadAt(uint64_t pos, void* dst, size_t n) override {
    if (pos + n > good_) throw std::runtime_error("read failed");
    std::memset(dst, 0x5A, n);
  }

 private:
  size_t good_;
};

TEST(AppendOnlyFile, UnfinishedAppendsAreCutOffAndCommittedOnesStay) {
  testing::TempDir tmp;
  const std::string path = tmp.File("res");
  const Bytes old(100, 0x11);
  testing::WriteFileBytes(path, old);
  {
    AppendOnlyFile file(path);
    EXPECT_EQ(file.StartSize(), 100u);
    FailingSource source(1 << 20);  // one whole chunk arrives before the failure
    EXPECT_THROW(file.AppendFrom(source, 0, 3 << 20), std::runtime_error);
    EXPECT_EQ(FileSizeOf(path), 100u + (1 << 20));
  }
  EXPECT_EQ(testing::ReadFileBytes(path), old);
  {
    AppendOnlyFile file(path);
    FailingSource source(64);
    file.AppendFrom(source, 0, 10);
    file.AppendFrom(source, 10, 6);
    file.Commit();
  }
  Bytes expected = old;
  expected.insert(expected.end(), 16, 0x5A);
  EXPECT_EQ(testing::ReadFileBytes(path), expected);
}

}  // namespace
}  // namespace kestrix
