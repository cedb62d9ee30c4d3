#include "support.h"

#include <sys/resource.h>
#include <unistd.h>

#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <filesystem>

// A few hundred kilobytes of LZMA may rightly unpack to gigabytes; that costs time and disk
// without reaching new code, so every file the targets write stops at 256 MiB (a write past it
// fails with an error the program reports, instead of a signal).
extern "C" int LLVMFuzzerInitialize(int*, char***) {
  std::signal(SIGXFSZ, SIG_IGN);
  struct rlimit limit = {256u << 20, 256u << 20};
  setrlimit(RLIMIT_FSIZE, &limit);
  return 0;
}

namespace kestrix::fuzz {

namespace fs = std::filesystem;

const std::string& ScratchDir() {
  // Kept for the whole process (never destroyed), so the exit handler can still use it.
  static const std::string* dir = [] {
    std::string pattern = (fs::temp_directory_path() / "kestrix-fuzz-XXXXXX").string();
    if (!::mkdtemp(pattern.data())) std::abort();
    auto* made = new std::string(pattern);
    std::atexit([] {
      std::error_code ec;
      fs::remove_all(*dir, ec);
    });
    return made;
  }();
  return *dir;
}

void ClearScratch() {
  std::error_code ec;
  for (const auto& e : fs::directory_iterator(ScratchDir(), ec)) fs::remove_all(e.path(), ec);
}

std::string WriteInput(const uint8_t* data, size_t size, const std::string& name) {
  ClearScratch();
  std::string path = ScratchDir() + "/" + name;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) std::abort();
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
  return path;
}

bool WriteScratchFile(const std::string& relative, const uint8_t* data, size_t size) {
  if (relative.empty()) return false;
  fs::path path = fs::path(ScratchDir()) / relative;
  std::error_code ec;
  fs::create_directories(path.parent_path(), ec);
  if (ec) return false;
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) return false;
  if (size) std::fwrite(data, 1, size, f);
  std::fclose(f);
  return true;
}

}  // namespace kestrix::fuzz
