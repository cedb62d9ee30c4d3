// The command line's help text in both languages (UTF-8, one line break after every line).
#pragma once

#include <string>

namespace kestrix {

std::string HelpText(bool russian);
// The part of the help that says how a task is typed, shown after a refused command line.
std::string UsageText(bool russian);

}  // namespace kestrix
