// The one function the window module exports. The kestrix executable holds no Qt: when it runs
// without arguments it opens the module beside it and calls this, so command-line runs never
// load Qt's libraries. Nothing here may include Qt.
#pragma once

extern "C" {
// Sets up the interface language of the module's own copy of the core, then runs the window
// (kestrix::RunWindow) and returns its exit status.
int KestrixRunWindow(int argc, char** argv);
}

namespace kestrix {

inline constexpr char kWindowEntryName[] = "KestrixRunWindow";
using WindowEntry = decltype(&KestrixRunWindow);

}  // namespace kestrix
