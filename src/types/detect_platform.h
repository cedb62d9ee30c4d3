// Names of build platform codes, for the version label.
#pragma once

#include <cstdint>
#include <string>

namespace kestrix {

// The platform's name, or "" for a code without one.
std::string PlatformName(int32_t code);

}  // namespace kestrix
