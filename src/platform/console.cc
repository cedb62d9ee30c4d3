#include "platform/console.h"

#include <fcntl.h>

#include <cstdio>

namespace kestrix {

bool StdoutIsOpen() { return ::fcntl(1, F_GETFD) != -1; }

void PrintLine(const std::string& text) {
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
}

void PrintErrorLine(const std::string& text) {
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace kestrix
