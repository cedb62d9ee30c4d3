// Texture payloads through ReadTextureHeader and every texture writer (DDS, procedural DDS, KTX,
// PVR, crunched), called the way the export driver calls them.
//   flags | payload length (u32 LE) | payload | resource file
// Flags bit 0: big-endian archive; bit 1: no vertical flip; bit 2: the fields of a later release
// (bits 3 and 4 choose which). A streamed texture finds the resource bytes under the name its
// header gives, when that name is a file in the folder.
#include <string>
#include <vector>

#include "core/error.h"
#include "core/session.h"
#include "export/converter.h"
#include "export/crn_export.h"
#include "export/texture_header.h"
#include "export/texture_source.h"
#include "platform/byte_source.h"
#include "platform/io_error.h"
#include "platform/reader.h"
#include "support.h"
#include "types/object_layouts.h"

namespace {

using Writer = void (*)(const kestrix::ConverterCall&, kestrix::ConverterContext&);

void NoTool(const kestrix::ConverterCall& call, kestrix::ConverterContext& ctx) {
  // The scratch folder holds no crunch tool, so nothing is started.
  kestrix::ExportCrnWithTool(call, ctx, kestrix::fuzz::ScratchDir() + "/");
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrix;
  fuzz::Input in(data, size);
  const uint8_t flags = in.Byte();
  const bool big_endian = flags & 1;
  size_t payload_size = 0;
  const uint8_t* payload = in.Take(in.Le32(), &payload_size);
  size_t resource_size = 0;
  const uint8_t* resource = in.Rest(&resource_size);
  fuzz::ClearScratch();

  // The payload sits after other bytes of the archive, so writers must start at the stream's
  // position, and is followed by more, so they must stop at its size.
  std::vector<uint8_t> archive(8, 0xEE);
  archive.insert(archive.end(), payload, payload + payload_size);
  archive.insert(archive.end(), 8, 0xEE);

  // Flag 4: the fields of a later release, chosen by bits 3 and 4.
  static const char* const kReleases[] = {"2017.3.0f1", "2018.2.6f1", "2020.1.0f1", "2022.3.18f1"};
  FieldLayout fields;
  if (flags & 4) fields = TextureFieldsForVersion(ParseEngineVersion(kReleases[(flags >> 3) % 4]));
  try {
    TextureHeader h = ReadTextureHeader(std::vector<uint8_t>(payload, payload + payload_size),
                                        big_endian, &fields);
    if (h.Streamed() && IsSafeResourcePath(h.resource_path))
      fuzz::WriteScratchFile(h.resource_path, resource, resource_size);
  } catch (const Error&) {
  }

  Session session;
  ExportRequest request;
  request.NoTextureFlip = flags & 2;
  request.Switches.ExportDds = true;
  session.Archive.ArchivePath = fuzz::ScratchDir() + "/level0.assets";
  fuzz::QuietFrontend frontend;
  ConverterContext ctx(session, request, frontend);
  const std::string base = fuzz::ScratchDir() + "/out/";
  for (Writer writer : {ExportDds, ExportProceduralDds, ExportKtx, ExportPvr, NoTool}) {
    MemorySource source(archive);
    Reader reader(source);
    reader.Seek(8);
    ConverterCall call{reader, static_cast<uint32_t>(payload_size),    big_endian,
                       base,   "Unity_Assets_Files/level0/Texture2D/", "Hero.tex",
                       &fields};
    try {
      writer(call, ctx);
    } catch (const Error&) {
    }
  }
  return 0;
}
