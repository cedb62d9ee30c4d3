// The texture importers: an edited DDS, KTX, PVR or crunched file back into the raw object file of
// the Texture2D, Cubemap or ProceduralTexture it was exported from. Each has the Importer
// signature of import/importer.h; the pieces they share (the payload rebuilt around new image
// data, the mip rule, the checked loading of source files, the all-or-nothing save) are declared
// here too so that each importer file stays about its own format.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "export/texture_header.h"
#include "import/importer.h"

namespace kestrix {

struct MobileFormat;

// The importers, one per converter run.
void ImportDds(const ImporterCall& call, ImporterContext& ctx);            // Texture2D, Cubemap
void ImportProceduralDds(const ImporterCall& call, ImporterContext& ctx);  // ProceduralTexture
void ImportKtx(const ImporterCall& call, ImporterContext& ctx);
void ImportPvr(const ImporterCall& call, ImporterContext& ctx);
void ImportCrn(const ImporterCall& call, ImporterContext& ctx);
// A PNG picture (import/png_import.cc): encoded into the entry's own format and size, or
// refused with a message naming the file and what it needs.
void ImportPng(const ImporterCall& call, ImporterContext& ctx);
// ImportCrn with the folder the crunch tool is looked for in (the program passes its own folder,
// tests a folder of their own).
void ImportCrnWithTool(const ImporterCall& call, ImporterContext& ctx,
                       const std::string& tool_folder);

// The texture importers as the import driver runs them (audio left empty).
ImportConverters TextureImportConverters();

// The format code a DDS pixel format stands for. Code 0 (4 bytes per pixel) when it stands for
// none. `current_code` is the texture's code before the import: when the file has exactly that
// code's pixel format the code is kept, so a pixel format that several codes share brings each
// back as itself; only the 32-bit orders 4, 14 and 37 always come back as 5.
struct DdsFormatMatch {
  int32_t code = 0;
  double bytes_per_pixel = 4;
};
// The header is 128 bytes, 148 when its FourCC is "DX10" (the DX10 extension follows).
DdsFormatMatch RecognizeDdsFormat(const uint8_t* dds_header, int32_t current_code);

// ---- Shared by the importers ----

// The entry's payload as it stands in the working file, and its header.
struct CurrentTexture {
  std::vector<uint8_t> payload;
  TextureHeader header;
};
std::vector<uint8_t> ReadCurrentPayload(const ImporterCall& call);
CurrentTexture ReadCurrentTexture(const ImporterCall& call);

// The mip field after an import of a file that declares `levels` levels: layout 1 stores 1 for
// a chain of two or more levels, else 0; layouts 2 and 3 set the low byte to the count (1 for a
// single level) and keep the other three bytes.
uint32_t MipFieldAfterImport(const TextureHeader& h, uint32_t levels);

// What a source file puts into the rebuilt payload.
struct ImportedTexture {
  int32_t width = 0;
  int32_t height = 0;
  int32_t format = 0;
  uint32_t mip_field = 0;
  int32_t image_count = 0;
  uint32_t complete_image_size = 0;  // one image
  std::vector<uint8_t> data;         // image_count images of complete_image_size bytes
};

// Where image data kept out of the object lies: offset and size in the resource `path` names.
struct StreamedPlace {
  uint64_t offset = 0;
  uint32_t size = 0;
  std::string path;
};

// The payload with the new image data inline, in the asset's byte order: the old header with
// new sizes, format and mip field, the data, zero padding to a multiple of 4, for a streamed
// texture (layout 3) three zeros where its resource offset, size and path were, then the tail.
// With `streamed` (layouts 3 and 4 with stream fields) the data stays out of the object: no data
// inline, and the stream fields name `streamed`.
std::vector<uint8_t> RebuildTexturePayload(const TextureHeader& old, const ImportedTexture& t,
                                           bool big_endian,
                                           const StreamedPlace* streamed = nullptr);

// Writes the rebuilt payload as the raw object file. A texture whose data lives in a resource
// entry of the open bundle keeps it there: the new data goes to ctx.resource_edits, and the
// payload's stream fields point at where it will lie. Any other texture gets its data inline.
void SaveTexture(const ImporterCall& call, ImporterContext& ctx, const TextureHeader& old,
                 const ImportedTexture& t);

// ASTC's RGB, RGBA and HDR textures of one block size share their container format: a texture
// that has the RGB code `rgb_code` (48 to 53) or the HDR code of that block size keeps it.
bool KeepsAstcCode(int32_t rgb_code, int32_t current_code);

// Throws Error unless `count` images of `per_image` bytes fit the 32-bit size fields.
void CheckImageTotal(uint64_t per_image, int64_t count);

// The file of image `index` (from 0) of `count`, named after the first image's file `source`
// as export names them (ImageSuffix): a cubemap's "name_px.dds" gives "name_nx.dds" ...
std::string ImageFileName(const std::string& source, int32_t index, int32_t count);

// Loads `count` images of `per_image` bytes, one per image file. `extract` turns a loaded file
// into its image data and returns it; each must give at least `per_image` bytes, of which the
// first `per_image` are taken. Every file must be `file_length` bytes long, the first file's
// length, and is checked for it before any is read.
std::vector<uint8_t> LoadImages(
    const std::string& source, int32_t count, uint64_t per_image, uint64_t file_length,
    const std::function<std::vector<uint8_t>(std::vector<uint8_t> file, int32_t index)>& extract);

// Writes the raw object file to output_root + relative_path under a temporary name first, so
// that an import that fails leaves the file that stood there before.
void SaveRawFile(const ImporterCall& call, const std::vector<uint8_t>& bytes);

// Throws Error naming the source file when it is shorter than a field it must hold.
[[noreturn]] void SourceTooShort(const std::string& path, const std::string& what, uint64_t need,
                                 uint64_t have);

// ---- Checks of a source file against what its header claims ----
// A replacement file comes from a folder anyone may write into: its header is checked against
// the engine's limits and against its own length before anything is decoded or allocated, so
// memory follows the file's real bytes and the entry, not the claim.

// The engine's largest texture side.
inline constexpr uint32_t kMaxTextureSide = 16384;

// Throws Error "Cannot import <path>: <why>", which ends the import with nothing written.
[[noreturn]] void RefuseSource(const std::string& path, const std::string& why);

// The first `n` bytes of a source file (all of it when shorter) and its length.
struct SourceHead {
  std::vector<uint8_t> bytes;
  uint64_t length = 0;
};
SourceHead ReadSourceHead(const std::string& path, size_t n);
// The whole source file, refused when it no longer has the length its head was checked with.
std::vector<uint8_t> ReadCheckedSource(const std::string& path, uint64_t length);

// Refuses a picture whose sides are not from 1 to kMaxTextureSide; `kind` names the file type
// in the message ("DDS").
void CheckSides(const std::string& path, const std::string& kind, uint64_t width, uint64_t height);
// Levels of the whole chain of a w x h picture down to 1x1 (each side halved, not below 1).
uint32_t FullChainLevels(int64_t width, int64_t height);
// Refuses a level count above the whole chain of the picture.
void CheckLevelCount(const std::string& path, const std::string& kind, uint64_t levels,
                     int64_t width, int64_t height);

// Bytes of one level of w x h pixels under some size rule.
using LevelBytes = std::function<uint64_t(int64_t width, int64_t height)>;
// The byte counts an image of `levels` levels (sides halved down to 1) may have: the chain of
// `levels` levels first, then each longer chain up to 1x1, because export counts the levels of
// some textures short of the data they hold (a chain whose side reaches 0 before the sizes add
// up) and writes the rest behind them.
std::vector<uint64_t> ChainSizes(int64_t width, int64_t height, uint32_t levels,
                                 const LevelBytes& level_bytes);
// Refuses an image of `have` bytes unless it is one of `accepted` (whose first entry the message
// names); `what` describes the claim ("16x16 DXT5 with 5 levels").
void CheckImageBytes(const std::string& path, const std::string& kind, uint64_t have,
                     const std::vector<uint64_t>& accepted, const std::string& what);
// The byte counts an image of a KTX/PVR format may have (as ChainSizes, first the chain of
// `levels` levels with no smallest level), under each smallest level that writers keep: none,
// export's 4 or 8 pixels, PVRTC's hardware minimum.
std::vector<uint64_t> MobileChainSizes(const MobileFormat& format, int64_t width, int64_t height,
                                       uint32_t levels);
// The byte counts one level of w x h pixels may have under the same rules.
std::vector<uint64_t> MobileLevelSizes(const MobileFormat& format, int64_t width, int64_t height);
// Metadata that KTX and PVR files carry beside the image (key/value data, metadata blocks) is
// small; more is refused rather than loaded.
inline constexpr uint64_t kMaxSourceMetadata = 1 << 20;

// The format's name without its code ("DXT5"), for messages.
std::string FormatLabel(int32_t code, const EngineVersion& engine);
// "16x16 DXT5 with 1 level"
std::string DescribeClaim(int64_t width, int64_t height, const std::string& format,
                          uint64_t levels);

}  // namespace kestrix
