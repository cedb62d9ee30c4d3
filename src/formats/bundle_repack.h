// Writing a bundle back after an import changed the asset file inside it: the bundle's own
// tables (sizes, offsets, block records) are brought up to date in the working file, and a
// bundle that had to be unpacked to be read is compressed again into the file it came from.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "formats/lz4_codec.h"
#include "formats/split_pieces.h"

namespace kestrix {

struct OpenedArchive;

// The steps RepackBundle reports through its hook (the piece steps are in split_pieces.h).
inline constexpr std::string_view kStepTablesUpdated = "tables updated";
inline constexpr std::string_view kStepBundleWritten = "bundle written";  // not yet renamed
inline constexpr std::string_view kStepBundleReplaced = "bundle replaced";

// A contained file other than the imported asset file that changed size (a resource entry that
// new data was appended to).
struct ContainedChange {
  int index = -1;
  int64_t change = 0;
};

struct RepackOptions {
  // The rebuilt working file when the caller has not yet put it at ArchivePath (a copy beside
  // it that the caller renames into place afterwards); "" = the file at ArchivePath. Patching
  // the copy before it is renamed means no moment exists where the archive holds the new asset
  // under old tables.
  std::string RebuiltPath;
  // Where a recompressed bundle goes; "" = the archive the user named. A bundle that lies inside
  // another container is recompressed into a file of its own, which that container takes in.
  std::string BundlePath;
  // The largest unpacked block of recompressed version 6 data; larger data becomes several
  // blocks. Only tests set it lower.
  uint32_t MaxBlockSize = kMaxBlockSize;
  StepHook StepDone;
  // Contained files besides SelectedFileIndex that changed size; their changes are part of
  // net_change.
  std::vector<ContainedChange> OtherChanges;
};

// Brings the bundle around the imported asset file up to date after an import that changed
// the working file's length by `net_change` bytes (the signed sum of every size change; the
// contained file SelectedFileIndex changed by what options.OtherChanges, the resource entries
// that grew, leave of it). `old_asset_file_size` is the
// asset's AssetFileSize from before the import: version 3 level records that end where the
// asset ended, or later, move with it. Does nothing for an archive that is not a bundle.
//
// 1. The tables of the working file (ArchivePath, or options.RebuiltPath) are patched:
//    version 3: file size, level records, complete file size, contained-file offsets and sizes;
//    version 6: total size, block records, directory offsets and sizes. A working file that is
//    the user's own bundle (read in place, not split) is never written in place: a patched
//    copy is written beside it, flushed, and renamed over it. Our own working files (".TEMP",
//    joined pieces, the caller's rebuilt copy) are patched in place.
// 2. When the bundle had been unpacked into a ".TEMP" file and did not come in pieces, the
//    bundle the user named is written again from the working file, compressed as it was:
//    version 3 as one LZMA stream with its size (properties 5D 00 00 08 00), every level record
//    before the last saying where the new stream can stop for that level (the fewest stream
//    bytes whose decoding covers the level, and all they decode to); version 6 cut into blocks
//    of the archive's own block size (its largest block; one block where it had one, cut only
//    past MaxBlockSize), each compressed as the archive's block at its place was: LZ4 (2, 3),
//    LZMA without size (0x41) or stored, an LZ4 block that does not shrink going stored; its
//    info LZ4-compressed again for header flags 0x42/0x43 (stored, with flags 0x40, when LZ4
//    would not make it smaller). Blocks are packed two at a time on machines with a second
//    core. It is written under a free name beside the bundle, flushed, and renamed over it.
//    An archive that came in ".split" pieces is written back by ResplitPieces instead, which
//    cuts the working file (unpacked, so it opens without unpacking) into new pieces; the
//    joined file is ours and no longer read, so it is not recompressed.
// 3. A version 6 bundle read in place with several stored blocks keeps its block count; the
//    block records are recomputed: the last block takes the change, or, when it cannot (it
//    would fall below 0 or grow past the largest block), the data is spread evenly over the
//    blocks, which keeps the largest block as small as the count allows. The info keeps its
//    length, so the data does not move.
//
// Afterwards the archive's container values describe the patched working file, so a second
// import into the same open archive starts from them. Memory: packed block data up to 64 MiB is
// held, more goes through a side file; blocks are packed in runs of a few MiB, and a block
// larger than that is held with its packed form (LZ4) or streams (LZMA).
//
// Throws Error before anything is written when the change does not fit the tables (a size
// below 0, a 32-bit field overflowing, a contained file past the end of the working file, or
// tables in the working file that differ from what the open read). On any failure the bundle
// the user named and its pieces are as they were; when the failure comes after step 1, the
// working file and the container values already hold the new tables.
void RepackBundle(OpenedArchive& archive, int64_t net_change, uint64_t old_asset_file_size,
                  const RepackOptions& options = {});

}  // namespace kestrix
