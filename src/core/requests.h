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
  bool ExportPng = false;  // pictures of the top level beside the other texture files
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
  bool NoTextureFlip = false;  // -nft: the DDS files were exported unflipped
  bool TypeFilterGiven = false;
  std::vector<std::string> TypeWords;
  // Writing the container back: called once the asset has been rebuilt, for a bundle (to update
  // its tables, recompress it into the bundle file and re-split it) and for an archive joined
  // from pieces (to cut the pieces again), with the signed change of the asset's size and the
  // asset's file size before the import. When the working file is the user's own bundle file,
  // it is called before the rebuilt file takes its place, with `rebuilt_path` naming the rebuilt
  // file, so that the new asset never stands under the old tables; otherwise `rebuilt_path` is
  // "" and the rebuilt file is in place. An import that needs it is refused before anything is
  // written when it is not set: the container would keep tables or pieces that no longer fit.
  std::function<void(OpenedArchive& archive, int64_t net_change, uint64_t old_asset_file_size,
                     const std::string& rebuilt_path)>
      RepackBundle;
};

}  // namespace kestrix
