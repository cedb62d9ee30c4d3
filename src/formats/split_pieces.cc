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
  for (const auto& e : std::filesystem::directory_iterator(FsPath(folder.empty() ? "." : folder), ec)) {
    const std::string name = PathText(e.path().filename());
    if (name.compare(0, stem.size(), stem) == 0) return folder + name;
  }
  return std::string();
}

}  // namespace

namespace {

// One line of the pending list: "<new name>\t<piece name>" or "remove\t<piece name>".
struct PendingRename {
  std::string from;  // "" for a removal
  std::string to;
};

// The list names files of the pieces' folder only: a new piece's hidden name made from a piece
// name, and the piece names of this set. Anything else is not a list this program wrote.
std::vector<PendingRename> ReadPendingList(const std::string& list, const std::string& base) {
  const std::vector<uint8_t> bytes = ReadWholeFile(list);
  const std::string text(bytes.begin(), bytes.end());
  const std::string piece_stem = FileNameOf(base) + ".split";
  auto is_piece = [&](const std::string& name) {
    if (name.compare(0, piece_stem.size(), piece_stem) != 0 || name.size() == piece_stem.size())
      return false;
    return name.find_first_not_of("0123456789", piece_stem.size()) == std::string::npos;
  };
  std::vector<PendingRename> renames;
  size_t at = 0;
  while (at < text.size()) {
    const size_t end = text.find('\n', at);
    const std::string line = text.substr(at, end == std::string::npos ? end : end - at);
    at = end == std::string::npos ? text.size() : end + 1;
    const size_t tab = line.find('\t');
    PendingRename r;
    if (tab != std::string::npos) {
      r.from = line.substr(0, tab);
      r.to = line.substr(tab + 1);
    }
    if (r.from == "remove") r.from.clear();
    const bool from_ok =
        r.from.empty() || (r.from[0] == '.' && r.from.find(".new-") != std::string::npos &&
                           r.from.find_first_of(kSeparators) == std::string::npos);
    if (tab == std::string::npos || !is_piece(r.to) || !from_ok)
      throw Error("The pieces of " + base + " have a list of pending renames, " + list +
                  ", that names files which are not its pieces; it was left as it is.");
    renames.push_back(std::move(r));
  }
  return renames;
}

}  // namespace

bool FinishPendingPieces(const std::string& base) {
  const std::string list = FindPendingList(base);
  if (list.empty()) return false;
  const std::string folder = FolderOf(base);
  const std::vector<PendingRename> renames = ReadPendingList(list, base);
  for (const PendingRename& r : renames)
    if (r.from.empty()) RemoveFileQuietly(folder + r.to);
  for (const PendingRename& r : renames) {
    // A new piece no longer under its hidden name has taken its place already.
    if (r.from.empty() || !FileExists(folder + r.from)) continue;
    ReplaceFile(folder + r.from, folder + r.to);
  }
  SyncFolder(folder.empty() ? std::string(".") + kSep : folder);
  RemoveFileQuietly(list);
  SyncFolder(folder.empty() ? std::string(".") + kSep : folder);
  return true;
}

bool PendingPiecesExist(const std::string& base) { return !FindPendingList(base).empty(); }

int JoinSplitPieces(const std::string& base, const std::string& joined) {
  FinishPendingPieces(base);
  OutputFile out(joined, OutputFile::Target::kRunFile);
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

void ResplitPieces(OpenedArchive& archive, const StepHook& step_done, const std::string& source) {
  if (archive.SplitCount <= 0) return;
  auto step = [&step_done](std::string_view s) {
    if (step_done) step_done(s);
  };
  const std::string base = WithoutExtension(archive.GivenPath);
  const std::string folder = FolderOf(base);
  FileSource working(source.empty() ? archive.ArchivePath : source);
  const uint64_t size = working.Size();
  // An empty file still takes one (empty) piece, so that the set can be opened again.
  const uint64_t count = std::max<uint64_t>(1, (size + kPieceSize - 1) / kPieceSize);
  if (count > INT32_MAX) throw Error("The archive is too large to cut into pieces.");

  std::vector<std::unique_ptr<ReplacementFile>> pieces;
  for (uint64_t i = 0; i < count; ++i) {
    auto piece = std::make_unique<ReplacementFile>(PieceName(base, static_cast<int>(i)));
    OutputFile out(piece->Path(), OutputFile::Target::kRunFile);
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
    OutputFile out(list, OutputFile::Target::kRunFile);
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
