#include "platform/reader.h"

#include <gtest/gtest.h>

#include "platform/byte_source.h"
#include "platform/io_error.h"
#include "platform/language.h"
#include "platform/paths.h"

namespace kestrix {
namespace {

// The kind a call fails with, or "none".
template <typename Fn>
std::string FailureKind(Fn fn) {
  try {
    fn();
  } catch (const Error& e) {
    switch (e.Kind()) {
      case ErrorKind::kDamagedData:
        return "damaged";
      case ErrorKind::kFileSystem:
        return "file system";
      case ErrorKind::kNotSupported:
        return "not supported";
    }
  }
  return "none";
}

TEST(Reader, ReadsBothByteOrdersAndStopsAtTheEnd) {
  std::vector<uint8_t> bytes = {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09};
  MemorySource src(bytes);
  Reader r(src, 64);
  EXPECT_EQ(r.U32(ByteOrder::Little), 0x04030201u);
  r.Seek(0);
  EXPECT_EQ(r.U32(ByteOrder::Big), 0x01020304u);
  EXPECT_EQ(r.U16(ByteOrder::Big), 0x0506u);
  r.Seek(1);
  EXPECT_EQ(r.U64(ByteOrder::Big), 0x0203040506070809ull);
  EXPECT_EQ(r.Remaining(), 0u);
  // Reads past the end are damaged data, not a file-system failure.
  EXPECT_EQ(FailureKind([&] { r.U8(); }), "damaged");
  r.Seek(7);
  EXPECT_EQ(FailureKind([&] { r.U32(); }), "damaged");
  EXPECT_EQ(r.Tell(), 7u);  // a failed read does not move the cursor
  r.Seek(1000);
  EXPECT_EQ(FailureKind([&] { r.U8(); }), "damaged");
  EXPECT_EQ(FailureKind([&] { r.ReadBytes(1ull << 40); }), "damaged");
  EXPECT_EQ(FailureKind([&] { src.ReadAt(8, bytes.data(), 2); }), "damaged");
  EXPECT_EQ(FailureKind([] { FileSource missing("/nonexistent/kestrix/file"); }), "file system");
}

TEST(Reader, BufferRefillsAcrossChunkBoundaries) {
  std::vector<uint8_t> bytes(1000);
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<uint8_t>(i * 7);
  MemorySource src(bytes);
  Reader r(src, 64);
  for (size_t pos : {0u, 60u, 62u, 500u, 3u, 996u}) {
    r.Seek(pos);
    uint32_t expect =
        bytes[pos] | bytes[pos + 1] << 8 | bytes[pos + 2] << 16 | uint32_t(bytes[pos + 3]) << 24;
    EXPECT_EQ(r.U32(ByteOrder::Little), expect) << pos;
  }
  r.Seek(10);
  auto big = r.ReadBytes(300);  // larger than the buffer
  EXPECT_TRUE(std::equal(big.begin(), big.end(), bytes.begin() + 10));
}

TEST(Reader, ZeroTerminatedTextWindow) {
  std::string data = std::string("5.6.3f1\0", 8) + "rest";
  MemorySource src(reinterpret_cast<const uint8_t*>(data.data()), data.size());
  Reader r(src);
  EXPECT_EQ(r.CString(16), "5.6.3f1");
  EXPECT_EQ(r.Tell(), 8u);  // right after the zero, not after the window
  // No zero inside a full window: the window is the text.
  std::string full = "0123456789abcdefXYZ";
  MemorySource src2(reinterpret_cast<const uint8_t*>(full.data()), full.size());
  Reader r2(src2);
  EXPECT_EQ(r2.CString(16), "0123456789abcdef");
  EXPECT_EQ(r2.Tell(), 16u);
  // The data ends before the window and before any zero: that is malformed.
  EXPECT_EQ(FailureKind([&] { r2.CString(16); }), "damaged");
}

TEST(Paths, NamesFoldersAndContainment) {
  EXPECT_EQ(FolderOf("/a/b/level0.split0"), "/a/b/");
  EXPECT_EQ(FileNameOf("/a/b/level0.split0"), "level0.split0");
  EXPECT_EQ(UpToFirstDot("sharedassets0.assets.resS"), "sharedassets0");
  EXPECT_EQ(UpToFirstDot("mainData"), "mainData");
  EXPECT_EQ(ExtensionOf("/x.y/name"), "");
  EXPECT_EQ(WithoutExtension("/a/level0.split0"), "/a/level0");
  EXPECT_EQ(AsciiLower("ÀBC-dds"), "Àbc-dds");
  const std::string sep(1, kSep);
  EXPECT_EQ(NativeSeparators("\\CAB-1\\x/y"), sep + "CAB-1" + sep + "x" + sep + "y");
  EXPECT_TRUE(IsContainedName("/CAB-0123/CAB-0123"));
  EXPECT_TRUE(IsContainedName("a..b/c"));
  EXPECT_FALSE(IsContainedName("../evil"));
  EXPECT_FALSE(IsContainedName("a\\..\\..\\evil"));
  EXPECT_FALSE(IsContainedName("a/.."));
  EXPECT_FALSE(IsContainedName(""));
  EXPECT_FALSE(IsContainedName("//"));
}

TEST(Language, LocaleRulesPickRussianOnlyForRussia) {
  auto with = [](const char* all, const char* messages, const char* lang) {
    return LanguageIdFromEnvironment([=](const char* name) -> const char* {
      std::string n = name;
      if (n == "LC_ALL") return all;
      if (n == "LC_MESSAGES") return messages;
      return lang;
    });
  };
  EXPECT_EQ(with(nullptr, nullptr, "ru_RU.UTF-8"), kLangRussian);
  EXPECT_EQ(with(nullptr, nullptr, "ru_RU"), kLangRussian);
  EXPECT_EQ(with(nullptr, nullptr, "ru_RU@euro"), kLangRussian);
  EXPECT_EQ(with(nullptr, nullptr, "ru_UA.UTF-8"), kLangEnglish);
  EXPECT_EQ(with(nullptr, nullptr, "uk_UA.UTF-8"), kLangEnglish);
  EXPECT_EQ(with("en_US.UTF-8", nullptr, "ru_RU.UTF-8"), kLangEnglish);  // LC_ALL wins
  EXPECT_EQ(with("", "ru_RU.UTF-8", "en_US"), kLangRussian);             // empty is unset
  EXPECT_EQ(with(nullptr, nullptr, nullptr), kLangEnglish);
  EXPECT_EQ(with(nullptr, nullptr, "C"), kLangEnglish);
}

}  // namespace
}  // namespace kestrix
