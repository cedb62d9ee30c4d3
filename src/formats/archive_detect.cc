#include "formats/archive_detect.h"

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "formats/stream_wrappers.h"
#include "formats/webdata_container.h"
#include "platform/byte_order.h"
#include "platform/byte_source.h"
#include "platform/paths.h"
#include "types/class_ids.h"

namespace kestrix {

namespace {

// Enough for the widest serialized-file header and the engine version text after it.
constexpr size_t kHeadBytes = 96;
// Serialized formats run from 5 to the low twenties today; anything far past that is not one.
constexpr uint32_t kLowestFormat = 5;
constexpr uint32_t kHighestPlausibleFormat = 40;
constexpr uint32_t kFirstWideFormat = 22;
constexpr uint32_t kFirstLeadingMetadataFormat = 9;

bool StartsWith(const unsigned char* bytes, size_t n, const char* text) {
  const size_t len = std::strlen(text) + 1;  // with its terminating zero
  return n >= len && std::memcmp(bytes, text, len) == 0;
}

// "5.6.7f1", "2019.4.1f1", or "0.0.0" for stripped files: a digit, then digits and dots.
bool LooksLikeVersion(const uint8_t* text, size_t n) {
  if (n == 0 || text[0] < '0' || text[0] > '9') return false;
  for (size_t i = 0; i < n && text[i] != 0; ++i)
    if (text[i] == '.') return true;
  return false;
}

bool SerializedHeaderAgrees(const uint8_t* b, size_t n, uint64_t file_size, bool piece) {
  if (n < 20) return false;
  const uint32_t format = Get32(b + 8, ByteOrder::Big);
  if (format < kLowestFormat || format > kHighestPlausibleFormat) return false;
  uint64_t metadata = Get32(b, ByteOrder::Big);
  uint64_t stated_size = Get32(b + 4, ByteOrder::Big);
  uint64_t data_offset = Get32(b + 12, ByteOrder::Big);
  size_t version_at = 20;
  if (format >= kFirstWideFormat) {
    if (n < 48) return false;
    metadata = Get32(b + 20, ByteOrder::Big);
    stated_size = Get64(b + 24, ByteOrder::Big);
    data_offset = Get64(b + 32, ByteOrder::Big);
    version_at = 48;
  }
  const bool size_agrees = piece ? stated_size >= file_size : stated_size == file_size;
  if (!size_agrees || metadata >= stated_size || data_offset > stated_size) return false;
  // Formats before 9 keep their metadata, and the version text, at the end of the file.
  if (format < kFirstLeadingMetadataFormat) return true;
  if (b[16] > 1) return false;  // the endianness byte
  return LooksLikeVersion(b + version_at, n - version_at);
}

}  // namespace

bool IsResourceFileName(const std::string& file_name) {
  const std::string ext = AsciiLower(ExtensionOf(file_name));
  return ext == ".ress" || ext == ".resource";
}

bool IsArchiveCompanion(const std::string& file_name) {
  if (IsResourceFileName(file_name)) return true;
  const std::string ext = AsciiLower(ExtensionOf(file_name));
  return ext.size() > 6 && ext.compare(0, 6, ".split") == 0 && ext != ".split0" &&
         ext.find_first_not_of("0123456789", 6) == std::string::npos;
}

bool HeaderLooksLikeArchive(const unsigned char* bytes, size_t n, unsigned long long file_size,
                            bool piece) {
  for (const char* signature : {kSignatureFS, kSignatureRaw, kSignatureWeb, "UnityWebData1.0"})
    if (StartsWith(bytes, n, signature)) return true;
  return SerializedHeaderAgrees(bytes, n, file_size, piece);
}

bool LooksLikeArchive(const std::string& path) {
  const std::string name = FileNameOf(path);
  if (IsArchiveCompanion(name)) return false;
  try {
    FileSource source(path);
    unsigned char head[kHeadBytes] = {};
    const size_t n = static_cast<size_t>(std::min<uint64_t>(source.Size(), kHeadBytes));
    source.ReadAt(0, head, n);
    const std::string ext = AsciiLower(ExtensionOf(name));
    if (HeaderLooksLikeArchive(head, n, source.Size(), ext == ".split0")) return true;
    // A web build's data file wrapped whole in gzip or brotli: told by what it unwraps to.
    // Brotli has no magic, so only the names web builds give it are tried.
    const StreamWrapper kind = LooksGzip(source)                        ? StreamWrapper::kGzip
                               : ext == ".br" || ext == ".unityweb"     ? StreamWrapper::kBrotli
                                                                        : StreamWrapper::kNone;
    if (kind == StreamWrapper::kNone) return false;
    const std::string signature = kWebDataSignature;
    const std::vector<uint8_t> start = PeekUnwrapped(source, kind, signature.size());
    return std::string(start.begin(), start.end()) == signature;
  } catch (const std::exception&) {
    return false;
  }
}

}  // namespace kestrix
