#include "support/samples.h"

#include <algorithm>

#include "support/audio_payloads.h"
#include "support/bundle_builder.h"
#include "support/mesh_payloads.h"
#include "support/payloads.h"
#include "support/texture_payloads.h"

namespace kestrix::testing {

namespace {

// A checkerboard of 8-pixel squares with a red band along the top, so a viewer shows at a glance
// whether the picture came out the right way up. Rows count in stored order, bottom first.
PixelFn Checker(int height) {
  return [height](int x, int y, int level) {
    int h = std::max(height >> level, 1);
    if (y >= h - std::max(h / 8, 1)) return Rgba{220, 30, 30, 255};
    bool dark = ((x << level) / 8 + (y << level) / 8) % 2 != 0;
    return dark ? Rgba{40, 60, 160, 255} : Rgba{235, 235, 210, 255};
  };
}

TextureSpec CheckerTexture(int32_t format, int size, int levels) {
  TextureSpec s;
  s.format = format;
  s.width = s.height = size;
  s.mip = static_cast<uint32_t>(levels);
  s.images = format >= 10 && format <= 12 ? EncodeDxt(format, size, size, levels, Checker(size))
                                          : EncodePixels(format, size, size, levels, Checker(size));
  return s;
}

// One colour in every block: an ETC1-style individual-mode block is valid ETC2 RGB, and ASTC has
// a constant-colour block of its own.
TextureSpec SolidBlocks(int32_t format, int size, int block, const Bytes& one_block) {
  TextureSpec s;
  s.format = format;
  s.width = s.height = size;
  s.mip = 1;
  const int per_side = (size + block - 1) / block;
  for (int i = 0; i < per_side * per_side; ++i)
    s.images.insert(s.images.end(), one_block.begin(), one_block.end());
  return s;
}

AssetSpec TextureDemo() {
  AssetSpec desc;
  desc.format = 17;
  desc.unity_version = "5.6.3f1";
  desc.platform = 13;
  desc.objects.push_back({28, TextureObject("Checker_DXT1", CheckerTexture(10, 64, 7))});
  desc.objects.push_back({28, TextureObject("Checker_DXT5", CheckerTexture(12, 64, 7))});
  desc.objects.push_back({28, TextureObject("Checker_RGBA32", CheckerTexture(4, 32, 1))});
  desc.objects.push_back({28, TextureObject("Checker_RGB24", CheckerTexture(3, 32, 6))});
  desc.objects.push_back(
      {28, TextureObject("Teal_ETC2", SolidBlocks(45, 32, 4, {0x11, 0x88, 0x88, 0, 0, 0, 0, 0}))});
  desc.objects.push_back(
      {28, TextureObject("Amber_ASTC6x6",
                         SolidBlocks(50, 36, 6,
                                     {0xFC, 0xFD, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF,
                                      0x00, 0xB0, 0x00, 0x20, 0xFF, 0xFF}))});
  // Crunched data needs the crunch tool to make; this stands in for one (its header signature
  // and nothing a decoder would accept), enough to show the .crn file export writes.
  TextureSpec crunched;
  crunched.format = 29;
  crunched.width = crunched.height = 64;
  crunched.mip = 1;
  crunched.images = {'H', 'x', 0, 74, 0, 0, 0, 0, 0, 64, 0, 64, 1, 1, 0, 0};
  desc.objects.push_back({28, TextureObject("Crunched_DXT5", crunched)});
  // A cubemap of six RGBA32 faces, each its own colour.
  TextureSpec sky;
  sky.format = 4;
  sky.width = sky.height = 16;
  sky.mip = 1;
  sky.image_count = 6;
  const Rgba faces[6] = {{200, 40, 40, 255},  {40, 200, 40, 255},  {40, 40, 200, 255},
                         {200, 200, 40, 255}, {40, 200, 200, 255}, {200, 40, 200, 255}};
  for (const Rgba& face : faces) {
    Bytes image = EncodePixels(4, 16, 16, 1, [face](int, int, int) { return face; });
    sky.images.insert(sky.images.end(), image.begin(), image.end());
  }
  desc.objects.push_back({89, TextureObject("Sky", sky)});
  ProceduralSpec noise;
  noise.width = noise.height = 8;
  noise.image = EncodePixels(4, 8, 8, 1, Checker(8));
  desc.objects.push_back({186, NamedObject("Noise", ProceduralTexturePayload(noise))});
  return desc;
}

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

  // An Ogg clip inside its object, a WAV clip streamed from a resource file, and a quad mesh.
  AssetSpec media;
  media.format = 17;
  media.unity_version = "5.6.3f1";
  media.platform = 5;
  media.objects.push_back(
      {83, NamedObject("Theme", EmbeddedClipPayload(SilentOggVorbis(22050, 40)))});
  const Bytes wav = PcmWav();
  media.objects.push_back(
      {83, NamedObject("Click",
                       ResourceRecordClipPayload("sounds_and_meshes.resource", 16, wav.size()))});
  MeshSpec quad;
  quad.version = 5;
  quad.vertices = {{-1, -1, 0, 0, 0, -1, 0, 0},
                   {1, -1, 0, 0, 0, -1, 1, 0},
                   {1, 1, 0, 0, 0, -1, 1, 1},
                   {-1, 1, 0, 0, 0, -1, 0, 1}};
  quad.indices = {0, 1, 2, 0, 2, 3};
  quad.sub_meshes = {{0, 6, 0, 4}};
  media.objects.push_back({43, NamedObject("Quad", BuildMeshPayload(quad))});
  out.emplace_back("sounds_and_meshes.assets", BuildAssetFile(media));
  out.emplace_back("textures.assets", BuildAssetFile(TextureDemo()));
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

std::vector<std::pair<std::string, Bytes>> SampleResources() {
  ByteWriter resource;
  resource.Zeros(16).Raw(PcmWav()).Align(16);
  return {{"sounds_and_meshes.resource", resource.Take()}};
}

void WriteSamples(const std::string& folder) {
  for (const auto& [name, bytes] : SampleArchives()) WriteFileBytes(folder + "/" + name, bytes);
  for (const auto& [name, bytes] : SampleResources()) WriteFileBytes(folder + "/" + name, bytes);
}

}  // namespace kestrix::testing
