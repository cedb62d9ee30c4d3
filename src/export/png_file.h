// Pictures as PNG files through libpng: written 8-bit RGBA with fast compression, read back as
// 8-bit RGBA whatever colour type and depth the file has.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "export/pixels.h"

namespace kestrix {

std::vector<uint8_t> EncodePng(const RgbaImage& image);
// Writes the file whole; a file that cannot be completed is removed. Throws Error.
void WritePngFile(const std::string& path, const RgbaImage& image);

// Throws Error naming the file when it is not a PNG libpng can read or its picture is larger
// than a texture can be.
// The picture size a PNG file's header (its first 24 bytes) gives, read without decoding
// anything; false when the bytes do not start a PNG file.
struct PngSize {
  uint32_t width = 0, height = 0;
};
bool ReadPngSize(const std::vector<uint8_t>& head, PngSize* size);
inline constexpr size_t kPngSizeBytes = 24;

RgbaImage DecodePng(const std::vector<uint8_t>& file, const std::string& path);
RgbaImage ReadPngFile(const std::string& path);

}  // namespace kestrix
