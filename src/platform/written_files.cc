#include "platform/written_files.h"

#include <utility>

namespace kestrix {

namespace {
thread_local WrittenFiles* current = nullptr;
}  // namespace

WrittenFiles::WrittenFiles() : outer_(current) { current = this; }

WrittenFiles::~WrittenFiles() { current = outer_; }

std::vector<WrittenFile> WrittenFiles::Take() { return std::exchange(files_, {}); }

bool WrittenFiles::Collecting() { return current != nullptr; }

void WrittenFiles::Note(const std::string& path, const ContentHash* hash) {
  if (!current) return;
  WrittenFile file;
  file.path = path;
  if (hash) {
    file.hashed = true;
    file.hash = *hash;
  }
  current->files_.push_back(std::move(file));
}

}  // namespace kestrix
