#include "formats/bundle_repack.h"

#include <algorithm>
#include <memory>
#include <vector>

#include "core/archive.h"
#include "core/error.h"
#include "formats/bundle_reader.h"
#include "formats/lzma_codec.h"
#include "platform/byte_order.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/memory.h"
#include "platform/paths.h"
#include "platform/reader.h"
#include "platform/two_threads.h"

namespace kestrix {

namespace {

constexpr size_t kNameWindow = 255;
constexpr uint64_t kBlockRecord = 10;
// Packed block data up to this size stays in memory until the info before it is written.
constexpr uint64_t kHeldData = 64 << 20;

// One big-endian field to write over the working file.
struct FieldPatch {
  uint64_t pos = 0;
  uint8_t bytes[8] = {};
  size_t size = 0;
};

// The new tables: where they go in the working file, and the container values that then
// describe it. Nothing is written until the whole plan stands.
struct TablePlan {
  std::vector<FieldPatch> patches;
  Container updated;

  void Put32(uint64_t pos, uint32_t v) {
    FieldPatch p{pos, {}, 4};
    kestrix::Put32(p.bytes, v, ByteOrder::Big);
    patches.push_back(p);
  }
  void Put64(uint64_t pos, uint64_t v) {
    FieldPatch p{pos, {}, 8};
    kestrix::Put64(p.bytes, v, ByteOrder::Big);
    patches.push_back(p);
  }
};

[[noreturn]] void CannotRepack(const std::string& why) {
  throw Error("The bundle cannot be written back: " + why);
}

[[noreturn]] void TablesDiffer(const std::string& path) {
  CannotRepack("the tables in " + path + " are not those the archive was opened with.");
}

// v + n, for a table field that holds at most `limit`.
uint64_t Moved(uint64_t v, int64_t n, uint64_t limit, const std::string& what) {
  const uint64_t magnitude = n < 0 ? static_cast<uint64_t>(-(n + 1)) + 1 : static_cast<uint64_t>(n);
  if (n < 0 && magnitude > v) CannotRepack(what + " would fall below 0.");
  if (n > 0 && magnitude > limit - std::min(v, limit)) CannotRepack(what + " would overflow.");
  return n < 0 ? v - magnitude : v + magnitude;
}

// The imported file and the resource entries it writes changed size; every file after each in
// table order moved.
void MoveContainedFiles(std::vector<ContainedFile>& files, const std::vector<ContainedChange>& all,
                        uint64_t limit) {
  for (const ContainedChange& c : all) {
    const size_t chosen = static_cast<size_t>(c.index);
    files[chosen].Size =
        Moved(files[chosen].Size, c.change, limit, "the size of " + files[chosen].Name);
    for (size_t i = chosen + 1; i < files.size(); ++i)
      files[i].Offset = Moved(files[i].Offset, c.change, limit, "the offset of " + files[i].Name);
  }
}

// The asset file's change is what the others leave of the working file's.
std::vector<ContainedChange> AllChanges(const OpenedArchive& a, int64_t n,
                                        const std::vector<ContainedChange>& others) {
  std::vector<ContainedChange> all;
  int64_t asset = n;
  for (const ContainedChange& c : others) {
    if (c.index < 0 || static_cast<size_t>(c.index) >= a.Bundle.ContainedFiles.size() ||
        c.index == a.SelectedFileIndex)
      CannotRepack("a changed contained file " + std::to_string(c.index) + " is not in it.");
    asset -= c.change;
    all.push_back(c);
  }
  all.push_back({a.SelectedFileIndex, asset});
  return all;
}

// A changed file's old extent in the data (after the header) and its change.
struct DataChange {
  uint64_t start = 0, end = 0;
  int64_t change = 0;
};

// A version 3 level that ends where a changed file ended, or later, holds all of it and moves
// with it. One that ends inside it stops short of it (a level's end is where its stream could
// stop, a little past its own files), and moves with the files before it, but not past the
// changed file's new end.
uint64_t MovedLevelEnd(uint64_t end, const std::vector<DataChange>& changes,
                       const std::string& what) {
  int64_t shift = 0;
  for (const DataChange& c : changes) {
    if (end >= c.end) {
      shift += c.change;
      continue;
    }
    if (end > c.start)
      return std::min(Moved(end, shift, UINT32_MAX, what),
                      Moved(c.end, shift + c.change, UINT32_MAX, what));
    break;
  }
  return Moved(end, shift, UINT32_MAX, what);
}

// A net change that does not match the working file shows here, before anything is written.
void CheckFilesFit(const std::vector<ContainedFile>& files, uint64_t base, uint64_t length) {
  for (const ContainedFile& f : files)
    if (base > length || f.Offset > length - base || f.Size > length - base - f.Offset)
      CannotRepack("contained file " + f.Name +
                   " would reach past the end of the working file; the size change does not "
                   "match it.");
}

// An import changes the working file's length by its net change and nothing else; a length
// that differs means the change given is not the one made.
void CheckNetChange(uint64_t old_data, uint64_t new_data, int64_t n) {
  if (new_data - old_data != static_cast<uint64_t>(n))
    CannotRepack("the working file's data changed by " +
                 std::to_string(static_cast<int64_t>(new_data - old_data)) + " bytes, not by " +
                 std::to_string(n) + ".");
}

// Reads a contained-file record's name as the open did and checks that the record is the one
// the session holds; returns the position of its first number.
uint64_t CheckRecordName(Reader& r, const ContainedFile& f, const std::string& path) {
  if (r.CString(kNameWindow) != f.StoredName) TablesDiffer(path);
  return r.Tell();
}

// ---- Version 3 ----

TablePlan PlanVersion3(const OpenedArchive& a, ByteSource& working, const std::string& path,
                       int64_t n, uint64_t old_asset_file_size,
                       const std::vector<ContainedChange>& all) {
  TablePlan plan{{}, a.Bundle};
  Version3Header& h = plan.updated.V3;
  const uint64_t length = working.Size();
  const uint64_t header = h.HeaderSize;
  const uint64_t complete_pos = h.FirstLevelPos + 8 * h.Levels.size();
  if (h.Levels.empty() || complete_pos + (h.HasCompleteSize ? 4 : 0) > header)
    CannotRepack("its header holds no level table within its header size.");
  if (length > UINT32_MAX)
    CannotRepack("the working file is larger than the 4 GiB a version 3 header can describe.");
  if (length < header) TablesDiffer(path);
  const uint32_t file_length = static_cast<uint32_t>(length);
  const uint32_t data_length = static_cast<uint32_t>(length - header);
  // An unpacked working file's last level holds its data length (the unpack wrote it); a
  // bundle read in place may hold other values there, which are not ours to judge.
  if (!a.WorkingPath.empty()) CheckNetChange(h.Levels.back().UncompressedSize, data_length, n);

  h.FileSize = file_length;
  plan.Put32(h.FileSizePos, file_length);
  std::vector<DataChange> changes;
  for (const ContainedChange& c : all) {
    const ContainedFile& f = a.Bundle.ContainedFiles[static_cast<size_t>(c.index)];
    // The asset file's extent is the one its own header gave.
    const uint64_t start = c.index == a.SelectedFileIndex ? a.AssetBase - header : f.Offset;
    const uint64_t size = c.index == a.SelectedFileIndex ? old_asset_file_size : f.Size;
    changes.push_back({start, start + size, c.change});
  }
  std::sort(changes.begin(), changes.end(),
            [](const DataChange& x, const DataChange& y) { return x.start < y.start; });
  for (size_t i = 0; i + 1 < h.Levels.size(); ++i) {
    BundleLevel& level = h.Levels[i];
    const uint32_t end = level.UncompressedSize;
    const uint32_t moved =
        static_cast<uint32_t>(MovedLevelEnd(end, changes, "level record " + std::to_string(i)));
    // The working file of an unpacked bundle holds its data stored, so each level's compressed
    // end is its uncompressed end; the recompressed bundle gets its own. A bundle read in place
    // keeps whatever difference it had.
    level.CompressedSize =
        !a.WorkingPath.empty()
            ? moved
            : static_cast<uint32_t>(Moved(level.CompressedSize,
                                          static_cast<int64_t>(moved) - static_cast<int64_t>(end),
                                          UINT32_MAX, "level record " + std::to_string(i)));
    level.UncompressedSize = moved;
    plan.Put32(h.FirstLevelPos + 8 * i, level.CompressedSize);
    plan.Put32(h.FirstLevelPos + 8 * i + 4, level.UncompressedSize);
  }
  h.Levels.back() = {data_length, data_length};
  plan.Put32(complete_pos - 8, data_length);
  plan.Put32(complete_pos - 4, data_length);
  if (h.HasCompleteSize) plan.Put32(complete_pos, file_length);

  std::vector<ContainedFile>& files = plan.updated.ContainedFiles;
  Reader r(working);
  r.Seek(header);
  if (r.U32(ByteOrder::Big) != files.size()) TablesDiffer(path);
  const std::vector<ContainedFile> before = files;
  MoveContainedFiles(files, all, UINT32_MAX);
  for (size_t i = 0; i < files.size(); ++i) {
    const uint64_t pos = CheckRecordName(r, before[i], path);
    if (r.U32(ByteOrder::Big) != before[i].Offset || r.U32(ByteOrder::Big) != before[i].Size)
      TablesDiffer(path);
    plan.Put32(pos, static_cast<uint32_t>(files[i].Offset));
    plan.Put32(pos + 4, static_cast<uint32_t>(files[i].Size));
  }
  CheckFilesFit(files, header, length);
  return plan;
}

// ---- Version 6 ----

// The block records of a bundle read in place: all blocks are stored, so only their sizes have
// to add up to the new data length. Keeping their count keeps the info's length, so the data
// does not move and the file can be patched. The last block takes the change when it stays
// within the bundle's block size (its largest block), which leaves every other record as it
// was; otherwise the data is spread evenly, the smallest largest block the count allows.
std::vector<uint32_t> StoredBlockSizes(const std::vector<BundleBlock>& blocks, uint64_t data) {
  uint64_t before_last = 0;
  for (size_t i = 0; i + 1 < blocks.size(); ++i) before_last += blocks[i].UncompressedSize;
  std::vector<uint32_t> sizes;
  uint32_t largest = 0;
  for (const BundleBlock& b : blocks) {
    sizes.push_back(b.UncompressedSize);
    largest = std::max(largest, b.UncompressedSize);
  }
  if (data >= before_last && data - before_last <= std::min(largest, kMaxBlockSize)) {
    sizes.back() = static_cast<uint32_t>(data - before_last);
    return sizes;
  }
  const uint64_t count = blocks.size();
  if (data / count + (data % count != 0) > kMaxBlockSize)
    CannotRepack("its " + std::to_string(count) + " blocks cannot hold " + std::to_string(data) +
                 " bytes.");
  for (size_t i = 0; i < sizes.size(); ++i)
    sizes[i] = static_cast<uint32_t>(data / count + (i < data % count));
  return sizes;
}

TablePlan PlanVersion6(const OpenedArchive& a, ByteSource& working, const std::string& path,
                       int64_t n, bool unpacked, const std::vector<ContainedChange>& all) {
  TablePlan plan{{}, a.Bundle};
  Version6Header& h = plan.updated.V6;
  const uint64_t length = working.Size();
  const uint64_t data_start = a.Bundle.BlockDataStart;
  if (length < data_start) TablesDiffer(path);
  const uint64_t data = length - data_start;

  h.TotalSize = length;
  plan.Put64(h.TotalSizePos, length);

  Reader r(working);
  r.Seek(h.FirstBlockPos - 4);
  if (r.U32(ByteOrder::Big) != h.Blocks.size()) TablesDiffer(path);
  for (const BundleBlock& b : h.Blocks) {
    if (r.U32(ByteOrder::Big) != b.UncompressedSize || r.U32(ByteOrder::Big) != b.CompressedSize)
      TablesDiffer(path);
    r.Skip(2);
  }
  uint64_t old_data = 0;
  for (const BundleBlock& b : h.Blocks) old_data += b.UncompressedSize;
  CheckNetChange(old_data, data, n);
  std::vector<uint32_t> sizes;
  if (unpacked) {
    // The working file describes its data as one stored block.
    if (data > UINT32_MAX)
      CannotRepack("the block data would exceed the 4 GiB one block record can describe.");
    sizes.push_back(static_cast<uint32_t>(data));
  } else {
    sizes = StoredBlockSizes(h.Blocks, data);
  }
  for (size_t i = 0; i < sizes.size(); ++i) {
    h.Blocks[i].UncompressedSize = h.Blocks[i].CompressedSize = sizes[i];
    plan.Put32(h.FirstBlockPos + kBlockRecord * i, sizes[i]);
    plan.Put32(h.FirstBlockPos + kBlockRecord * i + 4, sizes[i]);
  }

  std::vector<ContainedFile>& files = plan.updated.ContainedFiles;
  if (r.U32(ByteOrder::Big) != files.size()) TablesDiffer(path);
  const std::vector<ContainedFile> before = files;
  MoveContainedFiles(files, all, UINT64_MAX);
  for (size_t i = 0; i < files.size(); ++i) {
    const uint64_t pos = r.Tell();
    if (r.U64(ByteOrder::Big) != before[i].Offset || r.U64(ByteOrder::Big) != before[i].Size)
      TablesDiffer(path);
    r.Skip(4);
    CheckRecordName(r, before[i], path);
    plan.Put64(pos, files[i].Offset);
    plan.Put64(pos + 8, files[i].Size);
  }
  CheckFilesFit(files, data_start, length);
  return plan;
}

// ---- Writing ----

void Announce(const StepHook& hook, std::string_view step) {
  if (hook) hook(step);
}

// Puts a finished replacement in place, flushed before and after, so that a crash leaves the
// old file or the new one.
void CommitReplacement(ReplacementFile& file, const StepHook& hook) {
  file.Flush();
  Announce(hook, kStepBundleWritten);
  file.Commit();
  SyncFolder(FolderOf(file.Target()));
  Announce(hook, kStepBundleReplaced);
}

void WritePatches(OutputFile& out, const TablePlan& plan) {
  for (const FieldPatch& p : plan.patches) out.PatchAt(p.pos, p.bytes, p.size);
}

// The user's own bundle, read in place, gets a patched copy renamed over it.
void ReplaceWithPatchedCopy(const std::string& path, const TablePlan& plan, const StepHook& hook) {
  ReplacementFile copy(path);
  {
    FileSource source(path);
    OutputFile out(copy.Path(), OutputFile::Target::kRunFile);
    out.CopyFrom(source, 0, source.Size());
    WritePatches(out, plan);
    out.Close();
  }
  CommitReplacement(copy, hook);
}

void PatchInPlace(const std::string& path, const TablePlan& plan) {
  for (const FieldPatch& p : plan.patches) PatchFile(path, p.pos, p.bytes, p.size);
}

ByteSink SinkTo(OutputFile& out) {
  return [&out](const uint8_t* data, size_t n) { out.Write(data, n); };
}

void PatchBig32(OutputFile& out, uint64_t pos, uint32_t v) {
  uint8_t b[4];
  Put32(b, v, ByteOrder::Big);
  out.PatchAt(pos, b, 4);
}

// The level records before the last one in a recompressed version 3 bundle. A level record
// says where a reader that streams the bundle can stop to load that level: its compressed end,
// counted from the header size, is the fewest stream bytes whose decoding covers the level's
// data, and its uncompressed end is all those bytes decode to (which may run a few bytes past
// the level's data, as in the engine's own bundles). So every level ends inside the new stream,
// and each record is true of the bytes written.
void PatchEarlierLevels(const Version3Header& h, const std::string& path, uint64_t data) {
  if (h.Levels.size() < 2) return;
  FileSource bundle(path);
  constexpr uint64_t kStreamHead = 13;  // properties and size
  uint8_t props[5];
  bundle.ReadAt(h.HeaderSize, props, 5);
  std::vector<uint64_t> ends;
  for (size_t i = 0; i + 1 < h.Levels.size(); ++i)
    ends.push_back(std::min<uint64_t>(
        std::max<uint64_t>(h.Levels[i].UncompressedSize, ends.empty() ? 0 : ends.back()), data));
  const uint64_t coded = bundle.Size() - h.HeaderSize - kStreamHead;
  const std::vector<LzmaCheckpoint> points =
      LzmaCheckpoints(props, bundle, h.HeaderSize + kStreamHead, coded, data, ends);
  for (size_t i = 0; i < points.size(); ++i) {
    uint8_t record[8];
    Put32(record, static_cast<uint32_t>(kStreamHead + points[i].coded), ByteOrder::Big);
    Put32(record + 4, static_cast<uint32_t>(points[i].decoded), ByteOrder::Big);
    PatchFile(path, h.FirstLevelPos + 8 * i, record, sizeof record);
  }
}

// Version 3: the header as the working file has it, then one LZMA stream with its size.
void RecompressVersion3(const Container& c, const std::string& working_path,
                        const std::string& target, const StepHook& hook) {
  const Version3Header& h = c.V3;
  FileSource working(working_path);
  const uint64_t length = working.Size();
  ReplacementFile bundle(target);
  {
    OutputFile out(bundle.Path(), OutputFile::Target::kRunFile);
    out.CopyFrom(working, 0, h.HeaderSize);
    LzmaEncode(working, h.HeaderSize, length - h.HeaderSize, LzmaSizeField::kWrite, SinkTo(out));
    if (out.Tell() > UINT32_MAX)
      CannotRepack("the compressed bundle is larger than the 4 GiB its header can describe.");
    const uint32_t packed_length = static_cast<uint32_t>(out.Tell());
    const uint64_t last = h.FirstLevelPos + 8 * (h.Levels.size() - 1);
    PatchBig32(out, h.FileSizePos, packed_length);
    PatchBig32(out, last, packed_length - h.HeaderSize);
    PatchBig32(out, last + 4, static_cast<uint32_t>(length - h.HeaderSize));
    if (h.HasCompleteSize) PatchBig32(out, last + 8, packed_length);
    out.Close();
  }
  PatchEarlierLevels(h, bundle.Path(), length - h.HeaderSize);
  CommitReplacement(bundle, hook);
}

// The compression bits (0-5) cleared, the others (such as 0x40) kept.
uint16_t StoredFlags(uint16_t flags) { return static_cast<uint16_t>(flags & ~0x3F); }

// How the written bundle cuts its data, and what each block is compressed as.
struct BlockPlan {
  std::vector<uint32_t> sizes;
  std::vector<uint16_t> flags;
};

// Blocks of the archive's own size (its largest block), the last one taking what is left: the
// engine reads a chunked bundle block by block, and one block of everything would make it
// unpack the whole bundle to read any of it. An archive of one block gets one block again (cut
// only past max_block). Each block keeps the flags of the archive's block at its place (LZ4
// and LZ4HC codes stay); a block the archive stored because it did not shrink, or one past the
// archive's count, takes the flags of the archive's first compressed block.
BlockPlan PlanArchiveBlocks(const Version6Header& h, uint32_t version, uint64_t data,
                            uint32_t max_block) {
  const std::vector<BundleBlock>& was = h.ArchiveBlocks.empty() ? h.Blocks : h.ArchiveBlocks;
  BlockPlan plan;
  if (was.size() <= 1) {
    plan.sizes = PlanBlocks(data, max_block);
  } else {
    uint32_t block = 1;
    for (const BundleBlock& b : was) block = std::max(block, b.UncompressedSize);
    block = std::min({block, std::max<uint32_t>(max_block, 1), kMaxBlockSize});
    plan.sizes.assign(static_cast<size_t>(data / block), block);
    if (data % block != 0 || plan.sizes.empty())
      plan.sizes.push_back(static_cast<uint32_t>(data % block));
  }
  uint16_t packed = was.front().Flags;
  for (const BundleBlock& b : was) {
    if (BlockCodingOf(version, b.Flags) != BlockCoding::kStored) {
      packed = b.Flags;
      break;
    }
  }
  for (size_t i = 0; i < plan.sizes.size(); ++i) {
    const uint16_t own = was[std::min(i, was.size() - 1)].Flags;
    plan.flags.push_back(BlockCodingOf(version, own) != BlockCoding::kStored ? own : packed);
  }
  return plan;
}

// Appends one block as it is stored to `out` and returns its record: compressed as its flags
// say, or stored, with the stored flag, when LZ4 would not make it smaller (readers refuse an
// LZ4 block that is not smaller than its data).
BundleBlock PackBlock(uint32_t version, const uint8_t* plain, uint32_t size, uint16_t flags,
                      FillLaterVector<uint8_t>& out) {
  BundleBlock b{size, size, flags};
  const size_t at = out.size();
  switch (BlockCodingOf(version, flags)) {
    case BlockCoding::kLz4: {
      out.resize(at + Lz4PackedRoom(size));
      const size_t packed = Lz4EncodeInto(plain, size, out.data() + at, out.size() - at);
      if (packed < size) {
        out.resize(at + packed);
        b.CompressedSize = static_cast<uint32_t>(packed);
        return b;
      }
      out.resize(at);
      b.Flags = StoredFlags(flags);
      break;
    }
    case BlockCoding::kLzma: {
      MemorySource source(plain, size);
      // A planned block is at most 1 GiB, and LZMA grows data by a few percent at worst.
      b.CompressedSize = static_cast<uint32_t>(
          LzmaEncode(source, 0, size, LzmaSizeField::kOmit,
                     [&out](const uint8_t* d, size_t n) { out.insert(out.end(), d, d + n); }));
      return b;
    }
    case BlockCoding::kStored:
      break;
  }
  out.insert(out.end(), plain, plain + size);
  return b;
}

// Blocks are independent, so they are packed two runs at a time, one on each core, in runs of
// about this many bytes; a batch is written while the next one is packed.
constexpr uint64_t kRunBytes = 4 << 20;

// A run of consecutive small blocks, packed by one thread.
struct BlockRun {
  size_t first = 0, count = 0;
  uint64_t pos = 0;  // of its first block in the working file
  FillLaterVector<uint8_t> plain, packed;
  std::vector<BundleBlock> records;
};

void PackRun(ByteSource& working, const BlockPlan& plan, uint32_t version, BlockRun& run) {
  run.packed.clear();
  run.records.clear();
  uint64_t pos = run.pos;
  for (size_t i = run.first; i < run.first + run.count; ++i) {
    run.plain.resize(plan.sizes[i]);
    working.ReadAt(pos, run.plain.data(), plan.sizes[i]);
    run.records.push_back(
        PackBlock(version, run.plain.data(), plan.sizes[i], plan.flags[i], run.packed));
    pos += plan.sizes[i];
  }
}

// A block too large for a run, on this thread: LZMA streams from the working file; LZ4 holds
// the block and its packed form.
BundleBlock PackLargeBlock(ByteSource& working, uint64_t pos, uint32_t size, uint16_t flags,
                           uint32_t version, const ByteSink& sink) {
  if (BlockCodingOf(version, flags) == BlockCoding::kLzma) {
    return {size, static_cast<uint32_t>(LzmaEncode(working, pos, size, LzmaSizeField::kOmit, sink)),
            flags};
  }
  FillLaterVector<uint8_t> plain(size), packed;
  working.ReadAt(pos, plain.data(), size);
  const BundleBlock b = PackBlock(version, plain.data(), size, flags, packed);
  sink(packed.data(), packed.size());
  return b;
}

// Packs the block data of the working file as planned, handing the packed bytes to `sink` in
// order; returns the block records.
std::vector<BundleBlock> PackBlocks(ByteSource& working, uint64_t pos, const BlockPlan& plan,
                                    uint32_t version, const ByteSink& sink) {
  std::vector<BundleBlock> records;
  BlockRun runs[2][2];  // the batch being packed and the one being written
  bool pending = false;
  int current = 0;
  auto write = [&](BlockRun* batch) {
    for (int k = 0; k < 2; ++k) {
      sink(batch[k].packed.data(), batch[k].packed.size());
      records.insert(records.end(), batch[k].records.begin(), batch[k].records.end());
    }
  };
  size_t next = 0;
  auto take = [&](BlockRun& run) {
    run.first = next;
    run.count = 0;
    run.pos = pos;
    uint64_t bytes = 0;
    while (next < plan.sizes.size() && bytes + plan.sizes[next] <= kRunBytes) {
      bytes += plan.sizes[next];
      pos += plan.sizes[next++];
      ++run.count;
    }
  };
  while (next < plan.sizes.size()) {
    if (plan.sizes[next] > kRunBytes) {
      if (pending) write(runs[current ^ 1]);
      pending = false;
      records.push_back(
          PackLargeBlock(working, pos, plan.sizes[next], plan.flags[next], version, sink));
      pos += plan.sizes[next++];
      continue;
    }
    BlockRun* batch = runs[current];
    take(batch[0]);
    take(batch[1]);
    BlockRun* previous = pending ? runs[current ^ 1] : nullptr;
    RunBoth(
        [&] {
          if (previous) write(previous);
          PackRun(working, plan, version, batch[0]);
        },
        [&] { PackRun(working, plan, version, batch[1]); });
    pending = true;
    current ^= 1;
  }
  if (pending) write(runs[current ^ 1]);
  return records;
}

// The info as it is stored: LZ4 again for version 6 header flags 0x42/0x43 and for versions 7
// and 8 with compression 2 or 3, LZMA for versions 7 and 8 with compression 1. Info that LZ4
// would not make smaller is stored, and the flags then say so.
std::vector<uint8_t> PackInfo(uint32_t version, const std::vector<uint8_t>& info,
                              uint8_t header_flags[4]) {
  std::vector<uint8_t> stored;
  const uint32_t coding = version >= 7
                              ? header_flags[3] & kInfoCompressionMask
                              : (header_flags[3] == 0x42 || header_flags[3] == 0x43 ? 2 : 0);
  if (coding == 1) {
    MemorySource source(info);
    LzmaEncode(
        source, 0, info.size(), LzmaSizeField::kOmit,
        [&stored](const uint8_t* data, size_t n) { stored.insert(stored.end(), data, data + n); });
    return stored;
  }
  if (coding != 0 && !Lz4EncodeBlock(info.data(), info.size(), stored)) {
    // Too small to shrink: the info is stored, which the flags then say.
    stored.clear();
    if (version >= 7) {
      header_flags[3] = static_cast<uint8_t>(header_flags[3] & ~kInfoCompressionMask);
    } else {
      header_flags[3] = 0x40;
    }
  }
  if (stored.empty()) stored = info;
  return stored;
}

// Versions 6 to 8: the header, the info with the new block records (compressed again as the
// archive had it), then the block data cut and compressed as the archive's blocks were.
// Versions 7 and 8 keep the padding to 16 before the block data (flag 0x200) and the info at
// the end (0x80). The info comes first but depends on the packed sizes, so packed blocks are
// held in memory when they are few, else go to a side file first.
void RecompressVersion6(const Container& c, const std::string& working_path,
                        const std::string& target, uint32_t max_block, const StepHook& hook) {
  const Version6Header& h = c.V6;
  FileSource working(working_path);
  const uint64_t data_start = c.BlockDataStart;
  const uint64_t data = working.Size() - data_start;
  const BlockPlan plan = PlanArchiveBlocks(h, c.BundleVersion, data, max_block);
  const bool packed = std::any_of(plan.flags.begin(), plan.flags.end(), [&c](uint16_t f) {
    return BlockCodingOf(c.BundleVersion, f) != BlockCoding::kStored;
  });

  std::vector<BundleBlock> records;
  std::unique_ptr<TemporaryFile> side;
  const bool held = packed && data <= kHeldData;
  FillLaterVector<uint8_t> held_blocks;
  if (held) {
    records = PackBlocks(working, data_start, plan, c.BundleVersion,
                         [&held_blocks](const uint8_t* d, size_t n) {
                           held_blocks.insert(held_blocks.end(), d, d + n);
                         });
  } else if (packed) {
    side = std::make_unique<TemporaryFile>(
        CreateFreeFile(FolderOf(target), "." + FileNameOf(target) + ".blocks-", ""));
    OutputFile out(side->Path(), OutputFile::Target::kRunFile);
    records = PackBlocks(working, data_start, plan, c.BundleVersion, SinkTo(out));
    out.Close();
  } else {
    for (size_t i = 0; i < plan.sizes.size(); ++i)
      records.push_back({plan.sizes[i], plan.sizes[i], plan.flags[i]});
  }

  // The info: hash, the new block table, then the directory as the working file holds it.
  std::vector<uint8_t> old_info(h.UncompressedInfoSize);
  working.ReadAt(h.HeaderEnd, old_info.data(), old_info.size());
  const size_t directory =
      static_cast<size_t>(h.FirstBlockPos + kBlockRecord * h.Blocks.size() - h.HeaderEnd);
  if (directory > old_info.size() || old_info.size() < 16) TablesDiffer(working_path);
  std::vector<uint8_t> info(old_info.begin(), old_info.begin() + 16);
  info.resize(20 + kBlockRecord * records.size());
  Put32(info.data() + 16, static_cast<uint32_t>(records.size()), ByteOrder::Big);
  for (size_t i = 0; i < records.size(); ++i) {
    uint8_t* p = info.data() + 20 + kBlockRecord * i;
    Put32(p, records[i].UncompressedSize, ByteOrder::Big);
    Put32(p + 4, records[i].CompressedSize, ByteOrder::Big);
    Put16(p + 8, records[i].Flags, ByteOrder::Big);
  }
  info.insert(info.end(), old_info.begin() + static_cast<long>(directory), old_info.end());

  uint8_t header_flags[4];
  std::copy(h.Flags, h.Flags + 4, header_flags);
  const std::vector<uint8_t> stored_info = PackInfo(c.BundleVersion, info, header_flags);
  const uint32_t flag_word = c.BundleVersion >= 7 ? h.FlagWord() : 0;
  const bool at_end = (flag_word & kInfoAtEnd) != 0;
  const bool padded = (flag_word & kPaddingBeforeData) != 0;

  std::vector<uint8_t> header(h.HeaderEnd);
  working.ReadAt(0, header.data(), header.size());
  const uint64_t info_end = header.size() + (at_end ? 0 : stored_info.size());
  const uint64_t padding = padded ? ((16 - info_end % 16) % 16) : 0;
  uint64_t total = header.size() + stored_info.size() + padding;
  for (const BundleBlock& b : records) total += b.CompressedSize;
  uint8_t* fields = header.data() + h.TotalSizePos;
  Put64(fields, total, ByteOrder::Big);
  Put32(fields + 8, static_cast<uint32_t>(stored_info.size()), ByteOrder::Big);
  Put32(fields + 12, static_cast<uint32_t>(info.size()), ByteOrder::Big);
  std::copy(header_flags, header_flags + 4, fields + 16);

  ReplacementFile bundle(target);
  {
    OutputFile out(bundle.Path(), OutputFile::Target::kRunFile);
    out.Write(header);
    if (!at_end) out.Write(stored_info);
    const uint8_t zeros[16] = {};
    out.Write(zeros, static_cast<size_t>(padding));
    if (held) {
      out.Write(held_blocks.data(), held_blocks.size());
    } else if (packed) {
      FileSource blocks(side->Path());
      out.CopyFrom(blocks, 0, blocks.Size());
    } else {
      out.CopyFrom(working, data_start, data);
    }
    if (at_end) out.Write(stored_info);
    out.Close();
  }
  CommitReplacement(bundle, hook);
}

}  // namespace

void RepackBundle(OpenedArchive& a, int64_t net_change, uint64_t old_asset_file_size,
                  const RepackOptions& options) {
  if (!IsHandledBundle(a.Bundle.Signature, a.Bundle.BundleVersion)) return;
  const std::string working_path =
      options.RebuiltPath.empty() ? a.ArchivePath : options.RebuiltPath;
  const bool unpacked = !a.WorkingPath.empty();
  TablePlan plan;
  {
    const std::vector<ContainedChange> all = AllChanges(a, net_change, options.OtherChanges);
    FileSource working(working_path);
    plan = !a.Bundle.HasBlocks()
               ? PlanVersion3(a, working, working_path, net_change, old_asset_file_size, all)
               : PlanVersion6(a, working, working_path, net_change, unpacked, all);
  }
  // The bundle the user named is never written in place; our own files are.
  if (working_path == a.GivenPath) {
    ReplaceWithPatchedCopy(working_path, plan, options.StepDone);
  } else {
    PatchInPlace(working_path, plan);
  }
  a.Bundle = plan.updated;
  Announce(options.StepDone, kStepTablesUpdated);

  // Split archives are written back as pieces of the working file (ResplitPieces).
  if (!unpacked || a.SplitCount > 0) return;
  const std::string& target = options.BundlePath.empty() ? a.GivenPath : options.BundlePath;
  if (!a.Bundle.HasBlocks()) {
    RecompressVersion3(a.Bundle, working_path, target, options.StepDone);
  } else {
    RecompressVersion6(a.Bundle, working_path, target, options.MaxBlockSize, options.StepDone);
  }
}

}  // namespace kestrix
