// The OBJ text of a decoded mesh; ExportObj (converter.h) writes it to disk.
#pragma once

#include <string>

namespace kestrix {

class TMeshBase;

// Six decimals, "-" whenever the sign bit is set; texts that the fixed format cannot carry
// (huge values, NaN, infinities) become "0.000000".
std::string FormatObjNumber(float value);
// The same, appended to `out`.
void AppendObjNumber(std::string& out, float value);
// The whole file, CR LF after every line. `file_name` is the entry's name with its extension.
// Throws MeshDecodeError (kUndecodable) when an index leaves the index buffer or vertex table.
std::string BuildObjText(const TMeshBase& mesh, const std::string& file_name);

}  // namespace kestrix
