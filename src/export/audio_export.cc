// Placeholder until this converter is written: it writes nothing.
#include "export/converter.h"

namespace kestrix {

void ExportAudio(const ConverterCall&, ConverterContext&, const std::string&, const std::string&) {}

}  // namespace kestrix
