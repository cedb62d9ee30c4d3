// LZMA block decoding with hostile sizes: the five property bytes and the claimed decoded size
// come from the front of the input, the coded data is the rest.
//   props[5] | decoded size (u32 LE) | mode | coded data
// Mode bit 0 claims more coded bytes than the source holds, as a bundle block record can.
#include <cstdlib>

#include "core/error.h"
#include "formats/lzma_codec.h"
#include "platform/byte_source.h"
#include "platform/io_error.h"
#include "support.h"

namespace {

// Decoding gigabytes of output proves nothing new and only slows the fuzzer down.
constexpr uint64_t kOutputBudget = 64u << 20;
struct OverBudget {};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrix;
  fuzz::Input in(data, size);
  uint8_t props[5];
  for (uint8_t& p : props) p = in.Byte();
  const uint64_t out_size = in.Le32();
  const uint8_t mode = in.Byte();
  size_t coded_size = 0;
  const uint8_t* coded = in.Rest(&coded_size);
  MemorySource source(coded, coded_size);
  const uint64_t length = (mode & 1) ? coded_size + 64 : coded_size;
  uint64_t produced = 0;
  try {
    LzmaDecode(props, source, 0, length, out_size, [&](const uint8_t* bytes, size_t n) {
      // Every piece must be readable memory of the claimed size.
      volatile uint8_t touch = n ? bytes[0] ^ bytes[n - 1] : 0;
      (void)touch;
      produced += n;
      if (produced > out_size) std::abort();  // more than was asked for
      if (produced > kOutputBudget) throw OverBudget();
    });
    // A decode that returns has handed over exactly the size asked for.
    if (produced != out_size) std::abort();
  } catch (const Error&) {
  } catch (const OverBudget&) {
  }
  return 0;
}
