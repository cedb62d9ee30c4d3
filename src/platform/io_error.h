// The exception that file and memory access throws. Its message is shown to the user as it stands.
#pragma once

#include <stdexcept>
#include <string>

namespace kestrix {

class IoError : public std::runtime_error {
 public:
  explicit IoError(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace kestrix
