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

// The engine's class name; "MonoBehaviour id: 114" for zero and negative identifiers (script
// objects), "UNKNOW_TYPE" for identifiers the table lacks.
std::string ClassIdToName(int32_t class_id);
// "id: " + code + " - " + name, with "UNKNOW_FORMAT" outside 1 to 61.
std::string TextureFormatName(int32_t code);
bool TextureFormatSupports(int32_t code, uint8_t target);

}  // namespace kestrix
