// Files Kestrix did not make. Export folders are passed from user to user, so a link, a pipe or
// a device may have been planted at any name in them, and beside the archive too. One rule for
// every file read or written there, archive excepted:
// - what Kestrix writes is created new under a free name and renamed into place (OutputFile),
//   so whatever stands at the name is replaced, never written through;
// - the folders of an output path are created below a root, and none of them may be a link
//   leading out of it (CreateFoldersBelow);
// - what Kestrix reads must be a regular file inside its folder, opened without following a
//   link out of it and without blocking (OpenInsideFolder).
#pragma once

#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "platform/io_error.h"

namespace kestrix {

// A file refused by that rule. The message names the file and says why; Reason() alone lets a
// caller word the message for its own task ("Cannot import <path>: <reason>.").
class RefusedFile : public IoError {
 public:
  RefusedFile(const std::string& path, const std::string& reason,
              const std::string& action = "read")
      : IoError("Cannot " + action + " " + path + ": " + reason + "."),
        path_(path),
        reason_(reason) {}
  const std::string& Path() const { return path_; }
  const std::string& Reason() const { return reason_; }

 private:
  std::string path_;
  std::string reason_;
};

// A descriptor opened by OpenInsideFolder, closed when the object goes.
class OpenedFile {
 public:
  OpenedFile(int fd, std::string path, uint64_t size)
      : fd_(fd), path_(std::move(path)), size_(size) {}
  ~OpenedFile();
  OpenedFile(OpenedFile&& other) noexcept;
  OpenedFile& operator=(OpenedFile&&) = delete;
  OpenedFile(const OpenedFile&) = delete;
  OpenedFile& operator=(const OpenedFile&) = delete;

  const std::string& Path() const { return path_; }
  uint64_t Size() const { return size_; }
  // Hands the descriptor over; the object no longer closes it.
  int Release();

 private:
  int fd_;
  std::string path_;
  uint64_t size_;
};

// Opens `path`, a file below `folder`, for reading. It must be a regular file (a pipe would
// hang the reader, a device is not the user's data), and its real place must lie inside the
// folder: a link is followed only when its target stays inside, so that a link planted in a
// shared folder cannot bring a private file's bytes into an archive. What is opened is checked
// to be the file that was looked at. Throws RefusedFile, or IoError when `path` cannot be
// looked at (a missing file, a dangling link).
OpenedFile OpenInsideFolder(const std::string& folder, const std::string& path);
std::vector<uint8_t> ReadWholeFileInside(const std::string& folder, const std::string& path);

// Creates `folder` and its missing parents below `root` (`root` itself, the export or
// extraction folder the user asked for, is created as CreateFolders does). A part of `folder`
// below `root` that is a link may stay only when it leads to a folder inside `root`; one that
// leads out, or that is not a folder, is refused (IoError naming it), and nothing is created
// through it. `folder` must begin with `root`.
void CreateFoldersBelow(const std::string& root, const std::string& folder);

}  // namespace kestrix
