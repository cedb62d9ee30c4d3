// Compresses a file with Kestrix's encoders, for the recompression benchmark:
//   recompress lzma <in> <out>       one LZMA stream with its size field: a .lzma file xz reads
//   recompress lz4  <in> <out>       LZ4 blocks of 128 KiB, the block size of chunk-based
//                                    bundles, wrapped in a plain LZ4 frame that lz4 -d reads
//   recompress fill <file> <MB>      appends game-like data until the file holds MB megabytes
// Input is read a block or a chunk at a time, so the peak memory is the encoder's own.
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <string>
#include <vector>

#include "formats/lz4_codec.h"
#include "formats/lzma_codec.h"
#include "game_data.h"
#include "platform/byte_source.h"

namespace {

std::FILE* Create(const std::string& path) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (!f) {
    std::perror(path.c_str());
    std::exit(1);
  }
  return f;
}

void Write(std::FILE* f, const void* data, size_t size) {
  if (size && std::fwrite(data, 1, size, f) != size) {
    std::perror("write");
    std::exit(1);
  }
}

void Le32(std::FILE* f, uint32_t v) {
  const uint8_t b[4] = {static_cast<uint8_t>(v), static_cast<uint8_t>(v >> 8),
                        static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 24)};
  Write(f, b, 4);
}

void Lz4(kestrix::FileSource& in, std::FILE* out) {
  // Frame header: version 1, independent blocks, no checksums, blocks up to 256 KiB; the last
  // byte is the header's checksum. A block's size with the top bit set marks a stored block.
  const uint8_t header[] = {0x04, 0x22, 0x4D, 0x18, 0x60, 0x50, 0xFB};
  Write(out, header, sizeof header);
  std::vector<uint8_t> plain, packed;
  uint64_t pos = 0;
  for (uint32_t size : kestrix::PlanBlocks(in.Size(), 128 * 1024)) {
    plain.resize(size);
    in.ReadAt(pos, plain.data(), size);
    pos += size;
    if (kestrix::Lz4EncodeBlock(plain.data(), size, packed)) {
      Le32(out, static_cast<uint32_t>(packed.size()));
      Write(out, packed.data(), packed.size());
    } else {
      Le32(out, size | 0x80000000u);
      Write(out, plain.data(), size);
    }
  }
  Le32(out, 0);  // end mark
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: recompress lzma|lz4 <in> <out> | recompress fill <file> <MB>\n");
    return 2;
  }
  const std::string mode = argv[1];
  try {
    if (mode == "fill") {
      const uint64_t target = std::stoull(argv[3]) << 20;
      std::FILE* f = std::fopen(argv[2], "ab");
      if (!f) {
        std::perror(argv[2]);
        return 1;
      }
      std::fseek(f, 0, SEEK_END);
      const uint64_t have = static_cast<uint64_t>(std::ftell(f));
      if (have < target) {
        const std::vector<uint8_t> data = GameData(static_cast<size_t>(target - have), 1);
        Write(f, data.data(), data.size());
      }
      std::fclose(f);
      return 0;
    }
    kestrix::FileSource in(argv[2]);
    std::FILE* out = Create(argv[3]);
    if (mode == "lzma") {
      kestrix::LzmaEncode(in, 0, in.Size(), kestrix::LzmaSizeField::kWrite,
                          [out](const uint8_t* d, size_t n) { Write(out, d, n); });
    } else if (mode == "lz4") {
      Lz4(in, out);
    } else {
      std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
      return 2;
    }
    if (std::fclose(out) != 0) {
      std::perror(argv[3]);
      return 1;
    }
  } catch (const std::exception& e) {
    std::fprintf(stderr, "recompress: %s\n", e.what());
    return 1;
  }
  return 0;
}
