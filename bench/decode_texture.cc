// Decodes one texture level as the window's preview does and prints the time it took:
//   decode_texture <format code> <width> <height> <level file> [runs]
// Best of the runs, in milliseconds.
#include <chrono>
#include <cstdio>
#include <string>

#include "export/pixels.h"
#include "platform/file_ops.h"

int main(int argc, char** argv) {
  if (argc != 5 && argc != 6) {
    std::fprintf(stderr, "usage: decode_texture <format> <width> <height> <level file> [runs]\n");
    return 2;
  }
  const int format = std::stoi(argv[1]), w = std::stoi(argv[2]), h = std::stoi(argv[3]);
  const int runs = argc == 6 ? std::stoi(argv[5]) : 3;
  const std::vector<uint8_t> data = kestrix::ReadWholeFile(argv[4]);
  double best = 1e30;
  for (int i = 0; i < runs; ++i) {
    const auto t0 = std::chrono::steady_clock::now();
    kestrix::RgbaImage image = kestrix::DecodeTextureLevel(format, data.data(), data.size(), w, h);
    const double ms =
        std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - t0).count();
    if (image.pixels.empty()) return 1;
    if (ms < best) best = ms;
  }
  std::printf("%.1f\n", best);
  return 0;
}
