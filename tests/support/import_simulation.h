// What an import does to the length of the working file, without the import: the chosen asset
// file of an open archive grows or shrinks at its end and its header says so. Tests of bundle
// write-back and the child process that is killed during one use it.
#pragma once

#include <cstdint>
#include <string>

namespace kestrix {
struct OpenedArchive;
}

namespace kestrix::testing {

// The bytes an import of `grow` > 0 inserts: recognisable, and poor for compressors.
uint8_t InsertedByte(uint64_t k);

// Inserts `change` bytes (InsertedByte) at the end of the chosen asset file's data when
// `change` > 0, or removes the last -`change` bytes of it when < 0, in the working file at
// ArchivePath (or at `write_to`, which then gets the whole changed working file), and sets the
// asset header's 32-bit big-endian file size (formats 9 to 17) to match. Returns the asset's
// file size before the change.
uint64_t SimulateImport(const OpenedArchive& archive, int64_t change,
                        const std::string& write_to = "");

}  // namespace kestrix::testing
