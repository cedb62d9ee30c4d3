// Bundle containers: version 3 ("UnityRaw", "UnityWeb") and version 6 ("UnityFS").
#pragma once

#include <cstdint>
#include <string>

namespace kestrix {

struct OpenedArchive;
class Frontend;

// Whether the signature and version at the start of a file make it a bundle this program reads.
bool IsHandledBundle(const std::string& signature, uint32_t version);

// A contained-file name as stored, made fit for paths: everything up to and including the last
// ":" is removed and both "/" and "\" become the native separator.
std::string NormaliseContainedName(const std::string& stored);

// Reads the bundle header and contained-file list of ArchivePath (whose Signature and
// BundleVersion are set), unpacks compressed data into ArchivePath + ".TEMP" (ArchivePath then
// names that file), and settles AssetBase, AssetBaseName and ArchiveFolderName for the
// contained file SelectedFileIndex. Throws Error when the bundle is malformed, holds no
// contained file, or has no file at SelectedFileIndex; no ".TEMP" file is then left behind.
void OpenBundle(OpenedArchive& archive, Frontend& frontend);

}  // namespace kestrix
