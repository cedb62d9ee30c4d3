// The demo archives in samples/ are what the archive builder makes today, and they open.
#include "support/samples.h"

#include <gtest/gtest.h>

#include "core/session.h"
#include "formats/archive_open.h"
#include "support/test_env.h"

namespace kestrix {
namespace {

TEST(Samples, CommittedFilesMatchTheBuilderAndOpen) {
  for (const auto& [name, bytes] : testing::SampleArchives()) {
    std::string path = std::string(KESTRIX_SAMPLES_DIR) + "/" + name;
    EXPECT_EQ(testing::ReadFileBytes(path), bytes)
        << name << " is stale: rebuild it with build/tests/make_samples samples";
    Session s;
    testing::RecordingFrontend fe;
    testing::TempDir tmp;
    testing::WriteFileBytes(tmp.File(name), bytes);
    OpenArchive(s, fe, tmp.File(name));
    EXPECT_GT(s.EntryCount(), 0u) << name;
    CloseArchive(s);
  }
  for (const auto& [name, bytes] : testing::SampleResources()) {
    EXPECT_EQ(testing::ReadFileBytes(std::string(KESTRIX_SAMPLES_DIR) + "/" + name), bytes)
        << name << " is stale: rebuild it with build/tests/make_samples samples";
  }
}

}  // namespace
}  // namespace kestrix
