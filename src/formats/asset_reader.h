// Reads a serialized asset file that begins at AssetBase: header, type list and object table.
#pragma once

#include <cstdint>
#include <string>

namespace kestrix {

struct SerializedFile;
struct OpenedArchive;
class Frontend;
class Reader;
struct TypeTree;

// Engine major version: the number before the first "." of the version text; when that is
// not a number, formats 9 and 14 give 4, formats 15 and 17 give 5, others 0.
int32_t MajorVersionOf(const std::string& unity_version, uint32_t format_version);

// Whether the `size` bytes at `base` begin like a serialized file: a header of a known layout
// whose sizes fit. Cheap (one header read); bundles use it to skip the contained files that are
// not serialized files (code, resource data).
bool LooksLikeAssetFile(Reader& reader, uint64_t base, uint64_t size);

// Reads the asset file that begins at the archive's AssetBase: header, type list (with its type
// trees) and object records. Raw single-file mode, with one record for the whole stream, when
// the data is not an asset file. Throws on malformed data; notes that do not stop the read go to
// the file's Warnings for the caller to show. The frontend only lets the window breathe.
void ReadAssetFile(SerializedFile& file, const OpenedArchive& archive, Frontend& frontend,
                   Reader& reader);

// A type tree as format 23 stores it, in the file or extracted beside it: its header ("mhtt"
// and the format it was written for), then the tree. Throws on anything else.
TypeTree ReadTypeTreeBlob(Reader& reader);

}  // namespace kestrix
