#include "formats/archive_open.h"

#include "core/error.h"
#include "core/frontend.h"
#include "core/session.h"
#include "formats/asset_reader.h"
#include "formats/bundle_reader.h"
#include "formats/split_pieces.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/reader.h"

namespace kestrix {

namespace {

// Signature and bundle version at the start of the file.
void ReadSignature(Session& s) {
  FileSource source(s.ArchivePath);
  Reader r(source, 256);
  s.Signature = r.CStringToEnd(16);
  s.BundleVersion = 0;
  if ((s.Signature == "UnityRaw" || s.Signature == "UnityWeb" || s.Signature == "UnityFS") &&
      r.Remaining() >= 4)
    s.BundleVersion = r.U32(ByteOrder::Big);
}

void SettleContainer(Session& s, Frontend& frontend) {
  if (IsHandledBundle(s.Signature, s.BundleVersion)) {
    OpenBundle(s, frontend);
  } else {
    // A plain file is its own only contained file.
    if (s.SelectedFileIndex != 0)
      throw Error("Contained file index " + std::to_string(s.SelectedFileIndex) +
                  " given, but the archive is not a bundle: only index 0 exists.");
    frontend.FillChooser({FileNameOf(s.ArchivePath)}, s.SelectedFileIndex);
  }
}

void ReadSelected(Session& s, Frontend& frontend) {
  SettleContainer(s, frontend);
  FileSource source(s.ArchivePath);
  Reader reader(source);
  ReadAssetFile(s, frontend, reader);
}

void StartOpen(Session& s, Frontend& frontend, const std::string& path, int selected_index) {
  ResetArchiveState(s);
  s.SelectedFileIndex = selected_index;
  s.ArchivePath = path;
  if (s.Options.OutputRootGiven) {
    s.OutputRoot = s.Options.OutputRootOption + kSep;
  } else {
    s.OutputRoot = FolderOf(path);
    if (s.OutputRoot.empty()) s.OutputRoot = std::string(".") + kSep;
  }
  s.ArchiveBaseName = UpToFirstDot(FileNameOf(path));
  s.ArchiveFolderName = s.AssetBaseName = s.ArchiveBaseName;
  if (AsciiLower(ExtensionOf(path)) == ".split0") {
    s.ArchivePath = WithoutExtension(path);
    s.SplitCount = JoinSplitPieces(s.ArchivePath);
    s.JoinedPath = s.ArchivePath;
  }
  frontend.FillChooser({}, 0);
  ReadSignature(s);
}

}  // namespace

void OpenArchive(Session& s, Frontend& frontend, const std::string& path, int selected_index) {
  try {
    StartOpen(s, frontend, path, selected_index);
    ReadSelected(s, frontend);
  } catch (...) {
    CleanupTemporaryFiles(s);
    throw;
  }
}

void OpenContainer(Session& s, Frontend& frontend, const std::string& path, int selected_index) {
  try {
    StartOpen(s, frontend, path, selected_index);
    SettleContainer(s, frontend);
  } catch (...) {
    CleanupTemporaryFiles(s);
    throw;
  }
}

void ReopenWithSelection(Session& s, Frontend& frontend, int selected_index) {
  // The chooser reopens the stream that is read now (the ".TEMP" file of an unpacked bundle);
  // the names and temporary files of the first open are kept.
  Session kept = s;
  std::string path = s.ArchivePath;
  ResetArchiveState(s);
  s.ArchivePath = path;
  s.OutputRoot = kept.OutputRoot;
  s.ArchiveBaseName = kept.ArchiveBaseName;
  s.ArchiveFolderName = s.AssetBaseName = kept.ArchiveBaseName;
  s.SplitCount = kept.SplitCount;
  s.JoinedPath = kept.JoinedPath;
  s.TempCreated = kept.TempCreated;
  s.SelectedFileIndex = selected_index;
  ReadSignature(s);
  ReadSelected(s, frontend);
}

void CleanupTemporaryFiles(Session& s) {
  // Only files this program made are removed: a ".TEMP" file the user opened directly stays.
  if (s.TempCreated && EndsWith(s.ArchivePath, ".TEMP")) RemoveFileQuietly(s.ArchivePath);
  if (s.SplitCount > 0 && !s.JoinedPath.empty()) RemoveFileQuietly(s.JoinedPath);
  s.TempCreated = false;
  s.SplitCount = 0;
  s.JoinedPath.clear();
}

}  // namespace kestrix
