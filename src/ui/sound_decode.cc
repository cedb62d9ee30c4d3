#include "ui/sound_decode.h"

#include <vorbis/vorbisfile.h>

#include <algorithm>
#include <cstring>

#include "core/error.h"
#include "platform/byte_order.h"

namespace kestrix {

namespace {

// libvorbisfile reads through these callbacks from the bytes in memory.
struct MemoryStream {
  const std::vector<uint8_t>& data;
  size_t at = 0;
};

size_t ReadMemory(void* out, size_t size, size_t count, void* stream) {
  MemoryStream& m = *static_cast<MemoryStream*>(stream);
  const size_t n = std::min(size * count, m.data.size() - m.at);
  std::memcpy(out, m.data.data() + m.at, n);
  m.at += n;
  return size == 0 ? 0 : n / size;
}

int SeekMemory(void* stream, ogg_int64_t offset, int whence) {
  MemoryStream& m = *static_cast<MemoryStream*>(stream);
  const int64_t base = whence == SEEK_SET   ? 0
                       : whence == SEEK_CUR ? int64_t(m.at)
                                            : int64_t(m.data.size());
  if (base + offset < 0 || base + offset > int64_t(m.data.size())) return -1;
  m.at = static_cast<size_t>(base + offset);
  return 0;
}

long TellMemory(void* stream) { return static_cast<long>(static_cast<MemoryStream*>(stream)->at); }

PcmSound DecodeVorbis(const std::vector<uint8_t>& file) {
  MemoryStream stream{file};
  OggVorbis_File vf;
  const ov_callbacks callbacks{ReadMemory, SeekMemory, nullptr, TellMemory};
  if (ov_open_callbacks(&stream, &vf, nullptr, 0, callbacks) != 0)
    throw Error("The Ogg Vorbis stream cannot be decoded.");
  PcmSound pcm;
  const vorbis_info* info = ov_info(&vf, -1);
  pcm.channels = info->channels;
  pcm.frequency = static_cast<int>(info->rate);
  char buffer[16384];
  int section = 0;
  for (;;) {
    const long n = ov_read(&vf, buffer, sizeof buffer, 0, 2, 1, &section);
    if (n == OV_HOLE) continue;  // a gap in the data: decoding goes on after it
    if (n <= 0) break;
    const size_t was = pcm.samples.size();
    pcm.samples.resize(was + static_cast<size_t>(n) / 2);
    std::memcpy(pcm.samples.data() + was, buffer, static_cast<size_t>(n) / 2 * 2);
  }
  ov_clear(&vf);
  return pcm;
}

PcmSound DecodeWav(const std::vector<uint8_t>& file) {
  PcmSound pcm;
  int bits = 0, tag = 0;
  for (size_t at = 12; at + 8 <= file.size();) {
    const uint32_t length = GetLe32(file.data() + at + 4);
    const uint8_t* body = file.data() + at + 8;
    const size_t left = file.size() - at - 8;
    if (std::memcmp(file.data() + at, "fmt ", 4) == 0 && left >= 16) {
      tag = Get16(body, ByteOrder::Little);
      pcm.channels = Get16(body + 2, ByteOrder::Little);
      pcm.frequency = static_cast<int>(GetLe32(body + 4));
      bits = Get16(body + 14, ByteOrder::Little);
      if (tag == 0xFFFE && left >= 26) tag = Get16(body + 24, ByteOrder::Little);
    } else if (std::memcmp(file.data() + at, "data", 4) == 0) {
      if (tag != 1 || (bits != 8 && bits != 16) || pcm.channels <= 0 || pcm.frequency <= 0) break;
      const size_t bytes = length == 0 || length > left ? left : length;
      if (bits == 8) {
        for (size_t i = 0; i < bytes; ++i) pcm.samples.push_back(int16_t((body[i] - 128) * 256));
      } else {
        for (size_t i = 0; i + 1 < bytes; i += 2)
          pcm.samples.push_back(static_cast<int16_t>(Get16(body + i, ByteOrder::Little)));
      }
      return pcm;
    }
    at += 8 + uint64_t{length} + (length & 1);
  }
  throw Error("Only WAV files of 8- or 16-bit PCM are played.");
}

}  // namespace

PcmSound DecodeSound(const std::vector<uint8_t>& file) {
  if (file.size() >= 12 && std::memcmp(file.data(), "OggS", 4) == 0) return DecodeVorbis(file);
  if (file.size() >= 12 && std::memcmp(file.data(), "RIFF", 4) == 0) return DecodeWav(file);
  throw Error("Only Ogg Vorbis and WAV sounds are played.");
}

}  // namespace kestrix
