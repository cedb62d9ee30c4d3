#include <windows.h>

#include "platform/paths.h"
#include "platform/process.h"
#include "platform/sys.h"

namespace kestrix {

std::string ExecutableFolder() {
  std::wstring buf(MAX_PATH, L'\0');
  for (;;) {
    const DWORD n = GetModuleFileNameW(nullptr, buf.data(), static_cast<DWORD>(buf.size()));
    if (n == 0) return std::string();
    if (n < buf.size()) {
      buf.resize(n);
      break;
    }
    buf.resize(buf.size() * 2);
  }
  return FolderOf(sys::Utf8(buf));
}


int RunAndWait(const std::string& program, const std::vector<std::string>& args) {
  const std::wstring exe = sys::Wide(program);
  std::wstring line = sys::QuotedArgument(exe);
  for (const std::string& a : args) line += L" " + sys::QuotedArgument(sys::Wide(a));
  STARTUPINFOW start{};
  start.cb = sizeof(start);
  PROCESS_INFORMATION info{};
  if (!CreateProcessW(exe.c_str(), line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr,
                      &start, &info))
    return -1;
  CloseHandle(info.hThread);
  WaitForSingleObject(info.hProcess, INFINITE);
  DWORD code = 0;
  const BOOL got = GetExitCodeProcess(info.hProcess, &code);
  CloseHandle(info.hProcess);
  // A run ended from outside (TerminateProcess, a crash) has no exit status of its own.
  if (!got || code >= 0x80000000u) return -1;
  return static_cast<int>(code);
}

}  // namespace kestrix
