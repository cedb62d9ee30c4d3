#include "support/samples.h"

#include "support/payloads.h"

namespace kestrix::testing {

namespace {

Bytes Pattern(size_t n, uint8_t seed) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>(seed + i * 37);
  return b;
}

}  // namespace

std::vector<std::pair<std::string, Bytes>> SampleArchives() {
  std::vector<std::pair<std::string, Bytes>> out;
  AssetSpec demo;
  demo.format = 17;
  demo.unity_version = "5.6.3f1";
  demo.platform = 5;
  auto add = [&](int32_t cls, Bytes data) { demo.objects.push_back({cls, std::move(data)}); };
  add(49, TextObject("readme", "Kestrix demo text asset.\r\nLine two.\r\n"));
  add(49, TextObject("settings", "<?xml version=\"1.0\"?>\n<settings volume=\"0.8\"/>\n"));
  add(48, TextObject("Glow", "Shader \"Demo/Glow\" { SubShader { Pass { } } }\n"));
  add(28, TextureObject("Hero", 10, Pattern(8, 1)));          // DXT1, 4x4
  add(28, TextureObject("Hero_Normal", 12, Pattern(16, 2)));  // DXT5
  add(28, TextureObject("Icon", 4, Pattern(64, 3)));          // RGBA32
  add(28, TextureObject("Mobile", 45, Pattern(8, 4)));        // ETC2 RGB
  add(128, FontObject("Title", FontLayout::kMarker));
  add(128, FontObject("Body", FontLayout::kCharTable));
  add(152, MovieObject("intro", 16));
  add(43, TriangleMeshObject("Triangle"));
  add(83, EmbeddedAudioObject("Click"));
  add(21, NamedObject("Wood", Pattern(32, 5)));
  add(21, NamedObject("wood", Pattern(32, 6)));
  add(21, NamedObject("WOOD", Pattern(32, 7)));
  add(1, Bytes(24, 0x33));
  add(-3, Bytes(40, 0x44));
  add(-3, Bytes(40, 0x45));
  add(114, Bytes(28, 0x46));
  add(115, NamedObject("PlayerController", Bytes(16, 0x55)));
  out.emplace_back("demo.assets", BuildAssetFile(demo));
  return out;
}

void WriteSamples(const std::string& folder) {
  for (const auto& [name, bytes] : SampleArchives()) WriteFileBytes(folder + "/" + name, bytes);
}

}  // namespace kestrix::testing
