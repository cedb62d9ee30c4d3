// What the window says about a sound: its container and codec, channels, sample rate and
// length, read from the clip's own fields where it has them (engine 5 on) and otherwise from
// the headers of the sound itself.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/byte_order.h"

namespace kestrix {

struct SoundInfo {
  std::string format;     // "Ogg Vorbis", "WAV PCM 16-bit", "FSB5 Vorbis", ...
  int channels = 0;       // 0 when unknown
  int frequency = 0;      // samples a second; 0 when unknown
  double seconds = -1;    // negative when unknown
  bool playable = false;  // Ogg Vorbis, or WAV of 8- or 16-bit PCM
};

// From the sound's first bytes and, for the length of an Ogg stream, its last page: the
// container's own headers. Never throws; what the bytes do not say stays unknown.
SoundInfo SoundInfoOfData(const uint8_t* data, size_t size);

// Engine 5 and later keep channels, rate and length among the clip's fields, and the codec
// after its resource record; `record_fields_at` is where that record's offset field lies.
void AddClipFields(const uint8_t* payload, size_t size, ByteOrder order, size_t record_fields_at,
                   SoundInfo* info);

// "Ogg Vorbis, 2 channels, 44100 Hz, 1:02.5".
std::string SoundCaption(const SoundInfo& info);

}  // namespace kestrix
