// The shared name buffer: names of any length, the empty one first of all, keep their bytes
// across its blocks.
#include "core/entries.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace kestrix {
namespace {

TEST(NameBuffer, KeepsEveryTextAcrossBlocks) {
  NameBuffer names;
  std::vector<std::pair<uint32_t, std::string>> kept;
  kept.push_back({names.Add(""), ""});  // an empty asset name can come first
  // Enough text to fill more than two blocks, in lengths up to the limit.
  for (size_t i = 0; kept.size() < 4000; ++i) {
    std::string text(i * 37 % (NameBuffer::kMaxText + 1), static_cast<char>('a' + i % 26));
    if (!text.empty()) text.back() = static_cast<char>('0' + i % 10);
    kept.push_back({names.Add(text), text});
  }
  for (const auto& [ref, text] : kept)
    EXPECT_EQ(names.Get(ref, static_cast<uint32_t>(text.size())), text);
}

}  // namespace
}  // namespace kestrix
