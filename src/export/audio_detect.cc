#include "export/audio_detect.h"

#include <cstring>

#include "platform/reader.h"

namespace kestrix {

std::string DetectAudioExtension(const uint8_t* data, size_t size) {
  if (size < 4) return std::string();
  struct Signature {
    char bytes[5];
    const char* extension;
  };
  // Only version 2.3 ID3 tags are taken for MP3 here; other tag versions fall to the frame test.
  static const Signature kSignatures[] = {
      {"OggS", ".ogg"}, {"RIFF", ".wav"}, {"FORM", ".aif"}, {"FSB5", ".fsb"}, {"ID3\x03", ".mp3"},
  };
  for (const Signature& s : kSignatures)
    if (std::memcmp(data, s.bytes, 4) == 0) return s.extension;
  if (data[0] == 0xFF) return ".mp3";
  // Web builds keep their clips as AAC in an MP4 file, whose first box is "ftyp".
  if (size >= 8 && std::memcmp(data + 4, "ftyp", 4) == 0) return ".m4a";
  return std::string();
}

std::string DetectAudioExtension(Reader& stream) {
  uint8_t head[8];
  const size_t n = stream.Remaining() < sizeof head ? static_cast<size_t>(stream.Remaining())
                                                    : sizeof head;
  if (n < 4) return std::string();
  uint64_t at = stream.Tell();
  stream.Read(head, n);
  stream.Seek(at);
  return DetectAudioExtension(head, n);
}

}  // namespace kestrix
