#include "platform/byte_source.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/io_error.h"
#include "platform/safe_files.h"

namespace kestrix {

namespace {

[[noreturn]] void ThrowPastEnd(uint64_t pos, size_t n, uint64_t size) {
  throw Error("Read past the end of the data: " + std::to_string(n) + " bytes at position " +
                  std::to_string(pos) + " of " + std::to_string(size) + ".",
              ErrorKind::kDamagedData);
}

}  // namespace

FileSource::FileSource(const std::string& path) : path_(path) {
  fd_ = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) throw IoError("Cannot open file " + path + ": " + std::strerror(errno));
  struct stat st {};
  if (::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(fd_);
    fd_ = -1;
    throw IoError("Not a regular file: " + path);
  }
  size_ = static_cast<uint64_t>(st.st_size);
}

FileSource::FileSource(OpenedFile&& file) : path_(file.Path()), size_(file.Size()) {
  fd_ = file.Release();
}

FileSource::~FileSource() {
  if (fd_ >= 0) ::close(fd_);
}

void FileSource::ReadAt(uint64_t pos, void* dst, size_t n) {
  if (pos > size_ || n > size_ - pos) ThrowPastEnd(pos, n, size_);
  auto* out = static_cast<uint8_t*>(dst);
  while (n > 0) {
    ssize_t got = ::pread(fd_, out, n, static_cast<off_t>(pos));
    if (got < 0) {
      if (errno == EINTR) continue;
      throw IoError("Cannot read file " + path_ + ": " + std::strerror(errno));
    }
    if (got == 0) ThrowPastEnd(pos, n, size_);
    out += got;
    pos += static_cast<uint64_t>(got);
    n -= static_cast<size_t>(got);
  }
}

void MemorySource::ReadAt(uint64_t pos, void* dst, size_t n) {
  if (pos > size_ || n > size_ - pos) ThrowPastEnd(pos, n, size_);
  if (n) std::memcpy(dst, data_ + pos, n);
}

}  // namespace kestrix
