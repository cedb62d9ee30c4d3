// Names of class identifiers and texture formats, and which container takes which format.
#pragma once

#include <cstdint>
#include <string>

namespace kestrix {

// Container targets of TextureFormatSupports.
inline constexpr uint8_t kTargetAny = 0;
inline constexpr uint8_t kTargetDds = 1;
inline constexpr uint8_t kTargetCrn = 2;
inline constexpr uint8_t kTargetKtx = 3;
inline constexpr uint8_t kTargetPvr = 4;

// Texture format codes of newer engines that the name table does not carry. Engines before 5
// used 24 to 27 for console formats; from 5 on they are the BC codes below.
inline constexpr int32_t kFormatBc6h = 24;
inline constexpr int32_t kFormatBc7 = 25;
inline constexpr int32_t kFormatBc4 = 26;
inline constexpr int32_t kFormatBc5 = 27;
inline constexpr int32_t kFormatRg16 = 62;
inline constexpr int32_t kFormatR8 = 63;
inline constexpr int32_t kFormatEtcRgb4Crunched = 64;
inline constexpr int32_t kFormatEtc2Rgba8Crunched = 65;
inline constexpr int32_t kFormatAstcHdr4x4 = 66;  // up to 12x12 at 71
inline constexpr int32_t kFormatAstcHdr12x12 = 71;
inline constexpr int32_t kFormatRg32 = 72;
inline constexpr int32_t kFormatRgb48 = 73;
inline constexpr int32_t kFormatRgba64 = 74;

// The engine's class name; "MonoBehaviour id: 114" for zero and negative identifiers (script
// objects), "UNKNOW_TYPE" for identifiers the table lacks.
std::string ClassIdToName(int32_t class_id);
// "id: " + code + " - " + name, with "UNKNOW_FORMAT" outside 1 to 61.
std::string TextureFormatName(int32_t code);
bool TextureFormatSupports(int32_t code, uint8_t target);

}  // namespace kestrix
