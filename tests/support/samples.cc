#include "support/samples.h"

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
  return out;
}

void WriteSamples(const std::string& folder) {
  for (const auto& [name, bytes] : SampleArchives()) WriteFileBytes(folder + "/" + name, bytes);
}

}  // namespace kestrix::testing
