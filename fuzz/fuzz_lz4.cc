// LZ4 block decoding with hostile sizes, as the bundle reader calls it: the claimed decoded size
// comes from the front of the input, the block is the rest.
//   decoded size (u32 LE) | block
// Sizes the size check refuses are not decoded, exactly as the callers do; the output buffer is
// allocated at the claimed size, so a check that lets too much through shows as a memory limit.
#include <algorithm>
#include <cstdlib>
#include <vector>

#include "core/error.h"
#include "formats/lz4_codec.h"
#include "support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrix;
  fuzz::Input in(data, size);
  const uint32_t out_size = in.Le32();
  size_t block_size = 0;
  const uint8_t* block = in.Rest(&block_size);
  if (!Lz4SizesPossible(block_size, out_size)) return 0;
  // The input buffer is copied so that a read past the block is caught at its exact end.
  std::vector<uint8_t> packed(block, block + block_size);
  std::vector<uint8_t> plain(out_size);
  try {
    Lz4Decode(packed.data(), packed.size(), plain.data(), plain.size());
  } catch (const Error&) {
    return 0;
  }
  // A block that decodes must decode the same way into a buffer one byte larger: the size check
  // may not depend on the buffer ending exactly at the data.
  std::vector<uint8_t> again(size_t{out_size} + 1);
  try {
    Lz4Decode(packed.data(), packed.size(), again.data(), out_size);
  } catch (const Error&) {
    std::abort();
  }
  if (!std::equal(plain.begin(), plain.end(), again.begin())) std::abort();
  return 0;
}
