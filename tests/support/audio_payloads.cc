#include "support/audio_payloads.h"

#include <array>

namespace kestrix::testing {

Bytes EmbeddedClipPayload(const Bytes& sound, bool big_endian) {
  ByteWriter w(big_endian);
  w.I32(2);                // format
  w.I32(14);               // type (Ogg Vorbis)
  w.U8(0).U8(0).Align(4);  // 3D, use hardware
  w.I32(0);                // stream: embedded
  w.U32(static_cast<uint32_t>(sound.size())).Raw(sound).Align(4);
  return w.Take();
}

Bytes LegacyResourceClipPayload(uint32_t length, uint32_t offset, bool big_endian) {
  ByteWriter w(big_endian);
  w.I32(2).I32(20).U8(0).U8(0).Align(4).I32(2);  // format, type, flags, stream: from the resource
  w.U32(length).U32(offset);
  return w.Take();
}

Bytes ResourceRecordClipPayload(const std::string& source, uint64_t offset, uint64_t length,
                                bool big_endian) {
  ByteWriter w(big_endian);
  w.I32(1);                      // load type
  w.I32(1);                      // channels
  w.I32(44100);                  // frequency
  w.I32(16);                     // bits per sample
  w.F32(1.5f);                   // length in seconds
  w.U8(0).Align(4);              // tracker format
  w.I32(0);                      // sub-sound index
  w.U8(1).U8(0).U8(0).Align(4);  // preload, load in background, legacy 3D
  w.Str(source);
  w.U64(offset).U64(length);
  w.I32(1);  // compression format
  return w.Take();
}

namespace {

// Vorbis packs its header fields least significant bit first.
class BitWriter {
 public:
  void Put(uint32_t value, int bits) {
    for (int i = 0; i < bits; ++i) {
      if (used_ == 0) bytes_.push_back(0);
      if ((value >> i) & 1) bytes_.back() |= static_cast<uint8_t>(1u << used_);
      used_ = (used_ + 1) % 8;
    }
  }
  void Text(const char* s) {
    while (*s) Put(static_cast<uint8_t>(*s++), 8);
  }
  Bytes Take() { return std::move(bytes_); }

 private:
  Bytes bytes_;
  int used_ = 0;
};

uint32_t OggCrc(const Bytes& page) {
  static const std::array<uint32_t, 256> table = [] {
    std::array<uint32_t, 256> t{};
    for (uint32_t i = 0; i < 256; ++i) {
      uint32_t r = i << 24;
      for (int j = 0; j < 8; ++j) r = (r & 0x80000000u) ? (r << 1) ^ 0x04C11DB7u : r << 1;
      t[i] = r;
    }
    return t;
  }();
  uint32_t crc = 0;
  for (uint8_t b : page) crc = (crc << 8) ^ table[((crc >> 24) ^ b) & 0xFF];
  return crc;
}

// One page holding whole packets (each under 255 * 255 bytes).
Bytes OggPage(const std::vector<Bytes>& packets, uint8_t flags, uint64_t granule, uint32_t serial,
              uint32_t sequence) {
  Bytes lacing, body;
  for (const Bytes& p : packets) {
    size_t left = p.size();
    while (left >= 255) {
      lacing.push_back(255);
      left -= 255;
    }
    lacing.push_back(static_cast<uint8_t>(left));
    body.insert(body.end(), p.begin(), p.end());
  }
  ByteWriter w;
  w.Text("OggS").U8(0).U8(flags).U64(granule).U32(serial).U32(sequence).U32(0);
  w.U8(static_cast<uint8_t>(lacing.size())).Raw(lacing).Raw(body);
  Bytes page = w.Take();
  uint32_t crc = OggCrc(page);
  for (int i = 0; i < 4; ++i) page[22 + i] = static_cast<uint8_t>(crc >> (8 * i));
  return page;
}

}  // namespace

Bytes SilentOggVorbis(uint32_t sample_rate, int audio_packets, uint32_t serial) {
  BitWriter id;
  id.Put(1, 8);
  id.Text("vorbis");
  id.Put(0, 32);  // version
  id.Put(1, 8);   // channels
  id.Put(sample_rate, 32);
  id.Put(0, 32);  // maximum bitrate
  id.Put(0, 32);  // nominal bitrate
  id.Put(0, 32);  // minimum bitrate
  id.Put(8, 4);   // short blocks of 256 samples
  id.Put(11, 4);  // long blocks of 2048 samples
  id.Put(1, 1);   // framing

  BitWriter comment;
  const char vendor[] = "Kestrix test builder";
  comment.Put(3, 8);
  comment.Text("vorbis");
  comment.Put(sizeof vendor - 1, 32);
  comment.Text(vendor);
  comment.Put(0, 32);  // no user comments
  comment.Put(1, 1);   // framing

  // The smallest setup a decoder takes: one two-entry codebook, one floor 1 without
  // partitions, one residue 0, one mapping and one short-block mode.
  BitWriter setup;
  setup.Put(5, 8);
  setup.Text("vorbis");
  setup.Put(0, 8);  // one codebook
  setup.Put(0x564342, 24);
  setup.Put(1, 16);  // dimensions
  setup.Put(2, 24);  // entries
  setup.Put(0, 1);   // not ordered
  setup.Put(0, 1);   // not sparse
  setup.Put(0, 5);   // entry 0: length 1
  setup.Put(0, 5);   // entry 1: length 1
  setup.Put(0, 4);   // no lookup
  setup.Put(0, 6);   // one time-domain placeholder
  setup.Put(0, 16);
  setup.Put(0, 6);   // one floor
  setup.Put(1, 16);  // floor type 1
  setup.Put(0, 5);   // no partitions
  setup.Put(1, 2);   // multiplier 2
  setup.Put(7, 4);   // range bits
  setup.Put(0, 6);   // one residue
  setup.Put(0, 16);  // residue type 0
  setup.Put(0, 24);  // begin
  setup.Put(0, 24);  // end
  setup.Put(0, 24);  // partition size 1
  setup.Put(0, 6);   // one classification
  setup.Put(0, 8);   // classbook 0
  setup.Put(0, 3);   // cascade: no books
  setup.Put(0, 1);
  setup.Put(0, 6);   // one mapping
  setup.Put(0, 16);  // mapping type 0
  setup.Put(0, 1);   // one submap
  setup.Put(0, 1);   // no coupling
  setup.Put(0, 2);   // reserved
  setup.Put(0, 8);   // submap 0: time placeholder
  setup.Put(0, 8);   // floor 0
  setup.Put(0, 8);   // residue 0
  setup.Put(0, 6);   // one mode
  setup.Put(0, 1);   // short blocks
  setup.Put(0, 16);  // window type
  setup.Put(0, 16);  // transform type
  setup.Put(0, 8);   // mapping 0
  setup.Put(1, 1);   // framing

  // An audio packet of one zero byte: audio type, the only mode, floor unused: silence.
  std::vector<Bytes> audio(static_cast<size_t>(audio_packets), Bytes{0});
  uint64_t samples = audio_packets > 1 ? uint64_t(audio_packets - 1) * 128 : 0;

  Bytes out = OggPage({id.Take()}, 0x02, 0, serial, 0);
  Bytes headers = OggPage({comment.Take(), setup.Take()}, 0x00, 0, serial, 1);
  Bytes last = OggPage(audio, 0x04, samples, serial, 2);
  out.insert(out.end(), headers.begin(), headers.end());
  out.insert(out.end(), last.begin(), last.end());
  return out;
}

Bytes PcmWav(uint32_t sample_rate, uint32_t samples) {
  ByteWriter w;
  w.Text("RIFF").U32(36 + samples * 2).Text("WAVE");
  w.Text("fmt ").U32(16).U16(1).U16(1).U32(sample_rate).U32(sample_rate * 2).U16(2).U16(16);
  w.Text("data").U32(samples * 2);
  for (uint32_t i = 0; i < samples; ++i) w.U16(static_cast<uint16_t>((i * 97) & 0x3FFF));
  return w.Take();
}

}  // namespace kestrix::testing
