#include "import/import_plan.h"

#include <algorithm>
#include <climits>
#include <map>
#include <set>

#include "core/bundle_resource.h"
#include "core/error.h"
#include "core/session.h"
#include "export/export_record.h"
#include "import/replacement_discovery.h"
#include "import/resource_edits.h"
#include "platform/byte_order.h"
#include "platform/byte_source.h"
#include "platform/io_error.h"
#include "platform/paths.h"
#include "types/class_ids.h"
#include "types/object_layouts.h"
#include "types/type_info.h"

namespace kestrix {

namespace {

constexpr uint64_t kMax32 = 0xFFFFFFFFu;
// Objects follow each other at multiples of this many bytes.
constexpr uint64_t kObjectAlignment = 8;

[[noreturn]] void Refuse(const std::string& path, const std::string& why) {
  throw Error("Cannot import " + path + ": " + why);
}

// Where the raw file's payload goes and how the object's size changes.
void PlaceRegion(const Session& s, Replacement& rep, uint64_t working_size) {
  const size_t i = rep.entry;
  const std::string name(s.EntryName(i));
  const uint64_t object_start = s.Asset.DataStart + s.EntryOffset(i);
  const uint64_t size = s.EntrySize(i);
  const uint64_t skip = s.HeaderSkip(i);
  const uint64_t payload = object_start + skip;
  rep.embedded = s.HasEmbeddedPayload(i);
  if (rep.embedded) {
    const uint64_t stated = s.Entries[i].PayloadLength;
    rep.old_length = stated;
    if (skip < 4) Refuse(rep.path, "the object " + name + " has no room for its length field.");
    if (rep.length > kMax32)
      Refuse(rep.path, "an embedded file of " + std::to_string(rep.length) +
                           " bytes does not fit a 32-bit length field.");
    rep.region_start = payload - 4;
    rep.region_end = payload + Round4(stated);
    rep.change = static_cast<int64_t>(Round4(rep.length)) - static_cast<int64_t>(Round4(stated));
  } else {
    if (skip > size)
      Refuse(rep.path, "the object " + name + " (" + std::to_string(size) +
                           " bytes) is smaller than its name and header fields (" +
                           std::to_string(skip) + " bytes).");
    rep.region_start = payload;
    rep.region_end = object_start + size;
    rep.change = static_cast<int64_t>(rep.length + skip) - static_cast<int64_t>(size);
  }
  if (rep.region_end > working_size)
    Refuse(rep.path, "the object " + name + " runs past the end of the archive (" +
                         std::to_string(rep.region_end) + " of " + std::to_string(working_size) +
                         " bytes).");
  const int64_t new_size = static_cast<int64_t>(size) + rep.change;
  if (new_size < 0 || static_cast<uint64_t>(new_size) > kMax32)
    Refuse(rep.path, "the object " + name + " would take " + std::to_string(new_size) +
                         " bytes, more than its 32-bit size field can state.");
}

// A replaced texture shows the format its new data has.
void ReadTextureFormat(const Session& s, Replacement& rep, FileSource& raw) {
  const int32_t cls = s.EntryClass(rep.entry);
  const bool texture = IsTextureClass(cls);
  const int64_t format_at = texture ? TextureFormatOffsetFor(s.Asset, rep.entry) : -1;
  if (!((format_at >= 0 && rep.length >= static_cast<uint64_t>(format_at) + 4) ||
        (cls == kClassProceduralTexture && rep.length >= 12)))
    return;
  uint8_t word[4];
  raw.ReadAt(texture ? static_cast<uint64_t>(format_at) : rep.length - 12, word, 4);
  rep.texture = true;
  rep.texture_format =
      static_cast<int32_t>(Get32(word, s.Asset.IsBigEndian() ? ByteOrder::Big : ByteOrder::Little));
  rep.type_text = ClassIdToName(cls) + " " + TextureFormatName(rep.texture_format, s.Asset.Engine);
}

}  // namespace

Replacement PrepareReplacement(const Session& s, size_t i, const std::string& path,
                               uint64_t working_size) {
  Replacement rep;
  rep.entry = i;
  rep.path = path;
  // The export folder may come from someone else: a link out of it, a pipe or a device is
  // refused, never followed or waited on.
  FileSource raw(OpenImportFile(FolderOf(path), path));
  rep.length = raw.Size();
  PlaceRegion(s, rep, working_size);
  ReadTextureFormat(s, rep, raw);
  return rep;
}

namespace {

// In file order, no two replaced ranges may overlap: each is cut out of the old file once.
std::vector<size_t> ByPlace(const Session& s, const std::vector<Replacement>& reps) {
  std::vector<size_t> order(reps.size());
  for (size_t k = 0; k < order.size(); ++k) order[k] = k;
  std::sort(order.begin(), order.end(),
            [&](size_t a, size_t b) { return reps[a].region_start < reps[b].region_start; });
  for (size_t k = 1; k < order.size(); ++k) {
    const Replacement& a = reps[order[k - 1]];
    const Replacement& b = reps[order[k]];
    if (b.region_start < a.region_end)
      Refuse(b.path, "the object " + s.Entries.NameText(b.entry) + " overlaps " +
                         s.Entries.NameText(a.entry) + " in the archive.");
  }
  return order;
}

// The padding after a changed object. A gap of less than 8 bytes before the next object is the
// engine's padding: it is made anew, as short as keeps the next object's place modulo 8. A
// wider gap is not padding the engine wrote; its bytes stay, and zeros before them make up the
// change to a multiple of 8. The last object needs no padding. Returns the splice that writes
// the padding (none when the object keeps its size) and the shift of every later object.
int64_t PadAfter(const Session& s, const Replacement& rep, const std::vector<uint64_t>& starts,
                 std::vector<Splice>& splices) {
  if (rep.change == 0) return 0;
  const ObjectRecord& object = s.Object(rep.entry);
  const uint64_t end = object.Offset + object.Size;
  // The next object is the first to start at or after this one's end (an empty object may share
  // this one's start).
  auto after = std::lower_bound(starts.begin(), starts.end(), std::max(end, object.Offset + 1));
  if (after == starts.end()) return rep.change;
  const uint64_t next = *after;
  const uint64_t gap = next - end;
  const uint64_t keep = gap < kObjectAlignment ? 0 : gap;
  // The new gap g satisfies change + g - gap = 0 (mod 8), g >= keep, as small as it can be.
  const uint64_t misfit =
      static_cast<uint64_t>(rep.change + static_cast<int64_t>(keep) - static_cast<int64_t>(gap)) %
      kObjectAlignment;
  const uint64_t zeros = (kObjectAlignment - misfit) % kObjectAlignment;
  Splice pad;
  pad.start = s.Asset.DataStart + end;
  pad.end = pad.start + (gap - keep);
  pad.bytes.assign(zeros, 0);
  if (pad.start != pad.end || zeros != 0) splices.push_back(std::move(pad));
  return rep.change + static_cast<int64_t>(zeros + keep) - static_cast<int64_t>(gap);
}

// Every object moves by the shifts of the changed objects before it.
void PlaceObjects(const Session& s, ImportPlan& plan,
                  std::vector<std::pair<uint64_t, int64_t>>& shifts) {
  std::sort(shifts.begin(), shifts.end());
  std::vector<int64_t> before(shifts.size() + 1, 0);
  for (size_t k = 0; k < shifts.size(); ++k) before[k + 1] = before[k] + shifts[k].second;
  const SerializedFile& asset = s.Asset;
  const size_t count = asset.Objects.size();
  plan.new_offset.resize(count);
  plan.new_size.resize(count);
  for (size_t j = 0; j < count; ++j) {
    const uint64_t offset = asset.Objects[j].Offset;
    const size_t k = static_cast<size_t>(
        std::lower_bound(shifts.begin(), shifts.end(), std::make_pair(offset, INT64_MIN)) -
        shifts.begin());
    const int64_t moved = static_cast<int64_t>(offset) + before[k];
    if (moved < 0 || (asset.Layout.OffsetBytes == 4 && static_cast<uint64_t>(moved) > kMax32))
      throw Error("Cannot import: the object " + s.Entries.NameText(j) + " would lie at " +
                  std::to_string(moved) + ", past what the object table of format " +
                  std::to_string(asset.FormatVersion) + " can state.");
    plan.new_offset[j] = static_cast<uint64_t>(moved);
    plan.new_size[j] = asset.Objects[j].Size;
  }
  for (const Replacement& rep : plan.replacements)
    plan.new_size[rep.entry] =
        static_cast<uint32_t>(static_cast<int64_t>(asset.Objects[rep.entry].Size) + rep.change);
}

// The header's file size and the object table keep their places in the old file and are
// written with the new values. The table lies between the header and the object data, or
// (formats 6 to 8) after the object data, where it moves with the change.
void PlanTables(const Session& s, FileSource& working, ImportPlan& plan, uint64_t first_region,
                uint64_t last_region_end) {
  const SerializedFile& asset = s.Asset;
  const RecordLayout& layout = asset.Layout;
  const int64_t new_file_size = static_cast<int64_t>(asset.AssetFileSize) + plan.net_change;
  const bool wide_size = asset.FileSizeFieldBytes == 8;
  if (new_file_size < 0 || (!wide_size && static_cast<uint64_t>(new_file_size) > kMax32))
    throw Error("Cannot import: the asset file would take " + std::to_string(new_file_size) +
                " bytes, more than its header's 32-bit size field can state.");
  plan.new_asset_file_size = static_cast<uint64_t>(new_file_size);
  const uint64_t size_field = s.Archive.AssetBase + asset.FileSizeFieldPos;
  const uint64_t size_end = size_field + asset.FileSizeFieldBytes;
  const uint64_t table_bytes = static_cast<uint64_t>(asset.Objects.size()) * layout.RecordBytes;
  const uint64_t table_end = asset.ObjectTableStart + table_bytes;
  if (asset.MetadataAtEnd) {
    if (asset.ObjectTableStart < last_region_end)
      throw Error("Cannot import: the object table does not lie after the object data.");
  } else if (asset.ObjectTableStart < size_end || table_end > first_region) {
    throw Error(
        "Cannot import: the object table does not lie between the header and the object data.");
  }
  Splice size;
  size.start = size_field;
  size.end = size_end;
  size.bytes.resize(asset.FileSizeFieldBytes);
  if (wide_size) {
    Put64(size.bytes.data(), plan.new_asset_file_size, ByteOrder::Big);
  } else {
    Put32(size.bytes.data(), static_cast<uint32_t>(plan.new_asset_file_size), ByteOrder::Big);
  }
  Splice table;
  table.start = asset.ObjectTableStart;
  table.end = table_end;
  table.bytes.resize(static_cast<size_t>(table_bytes));
  working.ReadAt(asset.ObjectTableStart, table.bytes.data(), table.bytes.size());
  const ByteOrder order = asset.IsBigEndian() ? ByteOrder::Big : ByteOrder::Little;
  for (size_t j = 0; j < asset.Objects.size(); ++j) {
    uint8_t* record = table.bytes.data() + j * layout.RecordBytes;
    if (plan.new_offset[j] != asset.Objects[j].Offset) {
      if (layout.OffsetBytes == 8) {
        Put64(record + layout.OffsetPos, plan.new_offset[j], order);
      } else {
        Put32(record + layout.OffsetPos, static_cast<uint32_t>(plan.new_offset[j]), order);
      }
    }
    if (plan.new_size[j] != asset.Objects[j].Size)
      Put32(record + layout.SizePos, plan.new_size[j], order);
  }
  plan.splices.push_back(std::move(size));
  plan.splices.push_back(std::move(table));
}

// The resource writes that stand: for each replaced entry the last write made for it, when the
// replacement is still the raw file that write was made with.
std::vector<bool> StandingWrites(const ImportPlan& plan, const std::vector<ResourceWrite>& writes) {
  std::map<size_t, const Replacement*> replaced;
  for (const Replacement& rep : plan.replacements) replaced[rep.entry] = &rep;
  std::vector<bool> stands(writes.size(), false);
  std::set<size_t> decided;
  for (size_t k = writes.size(); k-- > 0;) {
    const ResourceWrite& w = writes[k];
    auto found = replaced.find(w.entry);
    if (found == replaced.end() || !decided.insert(w.entry).second) continue;
    stands[k] = HashFile(found->second->path) == w.raw_hash;
  }
  return stands;
}

// New data for the resource entries: over the old bytes where it has their length, else after
// the entry's end, each contained file growing by one insert. Appended bytes whose raw file did
// not go in are zeros, so that the later ones keep the offsets their raw files name.
void PlanResourceWrites(const Session& s, ImportPlan& plan,
                        const std::vector<ResourceWrite>& writes) {
  if (writes.empty()) return;
  const std::vector<bool> stands = StandingWrites(plan, writes);
  const OpenedArchive& a = s.Archive;
  const uint64_t base = ContainedFilesBase(a.Bundle);
  const uint64_t asset_end = s.Archive.AssetBase + s.Asset.AssetFileSize;
  std::map<int, Splice> appends;
  std::set<int> grown;
  for (size_t k = 0; k < writes.size(); ++k) {
    const ResourceWrite& w = writes[k];
    if (w.contained < 0 || static_cast<size_t>(w.contained) >= a.Bundle.ContainedFiles.size() ||
        w.contained == a.SelectedFileIndex)
      throw Error("Cannot import: new resource data names no resource entry of the bundle.");
    const ContainedFile& f = a.Bundle.ContainedFiles[static_cast<size_t>(w.contained)];
    const uint64_t start = base + f.Offset;
    if (!w.appended) {
      if (!stands[k]) continue;
      if (w.offset > f.Size || w.bytes.size() > f.Size - w.offset)
        throw Error("Cannot import: new data for " + s.Entries.NameText(w.entry) +
                    " runs past the end of " + f.Name + ".");
      Splice splice;
      splice.start = start + w.offset;
      splice.end = splice.start + w.bytes.size();
      splice.bytes = w.bytes;
      plan.splices.push_back(std::move(splice));
      continue;
    }
    if (w.offset < f.Size)
      throw Error("Cannot import: appended data for " + s.Entries.NameText(w.entry) +
                  " would lie inside " + f.Name + ".");
    Splice& splice = appends[w.contained];
    splice.start = splice.end = start + f.Size;
    const uint64_t at = w.offset - f.Size;
    if (splice.bytes.size() < at + w.bytes.size()) splice.bytes.resize(at + w.bytes.size(), 0);
    if (!stands[k]) continue;
    std::copy(w.bytes.begin(), w.bytes.end(), splice.bytes.begin() + static_cast<ptrdiff_t>(at));
    grown.insert(w.contained);
  }
  for (auto& [index, splice] : appends) {
    if (!grown.count(index)) continue;
    const ContainedFile& f = a.Bundle.ContainedFiles[static_cast<size_t>(index)];
    // Growing an entry moves everything after it; the asset file being written must not move.
    if (splice.start < asset_end)
      throw Error("Cannot import: the resource entry " + f.Name +
                  " lies before the asset file in the bundle, so it cannot grow; import data of "
                  "the length the object has now.");
    const int64_t change = static_cast<int64_t>(splice.bytes.size());
    plan.contained_changes.push_back({index, change});
    plan.resource_change += change;
    plan.splices.push_back(std::move(splice));
  }
}

}  // namespace

ImportPlan PlanImport(const Session& s, FileSource& working, std::vector<Replacement> replacements,
                      const std::vector<ResourceWrite>& resource_writes) {
  ImportPlan plan;
  for (Replacement& rep : replacements)
    if (rep.length != 0 || rep.change != 0) plan.replacements.push_back(std::move(rep));
  plan.new_length = working.Size();
  if (plan.replacements.empty()) return plan;
  const std::vector<size_t> by_place = ByPlace(s, plan.replacements);

  std::vector<uint64_t> starts;
  starts.reserve(s.Asset.Objects.size());
  for (const ObjectRecord& object : s.Asset.Objects) starts.push_back(object.Offset);
  std::sort(starts.begin(), starts.end());
  std::vector<std::pair<uint64_t, int64_t>> shifts;  // (object offset, shift of later objects)
  for (size_t k : by_place) {
    const Replacement& rep = plan.replacements[k];
    Splice splice;
    splice.start = rep.region_start;
    splice.end = rep.region_end;
    splice.replacement = static_cast<long>(k);
    plan.splices.push_back(std::move(splice));
    const int64_t shift = PadAfter(s, rep, starts, plan.splices);
    if (shift != 0) shifts.push_back({s.EntryOffset(rep.entry), shift});
    plan.net_change += shift;
  }
  PlaceObjects(s, plan, shifts);
  PlanTables(s, working, plan, plan.replacements[by_place.front()].region_start,
             plan.replacements[by_place.back()].region_end);
  PlanResourceWrites(s, plan, resource_writes);
  std::stable_sort(plan.splices.begin(), plan.splices.end(),
                   [](const Splice& a, const Splice& b) { return a.start < b.start; });
  for (size_t k = 1; k < plan.splices.size(); ++k)
    if (plan.splices[k].start < plan.splices[k - 1].end)
      throw Error("Cannot import: the rewritten object table overlaps the object data.");
  plan.new_length = static_cast<uint64_t>(static_cast<int64_t>(working.Size()) + plan.net_change +
                                          plan.resource_change);
  plan.same_size = shifts.empty() && plan.resource_change == 0 &&
                   std::all_of(plan.replacements.begin(), plan.replacements.end(),
                               [](const Replacement& rep) { return rep.change == 0; });
  return plan;
}

}  // namespace kestrix
