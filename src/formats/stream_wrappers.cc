#include "formats/stream_wrappers.h"

#include <brotli/decode.h>
#include <brotli/encode.h>
#include <zlib.h>

#include <algorithm>
#include <memory>
#include <string>

#include "core/error.h"
#include "platform/byte_source.h"

namespace kestrix {

namespace {

// Pieces of this size go in and out of the codecs: large enough that the codec, not the calls,
// sets the pace, small enough that memory stays flat whatever the file's size.
constexpr size_t kInPiece = size_t{1} << 18;
constexpr size_t kOutPiece = size_t{1} << 20;

// A decoder's or encoder's output piece, not zeroed: only what the codec wrote is read.
class OutPiece {
 public:
  uint8_t* data() { return bytes_.get(); }
  size_t size() const { return kOutPiece; }

 private:
  std::unique_ptr<uint8_t[]> bytes_ = std::make_unique_for_overwrite<uint8_t[]>(kOutPiece);
};
// The encoder's effort on import: an edit should not take minutes on a large build, and the
// engine's loader reads any quality.
constexpr int kBrotliQuality = 6;

[[noreturn]] void Damaged(const char* what, const std::string& detail) {
  throw Error(std::string("The ") + what + " data is damaged: " + detail + ".");
}

// Reads the source in pieces; the codecs take what they can of each.
class PieceReader {
 public:
  explicit PieceReader(ByteSource& source) : source_(source), buffer_(kInPiece) {}
  // The next piece; empty at the end.
  size_t Next() {
    const uint64_t left = source_.Size() - pos_;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(left, buffer_.size()));
    if (n > 0) source_.ReadAt(pos_, buffer_.data(), n);
    pos_ += n;
    return n;
  }
  const uint8_t* data() const { return buffer_.data(); }
  bool AtEnd() const { return pos_ == source_.Size(); }

 private:
  ByteSource& source_;
  std::vector<uint8_t> buffer_;
  uint64_t pos_ = 0;
};

// ---- gzip ----

struct InflateStream {
  z_stream z{};
  bool open = false;
  InflateStream() {
    // 16 + 15: a gzip member with the largest window.
    if (inflateInit2(&z, 16 + MAX_WBITS) != Z_OK) throw Error("zlib could not start.");
    open = true;
  }
  ~InflateStream() {
    if (open) inflateEnd(&z);
  }
};

// Runs inflate over the source; `sink` returns false to stop early. Returns whether the data
// ended cleanly (the last member complete).
bool Inflate(ByteSource& source, const std::function<bool(const uint8_t*, size_t)>& sink,
             std::string* error) {
  InflateStream s;
  PieceReader in(source);
  OutPiece out;
  bool ended = false;
  while (true) {
    if (s.z.avail_in == 0) {
      const size_t n = in.Next();
      if (n == 0) return ended;
      s.z.next_in = const_cast<Bytef*>(in.data());
      s.z.avail_in = static_cast<uInt>(n);
    }
    ended = false;
    s.z.next_out = out.data();
    s.z.avail_out = static_cast<uInt>(out.size());
    const int rc = inflate(&s.z, Z_NO_FLUSH);
    if (rc != Z_OK && rc != Z_STREAM_END && rc != Z_BUF_ERROR) {
      if (error) *error = s.z.msg ? s.z.msg : "inflate error " + std::to_string(rc);
      return false;
    }
    const size_t got = out.size() - s.z.avail_out;
    if (got > 0 && !sink(out.data(), got)) return true;
    if (rc == Z_STREAM_END) {
      // Another member may follow, as gzip -d reads it.
      ended = true;
      inflateReset(&s.z);
      if (s.z.avail_in == 0 && in.AtEnd()) return true;
    } else if (rc == Z_BUF_ERROR && s.z.avail_in != 0 && got == 0) {
      if (error) *error = "no progress";
      return false;
    }
  }
}

std::vector<uint8_t> ReadGzipHeader(ByteSource& source) {
  const size_t window = static_cast<size_t>(std::min<uint64_t>(source.Size(), 64 * 1024));
  std::vector<uint8_t> b(window);
  source.ReadAt(0, b.data(), b.size());
  if (b.size() < 10 || b[0] != 0x1F || b[1] != 0x8B || b[2] != 8)
    Damaged("gzip", "it does not start with a gzip header");
  const uint8_t flags = b[3];
  size_t pos = 10;
  auto need = [&](size_t n) {
    if (n > b.size() - pos) Damaged("gzip", "its header is cut short");
  };
  if (flags & 4) {
    need(2);
    const size_t extra = b[pos] | static_cast<size_t>(b[pos + 1]) << 8;
    pos += 2;
    need(extra);
    pos += extra;
  }
  for (uint8_t text : {uint8_t{8}, uint8_t{16}}) {
    if (!(flags & text)) continue;
    auto end = std::find(b.begin() + static_cast<long>(pos), b.end(), 0);
    if (end == b.end()) Damaged("gzip", "a header text has no end");
    pos = static_cast<size_t>(end - b.begin()) + 1;
  }
  if (flags & 2) {
    need(2);
    pos += 2;
  }
  b.resize(pos);
  return b;
}

void Deflate(ByteSource& plain, const WrapperLayout& layout, const ByteSink& sink) {
  sink(layout.gzip_header.data(), layout.gzip_header.size());
  z_stream z{};
  // Raw deflate: the header is the one kept, the trailer is written below.
  if (deflateInit2(&z, Z_DEFAULT_COMPRESSION, Z_DEFLATED, -MAX_WBITS, 8, Z_DEFAULT_STRATEGY) !=
      Z_OK)
    throw Error("zlib could not start.");
  std::unique_ptr<z_stream, int (*)(z_stream*)> guard(&z, deflateEnd);
  PieceReader in(plain);
  OutPiece out;
  uLong crc = crc32(0, nullptr, 0);
  uint64_t total = 0;
  bool last = false;
  while (!last) {
    const size_t n = in.Next();
    last = in.AtEnd();
    crc = crc32(crc, in.data(), static_cast<uInt>(n));
    total += n;
    z.next_in = const_cast<Bytef*>(in.data());
    z.avail_in = static_cast<uInt>(n);
    int rc;
    do {
      z.next_out = out.data();
      z.avail_out = static_cast<uInt>(out.size());
      rc = deflate(&z, last ? Z_FINISH : Z_NO_FLUSH);
      if (rc == Z_STREAM_ERROR) throw Error("zlib failed while compressing.");
      sink(out.data(), out.size() - z.avail_out);
    } while (z.avail_out == 0 || (last && rc != Z_STREAM_END));
  }
  uint8_t trailer[8];
  for (int i = 0; i < 4; ++i) trailer[i] = static_cast<uint8_t>(crc >> (8 * i));
  for (int i = 0; i < 4; ++i) trailer[4 + i] = static_cast<uint8_t>(total >> (8 * i));
  sink(trailer, sizeof trailer);
}

// ---- brotli ----

struct BrotliDecoder {
  BrotliDecoderState* s = BrotliDecoderCreateInstance(nullptr, nullptr, nullptr);
  BrotliDecoder() {
    if (!s) throw Error("brotli could not start.");
  }
  ~BrotliDecoder() { BrotliDecoderDestroyInstance(s); }
};

bool Unbrotli(ByteSource& source, const std::function<bool(const uint8_t*, size_t)>& sink,
              std::string* error) {
  BrotliDecoder d;
  PieceReader in(source);
  OutPiece out;
  size_t avail_in = 0;
  const uint8_t* next_in = nullptr;
  while (true) {
    size_t avail_out = out.size();
    uint8_t* next_out = out.data();
    const BrotliDecoderResult rc =
        BrotliDecoderDecompressStream(d.s, &avail_in, &next_in, &avail_out, &next_out, nullptr);
    const size_t got = out.size() - avail_out;
    if (got > 0 && !sink(out.data(), got)) return true;
    if (rc == BROTLI_DECODER_RESULT_SUCCESS) return true;
    if (rc == BROTLI_DECODER_RESULT_ERROR) {
      if (error) *error = BrotliDecoderErrorString(BrotliDecoderGetErrorCode(d.s));
      return false;
    }
    if (rc == BROTLI_DECODER_RESULT_NEEDS_MORE_INPUT) {
      avail_in = in.Next();
      next_in = in.data();
      if (avail_in == 0) {
        if (error) *error = "the stream ends early";
        return false;
      }
    }
  }
}

// Bits of the stream start, least significant first, as the format packs them.
class BitReader {
 public:
  explicit BitReader(const std::vector<uint8_t>& b) : b_(b) {}
  uint32_t Bits(int n) {
    uint32_t v = 0;
    for (int i = 0; i < n; ++i, ++bit_) {
      if (bit_ / 8 >= b_.size()) Damaged("brotli", "its header is cut short");
      v |= static_cast<uint32_t>(b_[bit_ / 8] >> (bit_ % 8) & 1) << i;
    }
    return v;
  }
  size_t ByteAligned() const { return (bit_ + 7) / 8; }

 private:
  const std::vector<uint8_t>& b_;
  size_t bit_ = 0;
};

void ReadBrotliStart(ByteSource& source, WrapperLayout& layout) {
  std::vector<uint8_t> b(static_cast<size_t>(std::min<uint64_t>(source.Size(), 1024)));
  source.ReadAt(0, b.data(), b.size());
  BitReader r(b);
  if (r.Bits(1) == 0) {
    layout.brotli_window = 16;
  } else if (uint32_t n = r.Bits(3); n != 0) {
    layout.brotli_window = static_cast<int>(17 + n);
  } else {
    const uint32_t m = r.Bits(3);
    layout.brotli_window = m == 0 ? 17 : static_cast<int>(8 + m);
  }
  // A first meta-block that is metadata: not last, MNIBBLES 3 (no data), a reserved zero bit.
  if (r.Bits(1) != 0 || r.Bits(2) != 3 || r.Bits(1) != 0) return;
  const uint32_t skip_bytes = r.Bits(2);
  uint32_t length = 0;
  if (skip_bytes > 0) length = r.Bits(static_cast<int>(8 * skip_bytes)) + 1;
  const size_t start = r.ByteAligned();
  if (length > b.size() - std::min(start, b.size())) return;
  layout.brotli_has_metadata = true;
  layout.brotli_metadata.assign(b.begin() + static_cast<long>(start),
                                b.begin() + static_cast<long>(start + length));
}

struct BrotliEncoder {
  BrotliEncoderState* s = BrotliEncoderCreateInstance(nullptr, nullptr, nullptr);
  BrotliEncoder() {
    if (!s) throw Error("brotli could not start.");
  }
  ~BrotliEncoder() { BrotliEncoderDestroyInstance(s); }
};

void Enbrotli(ByteSource& plain, const WrapperLayout& layout, const ByteSink& sink) {
  BrotliEncoder e;
  BrotliEncoderSetParameter(e.s, BROTLI_PARAM_QUALITY, kBrotliQuality);
  BrotliEncoderSetParameter(e.s, BROTLI_PARAM_LGWIN, static_cast<uint32_t>(layout.brotli_window));
  BrotliEncoderSetParameter(e.s, BROTLI_PARAM_SIZE_HINT,
                            static_cast<uint32_t>(std::min<uint64_t>(plain.Size(), 1u << 30)));
  OutPiece out;
  auto run = [&](BrotliEncoderOperation op, const uint8_t* data, size_t n) {
    size_t avail_in = n;
    const uint8_t* next_in = data;
    do {
      size_t avail_out = out.size();
      uint8_t* next_out = out.data();
      if (!BrotliEncoderCompressStream(e.s, op, &avail_in, &next_in, &avail_out, &next_out,
                                       nullptr))
        throw Error("brotli failed while compressing.");
      sink(out.data(), out.size() - avail_out);
    } while (avail_in > 0 || BrotliEncoderHasMoreOutput(e.s) ||
             (op == BROTLI_OPERATION_FINISH && !BrotliEncoderIsFinished(e.s)));
  };
  if (layout.brotli_has_metadata)
    run(BROTLI_OPERATION_EMIT_METADATA, layout.brotli_metadata.data(),
        layout.brotli_metadata.size());
  PieceReader in(plain);
  while (true) {
    const size_t n = in.Next();
    if (in.AtEnd()) {
      run(BROTLI_OPERATION_FINISH, in.data(), n);
      return;
    }
    run(BROTLI_OPERATION_PROCESS, in.data(), n);
  }
}

}  // namespace

bool LooksGzip(ByteSource& source) {
  uint8_t magic[2] = {};
  if (source.Size() < 2) return false;
  source.ReadAt(0, magic, 2);
  return magic[0] == 0x1F && magic[1] == 0x8B;
}

std::vector<uint8_t> PeekUnwrapped(ByteSource& source, StreamWrapper kind, size_t want) {
  std::vector<uint8_t> got;
  auto take = [&](const uint8_t* data, size_t n) {
    got.insert(got.end(), data, data + std::min(n, want - got.size()));
    return got.size() < want;
  };
  if (kind == StreamWrapper::kGzip) Inflate(source, take, nullptr);
  if (kind == StreamWrapper::kBrotli) Unbrotli(source, take, nullptr);
  return got;
}

WrapperLayout ReadWrapperLayout(ByteSource& source, StreamWrapper kind) {
  WrapperLayout layout;
  layout.kind = kind;
  if (kind == StreamWrapper::kGzip) layout.gzip_header = ReadGzipHeader(source);
  if (kind == StreamWrapper::kBrotli) ReadBrotliStart(source, layout);
  return layout;
}

void Unwrap(ByteSource& source, StreamWrapper kind, const ByteSink& sink) {
  auto all = [&sink](const uint8_t* data, size_t n) {
    sink(data, n);
    return true;
  };
  std::string error;
  if (kind == StreamWrapper::kGzip && !Inflate(source, all, &error)) {
    Damaged("gzip", error.empty() ? "the stream ends early" : error);
  } else if (kind == StreamWrapper::kBrotli && !Unbrotli(source, all, &error)) {
    Damaged("brotli", error);
  } else if (kind == StreamWrapper::kNone) {
    throw Error("Nothing to unwrap: the stream has no wrapper.");
  }
}

void Wrap(ByteSource& plain, const WrapperLayout& layout, const ByteSink& sink) {
  if (layout.kind == StreamWrapper::kGzip) {
    Deflate(plain, layout, sink);
  } else if (layout.kind == StreamWrapper::kBrotli) {
    Enbrotli(plain, layout, sink);
  } else {
    throw Error("Nothing to wrap: the stream has no wrapper.");
  }
}

}  // namespace kestrix
