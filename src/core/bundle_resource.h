// Resource data (".resS", ".resource") that a bundle carries as a contained file of its own. A
// streamed texture, sound or mesh of the bundle names it ("archive:/CAB-x/CAB-x.resS"); its bytes
// are read straight from the working file, so export, the preview and import need no earlier
// step that writes the contained file out.
#pragma once

#include <cstdint>
#include <memory>
#include <string>

#include "platform/byte_source.h"

namespace kestrix {

struct OpenedArchive;
struct Container;

// Where the contained-file offsets of a bundle count from in the working file.
uint64_t ContainedFilesBase(const Container& bundle);

struct ContainedResource {
  int index = -1;      // in the bundle's contained files; -1: the bundle holds no such file
  std::string name;    // the contained file's name without folders
  uint64_t start = 0;  // in `file`
  uint64_t size = 0;
  // The stream at ArchivePath, or for an entry of a web data file beside the bundle being read
  // (a web build keeps ".resource" files there), the unwrapped container.
  std::string file;

  bool Found() const { return index >= 0; }
  // An entry of the web data file rather than a contained file of the bundle: read only.
  bool InWebData() const { return index < 0 && !file.empty(); }
  bool Readable() const { return Found() || InWebData(); }
};

// The contained file of the open bundle that `resource_path` names, the asset file being read
// excepted: the one whose normalised name is the path's, else the only one whose file name is the
// path's last part; failing that, an entry of the open web data file named so. Not found for a
// plain file, for a path that names no contained file (the
// look-up beside the archive applies then) and for one that lies past the working file's end.
ContainedResource FindContainedResource(const OpenedArchive& archive,
                                        const std::string& resource_path);

// Bytes [start, start + size) of a file, read as a file of their own.
class WindowSource : public ByteSource {
 public:
  WindowSource(const std::string& path, uint64_t start, uint64_t size);
  uint64_t Size() const override { return size_; }
  void ReadAt(uint64_t pos, void* dst, size_t n) override;

 private:
  FileSource file_;
  uint64_t start_ = 0;
  uint64_t size_ = 0;
};

// The resource's bytes, read from its file.
std::unique_ptr<ByteSource> OpenContainedResource(const OpenedArchive& archive,
                                                  const ContainedResource& resource);

}  // namespace kestrix
