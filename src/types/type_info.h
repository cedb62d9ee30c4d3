// Names of class identifiers and texture formats, and which container takes which format.
#pragma once

#include <cstdint>
#include <string>

#include "core/serialized_file.h"

namespace kestrix {

// Texture format codes as the engine stores them. Codes 22 to 27 named Wii formats in the
// engines before 5.5; from 5.5 on the same numbers are RGB9e5 and the BC formats, and codes past
// 61 came with later engines. The names, the containers that take each code and the DDS and
// KTX/PVR mappings (export/texture_header.cc, export/ktx_pvr_formats.cc) all go by these.
namespace texture_format {
enum : int32_t {
  kAlpha8 = 1, kARGB4444 = 2, kRGB24 = 3, kRGBA32 = 4, kARGB32 = 5, kRGB565 = 7, kR16 = 9,
  kDXT1 = 10, kDXT3 = 11, kDXT5 = 12, kRGBA4444 = 13, kBGRA32New = 14,
  kRHalf = 15, kRGHalf = 16, kRGBAHalf = 17, kRFloat = 18, kRGFloat = 19, kRGBAFloat = 20,
  kYUY2 = 21, kRGB9e5Float = 22, kBC6H = 24, kBC7 = 25, kBC4 = 26, kBC5 = 27,
  kDXT1Crunched = 28, kDXT5Crunched = 29,
  kPVRTC_RGB2 = 30, kPVRTC_RGBA2 = 31, kPVRTC_RGB4 = 32, kPVRTC_RGBA4 = 33, kETC_RGB4 = 34,
  kATC_RGB4 = 35, kATC_RGBA8 = 36, kBGRA32 = 37,
  kEAC_R = 41, kEAC_R_SIGNED = 42, kEAC_RG = 43, kEAC_RG_SIGNED = 44,
  kETC2_RGB = 45, kETC2_RGBA1 = 46, kETC2_RGBA8 = 47,
  kASTC_RGB_4x4 = 48, kASTC_RGB_5x5 = 49, kASTC_RGB_6x6 = 50, kASTC_RGB_8x8 = 51,
  kASTC_RGB_10x10 = 52, kASTC_RGB_12x12 = 53,
  kASTC_RGBA_4x4 = 54, kASTC_RGBA_5x5 = 55, kASTC_RGBA_6x6 = 56, kASTC_RGBA_8x8 = 57,
  kASTC_RGBA_10x10 = 58, kASTC_RGBA_12x12 = 59,
  kETC_RGB4_3DS = 60, kETC_RGBA8_3DS = 61,
  kRG16 = 62, kR8 = 63, kETC_RGB4Crunched = 64, kETC2_RGBA8Crunched = 65,
  kASTC_HDR_4x4 = 66, kASTC_HDR_5x5 = 67, kASTC_HDR_6x6 = 68, kASTC_HDR_8x8 = 69,
  kASTC_HDR_10x10 = 70, kASTC_HDR_12x12 = 71,
  kRG32 = 72, kRGB48 = 73, kRGBA64 = 74, kR8_SIGNED = 75, kRG16_SIGNED = 76,
  kRGB24_SIGNED = 77, kRGBA32_SIGNED = 78, kR16_SIGNED = 79, kRG32_SIGNED = 80,
  kRGB48_SIGNED = 81, kRGBA64_SIGNED = 82,
};
}  // namespace texture_format

// True when the engine numbers its formats the newer way (codes 22 to 27 are not Wii formats,
// codes past 61 exist).
bool UsesNewerFormatCodes(const EngineVersion& engine);

// Container targets of TextureFormatSupports.
inline constexpr uint8_t kTargetAny = 0;
inline constexpr uint8_t kTargetDds = 1;
inline constexpr uint8_t kTargetCrn = 2;
inline constexpr uint8_t kTargetKtx = 3;
inline constexpr uint8_t kTargetPvr = 4;

// The engine's class name; "MonoBehaviour id: 114" for zero and negative identifiers (script
// objects), "UNKNOW_TYPE" for identifiers the table lacks.
std::string ClassIdToName(int32_t class_id);
// "id: " + code + " - " + name, with "UNKNOW_FORMAT" outside 1 to 61: the codes of engines
// before 5.5 (and of unknown versions).
std::string TextureFormatName(int32_t code);
bool TextureFormatSupports(int32_t code, uint8_t target);
// The same for the codes of the given engine: from 5.5 on, codes 22 to 27 and 62 to 82 have
// their newer names and containers.
std::string TextureFormatName(int32_t code, const EngineVersion& engine);
bool TextureFormatSupports(int32_t code, uint8_t target, const EngineVersion& engine);

}  // namespace kestrix
