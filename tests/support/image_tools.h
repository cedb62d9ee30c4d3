// ImageMagick from tests: what `identify` says of a file and the pixels `convert` decodes.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrix::testing {

bool HaveImageMagick();
// Runs a shell command and returns its standard output ("" when it fails).
std::string CaptureCommand(const std::string& command, int* status = nullptr);
// "W H" of the first image of a file, as identify reads it ("" when it cannot).
std::string IdentifySize(const std::string& path);
// Pillow (the Debian python3-pil of /usr/bin/python3) reads the DDS files of the DX10 extension
// (BC5 to BC7; BC4 only as "ATI1") that ImageMagick 6 refuses. "W H" of each file that it decodes,
// one line per file in the order given: "" for a file it cannot decode.
bool HavePillow();
std::vector<std::string> PillowSizes(const std::vector<std::string>& paths);
// Converts the first image of a file to PNG, then reads the PNG back as 8-bit RGBA, top row
// first. Empty when either step fails.
std::vector<uint8_t> DecodeViaPng(const std::string& path, const std::string& png_path);

}  // namespace kestrix::testing
