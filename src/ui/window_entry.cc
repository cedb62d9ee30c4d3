#include "ui/window_entry.h"

#include "core/localization.h"
#include "platform/language.h"
#include "platform/temporaries.h"
#include "ui/run_window.h"

// The module is built with hidden visibility and a version script; this is its only export.
extern "C" __attribute__((visibility("default"))) int KestrixRunWindow(int argc, char** argv) {
  // The executable filled its own string table; the module links a separate copy of the core,
  // whose table is empty until filled here.
  kestrix::InitLocalization(kestrix::SystemLanguageId());
  // The module's copy of the core lists the window's temporaries, so its handler is the one.
  kestrix::RemoveTemporariesOnSignals();
  return kestrix::RunWindow(argc, argv);
}
