// Writes bundles of both container generations, with every compression and flag variant
// Kestrix reads, and says what the unpacked ".TEMP" file of each must hold byte for byte.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "support/asset_builder.h"

namespace kestrix::testing {

struct BundleEntry {
  std::string name;  // as stored, e.g. "archive:/CAB-1/CAB-1"
  Bytes data;
  uint32_t flags = 4;  // version 6 directory flags
};

struct BundleV3Spec {
  std::string signature = "UnityWeb";  // any of "UnityRaw", "UnityWeb", "UnityFS"
  // 1 to 5: version 1 has no complete-file size, versions 1 and 2 no file-info header size,
  // versions 4 and 5 a hash and CRC before the file size.
  uint32_t version = 3;
  std::string player_version = "5.x.x";
  std::string engine_version = "5.0.1f1";
  bool lzma = true;         // one LZMA stream after the header (never for "UnityRaw")
  bool end_marker = false;  // the stream ends with an end marker
  uint32_t dictionary = 1u << 16;
  int levels = 1;  // level records; the last one covers all data
  // Keep every level uncompressed-sized except the last (which alone decides compression).
  bool first_levels_differ = false;
  std::vector<BundleEntry> files;
};

enum class BlockCodec { kStored, kLz4, kLz4Hc, kLzma };

struct BundleV6Spec {
  std::string signature = "UnityFS";
  uint32_t version = 6;  // 6 to 8
  std::string player_version = "5.x.x";
  std::string engine_version = "5.6.7f1";
  // Header flags as a big-endian 32-bit value.
  // Version 6: low byte 0x42/0x43: info LZ4 after the header; 0xC0: info stored at the end of
  // the file; anything else: info stored after the header. Bits 8-15 give the number of zero
  // bytes between the flags and the info.
  // Versions 7 and 8 (the header is padded to 16): bits 0-5 compress the info (1 LZMA, 2 LZ4,
  // 3 LZ4HC), 0x80 puts it at the end of the file, 0x200 pads the block data start to 16.
  uint32_t flags = 0x43;
  BlockCodec codec = BlockCodec::kLz4Hc;
  uint32_t block_size = 128 * 1024;  // uncompressed bytes per block; 0 = one block
  int block_flags = -1;              // flags word of every block; -1 = the codec's own
  bool end_marker = false;           // LZMA blocks end with an end marker
  std::vector<BundleEntry> files;
};

struct BuiltBundle {
  Bytes bytes;     // the bundle file
  Bytes unpacked;  // the ".TEMP" file Kestrix must write; empty when it reads the bundle in place
  uint64_t data_start = 0;        // where offsets count from, in the file Kestrix reads
  std::vector<uint64_t> offsets;  // of each contained file, from data_start
};

BuiltBundle BuildBundleV3(const BundleV3Spec& desc);
BuiltBundle BuildBundleV6(const BundleV6Spec& desc);

// Raw LZMA1 data (no properties, no size) and its five property bytes, as liblzma writes them.
Bytes LzmaEncodeRaw(const Bytes& data, uint32_t dictionary, bool end_marker, uint8_t props[5]);

// Cuts bytes into pieces `base` + ".split0", ".split1", ... of `piece_size` bytes each.
// Returns the number of pieces.
int WriteSplitPieces(const std::string& base, const Bytes& bytes, size_t piece_size);

}  // namespace kestrix::testing
