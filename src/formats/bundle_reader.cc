#include "formats/bundle_reader.h"

#include "core/error.h"
#include "core/session.h"

namespace kestrix {

bool IsHandledBundle(const std::string& signature, uint32_t version) {
  return (signature == "UnityRaw" || signature == "UnityWeb" || signature == "UnityFS") &&
         (version == 3 || version == 6);
}

void OpenBundle(Session& session, Frontend&) {
  throw Error("Bundle containers of version " + std::to_string(session.BundleVersion) +
              " cannot be opened yet.");
}

}  // namespace kestrix
