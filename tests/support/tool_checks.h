// Runs the outside tools that check exported files: ogginfo (vorbis-tools) for Ogg streams and
// assimp (assimp-utils) for OBJ meshes.
#pragma once

#include <string>

namespace kestrix::testing {

// The checking tools, and the stand-ins some tests write, are Linux programs (and shell
// scripts): under Windows their checks are left to the Linux run of the same tests.
#ifdef _WIN32
constexpr bool kLinuxToolsRun = false;
#else
constexpr bool kLinuxToolsRun = true;
#endif

struct ToolReport {
  bool ran = false;  // the tool is installed and started
  int status = -1;
  std::string output;  // standard output and error together
};

ToolReport RunOgginfo(const std::string& path);
// `assimp info <path> -r`: the counts without post-processing (three vertices per face).
ToolReport RunAssimpInfo(const std::string& path);
// The number after a line's label in a tool report ("Faces:" ...), or -1.
long ReportNumber(const std::string& report, const std::string& label);

}  // namespace kestrix::testing
