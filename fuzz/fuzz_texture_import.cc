// Every texture importer (DDS, procedural DDS, KTX, PVR, crunched) on a hostile source file
// against the payload it would replace, called the way the import driver calls them.
//   flags | entry format code (1 byte) | payload length (u32 LE) | payload | source file
// Flags bit 0: big-endian archive; bit 1: no vertical flip; bit 2: the source file is also
// every later face (name_2 ... name_6), so cubemaps read past their first image.
#include <string>
#include <vector>

#include "core/error.h"
#include "export/texture_source.h"
#include "import/texture_import.h"
#include "platform/byte_source.h"
#include "platform/io_error.h"
#include "support.h"

namespace {

void NoTool(const kestrix::ImporterCall& call, kestrix::ImporterContext& ctx) {
  // The scratch folder holds no crunch tool, so nothing is started.
  kestrix::ImportCrnWithTool(call, ctx, kestrix::fuzz::ScratchDir() + "/");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrix;
  fuzz::Input in(data, size);
  const uint8_t flags = in.Byte();
  const int32_t entry_format = in.Byte();
  size_t payload_size = 0;
  const uint8_t* payload = in.Take(in.Le32(), &payload_size);
  size_t source_size = 0;
  const uint8_t* source = in.Rest(&source_size);
  fuzz::ClearScratch();

  const std::string name = "src/Hero.tex.src";
  fuzz::WriteScratchFile(name, source, source_size);
  if (flags & 4) {
    // Later images under both of export's namings: a cubemap's faces and numbered images.
    for (int32_t image = 1; image < kCubemapFaces; ++image) {
      fuzz::WriteScratchFile(ImageFileName(name, image, kCubemapFaces), source, source_size);
      fuzz::WriteScratchFile(ImageFileName(name, image, 1), source, source_size);
    }
  }

  // The payload sits between other bytes of the archive, so importers must start at its
  // position and stop at its size.
  std::vector<uint8_t> archive(8, 0xEE);
  archive.insert(archive.end(), payload, payload + payload_size);
  archive.insert(archive.end(), 8, 0xEE);

  fuzz::QuietFrontend frontend;
  ImporterContext ctx{frontend, fuzz::ScratchDir() + "/", (flags & 2) != 0};
  for (Importer importer : {ImportDds, ImportProceduralDds, ImportKtx, ImportPvr, NoTool}) {
    MemorySource working(archive);
    ImporterCall call{working,
                      8,
                      static_cast<uint32_t>(payload_size),
                      (flags & 1) != 0,
                      fuzz::ScratchDir() + "/out/",
                      fuzz::ScratchDir() + "/" + name,
                      "Unity_Assets_Files/level0/Hero.tex",
                      entry_format};
    try {
      importer(call, ctx);
    } catch (const Error&) {
    }
  }
  return 0;
}
