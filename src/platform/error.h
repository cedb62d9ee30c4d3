// The program's one family of failures. The message is the text the user sees, as it stands;
// the kind says what went wrong, so that callers and frontends can tell a damaged archive from
// a file-system failure or a format this program does not handle, without parsing messages.
#pragma once

#include <stdexcept>
#include <string>

namespace kestrix {

enum class ErrorKind {
  kDamagedData,   // the bytes are not what their format says: truncated, garbage, hostile
  kFileSystem,    // a file could not be opened, read, written, created or renamed
  kNotSupported,  // well-formed data of a kind this program does not handle
};

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message, ErrorKind kind = ErrorKind::kDamagedData)
      : std::runtime_error(message), kind_(kind) {}
  ErrorKind Kind() const { return kind_; }

 private:
  ErrorKind kind_;
};

}  // namespace kestrix
