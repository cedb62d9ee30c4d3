#include "support/samples.h"

#include "support/bundle_builder.h"

namespace kestrix::testing {

std::vector<std::pair<std::string, Bytes>> SampleArchives() {
  std::vector<std::pair<std::string, Bytes>> out;
  AssetSpec demo;
  demo.format = 17;
  demo.unity_version = "5.6.3f1";
  demo.platform = 5;
  ByteWriter text;
  const std::string story = "Kestrix demo text asset.\r\nLine two.\r\n";
  text.Str(story);
  demo.objects.push_back({49, NamedObject("readme", text.Data())});
  demo.objects.push_back({21, NamedObject("Wood", Bytes(32, 0x11))});
  demo.objects.push_back({21, NamedObject("wood", Bytes(32, 0x22))});
  demo.objects.push_back({1, Bytes(24, 0x33)});
  demo.objects.push_back({-3, Bytes(40, 0x44)});
  demo.objects.push_back({115, NamedObject("PlayerController", Bytes(16, 0x55))});
  out.emplace_back("demo.assets", BuildAssetFile(demo));

  // The same asset file in a chunk-compressed bundle, with a resource file beside it, as game
  // bundles come; opening it unpacks it into demo.unity3d.TEMP.
  BundleV6Spec bundle;
  bundle.engine_version = "5.6.3f1";
  bundle.flags = 0x43;
  bundle.codec = BlockCodec::kLz4Hc;
  bundle.block_size = 1024;
  Bytes resource;
  for (int i = 0; i < 4096; ++i) resource.push_back(static_cast<uint8_t>((i * i) >> 4));
  bundle.files = {{"archive:/CAB-kestrixdemo/CAB-kestrixdemo", BuildAssetFile(demo)},
                  {"archive:/CAB-kestrixdemo/CAB-kestrixdemo.resS", resource, 0}};
  out.emplace_back("demo.unity3d", BuildBundleV6(bundle).bytes);
  return out;
}

void WriteSamples(const std::string& folder) {
  for (const auto& [name, bytes] : SampleArchives()) WriteFileBytes(folder + "/" + name, bytes);
}

}  // namespace kestrix::testing
