#include "export/entry_preview.h"

#include <algorithm>
#include <cstdio>
#include <exception>

#include "core/error.h"
#include "core/frontend.h"
#include "core/session.h"
#include "export/converter.h"
#include "export/texture_picture.h"
#include "platform/byte_source.h"
#include "platform/reader.h"
#include "types/class_ids.h"
#include "types/object_layouts.h"
#include "types/type_info.h"

namespace kestrix {

namespace {

constexpr uint32_t kHexBytes = 512;
constexpr uint32_t kMaxText = 256 * 1024;

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
    p.caption = ClassIdToName(cls) + ", " + std::to_string(size) + " bytes";
    p.text = Hex(reader.ReadBytes(std::min(size, kHexBytes)));
  } catch (const std::exception& e) {
    p.kind = EntryPreview::Kind::kHex;
    p.text = e.what();
  }
  return p;
}

}  // namespace kestrix
