// Kestrix: without arguments the window, with arguments one command-line task.
#include <string>
#include <vector>

#include "app/command_line.h"
#include "app/tasks.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "core/localization.h"
#include "import/standard_converters.h"
#include "platform/console.h"
#include "platform/language.h"
#include "platform/temporaries.h"

#ifdef _WIN32
#include <windows.h>
// After windows.h, which it needs.
#include <shellapi.h>

#include "platform/sys.h"
#endif

#ifdef KESTRIX_WINDOW_MODULE
#include <dlfcn.h>

#include "platform/process.h"
#include "ui/window_entry.h"
#endif

namespace {

#ifdef KESTRIX_WINDOW_MODULE
std::string LastLoadError() {
  const char* text = dlerror();
  return text ? text : "unknown error";
}

// The window is a module beside the executable (found through /proc/self/exe, so a symlink to
// kestrix still finds it) and only opened here: Qt and the libraries it pulls in would cost every
// command-line run about 10 MB of memory and their start-up time.
int OpenWindowModule(int argc, char** argv) {
  const std::string hint = ". Command-line tasks still work; kestrix --help lists them.";
  std::string folder = kestrix::ExecutableFolder();
  if (folder.empty()) {
    kestrix::PrintErrorLine(
        "Kestrix: cannot open the window: the folder of the program is unknown" + hint);
    return kestrix::kExitFailed;
  }
  // RTLD_NOW: a missing Qt symbol fails here with a message, not later in the middle of the window.
  // Beside the executable in a build, in lib/kestrix once installed.
  std::string path = folder + KESTRIX_WINDOW_MODULE;
  const std::string installed = folder + "../lib/kestrix/" + KESTRIX_WINDOW_MODULE;
  if (!kestrix::FileExists(path) && kestrix::FileExists(installed)) path = installed;
  void* module = dlopen(path.c_str(), RTLD_NOW | RTLD_LOCAL);
  if (!module) {
    kestrix::PrintErrorLine("Kestrix: cannot open the window: " + LastLoadError() + hint);
    return kestrix::kExitFailed;
  }
  auto entry = reinterpret_cast<kestrix::WindowEntry>(dlsym(module, kestrix::kWindowEntryName));
  if (!entry) {
    kestrix::PrintErrorLine("Kestrix: cannot open the window: " + LastLoadError() + hint);
    return kestrix::kExitFailed;
  }
  // The module stays loaded: its static objects (and Qt's) are torn down at exit.
  return entry(argc, argv);
}
#endif

}  // namespace

namespace {

// "kestrix <archive or folder>", as a file manager runs it: the window, opened with it. A task
// word or an option keeps its meaning even when a file of that name exists.
bool OpensInWindow(const std::vector<std::string>& args) {
  if (args.empty()) return true;
  if (args.size() != 1) return false;
  const std::string& arg = args[0];
  if (arg.empty() || arg[0] == '-' || kestrix::FindTask(kestrix::AsciiLower(arg))) return false;
  return kestrix::FileExists(arg) || kestrix::FolderExists(arg);
}

// The task's words. Windows hands main its arguments in the ANSI code page, which cannot name
// every file: there they are taken from the wide command line and made UTF-8.
std::vector<std::string> Arguments(int argc, char** argv) {
#ifdef _WIN32
  (void)argc;
  (void)argv;
  std::vector<std::string> args;
  int count = 0;
  wchar_t** wide = CommandLineToArgvW(GetCommandLineW(), &count);
  for (int i = 1; wide && i < count; ++i) args.push_back(kestrix::sys::Utf8(wide[i]));
  if (wide) LocalFree(wide);
  return args;
#else
  return std::vector<std::string>(argv + 1, argv + argc);
#endif
}

}  // namespace

int main(int argc, char** argv) {
  kestrix::InitLocalization(kestrix::SystemLanguageId());
  const std::vector<std::string> args = Arguments(argc, argv);
  if (OpensInWindow(args)) {
#ifdef KESTRIX_WINDOW_MODULE
    return OpenWindowModule(argc, argv);
#else
    kestrix::PrintErrorLine(
        "This build of Kestrix has no window; run it with a task (kestrix --help).");
    return kestrix::kExitFailed;
#endif
  }
  // Before any second thread starts; the window module installs its own (it has its own list).
  kestrix::RemoveTemporariesOnSignals();
  return kestrix::RunCommandLine(args, kestrix::StandardImportConverters());
}
