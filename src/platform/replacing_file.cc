#include "platform/replacing_file.h"

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <vector>

#include "platform/archive_lock.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/io_error.h"
#include "platform/paths.h"
#include "platform/sys.h"
#include "platform/temporaries.h"

namespace kestrix {

namespace {

std::string Reason() { return std::strerror(errno); }

#ifdef O_TMPFILE
// The name the file gets just before the rename: the target's name, a mark and random letters,
// created exclusively so that no file of anyone else is ever replaced.
bool LinkUnderFreeName(int fd, const std::string& base, std::string* out) {
  const std::string proc = "/proc/self/fd/" + std::to_string(fd);
  for (int attempt = 0; attempt < 64; ++attempt) {
    const std::string name = base + ".import-" + RandomNamePart();
    if (::linkat(AT_FDCWD, proc.c_str(), AT_FDCWD, name.c_str(), AT_SYMLINK_FOLLOW) == 0) {
      *out = name;
      return true;
    }
    if (errno != EEXIST) return false;
  }
  return false;
}
#else
// Without unnamed files every new file is named from the start.
bool LinkUnderFreeName(int, const std::string&, std::string*) { return false; }
#endif

}  // namespace

ReplacingFile::ReplacingFile(const std::string& target) : given_(target) {
  std::error_code ec;
  std::filesystem::path resolved = std::filesystem::canonical(FsPath(target), ec);
  if (ec) throw IoError("Cannot open file " + target + ": " + ec.message());
  target_ = PathText(resolved);
  folder_ = FolderOf(target_);
  sys::Stat st{};
  if (sys::stat(target_.c_str(), &st) != 0)
    throw IoError("Cannot open file " + target_ + ": " + Reason());

#ifdef O_TMPFILE
  fd_ = sys::open(folder_.c_str(), O_TMPFILE | O_RDWR | O_CLOEXEC, 0600);
#endif
  unnamed_ = fd_ >= 0;
  if (!unnamed_) {
    // The file system cannot make unnamed files: a named one, removed on every failure path.
    named_ = CreateFreeFile(folder_, FileNameOf(target_) + ".import-", "");
    if (FolderOf(named_) != folder_) {
      RemoveTemporary(named_);
      throw IoError("Cannot write a new file beside " + target_ + ".");
    }
    fd_ = sys::open(named_.c_str(), O_WRONLY | O_TRUNC | O_CLOEXEC);
    if (fd_ < 0) {
      const std::string why = Reason();
      RemoveTemporary(named_);
      throw IoError("Cannot write file " + named_ + ": " + why);
    }
  }
  // The new file keeps the old one's permissions.
  if (sys::fchmod(fd_, st.st_mode & 07777) != 0) {
    const std::string why = Reason();
    sys::close(fd_);
    fd_ = -1;
    if (!named_.empty()) RemoveTemporary(named_);
    throw IoError("Cannot write a new file beside " + target_ + ": " + why);
  }
}

std::string ReplacingFile::Path() const {
  // An unnamed file is reached through its descriptor.
  return unnamed_ ? "/proc/self/fd/" + std::to_string(fd_) : named_;
}

ReplacingFile::~ReplacingFile() {
  if (fd_ >= 0) sys::close(fd_);
  if (!committed_ && !named_.empty()) RemoveTemporary(named_);
}

void ReplacingFile::Write(const void* data, size_t n) {
  const char* p = static_cast<const char*>(data);
  while (n > 0) {
    ssize_t done = sys::write(fd_, p, n);
    if (done < 0 && errno == EINTR) continue;
    if (done <= 0) throw IoError("Cannot write a new file beside " + target_ + ": " + Reason());
    p += done;
    n -= static_cast<size_t>(done);
    written_ += static_cast<uint64_t>(done);
  }
}

void ReplacingFile::CopyFrom(FileSource& source, uint64_t pos, uint64_t n) {
  if (pos > source.Size() || n > source.Size() - pos)
    throw IoError("Read past the end of " + source.Path() + ": " + std::to_string(n) +
                  " bytes at position " + std::to_string(pos) + ".");
#ifdef __linux__
  bool in_kernel = true;
  while (n > 0 && in_kernel) {
    loff_t from = static_cast<loff_t>(pos);
    const size_t step = static_cast<size_t>(std::min<uint64_t>(n, uint64_t{1} << 30));
    ssize_t done = ::copy_file_range(source.Descriptor(), &from, fd_, nullptr, step, 0);
    if (done < 0 && errno == EINTR) continue;
    if (done < 0 && (errno == EXDEV || errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP)) {
      in_kernel = false;
      break;
    }
    if (done < 0) throw IoError("Cannot write a new file beside " + target_ + ": " + Reason());
    if (done == 0) throw IoError("The file " + source.Path() + " became shorter while read.");
    pos += static_cast<uint64_t>(done);
    n -= static_cast<uint64_t>(done);
    written_ += static_cast<uint64_t>(done);
  }
#endif
  std::vector<uint8_t> chunk(static_cast<size_t>(std::min<uint64_t>(n, 1 << 20)));
  while (n > 0) {
    const size_t step = static_cast<size_t>(std::min<uint64_t>(n, chunk.size()));
    source.ReadAt(pos, chunk.data(), step);
    Write(chunk.data(), step);
    pos += step;
    n -= step;
  }
}

void ReplacingFile::Commit() {
  if (sys::fsync(fd_) != 0)
    throw IoError("Cannot write a new file beside " + target_ + ": " + Reason());
  std::string name = named_;
#ifdef _WIN32
  // Windows renames no file that this process holds open: the new file's descriptor, the
  // readers of the old one and the in-use mark of a working file are all let go first.
  sys::close(fd_);
  fd_ = -1;
  ReleaseOwnHandles(target_);
  UnmarkTemporary(given_);
#endif
  if (unnamed_) {
    SignalsHeld held;  // from the link to the listing
    if (!LinkUnderFreeName(fd_, target_, &name))
      throw IoError("Cannot name the new file beside " + target_ + ": " + Reason());
    // Listed for the signal handler but not marked: the rename follows at once, and the lock
    // handed over below must be the only one this run holds on it.
    AdoptTemporary(name, false);
  }
  named_ = name;  // removed by the destructor if the rename fails
  UnmarkTemporary(name);
  HandOverArchiveLock(name, target_);
  if (sys::rename(name.c_str(), target_.c_str()) != 0) {
    const std::string why = Reason();
    RenewTemporaryMark(given_);
    throw IoError("Cannot replace " + target_ + ": " + why);
  }
  committed_ = true;
  ForgetTemporary(name);
  // A working file this run rebuilt stays marked as in use.
  RenewTemporaryMark(given_);
  // The rename itself reaches the disk with the folder.
  int folder = sys::open(folder_.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (folder >= 0) {
    sys::fsync(folder);
    sys::close(folder);
  }
}

}  // namespace kestrix
