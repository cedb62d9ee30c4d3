// Placeholder until this converter is written: it writes nothing.
#include "export/converter.h"

namespace kestrix {

void ExportDds(const ConverterCall&, ConverterContext&) {}
void ExportProceduralDds(const ConverterCall&, ConverterContext&) {}

}  // namespace kestrix
