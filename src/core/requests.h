// What a user asks of one operation: the options of an open and of an export run. They travel
// with the call instead of living in the session, so two operations never share switches.
#pragma once

#include <string>

namespace kestrix {

struct OpenOptions {
  bool OutputRootGiven = false;
  std::string OutputRootOption;  // the -p folder as given
  bool FontContainer = false;    // -f: fonts are kept whole and named ".fnt"
  int SelectedFileIndex = 0;     // -i: the contained file of a bundle; -1 when not a number
};

struct ExportSwitches {
  bool ExportSource = false;
  bool ExportRawTextures = false;
  bool ExportDds = false;
  bool ExportCrn = false;
  bool ExportKtx = false;
  bool ExportPvr = false;
  bool ExportRawAudio = false;
  bool ExportRawMeshes = false;
  bool ExportObj = false;
};

struct ExportRequest {
  ExportSwitches Switches;
  bool NoTextureFlip = false;  // -nft
};

}  // namespace kestrix
