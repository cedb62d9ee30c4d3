// Which sound container a clip carries, told by its first bytes. Export names files by it and
// audio import uses it to recognise replacement files.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrix {

class Reader;

// ".ogg", ".wav", ".aif", ".fsb" or ".mp3"; "" when the bytes match none of them (fewer than
// four bytes never match).
std::string DetectAudioExtension(const uint8_t* data, size_t size);
// The same at the stream's position, which is left where it was.
std::string DetectAudioExtension(Reader& stream);

}  // namespace kestrix
