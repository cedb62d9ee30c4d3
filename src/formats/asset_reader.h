// Reads a serialized asset file that begins at AssetBase: header, type list and object table.
#pragma once

#include <string>

namespace kestrix {

struct Session;
class Frontend;
class Reader;

// Engine major version: the number before the first "." of the version text; when that is
// not a number, formats 9 and 14 give 4, formats 15 and 17 give 5, others 0.
int32_t MajorVersionOf(const std::string& unity_version, uint32_t format_version);

// Fills the asset header, the column map and the entry table (through the naming pass).
// Raw single-file mode when the data is not an asset file. Throws on malformed data.
void ReadAssetFile(Session& session, Frontend& frontend, Reader& reader);

}  // namespace kestrix
