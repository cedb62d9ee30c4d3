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

namespace {

// A web build keeps its ".resource" files as entries of the data file, beside the bundle whose
// objects name them.
ContainedResource FindWebDataResource(const OpenedArchive& a, const std::string& wanted) {
  ContainedResource found;
  const WebDataContainer& w = a.WebData;
  if (!w.Present || w.ContainerPath.empty() || !FileExists(w.ContainerPath)) return found;
  const uint64_t length = FileSizeOf(w.ContainerPath);
  const std::string wanted_name = FileNameOf(wanted);
  const WebDataEntry* match = nullptr;
  int matches = 0;
  for (const WebDataEntry& e : w.Entries) {
    if (!e.Nested.empty()) continue;
    const std::string name = Normalised(e.Name);
    if (name == wanted) {
      match = &e;
      matches = 1;
      break;
    }
    if (FileNameOf(name) == wanted_name) {
      match = &e;
      ++matches;
    }
  }
  if (matches != 1 || match->Offset > length || match->Size > length - match->Offset) return found;
  found.name = FileNameOf(Normalised(match->Name));
  found.start = match->Offset;
  found.size = match->Size;
  found.file = w.ContainerPath;
  return found;
}

}  // namespace

ContainedResource FindContainedResource(const OpenedArchive& a, const std::string& resource_path) {
  ContainedResource found;
  if (resource_path.empty()) return found;
  if (!a.Bundle.IsBundle()) return FindWebDataResource(a, Normalised(resource_path));
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
  if (name_matches != 1) return FindWebDataResource(a, wanted);
  const ContainedFile& f = files[static_cast<size_t>(by_name)];
  const uint64_t base = ContainedFilesBase(a.Bundle);
  const uint64_t length = FileExists(a.ArchivePath) ? FileSizeOf(a.ArchivePath) : 0;
  if (base > length || f.Offset > length - base || f.Size > length - base - f.Offset) return found;
  found.index = by_name;
  found.file = a.ArchivePath;
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
  return std::make_unique<WindowSource>(resource.file.empty() ? a.ArchivePath : resource.file,
                                        resource.start, resource.size);
}

}  // namespace kestrix
