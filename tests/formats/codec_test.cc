// The LZMA and LZ4 decoders on data larger than their chunk buffers, with and without end
// markers, and on data that does not match the sizes given; the encoders through those decoders,
// through liblzma's strict decoder and through xz; the plan that cuts large block data.
#include <gtest/gtest.h>
#include <lz4.h>
#include <lzma.h>
#ifndef _WIN32
#include <sys/resource.h>
#endif

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <numeric>
#include <random>
#include <string>

#include "core/error.h"
#include "formats/lz4_codec.h"
#include "formats/lzma_codec.h"
#include "platform/byte_source.h"
#include "support/bundle_builder.h"
#include "support/test_env.h"

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

#ifndef _WIN32  // address-space limits (setrlimit) are Linux's
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
#endif

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

Bytes Random(size_t n) {
  std::mt19937 rng(5);
  Bytes b(n);
  for (uint8_t& c : b) c = static_cast<uint8_t>(rng());
  return b;
}

// Records the largest read, so that a test sees whether input was taken in chunks.
class CountingSource : public MemorySource {
 public:
  using MemorySource::MemorySource;
  void ReadAt(uint64_t pos, void* dst, size_t n) override {
    largest = std::max(largest, n);
    MemorySource::ReadAt(pos, dst, n);
  }
  size_t largest = 0;
};

// Encodes `data` from a source that holds other bytes around it, so that the position counts.
Bytes Encode(const Bytes& data, LzmaSizeField field, size_t* largest_piece = nullptr) {
  Bytes source_bytes(7 + data.size() + 1, 0xEE);
  std::copy(data.begin(), data.end(), source_bytes.begin() + 7);
  CountingSource source(source_bytes);
  Bytes out;
  size_t piece = 0;
  uint64_t written = LzmaEncode(source, 7, data.size(), field, [&](const uint8_t* d, size_t n) {
    piece = std::max(piece, n);
    out.insert(out.end(), d, d + n);
  });
  EXPECT_EQ(written, out.size());
  EXPECT_LE(source.largest, 1u << 20) << "input must be read in chunks";
  if (largest_piece) *largest_piece = piece;
  return out;
}

// liblzma told the exact size and refusing end markers: the stream must end exactly there, with
// no marker and nothing after it.
bool StrictDecodes(const uint8_t* coded, size_t size, const Bytes& expected) {
  lzma_options_lzma opt{};
  opt.dict_size = 1u << 19;
  opt.lc = 3;
  opt.pb = 2;
  opt.ext_flags = 0;
  opt.ext_size_low = static_cast<uint32_t>(expected.size());
  opt.ext_size_high = static_cast<uint32_t>(uint64_t{expected.size()} >> 32);
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &opt}, {LZMA_VLI_UNKNOWN, nullptr}};
  lzma_stream s = LZMA_STREAM_INIT;
  if (lzma_raw_decoder(&s, filters) != LZMA_OK) return false;
  Bytes out(expected.size() + 64);
  s.next_in = coded;
  s.avail_in = size;
  s.next_out = out.data();
  s.avail_out = out.size();
  lzma_ret ret = lzma_code(&s, LZMA_FINISH);
  size_t left = s.avail_in;
  out.resize(out.size() - s.avail_out);
  lzma_end(&s);
  return ret == LZMA_STREAM_END && left == 0 && out == expected;
}

TEST(LzmaEncode, RoundTripsWithoutEndMarkerInBothLayouts) {
  // The coded sizes bound what a working encoder makes: the range coder's five flush bytes for
  // no data, a sliver for repeats, half for half-random data, random data grown by under 2 %.
  struct Case {
    const char* name;
    Bytes data;
    size_t max_coded;
  } cases[] = {
      {"empty", {}, 5},
      {"one byte", {42}, 6},
      {"odd mixed", Mixed(4099), 200},
      {"zeros past a chunk", Bytes((1u << 20) + 3, 0), 1000},
      {"mixed over two chunks", Mixed((2u << 20) + 11), (2u << 20) * 52 / 100},
      {"random past a chunk", Random((1u << 20) + 5), (1u << 20) * 102 / 100},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    size_t piece = 0;
    const Bytes sized = Encode(c.data, LzmaSizeField::kWrite, &piece);
    const Bytes bare = Encode(c.data, LzmaSizeField::kOmit);
    EXPECT_LE(piece, 1u << 20);
    ASSERT_GE(bare.size(), 5u);
    ASSERT_EQ(sized.size(), bare.size() + 8);
    EXPECT_EQ(Bytes(bare.begin(), bare.begin() + 5), (Bytes{0x5D, 0x00, 0x00, 0x08, 0x00}));
    Bytes header(bare.begin(), bare.begin() + 5);
    for (int i = 0; i < 8; ++i) header.push_back(static_cast<uint8_t>(c.data.size() >> (8 * i)));
    EXPECT_EQ(Bytes(sized.begin(), sized.begin() + 13), header);
    EXPECT_TRUE(std::equal(bare.begin() + 5, bare.end(), sized.begin() + 13))
        << "the size field changes nothing but the header";

    const Bytes coded(bare.begin() + 5, bare.end());
    EXPECT_EQ(Decode(bare.data(), coded, c.data.size()), c.data);
    EXPECT_TRUE(StrictDecodes(coded.data(), coded.size(), c.data));
    EXPECT_LE(coded.size(), c.max_coded);
  }
}

TEST(LzmaEncode, XzReadsTheStreamWithItsSizeField) {
  if (std::system("xz --version >/dev/null 2>&1") != 0) GTEST_SKIP() << "no xz";
  testing::TempDir dir;
  const Bytes data = Mixed((1u << 20) + 4097);
  testing::WriteFileBytes(dir.File("data.lzma"), Encode(data, LzmaSizeField::kWrite));
  const std::string command =
      "xz --format=lzma -d -c '" + dir.File("data.lzma") + "' > '" + dir.File("data.out") + "'";
  ASSERT_EQ(std::system(command.c_str()), 0);
  EXPECT_EQ(testing::ReadFileBytes(dir.File("data.out")), data);
}

TEST(Lz4Encode, PacksWhatShrinksAndStoresTheRest) {
  struct Case {
    const char* name;
    Bytes data;
    bool packed;
  } cases[] = {
      {"empty", {}, false},
      {"one byte", {7}, false},
      {"short text", Bytes{'a', 'b', 'c', 'd', 'e', 'f', 'g', 'h'}, false},
      {"random", Random(65537), false},
      {"zeros", Bytes(100, 0), true},
      {"mixed past a chunk", Mixed((1u << 20) + 3), true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes out{1, 2, 3};  // whatever was there goes
    EXPECT_EQ(Lz4EncodeBlock(c.data.data(), c.data.size(), out), c.packed);
    if (!c.packed) {
      EXPECT_TRUE(out.empty());
      continue;
    }
    EXPECT_LT(out.size(), c.data.size());
    Bytes back(c.data.size());
    Lz4Decode(out.data(), out.size(), back.data(), back.size());
    EXPECT_EQ(back, c.data);
  }
}

TEST(BlockPlan, CutsOnlyWhatOneBlockCannotHold) {
  constexpr uint64_t kGiB = 1ull << 30;
  // `n` blocks of `a` bytes, then `m` of `b`.
  auto runs = [](size_t n, uint32_t a, size_t m, uint32_t b) {
    std::vector<uint32_t> v(n, a);
    v.insert(v.end(), m, b);
    return v;
  };
  struct Case {
    uint64_t size;
    uint32_t max_block;
    std::vector<uint32_t> expected;
  } cases[] = {
      {0, kMaxBlockSize, {0}},
      {1, kMaxBlockSize, {1}},
      {kGiB, kMaxBlockSize, {uint32_t{1} << 30}},
      {kGiB + 1, kMaxBlockSize, {(1u << 29) + 1, 1u << 29}},
      // Past both LZ4's input limit and 32-bit sizes.
      {4 * kGiB, kMaxBlockSize, std::vector<uint32_t>(4, 1u << 30)},
      {10 * kGiB + 3, kMaxBlockSize, runs(2, 976128932, 9, 976128931)},
      // A larger maximum than the limit is held to it; none is taken as one byte.
      {2 * kGiB, UINT32_MAX, {1u << 30, 1u << 30}},
      {3, 0, {1, 1, 1}},
      {10, 4, {4, 3, 3}},
      {128 * 1024 * 3 - 1, 128 * 1024, {131072, 131072, 131071}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    const std::vector<uint32_t> plan = PlanBlocks(c.size, c.max_block);
    EXPECT_EQ(plan, c.expected);
    EXPECT_EQ(std::accumulate(plan.begin(), plan.end(), uint64_t{0}), c.size);
    for (uint32_t block : plan) {
      EXPECT_LE(block, kMaxBlockSize);
      EXPECT_GT(LZ4_compressBound(static_cast<int>(block)), 0) << "fits one LZ4 block";
    }
  }
}

}  // namespace
}  // namespace kestrix
