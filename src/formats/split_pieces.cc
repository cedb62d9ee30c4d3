#include "formats/split_pieces.h"

#include <algorithm>
#include <climits>
#include <filesystem>
#include <memory>
#include <vector>

#include "core/archive.h"
#include "core/error.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/temporaries.h"

namespace kestrix {

namespace {

std::string PieceName(const std::string& base, int index) {
  return base + ".split" + std::to_string(index);
}

std::string PendingListStem(const std::string& base) {
  return "." + FileNameOf(base) + ".split-pending-";
}

// A list of pending renames beside the pieces, or "" when there is none.
std::string FindPendingList(const std::string& base) {
  const std::string stem = PendingListStem(base);
  const std::string folder = FolderOf(base);
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(folder.empty() ? "." : folder, ec)) {
    const std::string name = e.path().filename().string();
    if (name.compare(0, stem.size(), stem) == 0) return folder + name;
  }
  return std::string();
}

}  // namespace

int JoinSplitPieces(const std::string& base, const std::string& joined) {
  const std::string pending = FindPendingList(base);
  if (!pending.empty())
    throw Error("The pieces of " + base +
                " were being replaced when an earlier run stopped, so they may mix old and new "
                "pieces. " +
                pending +
                " lists each new piece and the name it takes (and old pieces to remove): finish "
                "those renames, then delete the list, before opening the pieces.");
  OutputFile out(joined);
  int count = 0;
  while (true) {
    std::string piece = PieceName(base, count);
    if (!FileExists(piece)) break;
    FileSource source(piece);
    out.CopyFrom(source, 0, source.Size());
    ++count;
  }
  out.Close();
  return count;
}

void ResplitPieces(OpenedArchive& archive, const StepHook& step_done) {
  if (archive.SplitCount <= 0) return;
  auto step = [&step_done](std::string_view s) {
    if (step_done) step_done(s);
  };
  const std::string base = WithoutExtension(archive.GivenPath);
  const std::string folder = FolderOf(base);
  FileSource working(archive.ArchivePath);
  const uint64_t size = working.Size();
  // An empty file still takes one (empty) piece, so that the set can be opened again.
  const uint64_t count = std::max<uint64_t>(1, (size + kPieceSize - 1) / kPieceSize);
  if (count > INT32_MAX) throw Error("The archive is too large to cut into pieces.");

  std::vector<std::unique_ptr<ReplacementFile>> pieces;
  for (uint64_t i = 0; i < count; ++i) {
    auto piece = std::make_unique<ReplacementFile>(PieceName(base, static_cast<int>(i)));
    OutputFile out(piece->Path());
    const uint64_t at = i * kPieceSize;
    out.CopyFrom(working, at, std::min(kPieceSize, size - at));
    out.Close();
    piece->Flush();
    pieces.push_back(std::move(piece));
  }
  step(kStepPiecesWritten);

  // The list is what makes the renames below safe to interrupt: while it exists, the set is
  // refused rather than joined.
  std::vector<std::string> removed;
  for (int i = static_cast<int>(count); i < archive.SplitCount; ++i)
    if (FileExists(PieceName(base, i))) removed.push_back(PieceName(base, i));
  // From the list on, a signal waits until the renames are done and the list is gone: a list
  // left behind refuses the pieces until the user finishes the renames by hand.
  SignalsHeld held;
  const std::string list = CreateFreeFile(folder, PendingListStem(base), "");
  try {
    OutputFile out(list);
    for (const auto& piece : pieces)
      out.Write(FileNameOf(piece->Path()) + "\t" + FileNameOf(piece->Target()) + "\n");
    for (const std::string& old : removed) out.Write("remove\t" + FileNameOf(old) + "\n");
    out.Close();
    SyncFile(list);
    SyncFolder(folder);
  } catch (...) {
    RemoveTemporary(list);
    throw;
  }
  // Not a temporary: after a kill it is what tells the next run that the renames were cut.
  ForgetTemporary(list);
  // From here on a failure leaves the list: the renames may have begun.
  step(kStepPiecesListed);

  for (auto it = removed.rbegin(); it != removed.rend(); ++it) RemoveFileQuietly(*it);
  for (const auto& piece : pieces) {
    piece->Commit();
    step(kStepPieceReplaced);
  }
  SyncFolder(folder);
  RemoveFileQuietly(list);
  SyncFolder(folder);
  archive.SplitCount = static_cast<int>(count);
  step(kStepPiecesReplaced);
}

}  // namespace kestrix
