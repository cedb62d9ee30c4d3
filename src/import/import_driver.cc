#include "import/import_driver.h"

#include <sys/stat.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <unordered_set>
#include <vector>

#include "core/error.h"
#include "core/frontend.h"
#include "core/localization.h"
#include "core/session.h"
#include "import/replacement_discovery.h"
#include "platform/archive_lock.h"
#include "platform/byte_order.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/io_error.h"
#include "platform/paths.h"
#include "platform/replacing_file.h"
#include "platform/rollback_journal.h"
#include "platform/temporaries.h"
#include "types/class_ids.h"
#include "types/object_layouts.h"
#include "types/type_info.h"

namespace kestrix {

namespace {

constexpr uint64_t kMax32 = 0xFFFFFFFFu;
// Unchanged data is copied in pieces of this size, so that the window's progress moves.
constexpr uint64_t kCopyPiece = uint64_t{64} << 20;

uint64_t Round4(uint64_t v) { return (v + 3) & ~uint64_t{3}; }

// One entry's payload replaced by one raw file. The bytes [region_start, region_end) of the
// working file give way to the new ones: for an embedded file its length field, the file and the
// zero padding; for any other object the file alone, up to the object's end.
struct Replacement {
  size_t entry = 0;
  size_t candidate = 0;  // place in the candidate list
  std::string path;
  uint64_t length = 0;      // of the raw file
  uint64_t old_length = 0;  // embedded: the length its field stated
  int64_t change = 0;       // SizeChange
  bool embedded = false;
  uint64_t region_start = 0;
  uint64_t region_end = 0;
  bool texture = false;  // the type text follows the file's format code
  int32_t texture_format = 0;
  std::string type_text;
};

std::string Reason() { return std::strerror(errno); }

std::vector<std::string> Candidates(const std::string& folder, const ImportRequest& request) {
  std::vector<std::string> listed;
  if (!request.TypeFilterGiven) {
    ListCandidates(folder, "*", listed);
  } else {
    for (const std::string& word : request.TypeWords)
      ListCandidates(folder, word == "114" ? "-*" : word, listed);
  }
  // A file named by two words is still imported once: applying it twice would count its size
  // change twice.
  std::vector<std::string> out;
  std::unordered_set<std::string> seen;
  for (std::string& name : listed)
    if (seen.insert(name).second) out.push_back(std::move(name));
  return out;
}

// Checks the raw file for entry i and works out what it replaces. Everything that could stop the
// import is found here, before a single byte is written.
Replacement Prepare(const Session& s, size_t i, const std::string& path, uint64_t working_size) {
  Replacement rep;
  rep.entry = i;
  rep.path = path;
  struct stat st {};
  // Not opened before it is known to be a plain file: opening a pipe would wait for a writer.
  if (::stat(path.c_str(), &st) != 0) throw IoError("Cannot read file " + path + ": " + Reason());
  if (!S_ISREG(st.st_mode)) throw Error("Cannot import " + path + ": it is not a plain file.");
  FileSource raw(path);
  rep.length = raw.Size();

  const std::string name(s.EntryName(i));
  const int32_t cls = s.EntryClass(i);
  const uint64_t object_start = s.Asset.DataStart + s.EntryOffset(i);
  const uint64_t size = s.EntrySize(i);
  const uint64_t skip = s.HeaderSkip(i);
  const uint64_t payload = object_start + skip;
  auto refuse = [&](const std::string& why) { throw Error("Cannot import " + path + ": " + why); };
  rep.embedded = s.HasEmbeddedPayload(i);
  if (rep.embedded) {
    const uint64_t stated = s.Entries[i].PayloadLength;
    rep.old_length = stated;
    if (skip < 4) refuse("the object " + name + " has no room for its length field.");
    if (rep.length > kMax32)
      refuse("an embedded file of " + std::to_string(rep.length) + " bytes does not fit a 32-bit " +
             "length field.");
    rep.region_start = payload - 4;
    rep.region_end = payload + Round4(stated);
    rep.change = static_cast<int64_t>(Round4(rep.length)) - static_cast<int64_t>(Round4(stated));
  } else {
    if (skip > size)
      refuse("the object " + name + " (" + std::to_string(size) + " bytes) is smaller than its " +
             "name and header fields (" + std::to_string(skip) + " bytes).");
    rep.region_start = payload;
    rep.region_end = object_start + size;
    rep.change = static_cast<int64_t>(rep.length + skip) - static_cast<int64_t>(size);
  }
  if (rep.region_end > working_size)
    refuse("the object " + name + " runs past the end of the archive (" +
           std::to_string(rep.region_end) + " of " + std::to_string(working_size) + " bytes).");
  const int64_t new_size = static_cast<int64_t>(size) + rep.change;
  if (new_size < 0 || static_cast<uint64_t>(new_size) > kMax32)
    refuse("the object " + name + " would take " + std::to_string(new_size) +
           " bytes, more than its 32-bit size field can state.");

  // A replaced texture shows the format its new data has.
  const bool texture = IsTextureClass(cls);
  const int64_t format_at = texture ? TextureFormatOffsetFor(s.Asset, i) : -1;
  if ((format_at >= 0 && rep.length >= static_cast<uint64_t>(format_at) + 4) ||
      (cls == kClassProceduralTexture && rep.length >= 12)) {
    uint8_t word[4];
    raw.ReadAt(texture ? static_cast<uint64_t>(format_at) : rep.length - 12, word, 4);
    rep.texture = true;
    rep.texture_format = static_cast<int32_t>(
        Get32(word, s.Asset.IsBigEndian() ? ByteOrder::Big : ByteOrder::Little));
    rep.type_text =
        ClassIdToName(cls) + " " + TextureFormatName(rep.texture_format, s.Asset.Engine);
  }
  return rep;
}

// The new bytes of the rebuilt file, in file order: the header's file size, the object table and
// the replaced payloads.
struct Splice {
  uint64_t start = 0, end = 0;
  std::vector<uint8_t> bytes;                // written as they are, or
  const Replacement* replacement = nullptr;  // the raw file with its length field and padding
};

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
  FileSource raw(rep.path);
  // The file was checked before the writing began; it must still be that file.
  if (raw.Size() != rep.length)
    throw Error("Cannot import " + rep.path + ": it changed while the import ran.");
  if (rep.embedded) {
    uint8_t field[4];
    Put32(field, static_cast<uint32_t>(rep.length),
          big_endian ? ByteOrder::Big : ByteOrder::Little);
    out.Write(field, 4);
  }
  out.CopyFrom(raw, 0, rep.length);
  if (rep.embedded) {
    // Zero padding, except that where the padded size stays, bytes past the old payload keep
    // their values. In a real text they are zeros anyway; but the naming pass also takes the
    // parsed shaders of newer engines for texts, reading a count as the length, and there
    // these bytes are the shader's own data, which an unchanged import must not destroy. (In
    // place they are read before anything is written over them: they lie behind the bytes
    // written so far.)
    const uint64_t pad = Round4(rep.length) - rep.length;
    uint8_t bytes[4] = {0, 0, 0, 0};
    if (rep.change == 0 && pad > 0) {
      uint8_t old[4];
      const uint64_t at = rep.region_start + 4 + rep.length;
      working.ReadAt(at, old, static_cast<size_t>(pad));
      for (uint64_t k = 0; k < pad; ++k)
        if (rep.length + k >= rep.old_length) bytes[k] = old[k];
    }
    out.Write(bytes, static_cast<size_t>(pad));
  }
}

class Rebuild {
 public:
  Rebuild(Frontend& frontend, FileSource& working, uint64_t total)
      : working_(working), total_(total), bar_(frontend, total) {}

  // `before_commit`, when set, is given the rebuilt file's path once it is complete and before
  // it takes the target's place.
  void Write(const std::string& target, const std::vector<Splice>& splices, bool big_endian,
             const std::function<void(const std::string&)>& before_commit) {
    ReplacingFile out(target);
    uint64_t cursor = 0;
    for (const Splice& splice : splices) {
      Copy(out, cursor, splice.start - cursor);
      if (splice.replacement) {
        WriteReplacement(out, working_, *splice.replacement, big_endian);
        bar_.Show(out.Size());
      } else {
        out.Write(splice.bytes.data(), splice.bytes.size());
      }
      cursor = splice.end;
    }
    Copy(out, cursor, working_.Size() - cursor);
    if (out.Size() != total_)
      throw IoError("The rebuilt archive has " + std::to_string(out.Size()) + " bytes instead of " +
                    std::to_string(total_) + ".");
    if (before_commit) before_commit(out.Path());
    out.Commit();
  }

 private:
  void Copy(ReplacingFile& out, uint64_t pos, uint64_t n) {
    while (n > 0) {
      const uint64_t step = std::min(n, kCopyPiece);
      out.CopyFrom(working_, pos, step);
      pos += step;
      n -= step;
      bar_.Show(out.Size());
    }
  }

  FileSource& working_;
  uint64_t total_;
  ProgressBar bar_;
};

// Writes the splices over the working file where they lie, for an import that moves nothing.
// Only splices whose bytes differ from the old ones are written, each region's old bytes saved
// in a rollback journal first; a failure puts them back, and a kill leaves the journal for the
// next open to do so.
class InPlaceWrite {
 public:
  InPlaceWrite(Frontend& frontend, FileSource& working) : frontend_(frontend), working_(working) {}

  void Apply(const std::vector<Splice>& splices, bool big_endian) {
    std::vector<const Splice*> written;
    std::vector<JournalRegion> regions;
    uint64_t total = 0;
    for (const Splice& splice : splices) {
      if (!splice.replacement) {
        std::vector<uint8_t> old(splice.bytes.size());
        working_.ReadAt(splice.start, old.data(), old.size());
        if (old == splice.bytes) continue;
      }
      written.push_back(&splice);
      regions.push_back({splice.start, splice.end - splice.start});
      total += splice.end - splice.start;
    }
    ProgressBar bar(frontend_, total);
    RollbackJournal journal(working_.Path(), std::move(regions));
    journal_ = &journal;
    bar.Show(0);
    uint64_t done = 0;
    for (const Splice* splice : written) {
      pos_ = splice->start;
      if (splice->replacement) {
        WriteReplacement(*this, working_, *splice->replacement, big_endian);
      } else {
        Write(splice->bytes.data(), splice->bytes.size());
      }
      if (pos_ != splice->end)
        throw IoError("The new bytes of " + working_.Path() + " at " +
                      std::to_string(splice->start) + " take " +
                      std::to_string(pos_ - splice->start) + " bytes instead of " +
                      std::to_string(splice->end - splice->start) + ".");
      done += splice->end - splice->start;
      bar.Show(done);
    }
    journal.Finish();
    journal_ = nullptr;
  }

  // The sink WriteReplacement writes through: at the cursor, inside the journaled region.
  void Write(const void* data, size_t n) {
    journal_->WriteAt(pos_, data, n);
    pos_ += n;
  }
  void CopyFrom(FileSource& source, uint64_t from, uint64_t n) {
    journal_->CopyAt(pos_, source, from, n);
    pos_ += n;
  }

 private:
  Frontend& frontend_;
  FileSource& working_;
  RollbackJournal* journal_ = nullptr;
  uint64_t pos_ = 0;
};

}  // namespace

ImportResult ImportAll(Session& s, const ImportRequest& request, Frontend& frontend,
                       const ImportConverters& converters) {
  ImportResult result;
  if (s.Asset.RawSingleFile)
    throw Error("Cannot import into " + FileNameOf(s.Archive.ArchivePath) + ": it is a single " +
                s.Asset.ShownKind + " file, not an asset file with an object table.");
  if ((s.Archive.Bundle.IsBundle() || s.Archive.SplitCount > 0) && !request.RepackBundle)
    throw Error("Cannot import into " + FileNameOf(s.Archive.GivenPath) +
                ": nothing here writes its bundle or pieces back.");
  // The folder name of a bundle carries a contained file's name, which comes from the archive.
  if (!IsContainedName(s.Archive.ArchiveFolderName))
    throw Error("Cannot import from the folder \"" + s.Archive.ArchiveFolderName +
                "\": the name leaves the output folder.");
  if (s.EntryCount() != s.Asset.Objects.size())
    throw Error("Cannot import: the entry table does not match the object table.");

  // The archive is held alone while it is written (the command line holds it so from before the
  // open), and it must still be the file this session read: an edit another run made since
  // would otherwise be written over.
  const ArchiveLock writing =
      HoldOpenedArchive(s.Archive, LockKind::kWrite, frontend, "import into", "import");
  RemoveAbandonedTemporaries(s.Archive.GivenPath, ExportFolder(s.Archive));

  // The rebuilt file is renamed into place, which a folder's permissions allow even where the
  // file's own do not: a file nobody may write is refused, also for the superuser.
  struct stat st {};
  if (::stat(s.Archive.ArchivePath.c_str(), &st) == 0 && (st.st_mode & 0222) == 0)
    throw Error("Cannot import into " + s.Archive.ArchivePath + ": the file is read-only.");

  const std::string folder = ExportFolder(s.Archive);
  FileSource working(s.Archive.ArchivePath);
  const EntryNameIndex names(s);
  RunConverters(s, names, working, converters, frontend, request.NoTextureFlip);

  const std::vector<std::string> candidates = Candidates(folder, request);
  result.candidates = candidates.size();
  if (candidates.empty()) return result;
  CommandsDisabled disabled(frontend);

  // Every raw file is checked before anything is written.
  std::vector<Replacement> reps;
  for (size_t c = 0; c < candidates.size(); ++c) {
    const std::vector<size_t>* entries = names.Find(candidates[c]);
    if (entries) {
      for (size_t i : *entries) {
        Replacement rep = Prepare(s, i, folder + candidates[c], working.Size());
        rep.candidate = c;
        // An empty file of the old length has nothing to write.
        if (rep.length != 0 || rep.change != 0) reps.push_back(std::move(rep));
      }
    }
    frontend.ShowProgress(static_cast<int>((c + 1) * 25 / candidates.size()));
    frontend.ProcessMessages();
    if (!entries) {
      ++result.not_found;
      frontend.MessageBox(Str(kStrFileNotFound) + candidates[c] + "\r\n" + Str(kStrWillBeSkipped));
    }
  }
  if (reps.empty()) {
    result.file_size = working.Size();
    frontend.ShowProgress(100);
    return result;
  }

  // In file order, no two replaced ranges may overlap: each is cut out of the old file once.
  std::vector<const Replacement*> by_place;
  for (const Replacement& rep : reps) by_place.push_back(&rep);
  std::sort(by_place.begin(), by_place.end(), [](const Replacement* a, const Replacement* b) {
    return a->region_start < b->region_start;
  });
  for (size_t k = 1; k < by_place.size(); ++k)
    if (by_place[k]->region_start < by_place[k - 1]->region_end)
      throw Error("Cannot import " + by_place[k]->path + ": the object " +
                  s.Entries.NameText(by_place[k]->entry) + " overlaps " +
                  s.Entries.NameText(by_place[k - 1]->entry) + " in the archive.");

  // Every object behind a changed one moves by the changes of the objects before it.
  std::vector<std::pair<uint64_t, int64_t>> moves;  // (object offset, size change)
  for (const Replacement& rep : reps) {
    if (rep.change != 0) moves.push_back({s.EntryOffset(rep.entry), rep.change});
    result.net_change += rep.change;
  }
  std::sort(moves.begin(), moves.end());
  std::vector<int64_t> moved_before(moves.size() + 1, 0);
  for (size_t k = 0; k < moves.size(); ++k) moved_before[k + 1] = moved_before[k] + moves[k].second;

  const SerializedFile& asset = s.Asset;
  const RecordLayout& layout = asset.Layout;
  const size_t count = asset.Objects.size();
  std::vector<uint64_t> new_offset(count);
  std::vector<uint32_t> new_size(count);
  for (size_t j = 0; j < count; ++j) {
    const uint64_t offset = asset.Objects[j].Offset;
    const size_t before = static_cast<size_t>(
        std::lower_bound(moves.begin(), moves.end(), std::make_pair(offset, INT64_MIN)) -
        moves.begin());
    const int64_t moved = static_cast<int64_t>(offset) + moved_before[before];
    if (moved < 0 || (layout.OffsetBytes == 4 && static_cast<uint64_t>(moved) > kMax32))
      throw Error("Cannot import: the object " + s.Entries.NameText(j) + " would lie at " +
                  std::to_string(moved) + ", past what the object table of format " +
                  std::to_string(asset.FormatVersion) + " can state.");
    new_offset[j] = static_cast<uint64_t>(moved);
    new_size[j] = asset.Objects[j].Size;
  }
  for (const Replacement& rep : reps)
    new_size[rep.entry] =
        static_cast<uint32_t>(static_cast<int64_t>(asset.Objects[rep.entry].Size) + rep.change);
  const int64_t new_file_size = static_cast<int64_t>(asset.AssetFileSize) + result.net_change;
  const bool wide_size = asset.FileSizeFieldBytes == 8;
  if (new_file_size < 0 || (!wide_size && static_cast<uint64_t>(new_file_size) > kMax32))
    throw Error("Cannot import: the asset file would take " + std::to_string(new_file_size) +
                " bytes, more than its header's 32-bit size field can state.");

  // The header's file size and the object table keep their places in the old file and are
  // written with the new values. The table lies between the header and the object data, or
  // (formats 6 to 8) after the object data, where it moves with the change.
  const uint64_t size_field = s.Archive.AssetBase + asset.FileSizeFieldPos;
  const uint64_t size_end = size_field + asset.FileSizeFieldBytes;
  const uint64_t table_bytes = static_cast<uint64_t>(count) * layout.RecordBytes;
  const uint64_t table_end = asset.ObjectTableStart + table_bytes;
  if (asset.MetadataAtEnd) {
    if (asset.ObjectTableStart < by_place.back()->region_end)
      throw Error("Cannot import: the object table does not lie after the object data.");
  } else if (asset.ObjectTableStart < size_end || table_end > by_place.front()->region_start) {
    throw Error(
        "Cannot import: the object table does not lie between the header and the object "
        "data.");
  }
  const ByteOrder order = asset.IsBigEndian() ? ByteOrder::Big : ByteOrder::Little;
  std::vector<Splice> splices(2);
  splices[0].start = size_field;
  splices[0].end = size_end;
  splices[0].bytes.resize(asset.FileSizeFieldBytes);
  if (wide_size) {
    Put64(splices[0].bytes.data(), static_cast<uint64_t>(new_file_size), ByteOrder::Big);
  } else {
    Put32(splices[0].bytes.data(), static_cast<uint32_t>(new_file_size), ByteOrder::Big);
  }
  splices[1].start = asset.ObjectTableStart;
  splices[1].end = table_end;
  splices[1].bytes.resize(static_cast<size_t>(table_bytes));
  std::vector<uint8_t>& table = splices[1].bytes;
  working.ReadAt(asset.ObjectTableStart, table.data(), table.size());
  for (size_t j = 0; j < count; ++j) {
    uint8_t* record = table.data() + j * layout.RecordBytes;
    if (new_offset[j] != asset.Objects[j].Offset) {
      if (layout.OffsetBytes == 8) {
        Put64(record + layout.OffsetPos, new_offset[j], order);
      } else {
        Put32(record + layout.OffsetPos, static_cast<uint32_t>(new_offset[j]), order);
      }
    }
    if (new_size[j] != asset.Objects[j].Size) Put32(record + layout.SizePos, new_size[j], order);
  }
  for (const Replacement* rep : by_place) {
    Splice splice;
    splice.start = rep->region_start;
    splice.end = rep->region_end;
    splice.replacement = rep;
    splices.push_back(std::move(splice));
  }
  // Written front to back: a table after the object data goes last.
  if (asset.MetadataAtEnd) std::rotate(splices.begin() + 1, splices.begin() + 2, splices.end());

  const uint64_t total =
      static_cast<uint64_t>(static_cast<int64_t>(working.Size()) + result.net_change);
  // The user's own bundle file (read in place) gets its tables before it takes its place; the
  // working files this run made are patched afterwards, and the user's bundle or pieces are
  // then written beside theirs and renamed.
  const uint64_t old_asset_file_size = asset.AssetFileSize;
  const bool own_bundle =
      s.Archive.Bundle.IsBundle() && s.Archive.ArchivePath == s.Archive.GivenPath;
  std::function<void(const std::string&)> before_commit;
  if (own_bundle)
    before_commit = [&](const std::string& rebuilt) {
      request.RepackBundle(s.Archive, result.net_change, old_asset_file_size, rebuilt);
    };
  // When nothing moves, the header and the object table keep their bytes and every new payload
  // fills its old region exactly: the new bytes go over the old ones behind a rollback journal
  // instead of into a copy of the whole file. The user's own bundle keeps the rebuild, since its
  // tables are written by the write-back before the new file takes its place.
  const bool in_place =
      !own_bundle &&
      std::all_of(reps.begin(), reps.end(), [](const Replacement& rep) { return rep.change == 0; });
  if (in_place) {
    InPlaceWrite(frontend, working).Apply(splices, asset.IsBigEndian());
  } else {
    Rebuild(frontend, working, total)
        .Write(s.Archive.ArchivePath, splices, asset.IsBigEndian(), before_commit);
  }

  // The new file is in place: the session follows it, so that a further import or export works
  // without reopening.
  for (size_t j = 0; j < count; ++j) s.Asset.MoveObject(j, new_offset[j], new_size[j]);
  s.Asset.SetAssetFileSize(static_cast<uint64_t>(new_file_size));
  for (const Replacement& rep : reps) {
    if (rep.embedded) s.Entries.SetPayloadLength(rep.entry, static_cast<uint32_t>(rep.length));
    if (rep.texture) s.Entries.SetTextureType(rep.entry, rep.type_text, rep.texture_format);
  }
  result.replaced = reps.size();
  result.rebuilt = !in_place;
  result.in_place = in_place;
  result.file_size = total;

  // One line per written object, in the order the objects were always written: those of
  // unchanged size as listed, then the shrunk ones front to back, then the grown ones back to
  // front.
  std::vector<const Replacement*> same, shrunk, grown;
  for (const Replacement& rep : reps)
    (rep.change == 0 ? same : rep.change < 0 ? shrunk : grown).push_back(&rep);
  auto by_offset = [&](const Replacement* a, const Replacement* b) {
    return s.EntryOffset(a->entry) < s.EntryOffset(b->entry);
  };
  std::stable_sort(shrunk.begin(), shrunk.end(), by_offset);
  std::stable_sort(grown.begin(), grown.end(), by_offset);
  std::reverse(grown.begin(), grown.end());
  for (const auto* list : {&same, &shrunk, &grown})
    for (const Replacement* rep : *list) frontend.ConsoleLine(rep->path);

  if ((s.Archive.Bundle.IsBundle() && !own_bundle) || s.Archive.SplitCount > 0)
    request.RepackBundle(s.Archive, result.net_change, old_asset_file_size, "");
  s.Archive.GivenStamp = StampOf(s.Archive.GivenPath);
  frontend.ShowProgress(100);
  return result;
}

}  // namespace kestrix
