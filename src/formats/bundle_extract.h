// Writes the files contained in an opened bundle, byte for byte, into a folder.
#pragma once

#include <string>

namespace kestrix {

struct OpenedArchive;
class Frontend;

// Writes every contained file of the open bundle to `folder` (which ends with a
// separator) + its normalised name, creating folders as needed, and prints "Export archive: "
// + folder + name for each. A name that would leave the folder is skipped with a message. A
// plain asset file writes nothing. Returns the number of files written.
int ExtractBundleFiles(const OpenedArchive& archive, Frontend& frontend, const std::string& folder);

}  // namespace kestrix
