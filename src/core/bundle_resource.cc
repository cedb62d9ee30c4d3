#include "core/bundle_resource.h"

#include "core/archive.h"
#include "platform/file_ops.h"
#include "platform/io_error.h"
#include "platform/paths.h"

namespace kestrix {

namespace {

// The engine writes resource paths with either separator and an "archive:" prefix; contained
// names are stored without the prefix (or with it, normalised away by the open).
std::string Normalised(const std::string& path) {
  const size_t colon = path.rfind(':');
  std::string out = NativeSeparators(colon == std::string::npos ? path : path.substr(colon + 1));
  while (!out.empty() && out.front() == kSep) out.erase(out.begin());
  return out;
}

}  // namespace

uint64_t ContainedFilesBase(const Container& bundle) {
  return bundle.HasBlocks() ? bundle.BlockDataStart : bundle.V3.HeaderSize;
}

ContainedResource FindContainedResource(const OpenedArchive& a, const std::string& resource_path) {
  ContainedResource found;
  if (!a.Bundle.IsBundle() || resource_path.empty()) return found;
  const std::string wanted = Normalised(resource_path);
  const std::string wanted_name = FileNameOf(wanted);
  if (wanted_name.empty()) return found;
  const auto& files = a.Bundle.ContainedFiles;
  int by_name = -1, name_matches = 0;
  for (size_t i = 0; i < files.size(); ++i) {
    if (static_cast<int>(i) == a.SelectedFileIndex) continue;
    std::string name = files[i].Name;
    while (!name.empty() && name.front() == kSep) name.erase(name.begin());
    if (name == wanted) {
      by_name = static_cast<int>(i);
      name_matches = 1;
      break;
    }
    if (FileNameOf(name) == wanted_name) {
      by_name = static_cast<int>(i);
      ++name_matches;
    }
  }
  if (name_matches != 1) return found;
  const ContainedFile& f = files[static_cast<size_t>(by_name)];
  const uint64_t base = ContainedFilesBase(a.Bundle);
  const uint64_t length = FileExists(a.ArchivePath) ? FileSizeOf(a.ArchivePath) : 0;
  if (base > length || f.Offset > length - base || f.Size > length - base - f.Offset) return found;
  found.index = by_name;
  found.name = FileNameOf(f.Name);
  found.start = base + f.Offset;
  found.size = f.Size;
  return found;
}

WindowSource::WindowSource(const std::string& path, uint64_t start, uint64_t size)
    : file_(path), start_(start), size_(size) {
  if (start > file_.Size() || size > file_.Size() - start)
    throw IoError("The contained file at " + std::to_string(start) + " (" + std::to_string(size) +
                  " bytes) runs past the end of " + path + ".");
}

void WindowSource::ReadAt(uint64_t pos, void* dst, size_t n) {
  if (pos > size_ || n > size_ - pos)
    throw IoError("Read of " + std::to_string(n) + " bytes at " + std::to_string(pos) +
                  " runs past the end of a contained file of " + std::to_string(size_) + " bytes.");
  file_.ReadAt(start_ + pos, dst, n);
}

std::unique_ptr<ByteSource> OpenContainedResource(const OpenedArchive& a,
                                                  const ContainedResource& resource) {
  return std::make_unique<WindowSource>(a.ArchivePath, resource.start, resource.size);
}

}  // namespace kestrix
