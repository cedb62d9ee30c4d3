#include "ui/search.h"

#include <string.h>

#include <algorithm>
#include <cstring>
#include <functional>
#include <vector>

#include "core/list_row.h"
#include "core/session.h"
#include "platform/ascii.h"
#include "platform/byte_source.h"

namespace kestrix {

namespace {

bool ContainsFolded(const std::string& haystack, const std::string& needle) {
  auto eq = [](char a, char b) {
    return AsciiFold(static_cast<unsigned char>(a)) == AsciiFold(static_cast<unsigned char>(b));
  };
  return std::search(haystack.begin(), haystack.end(), needle.begin(), needle.end(), eq) !=
         haystack.end();
}

bool SkippedInDataSearch(int32_t class_id) {
  switch (class_id) {
    case 27:   // Texture
    case 28:   // Texture2D
    case 83:   // AudioClip
    case 128:  // Font
    case 152:  // MovieTexture
      return true;
    default:
      return false;
  }
}

// memmem where the C library has it (it is the fastest there); Windows' has not.
const char* FindBytes(const char* data, size_t n, const std::string& text) {
#ifdef _WIN32
  const std::boyer_moore_horspool_searcher searcher(text.begin(), text.end());
  const char* found = std::search(data, data + n, searcher);
  return found == data + n ? nullptr : found;
#else
  return static_cast<const char*>(memmem(data, n, text.data(), text.size()));
#endif
}

}  // namespace

bool SearchStream(ByteSource& stream, const std::string& text, uint64_t start, uint64_t end) {
  const size_t length = text.size();
  if (length == 0) return false;
  end = std::min(end, stream.Size());
  if (start >= end || end - start < length) return false;
  // A text as long as a chunk would make the overlap eat the whole step; such a search gets
  // chunks twice its length so that every step moves on.
  const size_t chunk = std::max(kSearchChunkSize, 2 * length);
  std::vector<char> buffer(static_cast<size_t>(std::min<uint64_t>(chunk, end - start)));
  uint64_t pos = start;
  for (;;) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(chunk, end - pos));
    stream.ReadAt(pos, buffer.data(), n);
    if (n >= length && FindBytes(buffer.data(), n, text) != nullptr) return true;
    pos += n;
    if (pos >= end) return false;
    pos -= length;
  }
}

bool RowMatches(const std::vector<ListRow>& rows, const Session& s, size_t row,
                const std::string& text, bool match_case, int mode, ByteSource* stream) {
  if (text.empty() || row >= rows.size()) return false;
  const ListRow& r = rows[row];
  if (mode == kSearchNames) {
    if (match_case) return r.Name.find(text) != std::string::npos;
    return ContainsFolded(r.Name, text);
  }
  if (stream == nullptr || SkippedInDataSearch(r.ClassId) || r.Size == 0) return false;
  // The entry's own position is what the data search reads; a row without an entry (none in
  // practice) falls back to the row's offset.
  const size_t entry = static_cast<size_t>(r.Number - 1);
  const uint64_t offset = entry < s.EntryCount() ? s.PayloadOffset(entry) : r.Offset;
  return SearchStream(*stream, text, offset, offset + r.Size);
}

int FindMatchingRow(const std::vector<ListRow>& rows, const Session& s, int start,
                    const std::string& text, bool backward, bool match_case, bool wrap, int mode,
                    ByteSource* stream) {
  const int count = static_cast<int>(rows.size());
  if (count == 0 || text.empty()) return -1;
  const int step = backward ? -1 : 1;
  int i = start;
  // Every row is tested at most once, so a wrapping search that starts on the first (or, going
  // back, the last) row ends after one round instead of circling for ever.
  for (int tested = 0; tested < count; ++tested) {
    if (i < 0 || i >= count) {
      if (!wrap) return -1;
      i = backward ? count - 1 : 0;
    }
    if (RowMatches(rows, s, static_cast<size_t>(i), text, match_case, mode, stream)) return i;
    i += step;
    if (i == start) return -1;
  }
  return -1;
}

}  // namespace kestrix
