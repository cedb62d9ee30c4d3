// Writes the bundles the bundle-open benchmark measures, with the archive builder:
//   make_bench_bundle lz4  <folder> <megabytes>   UnityFS, LZ4 blocks of 128 KiB
//   make_bench_bundle lzma <folder> <megabytes>   UnityWeb version 3, one LZMA stream
// The megabytes are the bundle's target size. Beside the bundle it writes what the reference
// tools decode: data.bin (the block data, for lz4 to compress into a frame) or stream.lzma (the
// bundle's own LZMA stream, which is already a .lzma file).
#include <cstdio>
#include <string>

#include "game_data.h"
#include "support/bundle_builder.h"

using kestrix::testing::Bytes;

namespace {

Bytes SmallAsset() {
  kestrix::testing::AssetSpec desc;
  for (int i = 0; i < 200; ++i)
    desc.objects.push_back(
        {i % 2 ? 21 : 28, kestrix::testing::NamedObject("obj" + std::to_string(i), Bytes(256, 7))});
  return kestrix::testing::BuildAssetFile(desc);
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 4) {
    std::fprintf(stderr, "usage: make_bench_bundle lz4|lzma <folder> <megabytes>\n");
    return 2;
  }
  const std::string mode = argv[1], folder = argv[2];
  const size_t target = std::stoul(argv[3]) << 20;
  // The data compresses to about 45 % with LZ4 and to about a third with LZMA.
  const size_t data_size = mode == "lz4" ? target * 22 / 10 : target * 3;
  std::vector<kestrix::testing::BundleEntry> files = {
      {"archive:/CAB-bench/CAB-bench", SmallAsset()},
      {"archive:/CAB-bench/CAB-bench.resS", GameData(data_size, 1), 0}};
  if (mode == "lz4") {
    kestrix::testing::BundleV6Spec desc;
    desc.flags = 0x43;
    desc.codec = kestrix::testing::BlockCodec::kLz4;
    desc.block_size = 128 * 1024;
    desc.files = files;
    Bytes data;
    for (const auto& f : files) data.insert(data.end(), f.data.begin(), f.data.end());
    kestrix::testing::WriteFileBytes(folder + "/bundle.unity3d",
                                     kestrix::testing::BuildBundleV6(desc).bytes);
    kestrix::testing::WriteFileBytes(folder + "/data.bin", data);
  } else if (mode == "lzma") {
    kestrix::testing::BundleV3Spec desc;
    desc.signature = "UnityWeb";
    desc.dictionary = 8u << 20;
    desc.files = files;
    kestrix::testing::BuiltBundle built = kestrix::testing::BuildBundleV3(desc);
    kestrix::testing::WriteFileBytes(folder + "/bundle.unity3d", built.bytes);
    kestrix::testing::WriteFileBytes(
        folder + "/stream.lzma",
        Bytes(built.bytes.begin() + static_cast<long>(built.data_start), built.bytes.end()));
  } else {
    std::fprintf(stderr, "unknown mode %s\n", mode.c_str());
    return 2;
  }
  return 0;
}
