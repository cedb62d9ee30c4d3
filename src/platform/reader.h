// A cursor over a byte source with an explicit byte order. Reads go through a buffer, so many
// small reads cost little; a read past the end throws IoError and never touches memory outside
// the buffer.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/byte_order.h"
#include "platform/byte_source.h"

namespace kestrix {

class Reader {
 public:
  explicit Reader(ByteSource& source, size_t buffer_size = 64 * 1024);

  uint64_t Size() const { return size_; }
  uint64_t Tell() const { return pos_; }
  uint64_t Remaining() const { return pos_ < size_ ? size_ - pos_ : 0; }
  // Any position may be set; reading there fails when it lies past the end.
  void Seek(uint64_t pos) { pos_ = pos; }
  void Skip(uint64_t n) { pos_ += n; }

  ByteSource& Source() { return source_; }
  ByteOrder Order() const { return order_; }
  void SetOrder(ByteOrder order) { order_ = order; }

  void Read(void* dst, size_t n);
  std::vector<uint8_t> ReadBytes(size_t n);
  std::string ReadText(size_t n);

  uint8_t U8();
  uint16_t U16() { return U16(order_); }
  uint32_t U32() { return U32(order_); }
  uint64_t U64() { return U64(order_); }
  int32_t I32() { return static_cast<int32_t>(U32(order_)); }
  uint16_t U16(ByteOrder o);
  uint32_t U32(ByteOrder o) {
    // Most reads are small and inside the buffer: no call, one check.
    if (pos_ >= buffer_pos_ && pos_ - buffer_pos_ + 4 <= buffer_len_) {
      const uint8_t* p = buffer_.data() + (pos_ - buffer_pos_);
      pos_ += 4;
      return Get32(p, o);
    }
    return SlowU32(o);
  }
  uint64_t U64(ByteOrder o);
  int32_t I32(ByteOrder o) { return static_cast<int32_t>(U32(o)); }

  // Zero-terminated text in a window of `window` bytes: keeps the text before the first zero
  // byte and continues right after it. Without a zero in the window the whole window is the
  // text; a window cut short by the end of the data must hold the zero.
  std::string CString(size_t window);
  // The same, but text that runs into the end of the data is returned as it is.
  std::string CStringToEnd(size_t window);

  // Throws unless n bytes remain from the current position.
  void Require(uint64_t n) const;

 private:
  void Fill(uint64_t pos, size_t want);
  uint32_t SlowU32(ByteOrder o);

  ByteSource& source_;
  uint64_t size_;
  uint64_t pos_ = 0;
  ByteOrder order_ = ByteOrder::Little;
  std::vector<uint8_t> buffer_;
  uint64_t buffer_pos_ = 0;   // stream position of buffer_[0]
  size_t buffer_len_ = 0;     // valid bytes in buffer_
};

}  // namespace kestrix
