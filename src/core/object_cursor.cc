#include "core/object_cursor.h"

#include <cstring>

#include "core/error.h"
#include "platform/reader.h"

namespace kestrix {

ObjectCursor::ObjectCursor(Reader& reader, uint64_t start, uint64_t limit, ByteOrder order)
    : r_(reader),
      start_(start),
      limit_(limit < reader.Size() ? limit : reader.Size()),
      order_(order) {
  if (start_ > limit_) start_ = limit_;
  r_.Seek(start_);
}

ObjectCursor::ObjectCursor(Reader& reader, ByteOrder order)
    : ObjectCursor(reader, reader.Tell(), reader.Size(), order) {}

uint64_t ObjectCursor::Tell() const { return r_.Tell(); }

uint64_t ObjectCursor::Remaining() const {
  const uint64_t pos = r_.Tell();
  return pos >= start_ && pos < limit_ ? limit_ - pos : 0;
}

void ObjectCursor::Seek(uint64_t pos) { r_.Seek(pos); }

void ObjectCursor::Need(uint64_t n) const {
  const uint64_t pos = r_.Tell();
  if (!Fits(pos, n))
    throw Error("Read past the end of the object: " + std::to_string(n) + " bytes at position " +
                    std::to_string(pos) + ", the object ends at " + std::to_string(limit_) + ".",
                ErrorKind::kDamagedData);
}

uint8_t ObjectCursor::U8() {
  Need(1);
  return r_.U8();
}

uint16_t ObjectCursor::U16() {
  Need(2);
  return r_.U16(order_);
}

uint32_t ObjectCursor::U32() {
  Need(4);
  return r_.U32(order_);
}

uint64_t ObjectCursor::U64() {
  Need(8);
  return r_.U64(order_);
}

float ObjectCursor::F32() {
  const uint32_t bits = U32();
  float f;
  std::memcpy(&f, &bits, 4);
  return f;
}

void ObjectCursor::Read(void* dst, size_t n) {
  Need(n);
  r_.Read(dst, n);
}

std::vector<uint8_t> ObjectCursor::Bytes(size_t n) {
  Need(n);
  return r_.ReadBytes(n);
}

std::string ObjectCursor::Text(size_t n) {
  Need(n);
  return r_.ReadText(n);
}

void ObjectCursor::Skip(uint64_t n) {
  Need(n);
  r_.Skip(n);
}

void ObjectCursor::Align() { Skip((4 - (r_.Tell() - start_) % 4) % 4); }

uint32_t ObjectCursor::Count(uint64_t element_size) {
  const uint32_t count = U32();
  if (uint64_t{count} * element_size > Remaining())
    throw Error("An array of " + std::to_string(count) + " elements of " +
                    std::to_string(element_size) + " bytes runs past the end of the object.",
                ErrorKind::kDamagedData);
  return count;
}

std::string ObjectCursor::String() {
  const uint32_t length = Count(1);
  std::string text = r_.ReadText(length);
  Align();
  return text;
}

void ObjectCursor::SkipString() {
  Skip(Count(1));
  Align();
}

std::vector<uint8_t> ObjectCursor::ByteArray() {
  const uint32_t count = Count(1);
  std::vector<uint8_t> bytes;
  if (count > 0) bytes = r_.ReadBytes(count);
  Align();
  return bytes;
}

void ObjectCursor::SkipArray(uint64_t element_size) {
  Skip(uint64_t{Count(element_size)} * element_size);
  Align();
}

bool ObjectCursor::TryU32At(uint64_t pos, ByteOrder order, uint32_t* out) {
  if (!Fits(pos, 4)) return false;
  r_.Seek(pos);
  *out = r_.U32(order);
  return true;
}

bool ObjectCursor::TryBytesAt(uint64_t pos, void* dst, size_t n) {
  if (!Fits(pos, n)) return false;
  r_.Seek(pos);
  r_.Read(dst, n);
  return true;
}

void ObjectWriter::U16(uint16_t v) {
  uint8_t b[2];
  Put16(b, v, order_);
  Bytes(b, 2);
}

void ObjectWriter::U32(uint32_t v) {
  uint8_t b[4];
  Put32(b, v, order_);
  Bytes(b, 4);
}

void ObjectWriter::U64(uint64_t v) {
  uint8_t b[8];
  Put64(b, v, order_);
  Bytes(b, 8);
}

void ObjectWriter::F32(float v) {
  uint32_t bits;
  std::memcpy(&bits, &v, 4);
  U32(bits);
}

void ObjectWriter::Bytes(const void* data, size_t n) {
  const auto* p = static_cast<const uint8_t*>(data);
  bytes_.insert(bytes_.end(), p, p + n);
}

void ObjectWriter::String(std::string_view text) {
  U32(static_cast<uint32_t>(text.size()));
  Bytes(text.data(), text.size());
  Align();
}

void ObjectWriter::ByteArray(const std::vector<uint8_t>& data) {
  U32(static_cast<uint32_t>(data.size()));
  Bytes(data.data(), data.size());
  Align();
}

void ObjectWriter::PatchU32(size_t pos, uint32_t v) {
  if (pos + 4 > bytes_.size()) throw Error("Patch past the end of the object being written.");
  Put32(bytes_.data() + pos, v, order_);
}

}  // namespace kestrix
