#include "types/type_info.h"

#include <gtest/gtest.h>

#include <climits>
#include <set>

#include "types/detect_platform.h"

namespace kestrix {
namespace {

TEST(ClassIdToName, TableEdgesScriptsAndGaps) {
  EXPECT_EQ(ClassIdToName(1), "GameObject");
  EXPECT_EQ(ClassIdToName(1120), "LightmapSnapshot");
  EXPECT_EQ(ClassIdToName(290), "AssetBundleManifest");
  EXPECT_EQ(ClassIdToName(134), "PhysicMaterial");
  EXPECT_EQ(ClassIdToName(62), "PhysicsMaterial2D");
  EXPECT_EQ(ClassIdToName(194), "NavMeshObsolete");
  EXPECT_EQ(ClassIdToName(114), "MonoBehaviour");
  for (int32_t id : {0, -1, -3, INT32_MIN})
    EXPECT_EQ(ClassIdToName(id), "MonoBehaviour id: 114") << id;
  for (int32_t id : {7, 10, 1033, 1055, 1121, 5000, INT32_MAX})
    EXPECT_EQ(ClassIdToName(id), "UNKNOW_TYPE") << id;
}

TEST(ClassIdToName, HoldsExactly235DistinctNames) {
  std::set<std::string> names;
  int known = 0, low = 0;
  for (int32_t id = 1; id <= 1200; ++id) {
    std::string n = ClassIdToName(id);
    if (n == "UNKNOW_TYPE") continue;
    ++known;
    if (id <= 290) ++low;
    names.insert(n);
  }
  EXPECT_EQ(known, 235);
  EXPECT_EQ(low, 190);
  EXPECT_EQ(names.size(), 235u);
}

TEST(TextureFormatName, CodeAndName) {
  EXPECT_EQ(TextureFormatName(10), "id: 10 - DXT1");
  EXPECT_EQ(TextureFormatName(0), "id: 0 - UNKNOW_FORMAT");
  EXPECT_EQ(TextureFormatName(-3), "id: -3 - UNKNOW_FORMAT");
  EXPECT_EQ(TextureFormatName(62), "id: 62 - UNKNOW_FORMAT");
  EXPECT_EQ(TextureFormatName(2), "id: 2 - ARGB4444");
  EXPECT_EQ(TextureFormatName(13), "id: 13 - RGBA4444");
  EXPECT_EQ(TextureFormatName(14), "id: 14 - BGRA32");
  EXPECT_EQ(TextureFormatName(37), "id: 37 - BGRA32");
  EXPECT_EQ(TextureFormatName(61), "id: 61 - ETC_RGBA8_3DS");
  EXPECT_EQ(TextureFormatName(1), "id: 1 - Alpha8");
}

TEST(TextureFormatSupports, ContainerRules) {
  EXPECT_FALSE(TextureFormatSupports(34, kTargetDds));
  EXPECT_TRUE(TextureFormatSupports(34, kTargetKtx));
  EXPECT_TRUE(TextureFormatSupports(34, kTargetPvr));
  EXPECT_FALSE(TextureFormatSupports(21, kTargetKtx));
  EXPECT_TRUE(TextureFormatSupports(21, kTargetPvr));
  for (int32_t atc : {35, 36}) {
    EXPECT_TRUE(TextureFormatSupports(atc, kTargetDds));
    EXPECT_TRUE(TextureFormatSupports(atc, kTargetKtx));
    EXPECT_FALSE(TextureFormatSupports(atc, kTargetPvr));
  }
  for (int32_t crunched : {28, 29}) {
    EXPECT_FALSE(TextureFormatSupports(crunched, kTargetDds));
    EXPECT_TRUE(TextureFormatSupports(crunched, kTargetCrn));
    EXPECT_TRUE(TextureFormatSupports(crunched, kTargetAny));
    EXPECT_FALSE(TextureFormatSupports(crunched, kTargetKtx));
  }
  for (int32_t none : {6, 8, 15, 16, 17, 18, 19, 20, 22, 23, 24, 25, 26, 27, 38, 39, 40})
    for (uint8_t t = 0; t <= 4; ++t)
      EXPECT_FALSE(TextureFormatSupports(none, t)) << none << " " << int(t);
  EXPECT_FALSE(TextureFormatSupports(10, 5));
  EXPECT_FALSE(TextureFormatSupports(10, 255));
  EXPECT_FALSE(TextureFormatSupports(0, kTargetAny));
  EXPECT_FALSE(TextureFormatSupports(-1, kTargetDds));
  // Any = at least one container, for every code.
  for (int32_t c = -2; c <= 64; ++c) {
    bool some = false;
    for (uint8_t t = 1; t <= 4; ++t) some |= TextureFormatSupports(c, t);
    EXPECT_EQ(TextureFormatSupports(c, kTargetAny), some) << c;
  }
  // The short form of the export driver: DDS 1-5, 7, 9-14, 35-37.
  std::set<int> dds;
  for (int32_t c = 1; c <= 61; ++c)
    if (TextureFormatSupports(c, kTargetDds)) dds.insert(c);
  EXPECT_EQ(dds, (std::set<int>{1, 2, 3, 4, 5, 7, 9, 10, 11, 12, 13, 14, 35, 36, 37}));
}

TEST(PlatformName, KnownAndEmpty) {
  EXPECT_EQ(PlatformName(-2), "Source");
  EXPECT_EQ(PlatformName(5), "WIN_x86");
  EXPECT_EQ(PlatformName(13), "ANDROID");
  EXPECT_EQ(PlatformName(28), "BlackBerry");
  for (int32_t c : {-1, 0, 1, 3, 6, 8, 11, 29}) EXPECT_EQ(PlatformName(c), "") << c;
}

// From engine 5.5 on codes 22 to 27 are no Wii formats any more and codes past 61 exist; files of
// earlier (or unknown) engines keep the older table.
TEST(TextureFormatName, NewerEnginesNumberTheirFormatsAnew) {
  const EngineVersion old = ParseEngineVersion("5.4.6f1");
  const EngineVersion newer = ParseEngineVersion("2019.4.1f1");
  struct Row {
    int32_t code;
    const char* old_name;
    const char* new_name;
    uint8_t new_target;  // a container that takes it from 5.5 on
  };
  for (const Row& r :
       {Row{25, "WiiRGB5A3", "BC7", kTargetDds}, Row{24, "WiiRGB565", "BC6H", kTargetDds},
        Row{26, "WiiRGBA8", "BC4", kTargetDds}, Row{27, "WiiCMPR", "BC5", kTargetDds},
        Row{22, "WiiIA4", "RGB9e5Float", kTargetDds},
        Row{64, "UNKNOW_FORMAT", "ETC_RGB4Crunched", kTargetCrn},
        Row{65, "UNKNOW_FORMAT", "ETC2_RGBA8Crunched", kTargetCrn},
        Row{66, "UNKNOW_FORMAT", "ASTC_HDR_4x4", kTargetKtx},
        Row{71, "UNKNOW_FORMAT", "ASTC_HDR_12x12", kTargetPvr},
        Row{63, "UNKNOW_FORMAT", "R8", kTargetDds}}) {
    SCOPED_TRACE(r.code);
    const std::string code = "id: " + std::to_string(r.code) + " - ";
    EXPECT_EQ(TextureFormatName(r.code, old), code + r.old_name);
    EXPECT_EQ(TextureFormatName(r.code), code + r.old_name);
    EXPECT_EQ(TextureFormatName(r.code, newer), code + r.new_name);
    EXPECT_FALSE(TextureFormatSupports(r.code, kTargetAny, old));
    EXPECT_TRUE(TextureFormatSupports(r.code, r.new_target, newer));
  }
  // What no engine's containers take stays refused, and the old codes keep their rows.
  for (int32_t none : {17, 23, 73, 83})
    EXPECT_FALSE(TextureFormatSupports(none, kTargetAny, newer)) << none;
  EXPECT_EQ(TextureFormatName(10, newer), "id: 10 - DXT1");
  EXPECT_TRUE(TextureFormatSupports(47, kTargetKtx, newer));
  EXPECT_EQ(texture_format::kBC7, 25);
  EXPECT_EQ(texture_format::kASTC_HDR_12x12, 71);
}

}  // namespace
}  // namespace kestrix
