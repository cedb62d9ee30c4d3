// Random-access byte sources: a file read with 64-bit positions, or a block of memory.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrix {

class OpenedFile;

class ByteSource {
 public:
  virtual ~ByteSource() = default;
  virtual uint64_t Size() const = 0;
  // Reads exactly n bytes at pos; throws IoError when they are not all there.
  virtual void ReadAt(uint64_t pos, void* dst, size_t n) = 0;
};

// A file opened for reading; closed when the object goes.
class FileSource : public ByteSource {
 public:
  explicit FileSource(const std::string& path);
  // A file of a folder Kestrix did not make, opened and checked by OpenInsideFolder
  // (platform/safe_files.h).
  explicit FileSource(OpenedFile&& file);
  ~FileSource() override;
  FileSource(const FileSource&) = delete;
  FileSource& operator=(const FileSource&) = delete;

  uint64_t Size() const override { return size_; }
  void ReadAt(uint64_t pos, void* dst, size_t n) override;
  const std::string& Path() const { return path_; }
  // For in-kernel copies (copy_file_range); reads still go through ReadAt.
  int Descriptor() const { return fd_; }

 private:
  std::string path_;
  int fd_ = -1;
  uint64_t size_ = 0;
#ifdef _WIN32
  friend void ReleaseOwnHandles(const std::string& path);
  void Register();
  uint64_t device_ = 0, index_ = 0;  // which file the descriptor reads
#endif
};

// Windows cannot put a new file in the place of one that this process holds open, so every
// FileSource reading `path` closes its descriptor before the replace, and opens the name again
// on its next read (it then reads the new file, which the session follows after an import).
// Other systems replace open files: nothing to do there.
#ifdef _WIN32
void ReleaseOwnHandles(const std::string& path);
#else
inline void ReleaseOwnHandles(const std::string&) {}
#endif

// Bytes held in memory (not owned).
class MemorySource : public ByteSource {
 public:
  MemorySource(const uint8_t* data, size_t size) : data_(data), size_(size) {}
  explicit MemorySource(const std::vector<uint8_t>& bytes) : data_(bytes.data()), size_(bytes.size()) {}

  uint64_t Size() const override { return size_; }
  void ReadAt(uint64_t pos, void* dst, size_t n) override;

 private:
  const uint8_t* data_;
  size_t size_;
};

}  // namespace kestrix
