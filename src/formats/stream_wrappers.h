// Whole-file compression wrappers that web builds put around their data file: gzip (zlib) and
// brotli. Both are decoded and encoded as streams in bounded pieces, never held whole.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

#include "core/archive.h"
#include "formats/lzma_codec.h"

namespace kestrix {

class ByteSource;

// What writing a stream again needs to give the wrapper the engine's loader recognises: the
// loader looks for a marker text that the builds keep in the gzip header's comment and in a
// brotli metadata block at the very start, so both are kept as found.
struct WrapperLayout {
  StreamWrapper kind = StreamWrapper::kNone;
  std::vector<uint8_t> gzip_header;     // the header as stored, up to the deflate data
  int brotli_window = 22;               // log2 of the window the stream declares
  std::vector<uint8_t> brotli_metadata;  // the leading metadata block's bytes (may be empty)
  bool brotli_has_metadata = false;
};

// Whether the first bytes are gzip's magic (1F 8B).
bool LooksGzip(ByteSource& source);

// Up to `want` bytes of what the wrapped stream decodes to, from its start: fewer when the
// stream ends first or is not such a stream at all (nothing throws: this is a probe).
std::vector<uint8_t> PeekUnwrapped(ByteSource& source, StreamWrapper kind, size_t want);

// Reads the header facts that Wrap needs to write the stream again alike. Throws Error when the
// stream's start is not of that kind.
WrapperLayout ReadWrapperLayout(ByteSource& source, StreamWrapper kind);

// Decodes the whole stream into `sink` in pieces. Throws Error ("... data is damaged ...") when
// the data does not decode or ends early; gzip members that follow one another decode as one.
void Unwrap(ByteSource& source, StreamWrapper kind, const ByteSink& sink);

// Encodes all of `plain` as `layout` says into `sink`: gzip with the kept header and a fresh
// trailer, brotli with the kept window and metadata block first.
void Wrap(ByteSource& plain, const WrapperLayout& layout, const ByteSink& sink);

}  // namespace kestrix
