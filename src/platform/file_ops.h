// File system services the operations need: existence, folders with parents, whole-file
// copies and appends, and an output file that is closed on every path.
#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <utility>
#include <vector>

namespace kestrix {

class ByteSource;

bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
// Creates the folder and every missing parent; throws IoError when that fails.
void CreateFolders(const std::string& path);
// Deletes a file when it exists; failures are ignored.
void RemoveFileQuietly(const std::string& path);
uint64_t FileSizeOf(const std::string& path);
std::vector<uint8_t> ReadWholeFile(const std::string& path);

// A file this run made and owns: it is removed when the object goes.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
  ~TemporaryFile() { RemoveFileQuietly(path_); }
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
};

// Creates a new empty file named `folder` + `stem` + a few random characters + `suffix`, with a
// name that no file had (O_EXCL), and returns its path. When `folder` cannot be written, the
// system's temporary folder is used instead. Throws IoError when neither works.
std::string CreateFreeFile(const std::string& folder, const std::string& stem,
                           const std::string& suffix);

// A file created anew (or overwritten) for writing.
class OutputFile {
 public:
  explicit OutputFile(const std::string& path);
  ~OutputFile();
  OutputFile(const OutputFile&) = delete;
  OutputFile& operator=(const OutputFile&) = delete;

  void Write(const void* data, size_t n);
  void Write(const std::vector<uint8_t>& bytes) { Write(bytes.data(), bytes.size()); }
  void Write(const std::string& text) { Write(text.data(), text.size()); }
  // Copies n bytes of a source from pos, in bounded chunks.
  void CopyFrom(ByteSource& source, uint64_t pos, uint64_t n);
  uint64_t Tell() const { return written_; }
  // Writes at an absolute position (for header patches) and returns to the end.
  void PatchAt(uint64_t pos, const void* data, size_t n);
  // Flushes and closes; throws when the data could not be written.
  void Close();
  const std::string& Path() const { return path_; }

 private:
  std::string path_;
  std::FILE* file_ = nullptr;
  uint64_t written_ = 0;
};

}  // namespace kestrix
