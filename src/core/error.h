// The program's own failures. The message is the text the user sees, as it stands.
#pragma once

#include <stdexcept>
#include <string>

namespace kestrix {

class Error : public std::runtime_error {
 public:
  explicit Error(const std::string& message) : std::runtime_error(message) {}
};

}  // namespace kestrix
