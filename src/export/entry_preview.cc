#include "export/entry_preview.h"

#include <algorithm>
#include <cstdio>
#include <exception>

#include "core/error.h"
#include "core/frontend.h"
#include "core/session.h"
#include "export/audio_clip.h"
#include "export/converter.h"
#include "export/mesh_decoder.h"
#include "export/sprite_picture.h"
#include "export/texture_picture.h"
#include "export/texture_source.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/reader.h"
#include "types/class_ids.h"
#include "types/object_layouts.h"
#include "types/type_info.h"

namespace kestrix {

namespace {

constexpr uint32_t kHexBytes = 512;
constexpr uint32_t kMaxText = 256 * 1024;
// A longer sound is described but not held for playing.
constexpr uint64_t kMaxSound = 256ull << 20;

// Converters report through the frontend; the preview shows only its own text.
class QuietFrontend : public Frontend {
 public:
  void MessageBox(const std::string& text) override { said = text; }
  void ErrorBox(const std::string& text) override { said = text; }
  void ConsoleLine(const std::string&) override {}
  std::string said;
};

std::string Hex(const std::vector<uint8_t>& bytes) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  for (size_t row = 0; row < bytes.size(); row += 16) {
    char offset[32];
    std::snprintf(offset, sizeof offset, "%08zX  ", row);
    out += offset;
    std::string ascii;
    for (size_t i = row; i < row + 16; ++i) {
      if (i < bytes.size()) {
        out += kDigits[bytes[i] >> 4];
        out += kDigits[bytes[i] & 15];
        out += ' ';
        ascii += bytes[i] >= 32 && bytes[i] < 127 ? static_cast<char>(bytes[i]) : '.';
      } else {
        out += "   ";
      }
    }
    out += ' ' + ascii + '\n';
  }
  return out;
}

int LevelCount(const TextureHeader& h) {
  if (h.MipByte() != 1) return std::max<int>(h.MipByte(), 1);
  int levels = 1;
  uint64_t sum = PictureLevelBytes(h.format, h.width, h.height);
  int32_t w = h.width, hh = h.height;
  while (sum > 0 && sum < static_cast<uint64_t>(std::max(h.complete_image_size, 0)) &&
         (w > 1 || hh > 1)) {
    w = std::max(w / 2, 1), hh = std::max(hh / 2, 1);
    sum += PictureLevelBytes(h.format, w, hh);
    ++levels;
  }
  return levels;
}

std::string FormatWord(int32_t code, const EngineVersion& engine) {
  const std::string name = TextureFormatName(code, engine);
  const size_t dash = name.find(" - ");
  return dash == std::string::npos ? name : name.substr(dash + 3);
}

ConverterCall CallAt(const Session& s, Reader& reader, uint32_t size) {
  return ConverterCall{reader, size, s.Asset.IsBigEndian(), s.Archive.OutputRoot, "", ""};
}

// Drawn from the same decode the OBJ export writes, vertex data in a resource file included.
void MakeMeshPreview(const Session& s, size_t index, Reader& reader, uint32_t size,
                     EntryPreview& p) {
  p.caption = "Mesh, " + std::to_string(size) + " bytes";
  if (s.Asset.IsBigEndian()) throw Error("Meshes of big-endian archives are not drawn.");
  std::vector<uint8_t> payload = reader.ReadBytes(size);
  MemorySource memory(payload);
  Reader in(memory);
  TMeshBase mesh;
  const EngineVersion& engine = s.Asset.Engine;
  try {
    if (engine.Known && engine.Major == s.Asset.MajorVersion) {
      mesh.Decode(in, engine, ObjectTypeTree(s.Asset, index));
    } else {
      mesh.Decode(in, s.Asset.MajorVersion);
    }
    if (const MeshStreamData* streamed = mesh.StreamedData()) {
      QuietFrontend quiet;
      ExportRequest request;
      ConverterContext ctx(s, request, quiet);
      std::string subfolder;
      const std::string file =
          FieldResourceFile(CallAt(s, reader, size), ctx, streamed->path, &subfolder);
      if (file.empty() || !FileExists(file))
        throw Error("The mesh's vertex data is in a file that is not there: " + streamed->path);
      FileSource resource(file);
      if (streamed->offset > resource.Size() || streamed->size > resource.Size() - streamed->offset)
        throw Error("The mesh's vertex data runs past the end of " + file);
      std::vector<uint8_t> data(streamed->size);
      resource.ReadAt(streamed->offset, data.data(), data.size());
      mesh.SetStreamedVertexData(std::move(data));
    }
    p.mesh = std::make_shared<const PreviewMesh>(PreviewMeshOf(mesh));
  } catch (const MeshDecodeError& e) {
    throw Error(e.kind() == MeshDecodeError::kCompressed
                    ? "Compressed meshes are not drawn."
                    : std::string("The mesh cannot be decoded: ") + e.what());
  }
  p.caption = MeshCaption(*p.mesh);
  p.kind = EntryPreview::Kind::kMesh;
}

bool IsFontFile(const std::vector<uint8_t>& data) {
  if (data.size() < 12) return false;
  const uint32_t tag = Get32(data.data(), ByteOrder::Big);
  return tag == 0x00010000 || tag == 0x4F54544F /* OTTO */ || tag == 0x74727565 /* true */ ||
         tag == 0x74746366 /* ttcf */;
}

std::vector<uint8_t> ReadSound(const std::string& path, uint64_t offset, uint64_t length) {
  if (path.empty() || !FileExists(path))
    throw Error("The sound is in a file that is not there: " + path);
  FileSource resource(path);
  if (offset > resource.Size() || length > resource.Size() - offset)
    throw Error("The sound runs past the end of " + path);
  std::vector<uint8_t> sound(static_cast<size_t>(std::min(length, kMaxSound)));
  resource.ReadAt(offset, sound.data(), sound.size());
  return sound;
}

// The sound is found where export finds it: in the payload, in the archive's ".resS" file, or in
// the file a resource record names.
void MakeSoundPreview(const Session& s, Reader& reader, uint32_t size, EntryPreview& p) {
  p.caption = "AudioClip, " + std::to_string(size) + " bytes";
  const ByteOrder order = s.Asset.IsBigEndian() ? ByteOrder::Big : ByteOrder::Little;
  const std::vector<uint8_t> payload = reader.ReadBytes(size);
  const uint8_t* clip = payload.data();
  QuietFrontend quiet;
  ExportRequest request;
  ConverterContext ctx(s, request, quiet);
  const std::string folder = ctx.ResourceFolder(s.Archive.OutputRoot);
  size_t record_at = 0;
  uint64_t length = 0;
  switch (ClipShapeOf(clip, size, order)) {
    case ClipShape::Embedded:
      length = std::min<uint64_t>(Get32(clip + kClipLengthAt, order), size - kClipSoundAt);
      p.data.assign(clip + kClipSoundAt, clip + kClipSoundAt + std::min(length, kMaxSound));
      break;
    case ClipShape::LegacyResource:
      length = Get32(clip + kClipLengthAt, order);
      p.data = ReadSound(folder + StreamFileName(s.Archive) + ".resS",
                         Get32(clip + kClipSoundAt, order), length);
      break;
    case ClipShape::ResourceRecord: {
      const ClipResourceRecord record = ReadClipResourceRecord(clip, size, order);
      record_at = record.fields_at;
      length = record.length;
      p.data = ReadSound(ClipResourcePath(record.source, s.Archive.ArchiveFolderName, folder,
                                          s.Archive.OutputRoot),
                         record.offset, record.length);
      break;
    }
    case ClipShape::Unsupported:
      throw Error("The clip holds no sound this program knows.");
  }
  p.sound = SoundInfoOfData(p.data.data(), p.data.size());
  if (record_at != 0) AddClipFields(clip, size, order, record_at, &p.sound);
  if (length > kMaxSound) {
    p.sound.playable = false;
    p.data.clear();
  }
  p.caption = SoundCaption(p.sound);
  p.kind = EntryPreview::Kind::kSound;
}

}  // namespace

EntryPreview MakeEntryPreview(const Session& s, size_t index) {
  EntryPreview p;
  try {
    if (index >= s.EntryCount()) throw Error("There is no such entry.");
    FileSource source(s.Archive.ArchivePath);
    Reader reader(source);
    const uint64_t start = s.PayloadOffset(index);
    const uint32_t size = s.PayloadSize(index);
    if (start > reader.Size() || size > reader.Size() - start)
      throw Error("The entry's data runs past the end of the archive.");
    const int32_t cls = s.EntryClass(index);
    if (IsTextureClass(cls) && !s.HasEmbeddedPayload(index)) {
      QuietFrontend quiet;
      ExportRequest request;
      ConverterContext ctx(s, request, quiet);
      reader.Seek(start);
      ConverterCall call{reader, size, s.Asset.IsBigEndian(), s.Archive.OutputRoot, "", ""};
      const FieldLayout fields = TextureLayoutFor(s.Asset, index);
      call.texture_fields = &fields;
      TextureImages images;
      OpenTextureImages(call, ctx, &images);
      const TextureHeader& h = images.header;
      p.caption = FormatWord(h.format, s.Asset.Engine) + " " + std::to_string(h.width) + "x" +
                  std::to_string(h.height) + ", " + std::to_string(LevelCount(h)) + " level(s)";
      if (h.ImageCount() > 1) p.caption += ", " + std::to_string(h.ImageCount()) + " images";
      p.picture = TexturePicture(images, s.Asset.Engine);
      p.kind = EntryPreview::Kind::kPicture;
      return p;
    }
    // A text's payload is the text itself: its length field is part of the header skip. A
    // parsed shader holds no text and shows as hex like other objects.
    if (cls == kClassTextAsset || (cls == kClassShader && s.HasEmbeddedPayload(index))) {
      reader.Seek(start);
      const std::vector<uint8_t> text = reader.ReadBytes(std::min(size, kMaxText));
      p.kind = EntryPreview::Kind::kText;
      p.caption = ClassIdToName(cls) + ", " + std::to_string(size) + " bytes";
      p.text.assign(text.begin(), text.end());
      return p;
    }
    reader.Seek(start);
    if (cls == kClassMesh && size > 0) {
      MakeMeshPreview(s, index, reader, size, p);
      return p;
    }
    if (cls == kClassAudioClip) {
      MakeSoundPreview(s, reader, size, p);
      return p;
    }
    if (cls == kClassFont && s.HasEmbeddedPayload(index)) {
      std::vector<uint8_t> font = reader.ReadBytes(size);
      if (IsFontFile(font)) {
        p.caption = "Font, " + std::to_string(size) + " bytes";
        p.data = std::move(font);
        p.kind = EntryPreview::Kind::kFont;
        return p;
      }
      reader.Seek(start);
    }
    p.caption = ClassIdToName(cls) + ", " + std::to_string(size) + " bytes";
    if (cls == kClassSprite) {
      // A sprite that cannot be cut still shows its bytes, and says why it shows no picture.
      try {
        QuietFrontend quiet;
        ExportRequest request;
        ConverterContext ctx(s, request, quiet);
        SpriteTextures textures;
        p.picture = SpritePicture(s, index, reader, ctx, textures);
        p.caption = "Sprite " + std::to_string(p.picture.width) + "x" +
                    std::to_string(p.picture.height);
        p.kind = EntryPreview::Kind::kPicture;
        return p;
      } catch (const std::exception& e) {
        p.caption += " (no picture: " + std::string(e.what()) + ")";
      }
    }
    reader.Seek(start);
    p.text = Hex(reader.ReadBytes(std::min(size, kHexBytes)));
  } catch (const std::exception& e) {
    p.kind = EntryPreview::Kind::kHex;
    p.text = e.what();
  }
  return p;
}

}  // namespace kestrix
