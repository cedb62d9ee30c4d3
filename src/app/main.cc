// Kestrix: without arguments the window, with arguments one command-line task.
#include <string>
#include <vector>

#include "app/command_line.h"
#include "core/localization.h"
#include "platform/console.h"
#include "platform/language.h"

#ifdef KESTRIX_HAVE_GUI
#include "ui/run_window.h"
#endif

int main(int argc, char** argv) {
  kestrix::InitLocalization(kestrix::SystemLanguageId());
  if (argc <= 1) {
#ifdef KESTRIX_HAVE_GUI
    return kestrix::RunWindow(argc, argv);
#else
    kestrix::PrintErrorLine("This build of Kestrix has no window; run it with a task (kestrix --help).");
    return kestrix::kExitFailed;
#endif
  }
  std::vector<std::string> args(argv + 1, argv + argc);
  return kestrix::RunCommandLine(args);
}
