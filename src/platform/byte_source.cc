#include "platform/byte_source.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <mutex>
#include <vector>

#include "platform/io_error.h"
#include "platform/safe_files.h"
#include "platform/sys.h"

namespace kestrix {

namespace {

[[noreturn]] void ThrowPastEnd(uint64_t pos, size_t n, uint64_t size) {
  throw Error("Read past the end of the data: " + std::to_string(n) + " bytes at position " +
                  std::to_string(pos) + " of " + std::to_string(size) + ".",
              ErrorKind::kDamagedData);
}

}  // namespace

FileSource::FileSource(const std::string& path) : path_(path) {
  fd_ = sys::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd_ < 0) throw IoError("Cannot open file " + path + ": " + std::strerror(errno));
  sys::Stat st{};
  if (sys::fstat(fd_, &st) != 0 || !S_ISREG(st.st_mode)) {
    sys::close(fd_);
    fd_ = -1;
    throw IoError("Not a regular file: " + path);
  }
  size_ = static_cast<uint64_t>(st.st_size);
#ifdef _WIN32
  Register();
#endif
}

FileSource::FileSource(OpenedFile&& file) : path_(file.Path()), size_(file.Size()) {
  fd_ = file.Release();
#ifdef _WIN32
  Register();
#endif
}

#ifdef _WIN32
namespace {
std::mutex sources_mutex;
std::vector<FileSource*> sources;
}  // namespace

void FileSource::Register() {
  sys::Stat st{};
  if (sys::fstat(fd_, &st) == 0) device_ = st.st_dev, index_ = st.st_ino;
  std::lock_guard<std::mutex> guard(sources_mutex);
  sources.push_back(this);
}

void ReleaseOwnHandles(const std::string& path) {
  sys::Stat st{};
  if (sys::stat(path.c_str(), &st) != 0) return;
  std::lock_guard<std::mutex> guard(sources_mutex);
  for (FileSource* source : sources) {
    if (source->fd_ < 0 || source->device_ != st.st_dev || source->index_ != st.st_ino) continue;
    sys::close(source->fd_);
    source->fd_ = -1;
  }
}
#endif

FileSource::~FileSource() {
#ifdef _WIN32
  {
    std::lock_guard<std::mutex> guard(sources_mutex);
    sources.erase(std::remove(sources.begin(), sources.end(), this), sources.end());
  }
#endif
  if (fd_ >= 0) sys::close(fd_);
}

void FileSource::ReadAt(uint64_t pos, void* dst, size_t n) {
  if (pos > size_ || n > size_ - pos) ThrowPastEnd(pos, n, size_);
#ifdef _WIN32
  if (fd_ < 0) {
    // Closed for a replace of its file (ReleaseOwnHandles): the name is opened again.
    std::lock_guard<std::mutex> guard(sources_mutex);
    fd_ = sys::open(path_.c_str(), O_RDONLY);
    if (fd_ < 0) throw IoError("Cannot open file " + path_ + ": " + std::strerror(errno));
    sys::Stat st{};
    if (sys::fstat(fd_, &st) == 0) device_ = st.st_dev, index_ = st.st_ino;
  }
#endif
  auto* out = static_cast<uint8_t*>(dst);
  while (n > 0) {
    ssize_t got = sys::pread(fd_, out, n, static_cast<off_t>(pos));
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
