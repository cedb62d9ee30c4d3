// A file that replaces another one whole, or not at all. It is written beside its target (so
// that the final rename stays on one file system), flushed to the disk, and only then renamed
// over the target in one step. Until Commit the target is untouched; a failure or a kill at any
// moment leaves the target as it was. Where the file system allows it the file has no name
// while it is written, so that a killed run leaves nothing behind.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrix {

class FileSource;

class ReplacingFile {
 public:
  // `target` must exist: the new file takes its folder and permissions. Throws IoError.
  explicit ReplacingFile(const std::string& target);
  ~ReplacingFile();
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  void Write(const void* data, size_t n);
  // Appends n bytes of `source` from pos, in the kernel where it can (copy_file_range).
  void CopyFrom(FileSource& source, uint64_t pos, uint64_t n);
  uint64_t Size() const { return written_; }
  // A path by which the new file can be opened before Commit (to patch it in place).
  std::string Path() const;
  // Flushes to the disk and puts the file in the target's place. Throws IoError; the target is
  // then unchanged.
  void Commit();

 private:
  std::string given_;   // the target as the caller named it
  std::string target_;  // the file it replaces, links resolved
  std::string folder_;
  std::string named_;  // the name the file has while written ("" while it has none)
  int fd_ = -1;
  bool unnamed_ = false;
  bool committed_ = false;
  uint64_t written_ = 0;
};

}  // namespace kestrix
