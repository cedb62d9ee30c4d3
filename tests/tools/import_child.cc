// An import in a process of its own, so that tests can kill it at a chosen write step:
//   import_child <archive> <output root> <step to die at, or "-"> [occurrence]
// Opens the archive with "-p <output root>" and imports its export folder with the program's
// own importers; each write step is printed on standard output as it is reached, and at the
// named step (its occurrence-th time, 1 by default) the process kills itself with SIGKILL, so no
// destructor and no cleanup runs, as after a power cut or an OOM kill.
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>

#include "core/requests.h"
#include "core/session.h"
#include "formats/archive_open.h"
#include "import/import_driver.h"
#include "import/standard_converters.h"
#include "support/test_env.h"

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: import_child <archive> <output root> <step|-> [occurrence]\n");
    return 2;
  }
  const std::string stop = argv[3];
  int left = argc == 5 ? std::stoi(argv[4]) : 1;
  kestrix::ImportRequest request;
  request.StepDone = [&](std::string_view step) {
    std::printf("%.*s\n", static_cast<int>(step.size()), step.data());
    std::fflush(stdout);
    if (step == stop && --left == 0) kestrix::testing::KillSelf();
  };
  try {
    kestrix::Session s;
    kestrix::testing::RecordingFrontend frontend;
    kestrix::OpenOptions options;
    options.OutputRootGiven = true;
    options.OutputRootOption = argv[2];
    kestrix::OpenArchive(s, frontend, argv[1], options);
    kestrix::ImportAll(s, request, frontend, kestrix::StandardImportConverters());
    if (!frontend.errors.empty()) {
      std::fprintf(stderr, "%s\n", frontend.errors.front().c_str());
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
