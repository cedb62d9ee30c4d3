#include "formats/lzma_codec.h"

#include <lzma.h>

#include <algorithm>
#include <memory>
#include <vector>

#include "core/error.h"
#include "platform/byte_source.h"

namespace kestrix {

namespace {

// Hands liblzma the next chunk of the coded or plain input once it has used the last one.
void Refill(lzma_stream& stream, ByteSource& source, uint64_t& pos, uint64_t& in_left,
            std::vector<uint8_t>& in) {
  if (stream.avail_in != 0 || in_left == 0) return;
  const size_t step = static_cast<size_t>(std::min<uint64_t>(in.size(), in_left));
  source.ReadAt(pos, in.data(), step);
  pos += step;
  in_left -= step;
  stream.next_in = in.data();
  stream.avail_in = step;
}

constexpr size_t kChunk = 1 << 20;

struct StreamCloser {
  void operator()(lzma_stream* s) const { lzma_end(s); }
};

[[noreturn]] void DataError() { throw Error("Error lzma in data stream."); }

constexpr uint64_t kMaxExpansion = 1 << 14;

[[noreturn]] void EncoderError() { throw Error("LZMA encoder failed."); }

constexpr uint32_t kEncodeDictionary = 1u << 19;
static_assert(kLzmaEncodedProps[0] == (2 * 5 + 0) * 9 + 3 &&
                  (kLzmaEncodedProps[1] | kLzmaEncodedProps[2] << 8 | kLzmaEncodedProps[3] << 16 |
                   kLzmaEncodedProps[4] << 24) == kEncodeDictionary,
              "the property bytes must describe the encoder's settings");

// A raw decoder for the stream whose property bytes are `props`, told its size.
void StartDecoder(lzma_stream& stream, const uint8_t props[5], uint64_t length, uint64_t out_size) {
  lzma_options_lzma options{};
  unsigned byte = props[0];
  if (byte >= 9 * 5 * 5) throw Error("Incorrect stream properties lzma.");
  options.lc = byte % 9;
  options.lp = (byte / 9) % 5;
  options.pb = byte / 45;
  if (!LzmaSizesPossible(length, out_size)) DataError();
  uint32_t dict = static_cast<uint32_t>(props[1]) | static_cast<uint32_t>(props[2]) << 8 |
                  static_cast<uint32_t>(props[3]) << 16 | static_cast<uint32_t>(props[4]) << 24;
  // The decoder never looks further back than what it has produced, so a dictionary larger than
  // the output would only reserve memory that is never used.
  options.dict_size = static_cast<uint32_t>(
      std::max<uint64_t>(LZMA_DICT_SIZE_MIN, std::min<uint64_t>(dict, out_size)));
  options.ext_flags = LZMA_LZMA1EXT_ALLOW_EOPM;
  options.ext_size_low = static_cast<uint32_t>(out_size);
  options.ext_size_high = static_cast<uint32_t>(out_size >> 32);
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};
  if (lzma_raw_decoder(&stream, filters) != LZMA_OK)
    throw Error("Incorrect stream properties lzma.");
}

}  // namespace

bool LzmaSizesPossible(uint64_t compressed, uint64_t uncompressed) {
  return compressed >= UINT64_MAX / kMaxExpansion || uncompressed <= compressed * kMaxExpansion;
}

void LzmaDecode(const uint8_t props[5], ByteSource& source, uint64_t pos, uint64_t length,
                uint64_t out_size, const ByteSink& sink) {
  lzma_stream stream = LZMA_STREAM_INIT;
  StartDecoder(stream, props, length, out_size);
  std::unique_ptr<lzma_stream, StreamCloser> closer(&stream);
  if (out_size == 0) return;

  std::vector<uint8_t> in(
      static_cast<size_t>(std::min<uint64_t>(kChunk, std::max<uint64_t>(length, 1))));
  std::vector<uint8_t> out(static_cast<size_t>(std::min<uint64_t>(kChunk, out_size)));
  uint64_t in_left = length;
  uint64_t out_left = out_size;
  stream.next_out = out.data();
  stream.avail_out = std::min<uint64_t>(out.size(), out_left);
  while (true) {
    Refill(stream, source, pos, in_left, in);
    lzma_ret ret = lzma_code(&stream, in_left == 0 ? LZMA_FINISH : LZMA_RUN);
    size_t produced = static_cast<size_t>(stream.next_out - out.data());
    bool full = stream.avail_out == 0;
    if ((full || ret == LZMA_STREAM_END) && produced > 0) {
      sink(out.data(), produced);
      out_left -= produced;
      stream.next_out = out.data();
      stream.avail_out = std::min<uint64_t>(out.size(), out_left);
    }
    if (ret == LZMA_STREAM_END) break;
    if (ret != LZMA_OK) DataError();
    // A stream cut short ends in LZMA_BUF_ERROR: liblzma reports a second call without progress.
    if (out_left == 0) break;
  }
  if (out_left != 0) DataError();
}

std::vector<LzmaCheckpoint> LzmaCheckpoints(const uint8_t props[5], ByteSource& source,
                                            uint64_t pos, uint64_t length, uint64_t out_size,
                                            const std::vector<uint64_t>& ends) {
  std::vector<uint8_t> in(64 * 1024), out(kChunk);
  // Runs the decoder on what it has been given, with room for at most `room` more bytes;
  // returns the bytes it made.
  auto run = [&out](lzma_stream& stream, uint64_t room) {
    stream.next_out = out.data();
    stream.avail_out = static_cast<size_t>(std::min<uint64_t>(out.size(), room));
    const uint64_t before = stream.total_out;
    const lzma_ret ret = lzma_code(&stream, LZMA_RUN);
    if (ret != LZMA_OK && ret != LZMA_STREAM_END && ret != LZMA_BUF_ERROR) DataError();
    return stream.total_out - before;
  };

  // First, roughly: the coded bytes the decoder has taken when its output reaches each end. It
  // may have taken a byte or so ahead for the next symbol.
  std::vector<uint64_t> taken;
  {
    lzma_stream stream = LZMA_STREAM_INIT;
    StartDecoder(stream, props, length, out_size);
    std::unique_ptr<lzma_stream, StreamCloser> closer(&stream);
    uint64_t at = pos, in_left = length;
    for (uint64_t end : ends) {
      if (end > out_size) DataError();
      while (stream.total_out < end) {
        Refill(stream, source, at, in_left, in);
        if (run(stream, end - stream.total_out) == 0 && stream.avail_in == 0 && in_left == 0)
          DataError();
      }
      taken.push_back(stream.total_in);
    }
  }

  // Then exactly: a second decoder is given the stream up to a little before each of those
  // places, then one byte at a time, everything decodable made each time, until its output
  // reaches the end.
  lzma_stream stream = LZMA_STREAM_INIT;
  StartDecoder(stream, props, length, out_size);
  std::unique_ptr<lzma_stream, StreamCloser> closer(&stream);
  auto give_up_to = [&](uint64_t target) {
    while (stream.total_in < target) {
      const size_t step =
          static_cast<size_t>(std::min<uint64_t>(in.size(), target - stream.total_in));
      source.ReadAt(pos + stream.total_in, in.data(), step);
      stream.next_in = in.data();
      stream.avail_in = step;
      while (stream.total_out < out_size &&
             (run(stream, out_size - stream.total_out) > 0 || stream.avail_in > 0)) {
      }
      if (stream.avail_in > 0) return;  // the stream ended before the input
    }
  };
  constexpr uint64_t kAhead = 64;
  std::vector<LzmaCheckpoint> points;
  for (size_t i = 0; i < ends.size(); ++i) {
    if (taken[i] > kAhead) give_up_to(taken[i] - kAhead);
    while (stream.total_out < ends[i]) {
      if (stream.total_in >= length) DataError();
      give_up_to(stream.total_in + 1);
    }
    points.push_back({stream.total_in, stream.total_out});
  }
  return points;
}

uint64_t LzmaEncode(ByteSource& source, uint64_t pos, uint64_t length, LzmaSizeField size_field,
                    const ByteSink& sink) {
  lzma_options_lzma options{};
  // Preset 6 is liblzma's normal mode; the fields below pin everything the stream depends on, so
  // that a later liblzma with other preset defaults still writes the same kind of stream.
  if (lzma_lzma_preset(&options, 6)) EncoderError();
  options.lc = 3;
  options.lp = 0;
  options.pb = 2;
  options.dict_size = kEncodeDictionary;
  options.mode = LZMA_MODE_NORMAL;
  options.nice_len = 273;
  options.mf = LZMA_MF_BT4;
  options.depth = 0;  // liblzma's default search depth for bt4 at this nice length
  // LZMA_FILTER_LZMA1 always ends in a marker; the extended filter leaves it out unless
  // LZMA_LZMA1EXT_ALLOW_EOPM is set. The encoder ignores the size, but it is the stream's size.
  options.ext_flags = 0;
  options.ext_size_low = static_cast<uint32_t>(length);
  options.ext_size_high = static_cast<uint32_t>(length >> 32);
  lzma_filter filters[2] = {{LZMA_FILTER_LZMA1EXT, &options}, {LZMA_VLI_UNKNOWN, nullptr}};

  lzma_stream stream = LZMA_STREAM_INIT;
  if (lzma_raw_encoder(&stream, filters) != LZMA_OK) EncoderError();
  std::unique_ptr<lzma_stream, StreamCloser> closer(&stream);

  uint8_t header[13];
  std::copy(kLzmaEncodedProps, kLzmaEncodedProps + 5, header);
  size_t header_size = 5;
  if (size_field == LzmaSizeField::kWrite) {
    for (int i = 0; i < 8; ++i) header[5 + i] = static_cast<uint8_t>(length >> (8 * i));
    header_size = 13;
  }
  sink(header, header_size);
  uint64_t written = header_size;

  std::vector<uint8_t> in(
      static_cast<size_t>(std::min<uint64_t>(kChunk, std::max<uint64_t>(length, 1))));
  std::vector<uint8_t> out(kChunk);
  uint64_t in_left = length;
  stream.next_out = out.data();
  stream.avail_out = out.size();
  while (true) {
    Refill(stream, source, pos, in_left, in);
    lzma_ret ret = lzma_code(&stream, in_left == 0 ? LZMA_FINISH : LZMA_RUN);
    if (ret != LZMA_OK && ret != LZMA_STREAM_END) EncoderError();
    size_t produced = static_cast<size_t>(stream.next_out - out.data());
    if ((stream.avail_out == 0 || ret == LZMA_STREAM_END) && produced > 0) {
      sink(out.data(), produced);
      written += produced;
      stream.next_out = out.data();
      stream.avail_out = out.size();
    }
    if (ret == LZMA_STREAM_END) break;
  }
  return written;
}

}  // namespace kestrix
