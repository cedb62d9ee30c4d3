// Placeholder until this converter is written: it writes nothing.
#include "export/converter.h"

namespace kestrix {

void ExportCrn(const ConverterCall&, ConverterContext&) {}

}  // namespace kestrix
