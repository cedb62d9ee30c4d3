// Type trees that a file of format 23 and later keeps outside itself: each such type names its
// tree by a content hash, and the tree lies in a bundle entry of that name (the bundle the file
// came in) or in a ".typetreedata" archive beside the build, whose entries are named the same way.
#pragma once

#include <array>
#include <cstdint>
#include <string>

namespace kestrix {

struct SerializedFile;
struct OpenedArchive;
class Reader;

// The name an extracted tree is stored under: its hash as 32 lower-case hex digits.
std::string TreeHashName(const std::array<uint8_t, 16>& hash);

// True when a contained file's name is that of an extracted tree (the entries a bundle keeps
// for its files' type trees rather than as files to open).
bool IsTreeHashName(const std::string& name);

// Fills the trees of the file's extracted types from the archive's bundle, else from the
// ".typetreedata" files beside the given path. A tree found nowhere stays empty (the engine's
// own layouts are used then), and the file's Warnings say how many were not found. `reader`
// reads the stream at ArchivePath.
void ResolveExtractedTrees(SerializedFile& file, const OpenedArchive& archive, Reader& reader);

}  // namespace kestrix
