#include "formats/archive_open.h"

#include <algorithm>
#include <functional>
#include <memory>
#include <utility>

#include "core/error.h"
#include "core/frontend.h"
#include "core/session.h"
#include "formats/asset_reader.h"
#include "formats/bundle_reader.h"
#include "formats/export_names.h"
#include "formats/split_pieces.h"
#include "formats/webdata_container.h"
#include "platform/archive_lock.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/reader.h"
#include "platform/rollback_journal.h"
#include "types/class_ids.h"
#include "types/naming.h"

namespace kestrix {

namespace {

// Opens and reads hold a read lock on the archive, so that no import writes it meanwhile; a
// lock this process already holds on it (the command line's, for the whole task) is shared.
std::function<void(const std::string&)> Waiting(Frontend& frontend) {
  return [&frontend](const std::string& note) { frontend.Note(note); };
}

// Signature and bundle version at the start of the file.
void ReadSignature(OpenedArchive& a) {
  FileSource source(a.ArchivePath);
  Reader r(source, 256);
  a.Bundle.Signature = r.CStringToEnd(16);
  a.Bundle.BundleVersion = 0;
  if (IsBundleSignature(a.Bundle.Signature) && r.Remaining() >= 4)
    a.Bundle.BundleVersion = r.U32(ByteOrder::Big);
}

void SettleContainer(OpenedArchive& a, Frontend& frontend) {
  if (DetectWebData(a)) {
    OpenWebData(a, frontend, a.SelectedFileIndex);
    return;
  }
  if (IsBundleSignature(a.Bundle.Signature) &&
      !IsHandledBundle(a.Bundle.Signature, a.Bundle.BundleVersion))
    throw Error("Unsupported bundle: \"" + a.Bundle.Signature + "\" version " +
                std::to_string(a.Bundle.BundleVersion) + " is not supported yet (versions 1 to " +
                std::to_string(kLatestBundleVersion) + " are).");
  if (IsHandledBundle(a.Bundle.Signature, a.Bundle.BundleVersion)) {
    OpenBundle(a, frontend);
  } else {
    // A plain file is its own only contained file.
    if (a.SelectedFileIndex == kFirstSerializedFile) a.SelectedFileIndex = 0;
    if (a.SelectedFileIndex != 0)
      throw Error("Contained file index " + std::to_string(a.SelectedFileIndex) +
                  " given, but the archive is not a bundle: only index 0 exists.");
    frontend.FillChooser({StreamFileName(a)}, a.SelectedFileIndex);
  }
}

// Pieces are joined into a file of a name this run chose and checked was free, beside them,
// so that a file the user keeps under the joined name is neither overwritten nor deleted.
void JoinPieces(OpenedArchive& a, Frontend& frontend, const std::string& path) {
  const std::string base = WithoutExtension(path);
  std::string folder = FolderOf(base);
  a.JoinedFile = MakeRunFile(folder, "." + FileNameOf(base) + ".joined-", "");
  a.JoinedPath = a.ArchivePath = a.JoinedFile->Path();
  const std::string& joined = a.JoinedPath;
  // Pieces a killed import left half renamed are completed first, holding them alone.
  if (PendingPiecesExist(base)) {
    ArchiveLock writing(path, LockKind::kWrite, Waiting(frontend));
    if (FinishPendingPieces(base))
      frontend.MessageBox("An interrupted import of " + path +
                          " was completed: its pieces are the new ones.");
  }
  a.SplitCount = JoinSplitPieces(base, joined);
}

void StartOpen(OpenedArchive& a, Frontend& frontend, const std::string& path,
               const OpenOptions& options) {
  a = OpenedArchive();
  a.SelectedFileIndex = options.SelectedFileIndex;
  a.EngineOption = options.EngineVersion;
  a.GivenPath = a.ArchivePath = path;
  // An import killed while it wrote over the file left the old bytes beside it: they go back
  // before anything is read, so the file is read as it was before that import. That is a
  // write, done holding the archive alone (a journal seen under the read lock is one no living
  // import owns: imports hold the write lock while their journal exists).
  if (FileExists(JournalPathFor(path))) {
    ArchiveLock writing(path, LockKind::kWrite, Waiting(frontend));
    if (RecoverInterruptedWrite(path) == JournalRecovery::kRolledBack)
      frontend.MessageBox("An interrupted import of " + path +
                          " was rolled back: the archive is as it was before that import.");
  }
  a.GivenStamp = StampOf(path);
  if (options.OutputRootGiven) {
    a.OutputRoot = options.OutputRootOption + kSep;
  } else {
    a.OutputRoot = FolderOf(path);
    if (a.OutputRoot.empty()) a.OutputRoot = std::string(".") + kSep;
  }
  a.ArchiveBaseName = a.ArchiveFolderName = ExportFolderBaseFor(path);
  a.AssetBaseName = UpToFirstDot(FileNameOf(path));
  if (AsciiLower(ExtensionOf(path)) == ".split0") JoinPieces(a, frontend, path);
  frontend.FillChooser({}, 0);
  ReadSignature(a);
}

// Any file opens, as one object of its whole bytes, but the user should know that is all it is.
std::string RawFileNote(const OpenedArchive& a) {
  const size_t chosen = static_cast<size_t>(a.SelectedFileIndex);
  if (a.Bundle.IsBundle() && a.SelectedFileIndex >= 0 && chosen < a.Bundle.ContainedFiles.size())
    return a.Bundle.ContainedFiles[chosen].Name +
           " in the bundle is not a serialized file: it is opened as one raw object.";
  return FileNameOf(a.GivenPath) + " is not a Unity archive: it is opened as one raw object.";
}

void ReadChosen(Session& s, Frontend& frontend, const OpenOptions& options) {
  FileSource source(s.Archive.ArchivePath);
  Reader reader(source);
  ReadAssetFile(s.Asset, s.Archive, frontend, reader);
  if (s.Asset.RawSingleFile) frontend.MessageBox(RawFileNote(s.Archive));
  for (const std::string& warning : s.Asset.Warnings) frontend.MessageBox(warning);
  NamingPass(s, frontend, source, options.FontContainer);
}

void ReadSelected(Session& s, Frontend& frontend, const OpenOptions& options) {
  SettleContainer(s.Archive, frontend);
  ReadChosen(s, frontend, options);
}

// Another file of an open web data file: the unwrapped container and its table are kept, the
// chosen file is settled afresh (a file of a bundle inside is unpacked again).
void ReopenWebData(Session& s, Frontend& frontend, int selected_index,
                   const OpenOptions& options) {
  OpenedArchive kept = std::move(s.Archive);
  s = Session();
  OpenedArchive& a = s.Archive;
  a.GivenPath = kept.GivenPath;
  a.GivenStamp = kept.GivenStamp;
  a.JoinedPath = kept.JoinedPath;
  a.JoinedFile = std::move(kept.JoinedFile);
  a.SplitCount = kept.SplitCount;
  a.OutputRoot = kept.OutputRoot;
  a.ArchiveBaseName = kept.ArchiveBaseName;
  a.ArchiveFolderName = a.AssetBaseName = kept.ArchiveBaseName;
  a.WebData = std::move(kept.WebData);
  ArchiveLock reading;
  if (a.WebData.ContainerPath == a.GivenPath)
    reading = ArchiveLock(a.GivenPath, LockKind::kRead, Waiting(frontend));
  ChooseWebDataFile(a, frontend, selected_index);
  ReadChosen(s, frontend, options);
}

}  // namespace

void OpenArchive(Session& s, Frontend& frontend, const std::string& path,
                 const OpenOptions& options) {
  // The archive open now stays until the new one is read: it may be the very file asked for.
  Session fresh;
  try {
    ArchiveLock reading(path, LockKind::kRead, Waiting(frontend));
    StartOpen(fresh.Archive, frontend, path, options);
    ReadSelected(fresh, frontend, options);
  } catch (...) {
    CloseArchive(s);
    throw;
  }
  s = std::move(fresh);
}

void OpenContainer(OpenedArchive& a, Frontend& frontend, const std::string& path,
                   const OpenOptions& options) {
  try {
    ArchiveLock reading(path, LockKind::kRead, Waiting(frontend));
    StartOpen(a, frontend, path, options);
    SettleContainer(a, frontend);
  } catch (...) {
    a = OpenedArchive();
    throw;
  }
}

void ReopenWithSelection(Session& s, Frontend& frontend, int selected_index,
                         const OpenOptions& options) {
  if (s.Archive.WebData.Present) return ReopenWebData(s, frontend, selected_index, options);
  // The chooser reopens the stream that is read now (the ".TEMP" file of an unpacked bundle);
  // the names and temporary files of the first open are kept.
  OpenedArchive kept = std::move(s.Archive);
  s = Session();
  OpenedArchive& a = s.Archive;
  // A failed reopen closes the archive, its temporary files included.
  a.GivenPath = kept.GivenPath;
  a.ArchivePath = kept.ArchivePath;
  a.GivenStamp = kept.GivenStamp;
  a.JoinedPath = kept.JoinedPath;
  a.WorkingPath = kept.WorkingPath;
  a.JoinedFile = std::move(kept.JoinedFile);
  a.WorkingFile = std::move(kept.WorkingFile);
  a.SplitCount = kept.SplitCount;
  a.OutputRoot = kept.OutputRoot;
  a.ArchiveBaseName = kept.ArchiveBaseName;
  a.ArchiveFolderName = kept.ArchiveBaseName;
  a.AssetBaseName = UpToFirstDot(FileNameOf(kept.GivenPath));
  a.SelectedFileIndex = selected_index;
  a.EngineOption = options.EngineVersion.empty() ? kept.EngineOption : options.EngineVersion;
  // A file of this run's own needs no lock; the archive read in place does.
  ArchiveLock reading;
  if (a.ArchivePath == a.GivenPath)
    reading = ArchiveLock(a.GivenPath, LockKind::kRead, Waiting(frontend));
  ReadSignature(a);
  ReadSelected(s, frontend, options);
  // The working file holds its data stored; how the archive itself was compressed is known only
  // from the first open, and writing the bundle back needs it.
  if (!a.WorkingPath.empty() && a.Bundle.HasBlocks() && kept.Bundle.HasBlocks()) {
    std::copy(kept.Bundle.V6.Flags, kept.Bundle.V6.Flags + 4, a.Bundle.V6.Flags);
    a.Bundle.V6.ArchiveBlocks = kept.Bundle.V6.ArchiveBlocks;
    a.Bundle.V6.Blocks.front().Flags = kept.Bundle.V6.Blocks.front().Flags;
  }
}

void CloseArchive(Session& s) { s = Session(); }

}  // namespace kestrix
