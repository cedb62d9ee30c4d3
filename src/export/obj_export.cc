// Placeholder until this converter is written: it writes nothing.
#include "export/converter.h"

namespace kestrix {

void ExportObj(const ConverterCall&, ConverterContext&, int32_t) {}

}  // namespace kestrix
