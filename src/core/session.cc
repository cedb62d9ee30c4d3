#include "core/session.h"

#include "platform/error.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "types/class_ids.h"

namespace kestrix {

uint32_t Session::HeaderSkip(size_t i) const {
  const Entry& e = Entries[i];
  return Entries.PrefixSkip + e.NameFieldSize + e.PayloadSkip;
}

bool Session::HasEmbeddedPayload(size_t i) const {
  const int32_t cls = EntryClass(i);
  if (cls == kClassTextAsset) return true;
  // The naming pass gives a shader that holds its text the text's length field as payload skip;
  // the parsed form of later engines has none and is written and read back raw.
  if (cls == kClassShader) return Entries[i].PayloadSkip != 0;
  return (cls == kClassFont || cls == kClassMovieTexture) && Entries[i].PayloadLength != 0;
}

uint64_t Session::PayloadOffset(size_t i) const {
  return Asset.DataStart + EntryOffset(i) + HeaderSkip(i);
}

uint32_t Session::PayloadSize(size_t i) const {
  if (HasEmbeddedPayload(i)) return Entries[i].PayloadLength;
  return EntrySize(i) - HeaderSkip(i);
}

std::string ExportFolder(const OpenedArchive& a) {
  return a.OutputRoot + "Unity_Assets_Files" + kSep + a.ArchiveFolderName + kSep;
}

std::string BundleFolder(const OpenedArchive& a) {
  return a.OutputRoot + "Unity_Assets_Files" + kSep + a.ArchiveBaseName + kSep + "Bundle" + kSep;
}

std::string StreamFileName(const OpenedArchive& a) {
  std::string name = FileNameOf(a.JoinedPath.empty() ? a.GivenPath : WithoutExtension(a.GivenPath));
  if (!a.WorkingPath.empty()) name += ".TEMP";
  return name;
}

std::string ResourceFolder(const OpenedArchive& a) {
  std::string folder = FolderOf(a.GivenPath.empty() ? a.ArchivePath : a.GivenPath);
  return folder.empty() ? std::string(".") + kSep : folder;
}

ArchiveLock HoldOpenedArchive(const OpenedArchive& a, LockKind kind, Frontend& frontend,
                              const std::string& cannot, const std::string& task) {
  ArchiveLock lock(a.GivenPath, kind,
                   [&frontend](const std::string& note) { frontend.Note(note); });
  if (StampOf(a.GivenPath) != a.GivenStamp)
    throw Error("Cannot " + cannot + " " + a.GivenPath +
                    ": another run changed it after it was opened here. Open it again, then " +
                    task + ".",
                ErrorKind::kFileSystem);
  return lock;
}

}  // namespace kestrix
