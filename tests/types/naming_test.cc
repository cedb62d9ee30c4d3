// The naming pass on built files: names, extensions from content, payload locations, duplicate
// numbers, and damaged objects that must not take reads outside the object or the file.
#include "types/naming.h"

#include <gtest/gtest.h>

#include <algorithm>
#include <tuple>

#include "core/list_row.h"
#include "core/session.h"
#include "formats/asset_reader.h"
#include "platform/byte_source.h"
#include "platform/reader.h"
#include "support/asset_builder.h"
#include "support/payloads.h"
#include "support/test_env.h"

namespace kestrix {
namespace {

using namespace testing;  // NOLINT: the builder vocabulary

struct Named {
  Session s;
  RecordingFrontend fe;
  Bytes file;
};

void Name(const AssetSpec& desc, Named& n, const std::string& base = "level0",
          bool font_container = false, size_t cut = 0, size_t split_at = kSecondThreadFrom) {
  n.file = BuildAssetFile(desc);
  n.file.resize(n.file.size() - cut);
  n.s.Archive.AssetBaseName = base;
  MemorySource source(n.file);
  Reader reader(source);
  ReadAssetFile(n.s.Asset, n.s.Archive, n.fe, reader);
  NamingPass(n.s, n.fe, source, font_container, split_at);
}

// The bytes the session says are entry i's payload.
Bytes Payload(const Named& n, size_t i) {
  uint64_t at = n.s.PayloadOffset(i);
  return Bytes(n.file.begin() + static_cast<long>(at),
               n.file.begin() + static_cast<long>(at + n.s.PayloadSize(i)));
}

TEST(Naming, DuplicatesIgnoreCaseAndNumberByIndex) {
  AssetSpec desc;
  // Table order deliberately differs from name order and case order.
  const char* names[] = {"zeta", "WOOD", "Wood", "alpha", "wood", "map.old", "MAP.OLD", "wOOd"};
  for (const char* n : names) desc.objects.push_back({21, NamedObject(n, Bytes(8, 1))});
  desc.objects[5].class_id = 49;
  desc.objects[5].data = TextObject("map.old", "x");
  desc.objects[6].class_id = 49;
  desc.objects[6].data = TextObject("map.old", "y");
  Named n;
  Name(desc, n);
  const Session& s = n.s;
  EXPECT_EQ(s.EntryName(0), "zeta.mat");
  EXPECT_EQ(s.EntryName(1), "WOOD.mat");
  EXPECT_EQ(s.EntryName(2), "Wood_00001.mat");
  EXPECT_EQ(s.EntryName(3), "alpha.mat");
  EXPECT_EQ(s.EntryName(4), "wood_00002.mat");
  EXPECT_EQ(s.EntryName(5), "map.old.txt");
  EXPECT_EQ(s.EntryName(6), "map.old_00001.txt");
  EXPECT_EQ(s.EntryName(7), "wOOd_00003.mat");
  EXPECT_EQ(s.Entries.DuplicateNumber(7), 3u);
  EXPECT_EQ(s.Entries.DuplicateNumber(0), 0u);
}

// Names from a small alphabet, so that many collide but for case; letters at the edges of the
// capital range and bytes above 127 whose low bits look like capitals must not be folded.
TEST(Naming, DuplicateNumbersMatchAPlainPairwiseCount) {
  const std::string alphabet[] = {"a", "A", "z", "Z", "@", "[", "`", "{", "\xC1", "\xE1", "\xDA"};
  AssetSpec desc;
  uint32_t seed = 12345;
  std::vector<std::string> raw;
  for (int i = 0; i < 600; ++i) {
    std::string name;
    seed = seed * 1103515245u + 12345u;
    const int length = 1 + static_cast<int>((seed >> 16) % 10);
    for (int k = 0; k < length; ++k) {
      seed = seed * 1103515245u + 12345u;
      name += alphabet[(seed >> 16) % 4 == 0 ? (seed >> 8) % 11 : (seed >> 8) % 2];
    }
    raw.push_back(name);
    desc.objects.push_back({21, NamedObject(name, Bytes(4, 0))});
  }
  Named n;
  Name(desc, n);
  auto fold = [](std::string t) {
    for (char& c : t)
      if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
    return t;
  };
  for (size_t i = 0; i < raw.size(); ++i) {
    int earlier = 0;
    for (size_t j = 0; j < i; ++j) earlier += fold(raw[j]) == fold(raw[i]);
    const std::string expected =
        earlier == 0 ? raw[i] + ".mat" : raw[i] + "_" + OrdinalText(earlier) + ".mat";
    ASSERT_EQ(n.s.EntryName(i), expected) << i;
  }
}

TEST(Naming, CleaningAndNamesOfRemovedCharactersOnly) {
  AssetSpec desc;
  desc.objects.push_back({28, TextureObject("a<b>:c", 10)});
  desc.objects.push_back({28, TextureObject("<>:|", 10)});
  desc.objects.push_back({28, TextureObject(std::string("\x01?\0*\"/\\", 7), 10)});
  desc.objects.push_back({28, TextureObject(std::string("t\tab\x1fle\0", 9), 10)});
  Named n;
  Name(desc, n);
  EXPECT_EQ(n.s.EntryName(0), "abc.tex");
  EXPECT_EQ(n.s.EntryName(1), ".tex");
  EXPECT_EQ(n.s.EntryName(2), "_00001.tex");  // the duplicate rule applies to ".tex" too
  EXPECT_EQ(n.s.EntryName(3), "table.tex");
  EXPECT_EQ(CleanName(std::string("x\0y", 3)), "xy");
}

TEST(Naming, GeneratedNamesStayOutOfTheDuplicateCheck) {
  AssetSpec desc;
  for (int i = 0; i < 11; ++i) desc.objects.push_back({114, Bytes(12, 7)});
  desc.objects.push_back({43, NamedObject("", Bytes(16, 2))});  // empty name
  desc.objects.push_back({43, NamedObject("", Bytes(16, 3))});
  desc.objects.push_back({114, Bytes(12, 7)});  // the 12th MonoBehaviour
  desc.objects.push_back({-7, Bytes(12, 7)});
  ByteWriter long_name;
  long_name.U32(300).Zeros(40);  // length 256 or more
  desc.objects.push_back({21, long_name.Take()});
  Named n;
  Name(desc, n, "sharedassets0");
  const Session& s = n.s;
  EXPECT_EQ(s.EntryName(0), "sharedassets0_00001.114");
  EXPECT_EQ(s.EntryName(11), "sharedassets0_00001.mesh");
  EXPECT_EQ(s.EntryName(12), "sharedassets0_00002.mesh");
  EXPECT_EQ(s.EntryName(13), "sharedassets0_00012.114");
  EXPECT_EQ(s.EntryName(14), "sharedassets0_00001.-7");
  EXPECT_EQ(s.EntryName(15), "sharedassets0_00001.mat");
  EXPECT_EQ(s.Entries[15].NameFieldSize, 0);
  EXPECT_EQ(s.PayloadSize(15), 44u);  // the whole object
  EXPECT_EQ(s.Entries[11].NameFieldSize, 4);
  EXPECT_EQ(s.Entries[0].NameFieldSize, 0);  // no data read
  EXPECT_EQ(OrdinalText(123456), "123456");
}

TEST(Naming, TexturesReadTheirFormatInEitherByteOrder) {
  for (bool big : {false, true}) {
    AssetSpec desc;
    desc.big_endian = big;
    desc.objects.push_back({28, TextureObject("Hero", 10, Bytes(64, 1), big)});
    desc.objects.push_back({89, TextureObject("Sky", 3, Bytes(64, 1), big)});
    desc.objects.push_back({186, ProceduralTextureObject("Noise", 5, big)});
    desc.objects.push_back({186, Bytes(8, 0)});  // smaller than its trailer: no name, no format
    Named n;
    Name(desc, n);
    const Session& s = n.s;
    EXPECT_EQ(s.EntryName(0), "Hero.tex");
    EXPECT_EQ(s.Entries.TypeText(0), "Texture2D id: 10 - DXT1");
    EXPECT_EQ(s.Entries.TextureFormat(0), 10);
    EXPECT_EQ(s.Entries.TypeText(1), "Cubemap id: 3 - RGB24");
    EXPECT_EQ(s.EntryName(2), "Noise.ptex");
    EXPECT_EQ(s.Entries.TextureFormat(2), 5);
    EXPECT_EQ(s.Entries.TextureFormat(3), 0);
    EXPECT_EQ(s.PayloadSize(0), s.EntrySize(0) - 8);
  }
}

TEST(Naming, NegativePlatformSkipsThePrefixAndTheTextureHeader) {
  AssetSpec desc;
  desc.platform = -2;
  desc.objects.push_back(
      {28, WithPlatformPrefix(TextureObject("Hero", 12, Bytes(64, 1), false, true))});
  desc.objects.push_back({49, WithPlatformPrefix(TextObject("notes", "hello"))});
  desc.objects.push_back({1, Bytes(4, 0)});
  Named n;
  Name(desc, n);
  const Session& s = n.s;
  EXPECT_EQ(s.EntryName(0), "Hero.tex");
  EXPECT_EQ(s.Entries.TextureFormat(0), 12);
  EXPECT_EQ(static_cast<int32_t>(s.Entries.PrefixSkip), 28);
  EXPECT_EQ(static_cast<int32_t>(s.Entries[0].PayloadSkip), 16);
  EXPECT_EQ(s.HeaderSkip(0), 28u + 8u + 16u);
  EXPECT_EQ(s.EntryName(1), "notes.txt");
  Bytes text = Payload(n, 1);
  EXPECT_EQ(std::string(text.begin(), text.end()), "hello");
  EXPECT_EQ(static_cast<int32_t>(s.Entries.PrefixSkip), 28);
}

TEST(Naming, TextsAndShadersBecomeXmlOnlyWithLowerCaseMarker) {
  AssetSpec desc;
  // Shaders hold their text up to engine 5.4.
  desc.format = 15;
  desc.unity_version = "5.4.6f3";
  desc.objects.push_back({49, TextObject("a", "<?xml version=\"1.0\"?><r/>")});
  desc.objects.push_back({49, TextObject("b", "<?XML version=\"1.0\"?><r/>")});
  desc.objects.push_back({48, TextObject("c", "<?xml?>")});
  desc.objects.push_back({49, TextObject("d", "<?xm")});  // too short to hold the marker
  desc.objects.push_back({49, TextObject("e", "")});
  Named n;
  Name(desc, n);
  const Session& s = n.s;
  EXPECT_EQ(s.EntryName(0), "a.xml");
  EXPECT_EQ(s.EntryName(1), "b.txt");
  EXPECT_EQ(s.EntryName(2), "c.xml");
  EXPECT_EQ(s.EntryName(3), "d.txt");
  Bytes text = Payload(n, 0);
  EXPECT_EQ(std::string(text.begin(), text.end()), "<?xml version=\"1.0\"?><r/>");
  EXPECT_EQ(s.PayloadSize(4), 0u);
  EXPECT_EQ(static_cast<int32_t>(s.Entries[4].PayloadSkip), 4);
}

TEST(Naming, FontLayoutsAndFontContainer) {
  for (bool big : {false, true}) {
    for (bool container : {false, true}) {
      AssetSpec desc;
      desc.big_endian = big;
      desc.objects.push_back(
          {128, FontObject("Marker", FontLayout::kMarker, FakeTrueTypeFont(), big)});
      desc.objects.push_back(
          {128, FontObject("Table", FontLayout::kCharTable, FakeTrueTypeFont(), big)});
      desc.objects.push_back(
          {128, FontObject("Bare", FontLayout::kNoData, FakeTrueTypeFont(), big)});
      Named n;
      Name(desc, n, "level0", container);
      const Session& s = n.s;
      if (container) {
        for (size_t i = 0; i < 3; ++i) {
          EXPECT_EQ(s.EntryName(i).substr(s.EntryName(i).size() - 4), ".fnt");
          EXPECT_FALSE(s.HasEmbeddedPayload(i));
          EXPECT_EQ(s.HeaderSkip(i), static_cast<uint32_t>(s.Entries[i].NameFieldSize));
          EXPECT_EQ(s.PayloadSize(i), s.EntrySize(i) - s.HeaderSkip(i)) << i;  // all after the name
        }
        continue;
      }
      EXPECT_EQ(s.EntryName(0), "Marker.ttf");
      EXPECT_EQ(Payload(n, 0), FakeTrueTypeFont()) << big;
      EXPECT_EQ(s.EntryName(1), "Table.ttf");
      EXPECT_EQ(Payload(n, 1), FakeTrueTypeFont()) << big;
      EXPECT_EQ(static_cast<int32_t>(s.Entries[1].PayloadSkip), 56 + 8 * 3 + 4);
      EXPECT_EQ(s.EntryName(2), "Bare.font_raw");
      EXPECT_EQ(static_cast<int32_t>(s.Entries[2].PayloadSkip), 0);
      EXPECT_EQ(s.PayloadSize(2), 16u);
    }
  }
}

TEST(Naming, MoviesWithOggAt16Or20) {
  AssetSpec desc;
  desc.objects.push_back({152, MovieObject("intro", 16)});
  desc.objects.push_back({152, MovieObject("outro", 20)});
  desc.objects.push_back({152, MovieObject("plain", 0)});
  Named n;
  Name(desc, n);
  const Session& s = n.s;
  EXPECT_EQ(Payload(n, 0), FakeOggStream());
  EXPECT_EQ(Payload(n, 1), FakeOggStream());
  EXPECT_EQ(static_cast<int32_t>(s.Entries[1].PayloadSkip), 20);
  EXPECT_EQ(s.EntryName(2), "plain.ogm");
  EXPECT_FALSE(s.HasEmbeddedPayload(2));
  EXPECT_EQ(s.PayloadSize(2), s.EntrySize(2) - 12);
}

TEST(Naming, DamagedObjectsStillGetNamesWithoutReadsOutsideThem) {
  AssetSpec desc;
  // A name length of 255 with only a few bytes behind it, followed by a named neighbour whose
  // bytes the name would swallow.
  ByteWriter runaway;
  runaway.U32(255).Text("abc");
  desc.objects.push_back({21, runaway.Take()});
  desc.objects.push_back({21, NamedObject("neighbour", Bytes(300, 'n'))});
  // A name that fits but whose padding does not.
  ByteWriter tight;
  tight.U32(1).Text("x");
  desc.objects.push_back({21, tight.Take()});
  desc.objects.push_back({21, NamedObject("far", Bytes(8, 1))});
  desc.record_overrides.push_back({3, 0x7FFFFF00u, 64});  // offset past the end of the file
  // Last: a font whose scan runs into the end of the file (the file is cut short below).
  desc.objects.push_back({128, FontObject("Cut", FontLayout::kNoData)});
  Named n;
  Name(desc, n, "level0", false, 8);
  const Session& s = n.s;
  EXPECT_EQ(s.EntryName(0), "level0_00001.mat");
  EXPECT_EQ(s.Entries[0].NameFieldSize, 0);
  EXPECT_EQ(s.EntryName(1), "neighbour.mat");
  EXPECT_EQ(s.EntryName(2), "x.mat");
  EXPECT_EQ(s.EntryName(3), "level0_00004.mat");
  EXPECT_EQ(s.EntryName(4), "Cut.font_raw");
  EXPECT_TRUE(n.fe.messages.empty());
}

TEST(Naming, WindowModeMovesProgressAndListRowsFollowTheEntries) {
  AssetSpec desc;
  for (int i = 0; i < 3; ++i) desc.objects.push_back({21, NamedObject("m", Bytes(4, 0))});
  Named n;
  n.fe.window = true;
  Name(desc, n, "x");
  EXPECT_EQ(n.fe.progress, (std::vector<int>{33, 66, 100}));
  const std::vector<ListRow> rows = BuildListRows(n.s);
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[2].Number, 3);
  EXPECT_EQ(rows[2].Name, "m_00002.mat");
  EXPECT_EQ(rows[2].TypeSuffix, " (Material)");
}

// Objects of every kind the pass names differently: names from a small alphabet that repeat
// but for case, unnamed and script objects, empty names, textures of several formats, texts,
// fonts and movies, in an order drawn from `seed`.
AssetSpec MixedObjects(size_t count, uint32_t seed) {
  AssetSpec desc;
  auto next = [&seed] {
    seed = seed * 1103515245u + 12345u;
    return seed >> 8;
  };
  const char* names[] = {"a", "A", "ab", "AB", "Tree", "tree", "x.old"};
  for (size_t i = 0; i < count; ++i) {
    const std::string name = names[next() % 7];
    switch (next() % 9) {
      case 0:
        desc.objects.push_back({114, Bytes(12, 7)});
        break;
      case 1:
        desc.objects.push_back({-3, Bytes(12, 7)});
        break;
      case 2:
        desc.objects.push_back({43, NamedObject("", Bytes(16, 2))});
        break;
      case 3:
        desc.objects.push_back({28, TextureObject(name, next() % 2 ? 10 : 12345)});
        break;
      case 4:
        desc.objects.push_back({49, TextObject(name, "<?xml?>")});
        break;
      case 5:
        desc.objects.push_back({128, FontObject(name, FontLayout::kMarker)});
        break;
      case 6:
        desc.objects.push_back({152, MovieObject(name, 16)});
        break;
      default:
        desc.objects.push_back({21, NamedObject(name, Bytes(4, 0))});
        break;
    }
  }
  return desc;
}

TEST(Naming, TwoThreadsNameEveryEntryAsOneDoes) {
  for (size_t count : {2, 3, 10, 301}) {
    const AssetSpec desc = MixedObjects(count, static_cast<uint32_t>(count));
    Named one, two;
    one.fe.window = two.fe.window = true;
    Name(desc, one, "level0", false, 0, static_cast<size_t>(-1));
    Name(desc, two, "level0", false, 0, 2);
    ASSERT_EQ(two.s.EntryCount(), count);
    for (size_t i = 0; i < count; ++i) {
      const Entry& a = one.s.Entries[i];
      const Entry& b = two.s.Entries[i];
      EXPECT_EQ(ListLineText(BuildListRow(two.s, i)), ListLineText(BuildListRow(one.s, i)))
          << count << " objects, entry " << i;
      EXPECT_EQ(two.s.Entries.DuplicateNumber(i), one.s.Entries.DuplicateNumber(i)) << i;
      EXPECT_EQ(two.s.Entries.TextureFormat(i), one.s.Entries.TextureFormat(i)) << i;
      EXPECT_EQ(std::make_tuple(b.NameFieldSize, b.PayloadSkip, b.PayloadLength),
                std::make_tuple(a.NameFieldSize, a.PayloadSkip, a.PayloadLength))
          << i;
    }
    ASSERT_FALSE(two.fe.progress.empty());
    EXPECT_TRUE(std::is_sorted(two.fe.progress.begin(), two.fe.progress.end()));
    EXPECT_EQ(two.fe.progress.back(), 100);
  }
}

}  // namespace
}  // namespace kestrix
