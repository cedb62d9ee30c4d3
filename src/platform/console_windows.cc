#include <io.h>
#include <windows.h>

#include <cstdio>

#include "platform/console.h"

namespace kestrix {

bool StdoutIsOpen() { return _get_osfhandle(1) != -1 && GetStdHandle(STD_OUTPUT_HANDLE) != nullptr; }

// Text is UTF-8 bytes, as on Linux: the console is switched to UTF-8 once so that names in any
// script print as they are, and lines end as the C runtime's text mode ends them (CR LF).
namespace {
void UseUtf8Console() {
  static const bool done = [] {
    SetConsoleOutputCP(CP_UTF8);
    return true;
  }();
  (void)done;
}
}  // namespace

void PrintLine(const std::string& text) {
  UseUtf8Console();
  std::fwrite(text.data(), 1, text.size(), stdout);
  std::fputc('\n', stdout);
}

void PrintErrorLine(const std::string& text) {
  UseUtf8Console();
  std::fflush(stdout);
  std::fwrite(text.data(), 1, text.size(), stderr);
  std::fputc('\n', stderr);
  std::fflush(stderr);
}

}  // namespace kestrix
