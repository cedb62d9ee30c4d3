// Reading and writing the fields of one object. The engine serializes numbers in the file's
// byte order, pads strings and arrays to 4 bytes counted from the object's start, and prefixes
// strings and arrays with 32-bit counts. The cursor reads exactly that, never before the
// object's start or past its end, and checks every count against what remains before anything
// is allocated or skipped; the writer produces the same layout for import.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "platform/byte_order.h"

namespace kestrix {

class Reader;

class ObjectCursor {
 public:
  // The object [start, limit) of the reader's stream; the cursor starts at `start`.
  ObjectCursor(Reader& reader, uint64_t start, uint64_t limit, ByteOrder order);
  // From the reader's position to the end of its stream.
  ObjectCursor(Reader& reader, ByteOrder order);

  uint64_t Start() const { return start_; }
  uint64_t Limit() const { return limit_; }
  uint64_t Tell() const;
  uint64_t Remaining() const;
  ByteOrder Order() const { return order_; }
  // Any position may be set; reading there fails unless it lies inside the object.
  void Seek(uint64_t pos);
  bool Fits(uint64_t pos, uint64_t n) const {
    return pos >= start_ && pos <= limit_ && n <= limit_ - pos;
  }

  // Reads at the cursor; each throws Error (damaged data) when the object ends first.
  uint8_t U8();
  uint16_t U16();
  uint32_t U32();
  int32_t I32() { return static_cast<int32_t>(U32()); }
  uint64_t U64();
  float F32();
  void Read(void* dst, size_t n);
  std::vector<uint8_t> Bytes(size_t n);
  std::string Text(size_t n);
  void Skip(uint64_t n);
  // Skips the padding up to the next multiple of 4 from the object's start.
  void Align();
  // A 32-bit count of elements of `element_size` bytes, refused when they cannot all fit in
  // what remains of the object.
  uint32_t Count(uint64_t element_size);
  // Length-prefixed text, then the padding.
  std::string String();
  void SkipString();
  // Length-prefixed bytes, then the padding.
  std::vector<uint8_t> ByteArray();
  void SkipArray(uint64_t element_size);

  // Probes that may miss: false, and nothing read, when the bytes do not all lie inside the
  // object. The cursor's position is left where the probe read.
  bool TryU32At(uint64_t pos, ByteOrder order, uint32_t* out);
  bool TryU32At(uint64_t pos, uint32_t* out) { return TryU32At(pos, order_, out); }
  bool TryBytesAt(uint64_t pos, void* dst, size_t n);

 private:
  void Need(uint64_t n) const;

  Reader& r_;
  uint64_t start_;
  uint64_t limit_;
  ByteOrder order_;
};

// Builds object bytes in the layout the cursor reads.
class ObjectWriter {
 public:
  explicit ObjectWriter(ByteOrder order) : order_(order) {}
  void U8(uint8_t v) { bytes_.push_back(v); }
  void U16(uint16_t v);
  void U32(uint32_t v);
  void I32(int32_t v) { U32(static_cast<uint32_t>(v)); }
  void U64(uint64_t v);
  void F32(float v);
  void Bytes(const void* data, size_t n);
  void Zeros(size_t n) { bytes_.insert(bytes_.end(), n, 0); }
  // Zero bytes up to the next multiple of 4 from the object's start.
  void Align() { Zeros((4 - bytes_.size() % 4) % 4); }
  // A 32-bit length, the bytes, the padding.
  void String(std::string_view text);
  void ByteArray(const std::vector<uint8_t>& data);
  // Overwrites a 32-bit value written earlier (a length known only later).
  void PatchU32(size_t pos, uint32_t v);

  size_t Size() const { return bytes_.size(); }
  const std::vector<uint8_t>& Data() const { return bytes_; }
  std::vector<uint8_t> Take() { return std::move(bytes_); }

 private:
  ByteOrder order_;
  std::vector<uint8_t> bytes_;
};

}  // namespace kestrix
