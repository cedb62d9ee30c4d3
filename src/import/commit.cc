#include "import/commit.h"

#include <algorithm>
#include <functional>
#include <vector>

#include "core/error.h"
#include "core/frontend.h"
#include "core/session.h"
#include "formats/bundle_repack.h"
#include "formats/webdata_container.h"
#include "import/replacement_discovery.h"
#include "platform/byte_order.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/io_error.h"
#include "platform/paths.h"
#include "platform/replacing_file.h"
#include "platform/rollback_journal.h"
#include "platform/sys.h"

namespace kestrix {

namespace {

// Unchanged data is copied in pieces of this size, so that the window's progress moves.
constexpr uint64_t kCopyPiece = uint64_t{64} << 20;

void Announce(const StepHook& hook, std::string_view step) {
  if (hook) hook(step);
}

// The bar while the new bytes are written; its first quarter belongs to checking the candidates.
class ProgressBar {
 public:
  ProgressBar(Frontend& frontend, uint64_t total) : frontend_(frontend), total_(total) {}
  void Show(uint64_t done) {
    const int percent = total_ == 0 ? 100 : static_cast<int>(25 + done * 75 / total_);
    if (percent != shown_) {
      shown_ = percent;
      frontend_.ShowProgress(percent);
    }
    frontend_.ProcessMessages();
  }

 private:
  Frontend& frontend_;
  uint64_t total_;
  int shown_ = -1;
};

// The bytes a replacement puts in its region, written through `out` (Write, CopyFrom), whether
// the region goes into a rebuilt file or over the old bytes in place: both must give the same
// file.
template <class Out>
void WriteReplacement(Out& out, FileSource& working, const Replacement& rep, bool big_endian) {
  FileSource raw(OpenImportFile(FolderOf(rep.path), rep.path));
  // The file was checked when the plan was made; it must still be that file.
  if (raw.Size() != rep.length)
    throw Error("Cannot import " + rep.path + ": it changed while the import ran.");
  if (rep.embedded) {
    uint8_t field[4];
    Put32(field, static_cast<uint32_t>(rep.length),
          big_endian ? ByteOrder::Big : ByteOrder::Little);
    out.Write(field, 4);
  }
  out.CopyFrom(raw, 0, rep.length);
  if (!rep.embedded) return;
  // Zero padding, except that where the padded size stays, bytes past the old payload keep
  // their values, so that an unchanged import gives the old bytes back whatever the padding
  // held. (In place they are read before anything is written over them: they lie behind the
  // bytes written so far.)
  const uint64_t pad = Round4(rep.length) - rep.length;
  uint8_t bytes[4] = {0, 0, 0, 0};
  if (rep.change == 0 && pad > 0) {
    uint8_t old[4];
    working.ReadAt(rep.region_start + 4 + rep.length, old, static_cast<size_t>(pad));
    for (uint64_t k = 0; k < pad; ++k)
      if (rep.length + k >= rep.old_length) bytes[k] = old[k];
  }
  out.Write(bytes, static_cast<size_t>(pad));
}

template <class Out>
void WriteSplice(Out& out, FileSource& working, const ImportPlan& plan, const Splice& splice,
                 bool big_endian) {
  if (splice.replacement >= 0) {
    WriteReplacement(out, working, plan.replacements[static_cast<size_t>(splice.replacement)],
                     big_endian);
  } else {
    out.Write(splice.bytes.data(), splice.bytes.size());
  }
}

// The new working file, written beside the old one: unchanged ranges copied, splices between.
void WriteRebuilt(ReplacingFile& out, FileSource& working, const ImportPlan& plan, bool big_endian,
                  Frontend& frontend) {
  ProgressBar bar(frontend, plan.new_length);
  auto copy = [&](uint64_t pos, uint64_t n) {
    while (n > 0) {
      const uint64_t step = std::min(n, kCopyPiece);
      out.CopyFrom(working, pos, step);
      pos += step;
      n -= step;
      bar.Show(out.Size());
    }
  };
  uint64_t cursor = 0;
  for (const Splice& splice : plan.splices) {
    copy(cursor, splice.start - cursor);
    WriteSplice(out, working, plan, splice, big_endian);
    bar.Show(out.Size());
    cursor = splice.end;
  }
  copy(cursor, working.Size() - cursor);
  if (out.Size() != plan.new_length)
    throw IoError("The rebuilt archive has " + std::to_string(out.Size()) + " bytes instead of " +
                  std::to_string(plan.new_length) + ".");
}

// Writes the splices over the working file where they lie, for a plan that moves nothing. Only
// splices whose bytes differ from the old ones are written, each region's old bytes saved in a
// rollback journal first; a failure puts them back, and a kill leaves the journal for the next
// open to do so.
class InPlaceWrite {
 public:
  InPlaceWrite(FileSource& working, const ImportPlan& plan) : working_(working), plan_(plan) {}

  void Apply(bool big_endian, Frontend& frontend, const StepHook& hook) {
    std::vector<const Splice*> written;
    std::vector<JournalRegion> regions;
    uint64_t total = 0;
    for (const Splice& splice : plan_.splices) {
      if (splice.replacement < 0) {
        std::vector<uint8_t> old(splice.bytes.size());
        working_.ReadAt(splice.start, old.data(), old.size());
        if (old == splice.bytes) continue;
      }
      written.push_back(&splice);
      regions.push_back({splice.start, splice.end - splice.start});
      total += splice.end - splice.start;
    }
    ProgressBar bar(frontend, total);
    RollbackJournal journal(working_.Path(), std::move(regions));
    journal_ = &journal;
    Announce(hook, kStepJournalWritten);
    bar.Show(0);
    uint64_t done = 0;
    for (const Splice* splice : written) {
      pos_ = splice->start;
      WriteSplice(*this, working_, plan_, *splice, big_endian);
      if (pos_ != splice->end)
        throw IoError("The new bytes of " + working_.Path() + " at " +
                      std::to_string(splice->start) + " take " +
                      std::to_string(pos_ - splice->start) + " bytes instead of " +
                      std::to_string(splice->end - splice->start) + ".");
      done += splice->end - splice->start;
      bar.Show(done);
    }
    Announce(hook, kStepBytesWritten);
    journal.Finish();
    journal_ = nullptr;
  }

  // The sink WriteSplice writes through: at the cursor, inside the journaled region.
  void Write(const void* data, size_t n) {
    journal_->WriteAt(pos_, data, n);
    pos_ += n;
  }
  void CopyFrom(FileSource& source, uint64_t from, uint64_t n) {
    journal_->CopyAt(pos_, source, from, n);
    pos_ += n;
  }

 private:
  FileSource& working_;
  const ImportPlan& plan_;
  RollbackJournal* journal_ = nullptr;
  uint64_t pos_ = 0;
};

// The new working file beside the old one, then the container around it (the user's bundle
// recompressed, or the pieces cut again), then the working file renamed into place. The
// user's files change at one step each: the bundle's rename, the pieces' renames (behind their
// pending list), or the working file's rename when it is the user's own file.
void Rebuild(Session& s, const ImportPlan& plan, FileSource& working, Frontend& frontend,
             const StepHook& hook) {
  OpenedArchive& a = s.Archive;
  ReplacingFile out(a.ArchivePath);
  WriteRebuilt(out, working, plan, s.Asset.IsBigEndian(), frontend);
  Announce(hook, kStepWorkingFileWritten);
  if (a.WebData.Present) {
    CommitWebData(a, plan.net_change, s.Asset.AssetFileSize, out.Path(), hook);
  } else if (a.Bundle.IsBundle()) {
    RepackOptions options;
    options.RebuiltPath = out.Path();
    options.StepDone = hook;
    options.OtherChanges = plan.contained_changes;
    RepackBundle(a, plan.net_change + plan.resource_change, s.Asset.AssetFileSize, options);
  }
  if (a.SplitCount > 0) ResplitPieces(a, hook, out.Path());
  out.Commit();
  Announce(hook, kStepWorkingFileReplaced);
}

// The session follows the files now in place, so that a further import or export works without
// reopening.
void UpdateSession(Session& s, const ImportPlan& plan) {
  for (size_t j = 0; j < s.Asset.Objects.size(); ++j)
    s.Asset.MoveObject(j, plan.new_offset[j], plan.new_size[j]);
  s.Asset.SetAssetFileSize(plan.new_asset_file_size);
  for (const Replacement& rep : plan.replacements) {
    if (rep.embedded) s.Entries.SetPayloadLength(rep.entry, static_cast<uint32_t>(rep.length));
    if (rep.texture) s.Entries.SetTextureType(rep.entry, rep.type_text, rep.texture_format);
  }
  s.Archive.GivenStamp = StampOf(s.Archive.GivenPath);
}

bool NobodyMayWrite(const std::string& path) {
  sys::Stat st{};
  return sys::stat(path.c_str(), &st) == 0 && (st.st_mode & 0222) == 0;
}

}  // namespace

void RefuseReadOnlyArchive(const Session& s) {
  const OpenedArchive& a = s.Archive;
  std::vector<std::string> files = {a.GivenPath};
  const std::string base = WithoutExtension(a.GivenPath);
  for (int i = 1; i < a.SplitCount; ++i) files.push_back(base + ".split" + std::to_string(i));
  for (const std::string& file : files)
    if (NobodyMayWrite(file))
      throw Error("Cannot import into " + file + ": the file is read-only.");
}

CommitResult CommitImport(Session& s, const ImportPlan& plan, FileSource& working,
                          Frontend& frontend, const StepHook& hook) {
  CommitResult result;
  const OpenedArchive& a = s.Archive;
  // Over the old bytes only where nothing else must follow: a file read in place whose tables
  // keep their values. Our own working files are rebuilt, so that the user's bundle or pieces
  // and the working file change together or not at all.
  result.in_place =
      plan.same_size && a.WorkingPath.empty() && a.SplitCount == 0 && a.ArchivePath == a.GivenPath;
  if (result.in_place) {
    InPlaceWrite(working, plan).Apply(s.Asset.IsBigEndian(), frontend, hook);
  } else {
    const Container container = a.Bundle;
    const std::vector<WebDataEntry> web_entries = a.WebData.Entries;
    const int split_count = a.SplitCount;
    try {
      Rebuild(s, plan, working, frontend, hook);
    } catch (...) {
      s.Archive.Bundle = container;
      s.Archive.WebData.Entries = web_entries;
      s.Archive.SplitCount = split_count;
      throw;
    }
  }
  UpdateSession(s, plan);
  return result;
}

}  // namespace kestrix
