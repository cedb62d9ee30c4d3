// What a user asks of one operation: the options of an open and of an export run. They travel
// with the call instead of living in the session, so two operations never share switches.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

namespace kestrix {

struct OpenedArchive;

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

// An import run. Without type words every file of the export folder is a candidate; with them
// (the -t list as typed, lower case) each word lists the files whose extension it names, and
// "114" those whose extension starts with "-" (script objects).
struct ImportRequest {
  bool TypeFilterGiven = false;
  std::vector<std::string> TypeWords;
  // Bundle repacking: called once the asset inside a bundle's working file has been rebuilt,
  // with the signed change of the asset's size, to update the container tables, recompress and
  // re-split. An import into a bundle is refused before anything is written when it is not set,
  // since the bundle would otherwise keep tables that no longer fit its contents.
  std::function<void(OpenedArchive& archive, int64_t net_change)> RepackBundle;
};

}  // namespace kestrix
