// Runs the outside tools that check exported files: ogginfo (vorbis-tools) for Ogg streams and
// assimp (assimp-utils) for OBJ meshes.
#pragma once

#include <string>

namespace kestrix::testing {

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
