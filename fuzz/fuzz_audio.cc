// AudioClip payloads in every shape the audio writer knows: sound bytes inside the clip, the
// 24-byte legacy record into the archive's ".resS" file, and the streamed-resource record.
//   flags | payload length (u32 LE) | payload | resource file
// Flags bit 0: big-endian archive. The resource bytes are put where each shape looks: beside
// the archive as "level0.assets.resS" (also the name seeds give streamed records) and where an
// "archive:/CAB-1/CAB-1.resource" source of a bundle is exported.
#include <string>
#include <vector>

#include "core/error.h"
#include "core/session.h"
#include "export/audio_detect.h"
#include "export/converter.h"
#include "platform/byte_source.h"
#include "platform/io_error.h"
#include "platform/reader.h"
#include "support.h"

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
  fuzz::WriteScratchFile("level0.assets.resS", resource, resource_size);
  fuzz::WriteScratchFile("out/Unity_Assets_Files/level0/CAB-1.resource/CAB-1.resource", resource,
                         resource_size);

  std::vector<uint8_t> archive(8, 0xEE);
  archive.insert(archive.end(), payload, payload + payload_size);
  archive.insert(archive.end(), 8, 0xEE);
  MemorySource source(archive);
  Reader reader(source);
  reader.Seek(8);

  Session session;
  session.Archive.ArchivePath = fuzz::ScratchDir() + "/level0.assets";
  fuzz::QuietFrontend frontend;
  ExportRequest request;
  ConverterContext ctx(session, request, frontend);
  ConverterCall call{reader,
                     static_cast<uint32_t>(payload_size),
                     big_endian,
                     fuzz::ScratchDir() + "/out/",
                     "Unity_Assets_Files/level0/AudioClip/",
                     "Theme.audioclip"};
  try {
    ExportAudio(call, ctx, "level0", "level0.assets.resS");
  } catch (const Error&) {
  }
  // Import recognises replacement files by the same test, on any bytes.
  (void)DetectAudioExtension(payload, payload_size);
  return 0;
}
