// Mesh payloads through TMeshBase::Decode and the OBJ writer, for the three fixed layouts and
// the field layouts of later releases.
//   selector | payload
// Selector modulo 6 picks engine major version 3, 4 or 5, or release 2017.4, 2018.2 or 2020.1;
// (selector / 6) % 4 bytes of other archive data come before the payload, since padding is
// measured from the payload start.
#include <string>
#include <vector>

#include "core/error.h"
#include "core/session.h"
#include "export/converter.h"
#include "export/mesh_decoder.h"
#include "export/obj_export.h"
#include "platform/byte_source.h"
#include "platform/io_error.h"
#include "platform/reader.h"
#include "support.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrix;
  fuzz::Input in(data, size);
  const uint8_t selector = in.Byte();
  static const char* const kReleases[] = {"2017.4.37f1", "2018.2.6f1", "2020.1.0f1"};
  const EngineVersion engine =
      selector % 6 >= 3 ? ParseEngineVersion(kReleases[selector % 6 - 3]) : EngineVersion{};
  const int32_t version = engine.Known ? engine.Major : 3 + selector % 6;
  const size_t lead = (selector / 6) % 4;
  size_t payload_size = 0;
  const uint8_t* payload = in.Rest(&payload_size);
  std::vector<uint8_t> archive(lead, 0xEE);
  archive.insert(archive.end(), payload, payload + payload_size);
  archive.insert(archive.end(), 8, 0xEE);

  // The decoder and the text alone, which the writer below repeats with a file.
  {
    MemorySource source(archive.data(), lead + payload_size);
    Reader reader(source);
    reader.Seek(lead);
    TMeshBase mesh;
    try {
      if (engine.Known) {
        mesh.Decode(reader, engine);
      } else {
        mesh.Decode(reader, version);
      }
      if (!mesh.StreamedData()) {
        std::string text = BuildObjText(mesh, "Rock.mesh");
        (void)text;
      }
    } catch (const MeshDecodeError&) {
    }
  }

  fuzz::ClearScratch();
  MemorySource source(archive);
  Reader reader(source);
  reader.Seek(lead);
  Session session;
  session.Asset.Engine = engine;
  fuzz::QuietFrontend frontend;
  ExportRequest request;
  ConverterContext ctx(session, request, frontend);
  ConverterCall call{reader,
                     static_cast<uint32_t>(payload_size),
                     false,
                     fuzz::ScratchDir() + "/out/",
                     "Unity_Assets_Files/level0/Mesh/",
                     "Rock.mesh"};
  try {
    ExportObj(call, ctx, version);
  } catch (const Error&) {
  }
  return 0;
}
