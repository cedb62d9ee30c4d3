// The failure of a file-system call (open, read, write, create, rename). A read past the end
// of the data is damaged data instead (Error of kind kDamagedData).
#pragma once

#include <string>

#include "platform/error.h"

namespace kestrix {

class IoError : public Error {
 public:
  explicit IoError(const std::string& message) : Error(message, ErrorKind::kFileSystem) {}
};

}  // namespace kestrix
