// Byte swaps and the two byte orders archive data comes in.
#pragma once

#include <cstdint>

namespace kestrix {

enum class ByteOrder { Little, Big };

inline uint16_t Swap16(uint16_t v) { return __builtin_bswap16(v); }
inline uint32_t Swap32(uint32_t v) { return __builtin_bswap32(v); }
inline uint64_t Swap64(uint64_t v) { return __builtin_bswap64(v); }

// The host is little-endian (x86-64, AArch64); values in big-endian order need a swap.
inline uint16_t FromOrder16(uint16_t v, ByteOrder o) { return o == ByteOrder::Big ? Swap16(v) : v; }
inline uint32_t FromOrder32(uint32_t v, ByteOrder o) { return o == ByteOrder::Big ? Swap32(v) : v; }
inline uint64_t FromOrder64(uint64_t v, ByteOrder o) { return o == ByteOrder::Big ? Swap64(v) : v; }

inline void Put16(uint8_t* p, uint16_t v, ByteOrder o) {
  v = FromOrder16(v, o);
  __builtin_memcpy(p, &v, 2);
}
inline void Put32(uint8_t* p, uint32_t v, ByteOrder o) {
  v = FromOrder32(v, o);
  __builtin_memcpy(p, &v, 4);
}
inline void Put64(uint8_t* p, uint64_t v, ByteOrder o) {
  v = FromOrder64(v, o);
  __builtin_memcpy(p, &v, 8);
}
inline uint16_t Get16(const uint8_t* p, ByteOrder o) {
  uint16_t v;
  __builtin_memcpy(&v, p, 2);
  return FromOrder16(v, o);
}
inline uint32_t Get32(const uint8_t* p, ByteOrder o) {
  uint32_t v;
  __builtin_memcpy(&v, p, 4);
  return FromOrder32(v, o);
}
// Image file headers (DDS, KTX, PVR) are little-endian whatever the archive's order.
inline uint32_t GetLe32(const uint8_t* p) { return Get32(p, ByteOrder::Little); }
inline uint64_t Get64(const uint8_t* p, ByteOrder o) {
  uint64_t v;
  __builtin_memcpy(&v, p, 8);
  return FromOrder64(v, o);
}

}  // namespace kestrix
