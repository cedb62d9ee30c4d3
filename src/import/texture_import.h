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

// The payload with the new image data inline, in the asset's byte order: the old header with
// new sizes, format and mip field, the data, zero padding to a multiple of 4, for a streamed
// texture (layout 3) three zeros where its resource offset, size and path were, then the tail.
std::vector<uint8_t> RebuildTexturePayload(const TextureHeader& old, const ImportedTexture& t,
                                           bool big_endian);

// ASTC's RGB, RGBA and HDR textures of one block size share their container format: a texture
// that has the RGB code `rgb_code` (48 to 53) or the HDR code of that block size keeps it.
bool KeepsAstcCode(int32_t rgb_code, int32_t current_code);

// Throws Error unless `count` images of `per_image` bytes fit the 32-bit size fields.
void CheckImageTotal(uint64_t per_image, int64_t count);

// The file of image `index` (from 0): the source itself, then source + "_2", "_3", ...
std::string ImageFileName(const std::string& source, int32_t index);

// Loads `count` images of `per_image` bytes, one per image file. `extract` turns a loaded file
// into its image data and returns it; each must give at least `per_image` bytes, of which the
// first `per_image` are taken. Every file's size is checked before any is read.
std::vector<uint8_t> LoadImages(
    const ImporterCall& call, int32_t count, uint64_t per_image,
    const std::function<std::vector<uint8_t>(std::vector<uint8_t> file, int32_t index)>& extract);

// Writes the raw object file to output_root + relative_path under a temporary name first, so
// that an import that fails leaves the file that stood there before.
void SaveRawFile(const ImporterCall& call, const std::vector<uint8_t>& bytes);

// Throws Error naming the source file when it is shorter than a field it must hold.
[[noreturn]] void SourceTooShort(const std::string& path, const std::string& what, uint64_t need,
                                 uint64_t have);

}  // namespace kestrix
