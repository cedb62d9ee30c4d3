#include "support/import_simulation.h"

#include <stdexcept>

#include "core/archive.h"
#include "platform/byte_order.h"
#include "support/asset_builder.h"

namespace kestrix::testing {

uint8_t InsertedByte(uint64_t k) { return static_cast<uint8_t>((k * 131 + 17) ^ (k >> 3)); }

uint64_t SimulateImport(const OpenedArchive& archive, int64_t change, const std::string& write_to) {
  Bytes bytes = ReadFileBytes(archive.ArchivePath);
  const size_t base = static_cast<size_t>(archive.AssetBase);
  const uint32_t old_size = Get32(bytes.data() + base + 4, ByteOrder::Big);
  const size_t end = base + old_size;
  if (change > 0) {
    Bytes inserted(static_cast<size_t>(change));
    for (size_t k = 0; k < inserted.size(); ++k) inserted[k] = InsertedByte(k);
    bytes.insert(bytes.begin() + static_cast<long>(end), inserted.begin(), inserted.end());
  } else if (change < 0) {
    if (static_cast<uint64_t>(-change) > old_size) throw std::runtime_error("asset too small");
    bytes.erase(bytes.begin() + static_cast<long>(end + change),
                bytes.begin() + static_cast<long>(end));
  }
  Put32(bytes.data() + base + 4, static_cast<uint32_t>(old_size + change), ByteOrder::Big);
  WriteFileBytes(write_to.empty() ? archive.ArchivePath : write_to, bytes);
  return old_size;
}

}  // namespace kestrix::testing
