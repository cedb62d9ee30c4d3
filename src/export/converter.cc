#include "export/converter.h"

#include "core/error.h"
#include "core/session.h"

namespace kestrix {

std::string ConverterContext::ResourceFolder(const std::string& base_folder) const {
  const OpenedArchive& a = session_.Archive;
  if (a.GivenPath.empty() && a.ArchivePath.empty()) return base_folder;
  return kestrix::ResourceFolder(a);
}

void ConverterContext::MissingResource(const std::string& text) const { throw MissingResourceError(text); }

}  // namespace kestrix
