// Audio import on hostile clip payloads and sound files, with the resource bytes where each
// shape looks for them: beside the archive as "level0.assets.resS" (also the name seeds give
// streamed records) and where an "archive:/CAB-1/CAB-1.resource" source of a bundle is exported.
//   flags | payload length (u32 LE) | payload | sound length (u32 LE) | sound | resource file
// Flags bit 0: big-endian archive. Besides the sanitizers, the target checks that both resource
// files still begin with every byte they held: import may only append to them.
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "core/error.h"
#include "import/audio_import.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/io_error.h"
#include "support.h"

namespace {

void RequirePrefixKept(const std::string& path, const uint8_t* old, size_t size) {
  const std::vector<uint8_t> now = kestrix::ReadWholeFile(path);
  if (now.size() < size || (size && std::memcmp(now.data(), old, size) != 0)) std::abort();
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrix;
  fuzz::Input in(data, size);
  const bool big_endian = in.Byte() & 1;
  size_t payload_size = 0;
  const uint8_t* payload = in.Take(in.Le32(), &payload_size);
  size_t sound_size = 0;
  const uint8_t* sound = in.Take(in.Le32(), &sound_size);
  size_t resource_size = 0;
  const uint8_t* resource = in.Rest(&resource_size);

  fuzz::ClearScratch();
  const std::string root = fuzz::ScratchDir() + "/";
  const std::string beside = "level0.assets.resS";
  const std::string in_bundle = "out/Unity_Assets_Files/level0/CAB-1.resource/CAB-1.resource";
  fuzz::WriteScratchFile(beside, resource, resource_size);
  fuzz::WriteScratchFile(in_bundle, resource, resource_size);
  fuzz::WriteScratchFile("edit/Theme.snd.ogg", sound, sound_size);

  std::vector<uint8_t> archive(8, 0xEE);
  archive.insert(archive.end(), payload, payload + payload_size);
  archive.insert(archive.end(), 8, 0xEE);
  MemorySource working(archive);
  fuzz::QuietFrontend frontend;
  ImporterContext ctx{frontend, root};
  ImporterCall call{working,
                    8,
                    static_cast<uint32_t>(payload_size),
                    big_endian,
                    root + "out/",
                    root + "edit/Theme.snd.ogg",
                    "Unity_Assets_Files/level0/Theme.snd"};
  try {
    ImportAudio(call, ctx, "level0", beside);
  } catch (const Error&) {
  }
  RequirePrefixKept(root + beside, resource, resource_size);
  RequirePrefixKept(root + in_bundle, resource, resource_size);
  return 0;
}
