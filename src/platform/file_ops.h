// File system services the operations need: existence, folders with parents, whole-file
// copies and appends, and an output file that is closed on every path.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <utility>
#include <vector>

#include "platform/content_hash.h"

namespace kestrix {

class ByteSource;

bool FileExists(const std::string& path);
bool FolderExists(const std::string& path);
// Creates the folder and every missing parent; throws IoError when that fails.
void CreateFolders(const std::string& path);
// Creates the folder like CreateFolders, then throws IoError when no file can be made in it
// (no write permission, a read-only file system): a run that writes many files says so once.
void CreateWritableFolder(const std::string& path);
// Deletes a file when it exists; failures are ignored.
void RemoveFileQuietly(const std::string& path);
uint64_t FileSizeOf(const std::string& path);

// Which file a path names and how it was when looked at: another file in its place, or a
// write to it, gives another stamp. A missing file gives the empty stamp.
struct FileStamp {
  uint64_t device = 0, inode = 0, size = 0;
  int64_t modified_ns = 0;
  bool operator==(const FileStamp& o) const {
    return device == o.device && inode == o.inode && size == o.size && modified_ns == o.modified_ns;
  }
  bool operator!=(const FileStamp& o) const { return !(*this == o); }
};
FileStamp StampOf(const std::string& path);
std::vector<uint8_t> ReadWholeFile(const std::string& path);

// A file this run made and owns: it is removed when the object goes.
class TemporaryFile {
 public:
  explicit TemporaryFile(std::string path) : path_(std::move(path)) {}
  ~TemporaryFile();
  TemporaryFile(const TemporaryFile&) = delete;
  TemporaryFile& operator=(const TemporaryFile&) = delete;
  const std::string& Path() const { return path_; }
  // Marks the file as in use by this run and lists it for the signal handler (see
  // platform/temporaries.h); files from CreateFreeFile already are.
  void MarkInUse();

 private:
  std::string path_;
};

// Removes the files `folder` + `stem` + 8 random characters + `suffix` (CreateFreeFile's names)
// that a run which was killed left behind: those no living run marks in use.
void RemoveAbandonedFiles(const std::string& folder, const std::string& stem,
                          const std::string& suffix);

// Creates a new empty file named `folder` + `stem` + 8 random characters + `suffix`, with a
// name that no file had (O_EXCL), and returns its path. When `folder` cannot be written, the
// system's temporary folder is used instead. Throws IoError when neither works. The file is a
// temporary of this run (platform/temporaries.h): marked in use and removed by SIGINT and
// SIGTERM until its owner removes it (RemoveTemporary) or keeps it (ForgetTemporary).
std::string CreateFreeFile(const std::string& folder, const std::string& stem,
                           const std::string& suffix);

// A file a run keeps for as long as it has an archive open (an unpacked or joined archive):
// files of the same stem and suffix left by killed runs are removed first (RemoveAbandonedFiles),
// then a free name is created (CreateFreeFile).
std::shared_ptr<TemporaryFile> MakeRunFile(const std::string& folder, const std::string& stem,
                                           const std::string& suffix);

// Writes bytes over part of an existing file, which keeps its length beyond them.
void PatchFile(const std::string& path, uint64_t pos, const void* data, size_t n);
// Flushes a file's data, or a folder's entries (a rename or a removal), to the disk, so that a
// crash afterwards cannot undo them. Throws IoError when the system refuses.
void SyncFile(const std::string& path);
void SyncFolder(const std::string& folder);
// Replaces `to` with `from` in one step (both in one folder): a reader sees the old file or the
// new one, never a mix. Throws IoError when that fails; `from` then stays.
void ReplaceFile(const std::string& from, const std::string& to);

// A new version of `target`, written under a free name beside it (see CreateFreeFile) and put
// in its place only by Commit, so that a failure or a kill leaves the target as it was. An
// uncommitted file is removed when the object goes.
class ReplacementFile {
 public:
  explicit ReplacementFile(const std::string& target);
  ~ReplacementFile();
  ReplacementFile(const ReplacementFile&) = delete;
  ReplacementFile& operator=(const ReplacementFile&) = delete;
  // Where to write the new version.
  const std::string& Path() const { return path_; }
  const std::string& Target() const { return target_; }
  // Flushes the new version to the disk: from here on a crash leaves it whole.
  void Flush() { SyncFile(path_); }
  // Renames it over the target. The folder is not flushed: whoever commits several files
  // flushes it once.
  void Commit();

 private:
  std::string target_;
  std::string path_;
  bool committed_ = false;
};

// A file written whole or not at all. Unless Close succeeds, what was written is removed: a
// file that could not be written whole does not stay behind.
class OutputFile {
 public:
  enum class Target {
    // A new file under a free name beside `path` (O_EXCL, O_NOFOLLOW), renamed over `path` by
    // Close: an earlier version or a link planted at the name (export folders are shared) is
    // replaced, never written through. A folder, pipe or device at the name is refused.
    kNew,
    // A file this run just created under a free name (CreateFreeFile, MakeRunFile,
    // ReplacementFile), written where it is: it keeps its inode and so the in-use mark on it.
    // It must still be a regular file; a link put there since is not followed.
    kRunFile,
  };
  explicit OutputFile(const std::string& path, Target target = Target::kNew);
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
  void RemovePartFile();

  void WriteOut(const char* data, size_t n);
  void FlushBuffer();

  static constexpr size_t kBufferSize = 64 << 10;
  std::string path_;
  std::string part_;  // where the bytes go until Close: path_ itself for kRunFile
  int fd_ = -1;
  std::unique_ptr<char[]> buffer_;
  size_t buffered_ = 0;
  uint64_t written_ = 0;
  // The bytes' hash as they go out, for the export record; gone once a patch changed them.
  std::unique_ptr<ContentHasher> hasher_;
  uint64_t device_ = 0, inode_ = 0;  // the file as opened: only it is ever removed
};

// A ReplacementFile written through an OutputFile: the file appears whole or not at all.
class WholeFileWriter {
 public:
  explicit WholeFileWriter(const std::string& path);
  ~WholeFileWriter();
  WholeFileWriter(const WholeFileWriter&) = delete;
  WholeFileWriter& operator=(const WholeFileWriter&) = delete;

  OutputFile& Out() { return *out_; }
  void Commit();

 private:
  ReplacementFile replacement_;
  std::unique_ptr<OutputFile> out_;
};

// An existing file that only grows: bytes already in it are never written. What is appended is
// cut off again unless Commit() is reached, and Commit() returns only once the appended bytes are
// on the disk (fsync), so something written afterwards may point at them.
class AppendOnlyFile {
 public:
  explicit AppendOnlyFile(const std::string& path);
  ~AppendOnlyFile();
  AppendOnlyFile(const AppendOnlyFile&) = delete;
  AppendOnlyFile& operator=(const AppendOnlyFile&) = delete;

  // The file's length when it was opened: where the first appended byte goes.
  uint64_t StartSize() const { return start_size_; }
  // Copies n bytes of a source from pos to the end of the file, in bounded chunks.
  void AppendFrom(ByteSource& source, uint64_t pos, uint64_t n);
  void Commit();

 private:
  std::string path_;
  int fd_ = -1;
  uint64_t start_size_ = 0;
  uint64_t size_ = 0;
  bool committed_ = false;
};

}  // namespace kestrix
