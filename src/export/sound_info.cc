#include "export/sound_info.h"

#include <cmath>
#include <cstdio>
#include <cstring>

namespace kestrix {

namespace {

constexpr size_t kOggPageHeader = 27;
// An Ogg page is at most 27 + 255 + 255 * 255 bytes: the last one starts within this distance.
constexpr size_t kOggLastPageReach = 65307;

bool Starts(const uint8_t* data, size_t size, const char* tag) {
  const size_t n = std::strlen(tag);
  return size >= n && std::memcmp(data, tag, n) == 0;
}

uint64_t Get64Le(const uint8_t* p) {
  return uint64_t{Get32(p, ByteOrder::Little)} | uint64_t{Get32(p + 4, ByteOrder::Little)} << 32;
}

// The granule position of an Ogg Vorbis stream's last page is its length in samples.
void ReadOgg(const uint8_t* data, size_t size, SoundInfo* info) {
  info->format = "Ogg";
  if (size < kOggPageHeader) return;
  const size_t packet = kOggPageHeader + data[26];
  if (packet + 16 > size || !Starts(data + packet, size - packet, "\x01vorbis")) return;
  info->format = "Ogg Vorbis";
  info->channels = data[packet + 11];
  info->frequency = static_cast<int>(Get32(data + packet + 12, ByteOrder::Little));
  info->playable = info->channels > 0 && info->frequency > 0;
  const uint32_t serial = Get32(data + 14, ByteOrder::Little);
  const size_t floor = size > kOggLastPageReach ? size - kOggLastPageReach : 0;
  for (size_t at = size - kOggPageHeader + 1; at-- > floor;) {
    if (!Starts(data + at, size - at, "OggS") || Get32(data + at + 14, ByteOrder::Little) != serial)
      continue;
    const uint64_t granule = Get64Le(data + at + 6);
    if (granule == ~uint64_t{0}) continue;  // no packet ends on this page
    if (info->frequency > 0) info->seconds = static_cast<double>(granule) / info->frequency;
    return;
  }
}

void ReadWav(const uint8_t* data, size_t size, SoundInfo* info) {
  info->format = "WAV";
  if (size < 12 || std::memcmp(data + 8, "WAVE", 4) != 0) return;
  uint32_t byte_rate = 0;
  uint16_t tag = 0, bits = 0;
  for (size_t at = 12; at + 8 <= size;) {
    const uint32_t length = Get32(data + at + 4, ByteOrder::Little);
    const uint8_t* body = data + at + 8;
    const size_t left = size - at - 8;
    if (std::memcmp(data + at, "fmt ", 4) == 0 && left >= 16) {
      tag = Get16(body, ByteOrder::Little);
      info->channels = Get16(body + 2, ByteOrder::Little);
      info->frequency = static_cast<int>(Get32(body + 4, ByteOrder::Little));
      byte_rate = Get32(body + 8, ByteOrder::Little);
      bits = Get16(body + 14, ByteOrder::Little);
      // The extensible form names its real format in the first two bytes of its sub-format.
      if (tag == 0xFFFE && left >= 26 && length >= 26) tag = Get16(body + 24, ByteOrder::Little);
    } else if (std::memcmp(data + at, "data", 4) == 0) {
      // A stream written before its length was known says 0 or too much: what is there counts.
      const uint64_t bytes = length == 0 || length > left ? left : length;
      if (byte_rate > 0) info->seconds = static_cast<double>(bytes) / byte_rate;
      break;
    }
    at += 8 + uint64_t{length} + (length & 1);
  }
  char name[48];
  if (tag == 1 || tag == 3) {
    std::snprintf(name, sizeof name, "WAV %s %u-bit", tag == 1 ? "PCM" : "float", unsigned{bits});
  } else {
    std::snprintf(name, sizeof name, "WAV format 0x%04X", unsigned{tag});
  }
  info->format = name;
  info->playable = tag == 1 && (bits == 8 || bits == 16) && info->channels > 0 &&
                   info->frequency > 0 && byte_rate > 0;
}

}  // namespace

SoundInfo SoundInfoOfData(const uint8_t* data, size_t size) {
  SoundInfo info;
  if (Starts(data, size, "OggS")) {
    ReadOgg(data, size, &info);
  } else if (Starts(data, size, "RIFF")) {
    ReadWav(data, size, &info);
  } else if (Starts(data, size, "FSB5")) {
    info.format = "FSB5";
  } else if (Starts(data, size, "FORM")) {
    info.format = "AIFF";
  } else if (size >= 4 && (Starts(data, size, "ID3") || data[0] == 0xFF)) {
    info.format = "MP3";
  } else {
    info.format = "unknown sound format";
  }
  return info;
}

void AddClipFields(const uint8_t* p, size_t size, ByteOrder order, size_t record_fields_at,
                   SoundInfo* info) {
  static const char* const kCodecs[] = {"PCM",   "Vorbis", "ADPCM", "MP3",     "VAG",
                                        "HEVAG", "XMA",    "AAC",   "GCADPCM", "ATRAC9"};
  if (size < 20) return;
  const int32_t channels = static_cast<int32_t>(Get32(p + 4, order));
  const int32_t frequency = static_cast<int32_t>(Get32(p + 8, order));
  const uint32_t length_bits = Get32(p + 16, order);
  float length;
  std::memcpy(&length, &length_bits, sizeof length);
  if (channels > 0 && channels <= 64) info->channels = channels;
  if (frequency > 0 && frequency <= 1'000'000) info->frequency = frequency;
  if (std::isfinite(length) && length >= 0) info->seconds = length;
  if (record_fields_at + 20 <= size) {
    const uint32_t codec = Get32(p + record_fields_at + 16, order);
    if (codec < sizeof kCodecs / sizeof *kCodecs) info->format += std::string(" ") + kCodecs[codec];
  }
}

std::string SoundCaption(const SoundInfo& info) {
  std::string text = info.format;
  if (info.channels > 0)
    text += ", " + std::to_string(info.channels) + (info.channels == 1 ? " channel" : " channels");
  if (info.frequency > 0) text += ", " + std::to_string(info.frequency) + " Hz";
  if (info.seconds >= 0) {
    const long tenths = std::lround(info.seconds * 10);
    char length[32];
    std::snprintf(length, sizeof length, ", %ld:%02ld.%ld", tenths / 600, tenths / 10 % 60,
                  tenths % 10);
    text += length;
  }
  return text;
}

}  // namespace kestrix
