// Open of a bundle file, then bundle extraction into the scratch folder. An input that already
// starts with a bundle signature is the file; any other input gets a signature and version in
// front (chosen by its first byte), so every execution reaches the bundle reader.
#include <cstring>
#include <string>
#include <vector>

#include "core/error.h"
#include "core/session.h"
#include "formats/archive_open.h"
#include "formats/bundle_extract.h"
#include "formats/bundle_reader.h"
#include "platform/io_error.h"
#include "support.h"

namespace {

bool StartsWith(const uint8_t* data, size_t size, const char* text) {
  size_t n = std::strlen(text) + 1;  // with the terminating zero
  return size >= n && std::memcmp(data, text, n) == 0;
}

std::vector<uint8_t> AsBundle(const uint8_t* data, size_t size) {
  static const char* const kSignatures[] = {"UnityFS", "UnityWeb", "UnityRaw"};
  for (const char* s : kSignatures)
    if (StartsWith(data, size, s)) return std::vector<uint8_t>(data, data + size);
  const uint8_t pick = size ? data[0] : 0;
  const char* signature = kSignatures[pick % 3];
  const uint8_t version = (pick / 3) % 2 ? 3 : 6;
  std::vector<uint8_t> out(signature, signature + std::strlen(signature) + 1);
  out.insert(out.end(), {0, 0, 0, version});
  if (size > 1) out.insert(out.end(), data + 1, data + size);
  return out;
}

// Open and extraction may fail only with the program's own errors.
template <typename Fn>
void Expect(Fn fn) {
  try {
    fn();
  } catch (const kestrix::Error&) {
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestrix;
  const std::vector<uint8_t> file = AsBundle(data, size);
  const std::string path = fuzz::WriteInput(file.data(), file.size(), "level0.unity3d");
  fuzz::QuietFrontend frontend;
  {
    Session session;
    Expect([&] { OpenArchive(session, frontend, path); });
    CloseArchive(session);
  }
  {
    // What "exportbundle" does: the container stage alone, then every contained file written.
    Session session;
    Expect([&] {
      OpenContainer(session.Archive, frontend, path);
      ExtractBundleFiles(session.Archive, frontend, fuzz::ScratchDir() + "/out/Bundle/");
    });
    CloseArchive(session);
  }
  return 0;
}
