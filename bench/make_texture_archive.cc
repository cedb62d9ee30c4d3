// Writes an asset file of DXT5 textures for the picture benchmark, with the archive builder:
//   make_texture_archive <file> <count> <side> [level0 file]
// Each texture is side x side with its whole level chain, a noisy picture that every block
// encodes differently. With a fourth argument the first texture's top level is also written
// there alone, for the decoding benchmark.
#include <cstdio>
#include <string>

#include "support/asset_builder.h"
#include "support/texture_payloads.h"

using kestrix::testing::Bytes;
using kestrix::testing::Rgba;

int main(int argc, char** argv) {
  if (argc != 4 && argc != 5) {
    std::fprintf(stderr, "usage: make_texture_archive <file> <count> <side> [level0 file]\n");
    return 2;
  }
  const int count = std::stoi(argv[2]), side = std::stoi(argv[3]);
  int levels = 1;
  while ((side >> (levels - 1)) > 1) ++levels;
  kestrix::testing::AssetSpec desc;
  for (int t = 0; t < count; ++t) {
    kestrix::testing::TextureSpec texture;
    texture.width = texture.height = side;
    texture.format = 12;
    texture.mip = static_cast<uint32_t>(levels);
    texture.images =
        kestrix::testing::EncodeDxt(12, side, side, levels, [t](int x, int y, int level) {
          uint32_t h = static_cast<uint32_t>(x * 73856093 ^ y * 19349663 ^ (level + t) * 83492791);
          h ^= h >> 13;
          return Rgba{static_cast<uint8_t>(x / 4 + (h & 15)),
                      static_cast<uint8_t>(y / 4 + (h >> 4 & 15)), static_cast<uint8_t>(h >> 8),
                      static_cast<uint8_t>(200 + (h >> 16 & 55))};
        });
    if (t == 0 && argc == 5)
      kestrix::testing::WriteFileBytes(
          argv[4],
          Bytes(texture.images.begin(), texture.images.begin() + static_cast<long>(side) * side));
    desc.objects.push_back(
        {28, kestrix::testing::TextureObject("tex" + std::to_string(t), texture)});
  }
  kestrix::testing::WriteFileBytes(argv[1], kestrix::testing::BuildAssetFile(desc));
  return 0;
}
