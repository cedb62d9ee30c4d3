// Damaged archives through the real program: every demo archive, cut at many lengths and with
// single bytes changed at many places, is exported by the kestrix binary. Each run must end
// with status 0 or 1 (never a signal), write only below its output folder, and write no more
// than a bounded multiple of its input.
#include <gtest/gtest.h>

#include <filesystem>
#include <random>

#include "support/asset_builder.h"
#include "support/samples.h"
#include "support/test_env.h"

namespace kestrix {
namespace {

namespace fs = std::filesystem;

uint64_t TreeBytes(const std::string& folder) {
  uint64_t total = 0;
  std::error_code ec;
  if (!fs::exists(folder, ec)) return 0;
  for (const auto& e : fs::recursive_directory_iterator(folder))
    if (e.is_regular_file()) total += e.file_size();
  return total;
}

void CheckRun(const testing::Bytes& bytes, const std::string& name, const std::string& what) {
  testing::TempDir dir;
  std::string input = dir.File(name);
  testing::WriteFileBytes(input, bytes);
  std::string out = dir.File("out");
  testing::RunResult r = testing::RunKestrix({"export", input, "-p", out, "-ndc"});
  ASSERT_EQ(r.signal, 0) << what << ": killed by signal " << r.signal << "\n" << r.err;
  ASSERT_TRUE(r.status == 0 || r.status == 1) << what << ": status " << r.status << "\n" << r.err;
  if (r.status == 1) {
    EXPECT_FALSE(r.err.empty()) << what << ": failed without a message";
  }
  // Nothing beside the input but the output folder (temporary files are cleaned up).
  for (const auto& e : fs::directory_iterator(dir.Path())) {
    std::string n = e.path().filename().string();
    EXPECT_TRUE(n == name || n == "out") << what << ": left " << n;
  }
  EXPECT_LE(TreeBytes(out), 64 * bytes.size() + 65536) << what;
}

// Under wine a process start costs a third of a second. The readers are the same code on both
// systems and the Linux run sweeps them fully; on Windows a quarter of the runs checks the
// program's own exit paths.
#ifdef _WIN32
constexpr int kCuts = 10, kChanges = 20;
#else
constexpr int kCuts = 40, kChanges = 80;
#endif

TEST(MutationSweep, DamagedDemoArchivesNeverCrashTheProgram) {
  std::mt19937 rng(20261207);
  for (const auto& [name, bytes] : testing::SampleArchives()) {
    if (bytes.size() < 16) continue;
    // Cuts: lengths spread over the file.
    for (int k = 0; k < kCuts; ++k) {
      size_t len = bytes.size() * static_cast<size_t>(k) / kCuts;
      CheckRun(testing::Bytes(bytes.begin(), bytes.begin() + static_cast<long>(len)), name,
               name + " cut at " + std::to_string(len));
    }
    // Single changed bytes at random places, half of them in the header and tables.
    for (int k = 0; k < kChanges; ++k) {
      testing::Bytes mutated = bytes;
      size_t limit = k % 2 ? mutated.size() : std::min<size_t>(mutated.size(), 512);
      size_t at = rng() % limit;
      uint8_t values[] = {0x00, 0xFF, 0x7F, 0x80, static_cast<uint8_t>(rng())};
      mutated[at] = values[rng() % 5];
      CheckRun(mutated, name, name + " byte " + std::to_string(at) + " = " + std::to_string(mutated[at]));
    }
  }
}

}  // namespace
}  // namespace kestrix
