// The LZMA and LZ4 decoders on data larger than their chunk buffers, with and without end
// markers, and on data that does not match the sizes given.
#include <gtest/gtest.h>

#include <random>

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
