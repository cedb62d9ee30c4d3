#include "support/samples.h"

#include "support/audio_payloads.h"
#include "support/mesh_payloads.h"

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
