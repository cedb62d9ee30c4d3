#include "platform/safe_files.h"

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/sys.h"

namespace kestrix {

namespace {

std::string Reason() { return std::strerror(errno); }

// Every link on the way resolved; "" when some part does not exist.
std::string RealPath(const std::string& path) {
  char* real = sys::realpath(path.empty() ? "." : path.c_str(), nullptr);
  if (!real) return std::string();
  std::string out(real);
  std::free(real);
  return out;
}

bool Inside(const std::string& real_root, const std::string& real) {
  if (real_root == "/") return true;
  return real == real_root ||
         (real.size() > real_root.size() && real.compare(0, real_root.size(), real_root) == 0 &&
          real[real_root.size()] == kSep);
}

std::string RealFolder(const std::string& folder) {
  std::string real = RealPath(folder);
  if (real.empty()) throw IoError("Cannot read folder " + folder + ": " + Reason());
  return real;
}

}  // namespace

OpenedFile::~OpenedFile() {
  if (fd_ >= 0) sys::close(fd_);
}

OpenedFile::OpenedFile(OpenedFile&& other) noexcept
    : fd_(other.fd_), path_(std::move(other.path_)), size_(other.size_) {
  other.fd_ = -1;
}

int OpenedFile::Release() {
  const int fd = fd_;
  fd_ = -1;
  return fd;
}

OpenedFile OpenInsideFolder(const std::string& folder, const std::string& path) {
  const std::string root = RealFolder(folder);
  // Looked at without opening: opening a pipe waits for a writer, opening a device may act.
  sys::Stat seen{};
  if (sys::lstat(path.c_str(), &seen) != 0)
    throw IoError("Cannot read file " + path + ": " + Reason());
  const bool link = S_ISLNK(seen.st_mode);
  if (link && sys::stat(path.c_str(), &seen) != 0)
    throw IoError("Cannot read file " + path + ": " + Reason());
  const std::string real = RealPath(path);
  if (real.empty()) throw IoError("Cannot read file " + path + ": " + Reason());
  if (!Inside(root, real))
    throw RefusedFile(path, link ? "it is a link leading out of " + folder
                                 : "a folder on its way is a link leading out of " + folder);
  if (!S_ISREG(seen.st_mode)) throw RefusedFile(path, "it is not a regular file");

  // The resolved path has no link left in it; should one appear there since, it is not followed,
  // and what is opened must be the file looked at above.
  const int fd = sys::open(real.c_str(), O_RDONLY | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC);
  if (fd < 0) throw IoError("Cannot read file " + path + ": " + Reason());
  OpenedFile file(fd, path, 0);
  sys::Stat opened{};
  if (sys::fstat(fd, &opened) != 0) throw IoError("Cannot read file " + path + ": " + Reason());
  if (!S_ISREG(opened.st_mode) || opened.st_dev != seen.st_dev || opened.st_ino != seen.st_ino)
    throw RefusedFile(path, "it changed while it was opened");
  return OpenedFile(file.Release(), path, static_cast<uint64_t>(opened.st_size));
}

std::vector<uint8_t> ReadWholeFileInside(const std::string& folder, const std::string& path) {
  FileSource source(OpenInsideFolder(folder, path));
  std::vector<uint8_t> bytes(static_cast<size_t>(source.Size()));
  source.ReadAt(0, bytes.data(), bytes.size());
  return bytes;
}

void CreateFoldersBelow(const std::string& root, const std::string& folder) {
  if (folder.compare(0, root.size(), root) != 0)
    throw IoError("Cannot create folder " + folder + ": it does not lie below " + root + ".");
  CreateFolders(root);
  const std::string real_root = RealFolder(root);
  std::string at = root;
  if (!at.empty() && at.back() != kSep) at += kSep;
  size_t start = root.size();
  while (start < folder.size()) {
    size_t end = folder.find_first_of(kSeparators, start);
    if (end == std::string::npos) end = folder.size();
    const std::string part = folder.substr(start, end - start);
    start = end + 1;
    if (part.empty() || part == ".") continue;
    at += part;
    if (part == "..") throw RefusedFile(at, "it climbs out of " + root, "create folder");
    sys::Stat st{};
    if (sys::lstat(at.c_str(), &st) != 0) {
      if (errno != ENOENT || (sys::mkdir(at.c_str(), 0777) != 0 && errno != EEXIST) ||
          sys::lstat(at.c_str(), &st) != 0)
        throw IoError("Cannot create folder " + at + ": " + Reason());
    }
    if (S_ISLNK(st.st_mode)) {
      const std::string real = RealPath(at);
      if (real.empty() || !Inside(real_root, real))
        throw RefusedFile(at, "it is a link leading out of " + root, "create folder");
      if (sys::stat(at.c_str(), &st) != 0)
        throw IoError("Cannot create folder " + at + ": " + Reason());
    }
    if (!S_ISDIR(st.st_mode)) throw RefusedFile(at, "it is not a folder", "create folder");
    at += kSep;
  }
}

}  // namespace kestrix
