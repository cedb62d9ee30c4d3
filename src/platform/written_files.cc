#include "platform/written_files.h"

#include <utility>

namespace kestrix {

namespace {
thread_local WrittenFiles* current = nullptr;
}  // namespace

WrittenFiles::WrittenFiles() : outer_(current) { current = this; }

WrittenFiles::~WrittenFiles() { current = outer_; }

std::vector<std::string> WrittenFiles::Take() { return std::exchange(paths_, {}); }

void WrittenFiles::Note(const std::string& path) {
  if (current) current->paths_.push_back(path);
}

}  // namespace kestrix
