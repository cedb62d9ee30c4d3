#include "platform/reader.h"

#include <algorithm>
#include <cstring>

#include "platform/io_error.h"

namespace kestrix {

Reader::Reader(ByteSource& source, size_t buffer_size)
    : source_(source), size_(source.Size()), buffer_(buffer_size < 64 ? 64 : buffer_size) {}

void Reader::Require(uint64_t n) const {
  if (pos_ > size_ || n > size_ - pos_) {
    throw Error("Read past the end of the data: " + std::to_string(n) + " bytes at position " +
                std::to_string(pos_) + " of " + std::to_string(size_) + ".");
  }
}

void Reader::Fill(uint64_t pos, size_t want) {
  size_t len = static_cast<size_t>(std::min<uint64_t>(buffer_.size(), size_ - pos));
  if (len < want) len = want;  // callers have checked that `want` bytes exist
  source_.ReadAt(pos, buffer_.data(), len);
  buffer_pos_ = pos;
  buffer_len_ = len;
}

void Reader::Read(void* dst, size_t n) {
  if (pos_ >= buffer_pos_ && pos_ - buffer_pos_ + n <= buffer_len_) {
    if (n) std::memcpy(dst, buffer_.data() + (pos_ - buffer_pos_), n);
    pos_ += n;
    return;
  }
  Require(n);
  if (n == 0) return;
  auto* out = static_cast<uint8_t*>(dst);
  if (n >= buffer_.size()) {  // large reads bypass the buffer
    source_.ReadAt(pos_, out, n);
    pos_ += n;
    return;
  }
  if (pos_ < buffer_pos_ || pos_ + n > buffer_pos_ + buffer_len_) Fill(pos_, n);
  std::memcpy(out, buffer_.data() + (pos_ - buffer_pos_), n);
  pos_ += n;
}

std::vector<uint8_t> Reader::ReadBytes(size_t n) {
  Require(n);
  std::vector<uint8_t> out(n);
  Read(out.data(), n);
  return out;
}

std::string Reader::ReadText(size_t n) {
  Require(n);
  std::string out(n, '\0');
  Read(out.data(), n);
  return out;
}

uint8_t Reader::U8() {
  uint8_t v;
  Read(&v, 1);
  return v;
}

uint16_t Reader::U16(ByteOrder o) {
  uint8_t b[2];
  Read(b, 2);
  return Get16(b, o);
}

uint32_t Reader::SlowU32(ByteOrder o) {
  uint8_t b[4];
  Read(b, 4);
  return Get32(b, o);
}

uint64_t Reader::U64(ByteOrder o) {
  uint8_t b[8];
  Read(b, 8);
  return Get64(b, o);
}

std::string Reader::CString(size_t window) {
  uint64_t avail = Remaining();
  size_t len = static_cast<size_t>(std::min<uint64_t>(window, avail));
  std::string chunk(len, '\0');
  uint64_t start = pos_;
  Read(chunk.data(), len);
  size_t zero = chunk.find('\0');
  if (zero != std::string::npos) {
    pos_ = start + zero + 1;
    chunk.resize(zero);
    return chunk;
  }
  if (len < window) {
    pos_ = start;
    throw Error("Unterminated text at position " + std::to_string(start) + ".",
                ErrorKind::kDamagedData);
  }
  return chunk;
}

}  // namespace kestrix

namespace kestrix {

std::string Reader::CStringToEnd(size_t window) {
  if (Remaining() >= window) return CString(window);
  std::string rest = ReadText(static_cast<size_t>(Remaining()));
  size_t zero = rest.find('\0');
  if (zero != std::string::npos) {
    pos_ -= rest.size() - zero - 1;
    rest.resize(zero);
  }
  return rest;
}

}  // namespace kestrix
