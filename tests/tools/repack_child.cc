// The write-back of an import in a process of its own, so that tests can kill it at a chosen
// step and look at what a kill leaves:
//   repack_child <archive> <contained file index> <size change> <step to die at, or "-">
// Opens the archive, changes the chosen asset file's length as an import would, then runs
// RepackBundle and ResplitPieces; at the named step it kills itself with SIGKILL, so no
// destructor and no cleanup runs, as after a power cut or an OOM kill.
#include <csignal>
#include <cstdio>
#include <exception>
#include <string>

#include "core/archive.h"
#include "core/requests.h"
#include "formats/archive_open.h"
#include "formats/bundle_repack.h"
#include "formats/split_pieces.h"
#include "support/import_simulation.h"
#include "support/test_env.h"

int main(int argc, char** argv) {
  if (argc != 5) {
    std::fprintf(stderr, "usage: repack_child <archive> <index> <change> <step|->\n");
    return 2;
  }
  const std::string stop = argv[4];
  kestrix::StepHook hook = [&stop](std::string_view step) {
    if (step == stop) kestrix::testing::KillSelf();
  };
  try {
    kestrix::OpenedArchive archive;
    kestrix::testing::RecordingFrontend frontend;
    kestrix::OpenContainer(archive, frontend, argv[1], kestrix::testing::Pick(std::stoi(argv[2])));
    const int64_t change = std::stoll(argv[3]);
    const uint64_t old_size = kestrix::testing::SimulateImport(archive, change);
    kestrix::RepackOptions options;
    options.StepDone = hook;
    kestrix::RepackBundle(archive, change, old_size, options);
    kestrix::ResplitPieces(archive, hook);
  } catch (const std::exception& e) {
    std::fprintf(stderr, "%s\n", e.what());
    return 1;
  }
  return 0;
}
