// Sounds as 16-bit samples for the sound output: Ogg Vorbis through libvorbisfile, WAV of 8- or
// 16-bit PCM read directly. Built only when libvorbisfile is there.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrix {

struct PcmSound {
  int channels = 0;
  int frequency = 0;
  std::vector<int16_t> samples;  // interleaved
};

// Throws Error when the sound is neither or cannot be decoded.
PcmSound DecodeSound(const std::vector<uint8_t>& file);

}  // namespace kestrix
