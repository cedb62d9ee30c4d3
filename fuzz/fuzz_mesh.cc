// A Mesh payload through the decoder and the OBJ writer, as the export of one entry runs them.
// The first byte picks the engine generation; the rest is the payload.
#include <exception>

#include "export/mesh_decoder.h"
#include "export/obj_export.h"
#include "platform/byte_source.h"
#include "platform/reader.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrix;
  if (size == 0) return 0;
  static const int32_t kVersions[] = {3, 4, 5, 2017};
  const int32_t version = kVersions[data[0] % 4];
  std::vector<uint8_t> payload(data + 1, data + size);
  MemorySource source(payload);
  Reader in(source);
  try {
    TMeshBase mesh;
    mesh.Decode(in, version);
    volatile size_t length = BuildObjText(mesh, "fuzz.mesh").size();
    (void)length;
  } catch (const std::exception&) {
  }
  return 0;
}
