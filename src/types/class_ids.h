// The engine class identifiers that Kestrix treats specially, and the container signatures.
// Every other class is only named (type_info.cc).
#pragma once

#include <cstdint>
#include <string>

namespace kestrix {

inline constexpr int32_t kClassMaterial = 21;
inline constexpr int32_t kClassTexture2D = 28;
inline constexpr int32_t kClassMesh = 43;
inline constexpr int32_t kClassShader = 48;
inline constexpr int32_t kClassTextAsset = 49;
inline constexpr int32_t kClassAudioClip = 83;
inline constexpr int32_t kClassCubemap = 89;
inline constexpr int32_t kClassMonoBehaviour = 114;
inline constexpr int32_t kClassFont = 128;
inline constexpr int32_t kClassMovieTexture = 152;
inline constexpr int32_t kClassProceduralTexture = 186;

// Textures whose payload starts with a texture header, and all classes with a texture format.
inline bool IsTextureClass(int32_t c) { return c == kClassTexture2D || c == kClassCubemap; }
inline bool HasTextureFormat(int32_t c) {
  return IsTextureClass(c) || c == kClassProceduralTexture;
}

// Bundle signatures and the container versions this program reads.
inline constexpr char kSignatureRaw[] = "UnityRaw";
inline constexpr char kSignatureWeb[] = "UnityWeb";
inline constexpr char kSignatureFS[] = "UnityFS";
inline bool IsBundleSignature(const std::string& s) {
  return s == kSignatureRaw || s == kSignatureWeb || s == kSignatureFS;
}
// Versions 1 to 5 keep a level table and one LZMA stream; 6 to 8 keep compressed blocks.
inline constexpr uint32_t kLatestBundleVersion = 8;
inline bool IsHandledBundleVersion(uint32_t v) { return v >= 1 && v <= kLatestBundleVersion; }

}  // namespace kestrix
