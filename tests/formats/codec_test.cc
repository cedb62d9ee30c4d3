// The LZMA and LZ4 decoders on data larger than their chunk buffers, with and without end
// markers, and on data that does not match the sizes given.
#include <gtest/gtest.h>
#include <sys/resource.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <string>

#include "core/error.h"
#include "formats/lz4_codec.h"
#include "formats/lzma_codec.h"
#include "platform/byte_source.h"
#include "support/bundle_builder.h"

namespace kestrix {
namespace {

using testing::Bytes;

// Half random bytes, half repeats: the coded stream and the output both span several chunks.
Bytes Mixed(size_t n) {
  std::mt19937 rng(3);
  Bytes b(n);
  for (size_t i = 0; i < n; ++i)
    b[i] = (i / 4096) % 2 ? static_cast<uint8_t>(rng()) : static_cast<uint8_t>(i % 97);
  return b;
}

Bytes Decode(const uint8_t props[5], const Bytes& coded, uint64_t out_size) {
  MemorySource source(coded);
  Bytes out;
  LzmaDecode(props, source, 0, coded.size(), out_size,
             [&out](const uint8_t* d, size_t n) { out.insert(out.end(), d, d + n); });
  return out;
}

TEST(Lzma, DecodesAcrossChunksWithAndWithoutEndMarker) {
  const Bytes data = Mixed(3 * 1024 * 1024 + 17);
  for (bool marker : {false, true}) {
    uint8_t props[5];
    Bytes coded = testing::LzmaEncodeRaw(data, 1u << 20, marker, props);
    ASSERT_GT(coded.size(), 1u << 20);
    EXPECT_EQ(Decode(props, coded, data.size()), data) << marker;
  }
}

TEST(Lzma, RefusesBadPropertiesShortAndCorruptStreams) {
  const Bytes data = Mixed(200000);
  uint8_t props[5];
  Bytes coded = testing::LzmaEncodeRaw(data, 1u << 16, false, props);
  uint8_t bad[5] = {225, 0, 0, 1, 0};
  EXPECT_THROW(
      {
        try {
          Decode(bad, coded, data.size());
        } catch (const Error& e) {
          EXPECT_STREQ(e.what(), "Incorrect stream properties lzma.");
          throw;
        }
      },
      Error);
  Bytes shorter(coded.begin(), coded.begin() + static_cast<long>(coded.size() / 2));
  try {
    Decode(props, shorter, data.size());
    ADD_FAILURE() << "a stream cut in half decoded";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Error lzma in data stream.");
  }
  // Asking for more than the stream holds is a data error, not a hang.
  try {
    Decode(props, coded, data.size() + 1000);
    ADD_FAILURE() << "a stream gave more bytes than it holds";
  } catch (const Error& e) {
    EXPECT_STREQ(e.what(), "Error lzma in data stream.");
  }
  EXPECT_TRUE(Decode(props, coded, 0).empty());
}

// Runs `fn` in a child whose address space may grow by only `headroom` bytes, so that an
// allocation the size of a hostile claim fails there instead of passing unnoticed.
void WithAddressLimit(uint64_t headroom, void (*fn)()) {
  unsigned long pages = 0;
  if (std::FILE* f = std::fopen("/proc/self/statm", "r")) {
    if (std::fscanf(f, "%lu", &pages) != 1) pages = 0;
    std::fclose(f);
  }
  const rlim_t limit = pages * 4096 + headroom;
  struct rlimit r = {limit, limit};
  setrlimit(RLIMIT_AS, &r);
  fn();
}

TEST(Lzma, SizesTheCodedBytesCannotReachAreRefusedBeforeAnyDictionary) {
  EXPECT_TRUE(LzmaSizesPossible(100, 1600000));
  EXPECT_FALSE(LzmaSizesPossible(100, 2000000));
  EXPECT_TRUE(LzmaSizesPossible(0, 0));
  EXPECT_FALSE(LzmaSizesPossible(0, 1));
  // The most compressible data there is stays well inside the limit.
  const Bytes zeros(16u << 20, 0);
  uint8_t props[5];
  Bytes coded = testing::LzmaEncodeRaw(zeros, 1u << 20, false, props);
  EXPECT_LT(coded.size() * 4000, zeros.size());
  EXPECT_EQ(Decode(props, coded, zeros.size()), zeros);

  // Found by fuzz_lzma (tests/data/fuzz/fuzz_lzma): one coded byte, 65 claimed, asking for
  // 4 GB out of a 2.7 GB dictionary. Unchecked, the dictionary is reserved first and, where
  // memory is short, the failure reads as bad properties.
  EXPECT_EXIT(WithAddressLimit(
                  1u << 30,
                  [] {
                    const uint8_t hostile[5] = {0x0a, 0xf2, 0xf1, 0xd2, 0xa5};
                    const uint8_t byte = 0x05;
                    MemorySource source(&byte, 1);
                    try {
                      LzmaDecode(hostile, source, 0, 65, 0xf3d2f1f5, [](const uint8_t*, size_t) {});
                    } catch (const Error& e) {
                      std::fputs(e.what(), stderr);
                      std::_Exit(std::string(e.what()) == "Error lzma in data stream." ? 0 : 1);
                    }
                    std::_Exit(2);
                  }),
              ::testing::ExitedWithCode(0), "");
}

TEST(Lz4, SizesMustMatchTheData) {
  EXPECT_TRUE(Lz4SizesPossible(100, 25000));
  EXPECT_FALSE(Lz4SizesPossible(100, 1u << 20));
  uint8_t out[64];
  const uint8_t literal[] = {0x50, 'h', 'e', 'l', 'l', 'o'};  // one token, five literals
  Lz4Decode(literal, sizeof literal, out, 5);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(out), 5), "hello");
  EXPECT_THROW(Lz4Decode(literal, sizeof literal, out, 6), Error);
  EXPECT_THROW(Lz4Decode(literal, 3, out, 5), Error);
}

}  // namespace
}  // namespace kestrix
