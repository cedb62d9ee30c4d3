// Finding list rows by name or by text inside their object data. Kept free of Qt so that it is
// tested without a window; the window supplies the rows (the session's list rows in their
// current order) and, for a data search, the open archive stream.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrix {

struct Session;
struct ListRow;
class ByteSource;

inline constexpr size_t kSearchChunkSize = 1024000;

enum SearchMode : int {
  kSearchNames = 0,
  kSearchData = 1,
};

// Whether `text` occurs in the stream between `start` and `end` (clipped to the stream's end).
// The stream is read in chunks of kSearchChunkSize bytes that overlap by the text's length, so
// a text that straddles two chunks is found and memory stays bounded.
bool SearchStream(ByteSource& stream, const std::string& text, uint64_t start, uint64_t end);

// Whether list row `row` matches. Names: a byte substring, with the ASCII letters folded
// unless `match_case`. Data: the row's payload holds the text (always case-sensitive);
// textures, audio clips, fonts and movies never match. An empty text matches nothing.
bool RowMatches(const std::vector<ListRow>& rows, const Session& session, size_t row,
                const std::string& text, bool match_case, int mode, ByteSource* stream);

// Walks the rows from `start` (which may lie outside the list) in the search direction and
// returns the first matching row, or -1. With `wrap` the walk continues at the other end and
// tests every row at most once; without it, it stops at the end of the list.
int FindMatchingRow(const std::vector<ListRow>& rows, const Session& session, int start,
                    const std::string& text, bool backward, bool match_case, bool wrap, int mode,
                    ByteSource* stream);

}  // namespace kestrix
