#include "platform/file_ops.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <filesystem>

#include "platform/archive_lock.h"
#include "platform/byte_source.h"
#include "platform/io_error.h"
#include "platform/paths.h"
#include "platform/safe_files.h"
#include "platform/sys.h"
#include "platform/temporaries.h"
#include "platform/written_files.h"

namespace kestrix {

namespace fs = std::filesystem;

bool FileExists(const std::string& path) {
  sys::Stat st{};
  return sys::stat(path.c_str(), &st) == 0 && S_ISREG(st.st_mode);
}

bool FolderExists(const std::string& path) {
  sys::Stat st{};
  return sys::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

void CreateFolders(const std::string& path) {
  if (path.empty() || FolderExists(path)) return;
  std::error_code ec;
  fs::create_directories(FsPath(path), ec);
  if (ec && !FolderExists(path))
    throw IoError("Cannot create folder " + path + ": " + ec.message());
}

void CreateWritableFolder(const std::string& path) {
  CreateFolders(path);
  if (sys::access(path.c_str(), W_OK | X_OK) != 0)
    throw IoError("Cannot write into folder " + path + ": " + std::strerror(errno));
}

void RemoveFileQuietly(const std::string& path) {
  std::error_code ec;
  fs::remove(FsPath(path), ec);
}

TemporaryFile::~TemporaryFile() { RemoveTemporary(path_); }

void TemporaryFile::MarkInUse() { AdoptTemporary(path_); }

void RemoveAbandonedFiles(const std::string& folder, const std::string& stem,
                          const std::string& suffix) {
  std::error_code ec;
  fs::directory_iterator it(folder.empty() ? FsPath(".") : FsPath(folder), ec), end;
  std::vector<std::string> names;
  for (; !ec && it != end; it.increment(ec)) {
    std::string name = PathText(it->path().filename());
    if (name.size() == stem.size() + 8 + suffix.size() && name.compare(0, stem.size(), stem) == 0 &&
        name.compare(stem.size() + 8, suffix.size(), suffix) == 0)
      names.push_back(std::move(name));
  }
  for (const std::string& name : names) RemoveIfAbandoned(folder + name);
}

std::string CreateFreeFile(const std::string& folder, const std::string& stem,
                           const std::string& suffix) {
  std::string path = CreateTemporaryIn(folder, stem, suffix);
  if (!path.empty()) return path;
  std::error_code ec;
  std::string temp = PathText(fs::temp_directory_path(ec));
  if (!ec && !temp.empty()) {
    if (temp.back() != '/') temp += '/';
    path = CreateTemporaryIn(temp, stem, suffix);
    if (!path.empty()) return path;
  }
  throw IoError("Cannot create a working file for " + folder + stem + ": " + std::strerror(errno));
}

std::shared_ptr<TemporaryFile> MakeRunFile(const std::string& folder, const std::string& stem,
                                           const std::string& suffix) {
  RemoveAbandonedFiles(folder, stem, suffix);
  return std::make_shared<TemporaryFile>(CreateFreeFile(folder, stem, suffix));
}

uint64_t FileSizeOf(const std::string& path) {
  sys::Stat st{};
  if (sys::stat(path.c_str(), &st) != 0)
    throw IoError("Cannot read file " + path + ": " + std::strerror(errno));
  return static_cast<uint64_t>(st.st_size);
}

FileStamp StampOf(const std::string& path) {
  sys::Stat st{};
  if (sys::stat(path.c_str(), &st) != 0) return {};
#ifdef _WIN32
  const int64_t modified_ns = st.modified_ns;
#else
  const int64_t modified_ns = static_cast<int64_t>(st.st_mtim.tv_sec) * 1000000000 + st.st_mtim.tv_nsec;
#endif
  return {static_cast<uint64_t>(st.st_dev), static_cast<uint64_t>(st.st_ino),
          static_cast<uint64_t>(st.st_size), modified_ns};
}

std::vector<uint8_t> ReadWholeFile(const std::string& path) {
  FileSource source(path);
  std::vector<uint8_t> bytes(static_cast<size_t>(source.Size()));
  source.ReadAt(0, bytes.data(), bytes.size());
  return bytes;
}

void PatchFile(const std::string& path, uint64_t pos, const void* data, size_t n) {
  int fd = sys::open(path.c_str(), O_WRONLY | O_CLOEXEC);
  if (fd < 0) throw IoError("Cannot write file " + path + ": " + std::strerror(errno));
  const auto* p = static_cast<const uint8_t*>(data);
  while (n > 0) {
    ssize_t done = sys::pwrite(fd, p, n, static_cast<off_t>(pos));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) {
      int err = errno;
      sys::close(fd);
      throw IoError("Cannot write file " + path + ": " + std::strerror(err));
    }
    p += done;
    pos += static_cast<uint64_t>(done);
    n -= static_cast<size_t>(done);
  }
  if (sys::close(fd) != 0) throw IoError("Cannot write file " + path + ": " + std::strerror(errno));
}

namespace {

void SyncPath(const std::string& path, int flags) {
  int fd = sys::open(path.c_str(), flags | O_CLOEXEC);
  if (fd < 0) throw IoError("Cannot flush " + path + ": " + std::strerror(errno));
  int rc = sys::fsync(fd);
  int err = errno;
  sys::close(fd);
  if (rc != 0) throw IoError("Cannot flush " + path + ": " + std::strerror(err));
}

}  // namespace

void SyncFile(const std::string& path) { SyncPath(path, O_RDONLY); }

void SyncFolder(const std::string& folder) {
  SyncPath(folder.empty() ? std::string(".") : folder, O_RDONLY | O_DIRECTORY);
}

void ReplaceFile(const std::string& from, const std::string& to) {
  HandOverArchiveLock(from, to);
#ifdef _WIN32
  // Windows renames no file that this process holds open (see ReleaseOwnHandles).
  ReleaseOwnHandles(to);
  UnmarkTemporary(to);
#endif
  if (sys::rename(from.c_str(), to.c_str()) != 0)
    throw IoError("Cannot replace " + to + ": " + std::strerror(errno));
}

ReplacementFile::ReplacementFile(const std::string& target) : target_(target) {
  std::string folder = FolderOf(target);
  if (folder.empty()) folder = std::string(".") + kSep;
  // Beside the target, so that the rename stays on one file system (CreateFreeFile falls back to
  // the system's temporary folder, which may be another one). The stem is cut so that a long
  // target name still leaves room for the random part.
  path_ = CreateFreeFile(folder, "." + FileNameOf(target).substr(0, 64) + ".new-", "");
  if (FolderOf(path_) != folder) {
    RemoveTemporary(path_);
    throw IoError("Cannot create file " + target + ": its folder cannot be written.");
  }
  // The new version keeps the permissions the user gave the old one (a link's target is not
  // the old version).
  sys::Stat st{};
  if (sys::lstat(target.c_str(), &st) == 0 && S_ISREG(st.st_mode))
    sys::chmod(path_.c_str(), st.st_mode & 07777);
}

ReplacementFile::~ReplacementFile() {
  if (!committed_) RemoveTemporary(path_);
}

void ReplacementFile::Commit() {
  // The mark would hold the file the rename hands the target's lock to (HandOverArchiveLock).
  UnmarkTemporary(path_);
  ReplaceFile(path_, target_);
  committed_ = true;
  ForgetTemporary(path_);
  RenewTemporaryMark(target_);
}

namespace {

// Creates a file under a name nothing had, not even a dangling link (O_EXCL, O_NOFOLLOW): a
// link planted at the name cannot make it land elsewhere. Returns the descriptor, or -1 with
// errno set.
int CreateFreeName(const std::string& folder, const std::string& stem, const std::string& suffix,
                   mode_t mode, std::string* out) {
  for (int attempt = 0; attempt < 64; ++attempt) {
    const std::string path = folder + stem + RandomNamePart() + suffix;
    int fd = sys::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_NOFOLLOW | O_CLOEXEC, mode);
    if (fd >= 0) {
      *out = path;
      return fd;
    }
    if (errno != EEXIST) return -1;
  }
  return -1;
}

}  // namespace

OutputFile::OutputFile(const std::string& path, Target target) : path_(path) {
  if (target == Target::kRunFile) {
    fd_ = sys::open(path.c_str(), O_WRONLY | O_TRUNC | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
    if (fd_ < 0) throw IoError("Cannot create file " + path + ": " + std::strerror(errno));
    part_ = path;
  } else {
    // A folder, pipe or device at the name is not an earlier output: it is refused rather than
    // replaced. A link is replaced by the rename, as a regular file is.
    sys::Stat old{};
    const bool exists = sys::lstat(path.c_str(), &old) == 0;
    if (exists && !S_ISREG(old.st_mode) && !S_ISLNK(old.st_mode))
      throw RefusedFile(path, "it is not a regular file", "create file");
    std::string folder = FolderOf(path);
    if (folder.empty()) folder = std::string(".") + kSep;
    {
      // Listed at once, so that SIGINT or SIGTERM removes it with the run's other temporaries.
      SignalsHeld held;
      fd_ = CreateFreeName(folder, "." + FileNameOf(path).substr(0, 64) + ".new-", "", 0666,
                           &part_);
      if (fd_ < 0) throw IoError("Cannot create file " + path + ": " + std::strerror(errno));
      AdoptTemporary(part_, false);
    }
    // A new version keeps the permissions of the old one.
    if (exists && S_ISREG(old.st_mode)) sys::fchmod(fd_, old.st_mode & 07777);
  }
  sys::Stat st{};
  if (sys::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    sys::close(fd_);
    fd_ = -1;
    if (part_ != path_) ForgetTemporary(part_);
    throw IoError("Cannot create file " + path + ": it is not a regular file.");
  }
  device_ = st.st_dev;
  inode_ = st.st_ino;
  buffer_ = std::make_unique_for_overwrite<char[]>(kBufferSize);
  if (WrittenFiles::Collecting()) hasher_ = std::make_unique<ContentHasher>();
}

OutputFile::~OutputFile() {
  if (fd_ < 0) return;
  // Not closed: the writer gave up part-way (a failed write, a converter's error). The file is
  // not left cut short, where a later import would take it for the user's edit.
  sys::close(fd_);
  RemovePartFile();
}

void OutputFile::RemovePartFile() {
  // Only the file this object wrote, while the name still leads to it: never a file another
  // program put in its place.
  sys::Stat st{};
  if (sys::lstat(part_.c_str(), &st) == 0 && S_ISREG(st.st_mode) && st.st_dev == device_ &&
      st.st_ino == inode_)
    sys::unlink(part_.c_str());
  if (part_ != path_) ForgetTemporary(part_);
}

void OutputFile::WriteOut(const char* data, size_t n) {
  while (n > 0) {
    const ssize_t done = sys::write(fd_, data, n);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) throw IoError("Cannot write file " + path_ + ": " + std::strerror(errno));
    data += done;
    n -= static_cast<size_t>(done);
  }
}

void OutputFile::FlushBuffer() {
  const size_t n = buffered_;
  buffered_ = 0;
  WriteOut(buffer_.get(), n);
}

void OutputFile::Write(const void* data, size_t n) {
  if (n == 0) return;
  if (fd_ < 0) throw IoError("Cannot write file " + path_ + ": it is closed.");
  if (hasher_) hasher_->Add(data, n);
  written_ += n;
  const char* bytes = static_cast<const char*>(data);
  if (buffered_ + n <= kBufferSize) {
    std::memcpy(buffer_.get() + buffered_, bytes, n);
    buffered_ += n;
    return;
  }
  FlushBuffer();
  // What does not fit the buffer goes out at once, without a copy.
  if (n >= kBufferSize) {
    WriteOut(bytes, n);
  } else {
    std::memcpy(buffer_.get(), bytes, n);
    buffered_ = n;
  }
}

void OutputFile::CopyFrom(ByteSource& source, uint64_t pos, uint64_t n) {
  if (fd_ >= 0 && n <= kBufferSize - buffered_) {
    // Small copies are read straight into the buffer.
    char* at = buffer_.get() + buffered_;
    source.ReadAt(pos, at, static_cast<size_t>(n));
    if (hasher_) hasher_->Add(at, static_cast<size_t>(n));
    buffered_ += static_cast<size_t>(n);
    written_ += n;
    return;
  }
  // Not zeroed: each piece is read in whole before it is written.
  const size_t size = static_cast<size_t>(std::min<uint64_t>(n, 1 << 20));
  const auto chunk = std::make_unique_for_overwrite<uint8_t[]>(size);
  while (n > 0) {
    size_t step = static_cast<size_t>(std::min<uint64_t>(n, size));
    source.ReadAt(pos, chunk.get(), step);
    Write(chunk.get(), step);
    pos += step;
    n -= step;
  }
}

void OutputFile::PatchAt(uint64_t pos, const void* data, size_t n) {
  hasher_.reset();
  if (fd_ < 0) throw IoError("Cannot write file " + path_ + ": it is closed.");
  FlushBuffer();
  const char* bytes = static_cast<const char*>(data);
  while (n > 0) {
    const ssize_t done = sys::pwrite(fd_, bytes, n, static_cast<off_t>(pos));
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) throw IoError("Cannot write file " + path_ + ": " + std::strerror(errno));
    bytes += done;
    pos += static_cast<uint64_t>(done);
    n -= static_cast<size_t>(done);
  }
}

void OutputFile::Close() {
  if (fd_ < 0) return;
  FlushBuffer();  // on failure the destructor removes the part file
  const int closed = sys::close(fd_);
  const int error = errno;
  fd_ = -1;
  if (closed != 0) {
    RemovePartFile();
    throw IoError("Cannot write file " + path_ + ": " + std::strerror(error));
  }
  if (part_ != path_ && sys::rename(part_.c_str(), path_.c_str()) != 0) {
    const int error = errno;
    RemovePartFile();
    throw IoError("Cannot create file " + path_ + ": " + std::strerror(error));
  }
  if (part_ != path_) ForgetTemporary(part_);
  if (hasher_) {
    const ContentHash hash = hasher_->Digest();
    WrittenFiles::Note(path_, &hash);
  } else {
    WrittenFiles::Note(path_, nullptr);
  }
}

WholeFileWriter::WholeFileWriter(const std::string& path)
    : replacement_(path),
      out_(std::make_unique<OutputFile>(replacement_.Path(), OutputFile::Target::kRunFile)) {}

WholeFileWriter::~WholeFileWriter() { out_.reset(); }

void WholeFileWriter::Commit() {
  out_->Close();
  replacement_.Commit();
}

AppendOnlyFile::AppendOnlyFile(const std::string& path) : path_(path) {
  // Resource files may lie in an export tree: a link planted at the name is not written
  // through, a pipe is not waited on.
  fd_ = sys::open(path.c_str(), O_WRONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  sys::Stat st{};
  const bool opened = fd_ >= 0 && sys::fstat(fd_, &st) == 0;
  const int error = errno;
  if (!opened || !S_ISREG(st.st_mode)) {
    if (fd_ >= 0) sys::close(fd_);
    fd_ = -1;
    throw IoError("Cannot open file " + path + " for writing: " +
                  (opened ? std::string("it is not a regular file.") : std::strerror(error)));
  }
  start_size_ = size_ = static_cast<uint64_t>(st.st_size);
}

AppendOnlyFile::~AppendOnlyFile() {
  if (fd_ < 0) return;
  // Only bytes this object appended are cut off; the file's old bytes were never touched.
  if (!committed_ && size_ != start_size_ && sys::ftruncate(fd_, static_cast<off_t>(start_size_)) == 0)
    sys::fsync(fd_);
  sys::close(fd_);
}

void AppendOnlyFile::AppendFrom(ByteSource& source, uint64_t pos, uint64_t n) {
  std::vector<uint8_t> chunk(static_cast<size_t>(std::min<uint64_t>(n, 1 << 20)));
  while (n > 0) {
    size_t step = static_cast<size_t>(std::min<uint64_t>(n, chunk.size()));
    source.ReadAt(pos, chunk.data(), step);
    for (size_t done = 0; done < step;) {
      ssize_t put =
          sys::pwrite(fd_, chunk.data() + done, step - done, static_cast<off_t>(size_ + done));
      if (put < 0 && errno == EINTR) continue;
      if (put <= 0) throw IoError("Cannot write file " + path_ + ": " + std::strerror(errno));
      done += static_cast<size_t>(put);
    }
    size_ += step;
    pos += step;
    n -= step;
  }
}

void AppendOnlyFile::Commit() {
  if (sys::fsync(fd_) != 0) throw IoError("Cannot write file " + path_ + ": " + std::strerror(errno));
  committed_ = true;
}

}  // namespace kestrix
