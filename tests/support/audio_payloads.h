// AudioClip payloads (what follows the clip's name) in their three shapes, and small sound
// files to put in them: a silent Ogg Vorbis stream that real decoders accept, and a PCM WAV.
#pragma once

#include <cstdint>
#include <string>

#include "support/asset_builder.h"

namespace kestrix::testing {

// Engine 4 style: the sound bytes inside the clip (length at 16, data from 20).
Bytes EmbeddedClipPayload(const Bytes& sound, bool big_endian = false);
// Engine 4 streamed clip: exactly 24 bytes, length at 16 and offset at 20 into the ".resS" file.
Bytes LegacyResourceClipPayload(uint32_t length, uint32_t offset, bool big_endian = false);
// Engine 5 and later: a streamed-resource record naming its source file, with a 64-bit offset
// and length.
Bytes ResourceRecordClipPayload(const std::string& source, uint64_t offset, uint64_t length,
                                bool big_endian = false);

// A mono Ogg Vorbis stream of `audio_packets` silent short blocks (128 samples each after the
// first), built bit by bit so that fixtures need no encoder.
Bytes SilentOggVorbis(uint32_t sample_rate = 8000, int audio_packets = 16,
                      uint32_t serial = 0x4b657374);
// A 16-bit mono PCM WAV file holding a short ramp.
Bytes PcmWav(uint32_t sample_rate = 8000, uint32_t samples = 400);

}  // namespace kestrix::testing
