// Bundle containers: versions 1 to 5 ("UnityRaw", "UnityWeb": a level table and one LZMA
// stream) and versions 6 to 8 ("UnityFS": compressed blocks).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace kestrix {

struct OpenedArchive;
struct ContainedFile;
class ByteSource;
class Frontend;

// Header flags of versions 7 and 8 (version 6 reads its low byte as a whole, see
// bundle_reader.cc).
inline constexpr uint32_t kInfoCompressionMask = 0x3F;  // 0 none, 1 LZMA, 2 LZ4, 3 LZ4HC
inline constexpr uint32_t kInfoCombined = 0x40;         // block info and directory together
inline constexpr uint32_t kInfoAtEnd = 0x80;            // the info follows the block data
inline constexpr uint32_t kOldWebPluginCompatible = 0x100;
inline constexpr uint32_t kPaddingBeforeData = 0x200;  // block data starts at a multiple of 16

enum class BlockCoding { kStored, kLzma, kLz4 };

// How a block is compressed, by its flags. Version 6 reads LZ4 for a low byte of 2 or 3 and LZMA
// for 0x41 only (anything else is stored); versions 7 and 8 read bits 0-5 (1 LZMA, 2 and 3 LZ4),
// whose other values the open refuses.
BlockCoding BlockCodingOf(uint32_t bundle_version, uint16_t flags);

// Whether the signature and version at the start of a file make it a bundle this program reads.
bool IsHandledBundle(const std::string& signature, uint32_t version);

// A contained-file name as stored, made fit for paths: everything up to and including the last
// ":" is removed and both "/" and "\" become the native separator.
std::string NormaliseContainedName(const std::string& stored);

// Reads the bundle header and contained-file list of ArchivePath (whose Signature and
// BundleVersion are set), unpacks compressed data into ArchivePath + ".TEMP" (ArchivePath then
// names that file), and settles AssetBase, AssetBaseName and ArchiveFolderName for the
// contained file SelectedFileIndex. Throws Error when the bundle is malformed, holds no
// contained file, has no file at SelectedFileIndex, or has flags that mark encryption or a
// compression this program does not read; no ".TEMP" file is then left behind.
void OpenBundle(OpenedArchive& archive, Frontend& frontend);

// The contained files of the block bundle (versions 6 to 8) that `source` holds from its start,
// read from its info alone, its data left packed. Empty when `source` holds no such bundle;
// throws Error as OpenBundle does when it is one but malformed.
std::vector<ContainedFile> ReadBlockBundleDirectory(ByteSource& source);

}  // namespace kestrix
