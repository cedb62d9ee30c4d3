// What a user asks of one operation: the options of an open and of an export run. They travel
// with the call instead of living in the session, so two operations never share switches.
#pragma once

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace kestrix {

struct OpenedArchive;

// The contained file a bundle opens on when none is chosen: the first that is a serialized file
// (web player bundles list their code, ".dll" files, first), else the first.
inline constexpr int kFirstSerializedFile = -1;

struct OpenOptions {
  bool OutputRootGiven = false;
  std::string OutputRootOption;  // the -p folder as given
  bool FontContainer = false;    // -f: fonts are kept whole and named ".fnt"
  int SelectedFileIndex = kFirstSerializedFile;  // -i: the contained file of a bundle
  // --engine: the engine whose layouts a file with a stripped version ("0.0.0") is read with.
  std::string EngineVersion;
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
  // Every object with a known layout as JSON (export/json_export.h), in place of the raw copy of
  // the classes that have no raw switch of their own.
  bool ExportJson = false;
  // Sprites chosen only for their pictures (-t png): no raw copy of the object beside them.
  bool NoRawSprites = false;
};

// The resource files (".resS", ".resource") of a whole folder run by file name, each with every
// place it was found: a resource an archive names but does not have beside it is looked for
// there, nearest the archive first (see NearestFolderResource).
using FolderResources = std::map<std::string, std::vector<std::string>>;

struct ExportRequest {
  ExportSwitches Switches;
  bool NoTextureFlip = false;  // -nft
  std::shared_ptr<const FolderResources> Resources;  // a folder run's, else null
};

// An import run. Without type words every file of the export folder is a candidate; with them
// (the -t list as typed, lower case) each word lists the files whose extension it names, and
// "114" those whose extension starts with "-" (script objects).
struct ImportRequest {
  bool NoTextureFlip = false;  // -nft: the DDS files were exported unflipped
  bool TypeFilterGiven = false;
  std::vector<std::string> TypeWords;
  // Told each write step of the commit once it is on the disk (see import/commit.h); tests stop
  // the process there to show that a kill at any step leaves the old archive or the new one.
  std::function<void(std::string_view step)> StepDone;
};

}  // namespace kestrix
