// Writes small seed inputs for the fuzz targets, in each target's input layout, from the
// archive builder and from the texture, sound and mesh payloads of real archives:
//   make_fuzz_seeds <folder> [archive...]   (one subfolder per target)
// The archives are opened where they are (bundles unpack beside them), so pass copies.
#include <lz4.h>

#include <cstdio>
#include <exception>
#include <filesystem>
#include <string>

#include "core/session.h"
#include "export/converter.h"
#include "export/png_file.h"
#include "formats/archive_open.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "support/asset_builder.h"
#include "support/audio_payloads.h"
#include "support/bundle_builder.h"
#include "support/converter_rig.h"
#include "support/mesh_payloads.h"
#include "support/samples.h"
#include "support/test_env.h"
#include "support/texture_payloads.h"

namespace {

using namespace kestrix::testing;

std::string g_root;

void Seed(const std::string& target, const std::string& name, const Bytes& bytes) {
  std::filesystem::create_directories(g_root + "/" + target);
  WriteFileBytes(g_root + "/" + target + "/" + name, bytes);
}

void PutLe32(Bytes& b, uint32_t v) {
  for (int i = 0; i < 4; ++i) b.push_back(static_cast<uint8_t>(v >> (8 * i)));
}

// flags | payload length | payload | resource: the layout of the texture and audio targets.
Bytes Framed(uint8_t flags, const Bytes& payload, const Bytes& resource = {}) {
  Bytes b{flags};
  PutLe32(b, static_cast<uint32_t>(payload.size()));
  b.insert(b.end(), payload.begin(), payload.end());
  b.insert(b.end(), resource.begin(), resource.end());
  return b;
}

Bytes Text(size_t n) {
  const std::string words = "Kestrix opens archives and exports what they hold. ";
  Bytes b;
  while (b.size() < n) b.insert(b.end(), words.begin(), words.end());
  b.resize(n);
  return b;
}

Bytes Ramp(size_t n) {
  Bytes b(n);
  for (size_t i = 0; i < n; ++i) b[i] = static_cast<uint8_t>((i * i) >> 3);
  return b;
}

void CodecSeeds() {
  int k = 0;
  for (const Bytes& data : {Text(300), Ramp(5000), Bytes(20000, 0)}) {
    for (bool marker : {false, true}) {
      uint8_t props[5];
      Bytes coded = LzmaEncodeRaw(data, 1u << 16, marker, props);
      Bytes seed(props, props + 5);
      PutLe32(seed, static_cast<uint32_t>(data.size()));
      seed.push_back(0);
      seed.insert(seed.end(), coded.begin(), coded.end());
      Seed("fuzz_lzma", "stream" + std::to_string(k++), seed);
    }
    Bytes block(LZ4_compressBound(static_cast<int>(data.size())));
    int n = LZ4_compress_default(reinterpret_cast<const char*>(data.data()),
                                 reinterpret_cast<char*>(block.data()),
                                 static_cast<int>(data.size()), static_cast<int>(block.size()));
    block.resize(static_cast<size_t>(n));
    Bytes seed;
    PutLe32(seed, static_cast<uint32_t>(data.size()));
    seed.insert(seed.end(), block.begin(), block.end());
    Seed("fuzz_lz4", "block" + std::to_string(k), seed);
  }
}

void BundleSeeds() {
  AssetSpec asset;
  asset.objects.push_back({49, NamedObject("readme", Text(200))});
  asset.objects.push_back({28, NamedObject("Hero", Ramp(64))});
  const Bytes file = BuildAssetFile(asset);
  const std::vector<BundleEntry> files = {{"archive:/CAB-1/CAB-1", file},
                                          {"archive:/CAB-1/CAB-1.resS", Ramp(300), 0}};
  int k = 0;
  for (const char* signature : {"UnityRaw", "UnityWeb", "UnityFS"}) {
    BundleV3Spec v3;
    v3.signature = signature;
    v3.lzma = std::string(signature) != "UnityRaw";
    v3.levels = 2;
    v3.files = files;
    Bytes bytes = BuildBundleV3(v3).bytes;
    Seed("fuzz_bundle", "v3_" + std::to_string(k), bytes);
    Seed("fuzz_open", "v3_" + std::to_string(k++), bytes);
  }
  // The other level-table versions: no complete size (1), no file-info size (2), hash and CRC
  // (4 and 5).
  for (uint32_t version : {1u, 2u, 4u, 5u}) {
    BundleV3Spec v3;
    v3.version = version;
    v3.levels = 2;
    v3.files = files;
    Bytes bytes = BuildBundleV3(v3).bytes;
    Seed("fuzz_bundle", "v" + std::to_string(version) + "_" + std::to_string(k), bytes);
    Seed("fuzz_open", "v" + std::to_string(version) + "_" + std::to_string(k++), bytes);
  }
  // Versions 7 and 8: every info compression, at the end or not, padded or not.
  for (uint32_t version : {7u, 8u}) {
    for (uint32_t flags : {0x40u, 0x41u, 0x43u, 0xC2u, 0x240u, 0x243u, 0x2C1u, 0x2C0u}) {
      BundleV6Spec v6;
      v6.version = version;
      v6.engine_version = "2022.3.18f1";
      v6.codec = flags & 0x80 ? BlockCodec::kLzma
                 : flags & 2  ? BlockCodec::kLz4Hc
                              : BlockCodec::kStored;
      v6.flags = flags;
      v6.block_size = v6.codec == BlockCodec::kLzma ? 0 : 512;
      v6.files = files;
      Bytes bytes = BuildBundleV6(v6).bytes;
      Seed("fuzz_bundle", "v" + std::to_string(version) + "_" + std::to_string(k), bytes);
      if (flags == 0x243 || flags == 0x41)
        Seed("fuzz_open", "v" + std::to_string(version) + "_" + std::to_string(k), bytes);
      ++k;
    }
  }
  for (BlockCodec codec :
       {BlockCodec::kStored, BlockCodec::kLz4, BlockCodec::kLz4Hc, BlockCodec::kLzma}) {
    for (uint32_t flags : {0x43u, 0x40u, 0xC0u, 0x142u}) {
      BundleV6Spec v6;
      v6.codec = codec;
      v6.flags = flags;
      v6.block_size = codec == BlockCodec::kLzma ? 0 : 512;
      v6.files = files;
      Bytes bytes = BuildBundleV6(v6).bytes;
      Seed("fuzz_bundle", "v6_" + std::to_string(k), bytes);
      if (flags == 0x43) Seed("fuzz_open", "v6_" + std::to_string(k), bytes);
      ++k;
    }
  }
  for (uint32_t format : {6u, 7u, 8u, 9u, 14u, 15u, 16u, 17u, 19u, 20u, 21u, 22u}) {
    for (bool big : {false, true}) {
      AssetSpec desc = asset;
      desc.format = format;
      desc.big_endian = big;
      desc.unity_version = format < 14 ? "3.5.6f4" : format < 19 ? "4.7.2f1" : "2020.3.18f1";
      desc.type_trees = format >= 17;
      Seed("fuzz_open", "asset_" + std::to_string(format) + (big ? "_be" : ""),
           BuildAssetFile(desc));
    }
  }
}

void TextureSeeds() {
  int k = 0;
  auto add = [&](TextureSpec desc, uint8_t flags = 0) {
    desc.big_endian = flags & 1;
    Bytes resource = desc.layout == 3 ? TextureResourceFile(desc) : Bytes{};
    Seed("fuzz_texture", "tex" + std::to_string(k++),
         Framed(flags, Texture2DPayload(desc), resource));
  };
  struct Kind {
    int32_t format;
    int size;
    int levels;
  };
  const auto plain = [](int, int, int) { return Rgba{10, 200, 30, 255}; };
  for (Kind kind : {Kind{10, 16, 3}, Kind{12, 8, 2}, Kind{11, 8, 1}, Kind{4, 8, 4}, Kind{3, 4, 1},
                    Kind{5, 4, 1}, Kind{13, 4, 1}, Kind{2, 4, 1}, Kind{1, 4, 1}, Kind{7, 4, 1}}) {
    TextureSpec s;
    s.format = kind.format;
    s.width = s.height = kind.size;
    s.mip = static_cast<uint32_t>(kind.levels);
    s.images = kind.format >= 10 && kind.format <= 12
                   ? EncodeDxt(kind.format, kind.size, kind.size, kind.levels, plain)
                   : EncodePixels(kind.format, kind.size, kind.size, kind.levels, plain);
    for (int layout : {1, 2, 3}) {
      s.layout = layout;
      s.mip = layout == 1 ? (kind.levels > 1 ? 1 : 0) : static_cast<uint32_t>(kind.levels);
      s.resource_path = layout == 3 ? "level0.assets.resS" : "";
      s.resource_offset = layout == 3 ? 16 : 0;
      add(s, static_cast<uint8_t>(k % 4));
    }
  }
  // Mobile formats (KTX and PVR) and a crunched stream, one block pattern each.
  for (int32_t format : {30, 32, 34, 35, 36, 41, 43, 45, 46, 47, 48, 50, 53, 21, 29}) {
    TextureSpec s;
    s.format = format;
    s.width = s.height = 16;
    s.mip = 1;
    s.images = Ramp(format == 21 ? 512 : 256);
    add(s, k % 2 ? 1 : 0);
  }
  // A cubemap: six faces.
  TextureSpec cube;
  cube.width = cube.height = 4;
  cube.image_count = 6;
  cube.images = Ramp(6 * 64);
  add(cube);
  ProceduralSpec procedural;
  procedural.image = Ramp(64);
  Seed("fuzz_texture", "procedural", Framed(0, ProceduralTexturePayload(procedural)));
  procedural.big_endian = true;
  procedural.format = 10;
  procedural.image = Ramp(8);
  Seed("fuzz_texture", "procedural_be", Framed(1, ProceduralTexturePayload(procedural)));
}

// Files as the exporters write them, with the payload they came from, in the layout of the
// texture import target: flags | entry format | payload length | payload | source file.
void TextureImportSeeds() {
  int k = 0;
  auto seed = [&](uint8_t flags, int32_t format, const Bytes& payload, const Bytes& source) {
    Bytes b{flags, static_cast<uint8_t>(format)};
    PutLe32(b, static_cast<uint32_t>(payload.size()));
    b.insert(b.end(), payload.begin(), payload.end());
    b.insert(b.end(), source.begin(), source.end());
    Seed("fuzz_texture_import", "import" + std::to_string(k++), b);
  };
  auto exported = [&](ConverterFn exporter, const char* ext, TextureSpec s, uint8_t flags) {
    ConverterRig rig;
    s.big_endian = flags & 1;
    std::string sub;
    if (s.layout == 3) {
      s.resource_path = "level0.assets.resS";
      WriteFileBytes(rig.dir.File(s.resource_path), TextureResourceFile(s));
      sub = "res_level0/";
    }
    const Bytes payload = Texture2DPayload(s);
    rig.Run(exporter, payload, "Hero.tex", s.big_endian);
    // Six images are a cubemap's faces, and export names the first one after its face.
    const std::string first = rig.Out(sub + "Hero.tex" + ext);
    const std::string face = rig.Out(sub + "Hero.tex_px" + ext);
    seed(flags, s.format, payload, ReadFileBytes(kestrix::FileExists(first) ? first : face));
  };
  const auto pixel = [](int x, int y, int level) {
    return Rgba{static_cast<uint8_t>(x * 40), static_cast<uint8_t>(y * 40),
                static_cast<uint8_t>(level * 90), 255};
  };
  struct Kind {
    int32_t format;
    int w, h, levels, layout, images;
    uint8_t flags;
  };
  for (Kind kind :
       {Kind{12, 16, 16, 3, 2, 1, 0}, Kind{10, 8, 6, 2, 1, 1, 1}, Kind{5, 8, 8, 1, 3, 1, 0},
        Kind{13, 4, 4, 1, 2, 1, 1}, Kind{2, 4, 4, 1, 1, 1, 2}, Kind{3, 4, 4, 2, 2, 1, 0},
        Kind{5, 4, 4, 1, 2, 6, 4}, Kind{11, 8, 8, 2, 2, 1, 0}}) {
    TextureSpec s;
    s.format = kind.format;
    s.width = kind.w;
    s.height = kind.h;
    s.layout = kind.layout;
    s.mip = kind.layout == 1 ? (kind.levels > 1 ? 1 : 0) : static_cast<uint32_t>(kind.levels);
    s.image_count = kind.images;
    for (int i = 0; i < kind.images; ++i) {
      Bytes b = kind.format >= 10 && kind.format <= 12
                    ? EncodeDxt(kind.format, kind.w, kind.h, kind.levels, pixel)
                    : EncodePixels(kind.format, kind.w, kind.h, kind.levels, pixel);
      s.images.insert(s.images.end(), b.begin(), b.end());
    }
    exported(kestrix::ExportDds, ".dds", s, kind.flags);
  }
  struct Mobile {
    int32_t format;
    int size, images;
    size_t bytes;
    bool ktx;
  };
  for (Mobile m : {Mobile{33, 16, 1, 256, true}, Mobile{47, 8, 6, 64, true},
                   Mobile{50, 12, 1, 64, true}, Mobile{21, 16, 1, 512, false},
                   Mobile{41, 32, 1, 680, false}, Mobile{34, 8, 6, 32, false}}) {
    TextureSpec s;
    s.format = m.format;
    s.width = s.height = m.size;
    s.mip = 1;
    s.image_count = m.images;
    s.images = Ramp(m.bytes * static_cast<size_t>(m.images));
    exported(m.ktx ? kestrix::ExportKtx : kestrix::ExportPvr, m.ktx ? ".ktx" : ".pvr", s,
             m.images > 1 ? 4 : 0);
  }
  ProceduralSpec procedural;
  procedural.format = 12;
  procedural.width = procedural.height = 8;
  procedural.mip = 2;
  procedural.image = EncodeDxt(12, 8, 8, 2, pixel);
  {
    ConverterRig rig;
    const Bytes payload = ProceduralTexturePayload(procedural);
    rig.Run(kestrix::ExportProceduralDds, payload);
    seed(0, 12, payload, ReadFileBytes(rig.Out("Hero.tex.dds")));
  }
  TextureSpec crunched;
  crunched.format = 29;
  crunched.images = Ramp(37);
  seed(0, 29, Texture2DPayload(crunched), Ramp(45));
}

// The three clip shapes in both byte orders, each with the resource file it reads (empty for
// embedded sounds); both audio targets start from them.
struct ClipSeed {
  uint8_t flags;
  Bytes payload;
  Bytes resource;
};

std::vector<ClipSeed> ClipSeeds() {
  const Bytes ogg = SilentOggVorbis(8000, 4);
  const Bytes wav = PcmWav(8000, 100);
  Bytes resource(16, 0);
  resource.insert(resource.end(), wav.begin(), wav.end());
  const uint32_t length = static_cast<uint32_t>(wav.size());
  std::vector<ClipSeed> seeds;
  for (bool big : {false, true}) {
    const uint8_t flags = big ? 1 : 0;
    seeds.push_back({flags, EmbeddedClipPayload(ogg, big), {}});
    seeds.push_back({flags, EmbeddedClipPayload(wav, big), {}});
    seeds.push_back({flags, LegacyResourceClipPayload(length, 16, big), resource});
    seeds.push_back(
        {flags, ResourceRecordClipPayload("level0.assets.resS", 16, length, big), resource});
    seeds.push_back({flags,
                     ResourceRecordClipPayload("archive:/CAB-1/CAB-1.resource", 16, length, big),
                     resource});
  }
  return seeds;
}

void AudioSeeds() {
  int k = 0;
  for (const ClipSeed& c : ClipSeeds())
    Seed("fuzz_audio", "clip" + std::to_string(k++), Framed(c.flags, c.payload, c.resource));
}

// flags | payload length | payload | sound length | sound | resource: the audio import target.
// The new sounds take turns: an Ogg stream, a WAV file, and three bytes that are no sound.
void AudioImportSeeds() {
  const Bytes sounds[] = {SilentOggVorbis(8000, 4), PcmWav(8000, 100), Bytes(3, 0xFF)};
  int k = 0;
  for (const ClipSeed& c : ClipSeeds()) {
    const Bytes& sound = sounds[k % 3];
    Bytes seed = Framed(c.flags, c.payload);
    PutLe32(seed, static_cast<uint32_t>(sound.size()));
    seed.insert(seed.end(), sound.begin(), sound.end());
    seed.insert(seed.end(), c.resource.begin(), c.resource.end());
    Seed("fuzz_audio_import", "clip" + std::to_string(k++), seed);
  }
}

void MeshSeeds() {
  int k = 0;
  for (int32_t version : {3, 4, 5}) {
    const uint8_t selector = static_cast<uint8_t>(version - 3);
    auto add = [&](const MeshSpec& desc) {
      Bytes seed{static_cast<uint8_t>(selector + 3 * (k % 4))};
      Bytes payload = BuildMeshPayload(desc);
      seed.insert(seed.end(), payload.begin(), payload.end());
      Seed("fuzz_mesh", "mesh" + std::to_string(k++), seed);
    };
    MeshSpec one = OneTriangleMesh(version);
    add(one);
    MeshSpec busy = one;
    busy.blend_shape_names = {"smile", "a"};
    busy.bind_poses = 2;
    busy.skin = 3;
    if (version == 4) busy.channels = Engine4Channels();
    add(busy);
    // Two sub-meshes over a quad; version 3 draws the second as a strip.
    MeshSpec quad = one;
    quad.vertices = {{-1, -1, 0, 0, 0, -1, 0, 0},
                     {1, -1, 0, 0, 0, -1, 1, 0},
                     {1, 1, 0, 0, 0, -1, 1, 1},
                     {-1, 1, 0, 0, 0, -1, 0, 1}};
    quad.indices = {0, 1, 2, 0, 2, 3, 0, 1, 2, 2, 3};
    quad.sub_meshes = {{0, 6, 0, 4, 0, 2}, {12, 5, 0, 4, 1, 3}};
    add(quad);
  }
}

// The converters' payloads of a real archive, a few of each kind.
void ArchiveSeeds(const std::string& path, int number) {
  kestrix::Session s;
  RecordingFrontend frontend;
  try {
    kestrix::OpenArchive(s, frontend, path);
    kestrix::FileSource source(s.Archive.ArchivePath);
    int textures = 0, clips = 0, meshes = 0;
    for (size_t i = 0; i < s.EntryCount(); ++i) {
      const int32_t cls = s.EntryClass(i);
      int* taken = cls == 28 || cls == 89 ? &textures
                   : cls == 83            ? &clips
                   : cls == 43            ? &meshes
                                          : nullptr;
      const uint64_t at = s.PayloadOffset(i);
      const uint32_t size = s.PayloadSize(i);
      if (!taken || *taken >= 4 || size == 0 || size > (256u << 10) || at > source.Size() ||
          size > source.Size() - at)
        continue;
      Bytes payload(size);
      source.ReadAt(at, payload.data(), size);
      const std::string name = std::to_string(number) + "_" + std::to_string(i);
      if (cls == 43) {
        const int32_t v = s.Asset.MajorVersion <= 3 ? 3 : s.Asset.MajorVersion == 4 ? 4 : 5;
        Bytes seed{static_cast<uint8_t>(v - 3)};
        seed.insert(seed.end(), payload.begin(), payload.end());
        Seed("fuzz_mesh", name, seed);
      } else {
        Seed(cls == 83 ? "fuzz_audio" : "fuzz_texture", name,
             Framed(s.Asset.BigEndian ? 1 : 0, payload));
      }
      ++*taken;
    }
  } catch (const std::exception&) {
    // Archives this program cannot open give no payloads; the whole-open target still has them.
  }
  kestrix::CloseArchive(s);
}

}  // namespace

// fuzz_import: the archive choice, then raw files as (entry pick, length, bytes): same sizes,
// shrinks, growths and a stray name, in each format and byte order.
void ImportSeeds() {
  int k = 0;
  for (uint8_t choice : {0, 1, 2, 3, 4, 0x80, 0x84}) {
    for (uint32_t length : {5u, 0u, 40u, 200u}) {
      Bytes seed = {choice};
      for (uint8_t pick : {uint8_t(0), uint8_t(1), uint8_t(k % 8), uint8_t(250)}) {
        seed.push_back(pick);
        PutLe32(seed, length + pick);
        seed.insert(seed.end(), length + pick, static_cast<uint8_t>('a' + pick % 26));
      }
      Seed("fuzz_import", "raw" + std::to_string(k++), seed);
    }
  }
}

// Levels of the plain and DXT formats as the builder encodes them, 16x12 pixels, and a PNG file.
void PictureSeeds() {
  auto pixel = [](int x, int y, int) {
    return Rgba{static_cast<uint8_t>(x * 16), static_cast<uint8_t>(y * 20), 90,
                static_cast<uint8_t>(255 - x)};
  };
  for (int32_t format : {1, 2, 3, 4, 5, 7, 10, 11, 12, 13, 14, 37}) {
    Bytes level = format >= 10 && format <= 12 ? EncodeDxt(format, 16, 12, 1, pixel)
                                               : EncodePixels(format, 16, 12, 1, pixel);
    Bytes seed = {static_cast<uint8_t>(format), 15, 11};
    seed.insert(seed.end(), level.begin(), level.end());
    Seed("fuzz_picture", "level" + std::to_string(format), seed);
  }
  kestrix::RgbaImage image;
  image.width = 8, image.height = 8;
  image.pixels.assign(8 * 8 * 4, 0x7F);
  Bytes png = kestrix::EncodePng(image);
  png.insert(png.begin(), {12, 7, 7});
  Seed("fuzz_picture", "png", png);
}

int main(int argc, char** argv) {
  if (argc < 2) {
    std::fprintf(stderr, "usage: make_fuzz_seeds <folder> [archive...]\n");
    return 2;
  }
  g_root = argv[1];
  CodecSeeds();
  BundleSeeds();
  TextureSeeds();
  TextureImportSeeds();
  PictureSeeds();
  AudioSeeds();
  AudioImportSeeds();
  MeshSeeds();
  ImportSeeds();
  for (const auto& [name, bytes] : SampleArchives()) Seed("fuzz_open", name, bytes);
  for (int i = 2; i < argc; ++i) ArchiveSeeds(argv[i], i - 1);
  return 0;
}
