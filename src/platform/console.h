// Console rules on Linux: a console is "attached" when standard output is an open descriptor
// (terminal, pipe or file). Attaching, posting Enter and releasing have nothing to do here.
#pragma once

#include <string>

namespace kestrix {

bool StdoutIsOpen();
// One line on standard output or standard error; failures are ignored.
void PrintLine(const std::string& text);
void PrintErrorLine(const std::string& text);

}  // namespace kestrix
