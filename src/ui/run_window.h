// Starts the Qt application and the main window; returns the exit status of the event loop.
#pragma once

namespace kestrix {

int RunWindow(int argc, char** argv);

}  // namespace kestrix
