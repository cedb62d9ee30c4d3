#include "support.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <filesystem>

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

}  // namespace kestrix::fuzz
