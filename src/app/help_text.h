// The command line's help text in both languages (UTF-8, one line break after every line).
#pragma once

#include <string>

namespace kestrix {

std::string HelpText(bool russian);

}  // namespace kestrix
