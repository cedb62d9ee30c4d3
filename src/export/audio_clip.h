// The three shapes an AudioClip payload (what follows the clip's name) keeps its sound in, and
// where a streamed clip's resource file lies. Export reads sounds through them and audio import
// writes sounds back through them, so both always agree on which bytes a clip points at.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "platform/byte_order.h"

namespace kestrix {

inline constexpr size_t kClipLengthAt = 16;  // 32-bit sound length (embedded, legacy)
inline constexpr size_t kClipSoundAt = 20;   // the sound (embedded) or its resource offset (legacy)
inline constexpr uint32_t kLegacyClipSize = 24;
inline constexpr size_t kClipSourcePathAt = 32;  // resource record: path length, then the path
inline constexpr uint32_t kRecordClipMinimum = 52;

enum class ClipShape {
  Embedded,        // the sound bytes follow the length at 16
  LegacyResource,  // exactly 24 bytes: length and offset into the archive's ".resS" file
  ResourceRecord,  // a named source file with a 64-bit offset and length
  Unsupported,
};

// Decided in this order: a known container at 20 in a payload that is not 24 bytes long; a
// payload of exactly 24 bytes; zeros in both integers at 20 and 24 of at least 52 bytes.
ClipShape ClipShapeOf(const uint8_t* payload, size_t size, ByteOrder order);

struct ClipResourceRecord {
  std::string source;    // the source file as the payload names it
  size_t fields_at = 0;  // payload position of the 64-bit offset; the 64-bit length follows
  uint64_t offset = 0;
  uint64_t length = 0;
};
// Reads the record of a ResourceRecord payload; throws Error when its path or its offset and
// length run past the payload.
ClipResourceRecord ReadClipResourceRecord(const uint8_t* payload, size_t size, ByteOrder order);

// The full path of the file a record's source names: a source inside a bundle ("archive:...")
// is read where export writes that contained file, below output_root; any other source lies in
// resource_folder (beside the archive). Returns "" for a source that is absolute, has a drive
// letter or a ".." component, or names no file: it would reach outside its folder.
std::string ClipResourcePath(const std::string& source, const std::string& archive_folder_name,
                             const std::string& resource_folder, const std::string& output_root);

}  // namespace kestrix
