// Generated data that compresses like a game's asset data, for the benchmarks.
#pragma once

#include <cstddef>
#include <cstdint>
#include <random>
#include <string>
#include <vector>

// Game-like data: stretches of noise (compressed textures), of repeated records with small
// changes (meshes, tables), of text and of zeros.
inline std::vector<uint8_t> GameData(size_t size, unsigned seed) {
  std::mt19937 rng(seed);
  std::vector<uint8_t> b;
  b.reserve(size);
  const std::string text = "m_Name m_GameObject m_Enabled m_Materials m_LocalPosition ";
  while (b.size() < size) {
    size_t n = 4096 + rng() % 8192;
    switch (rng() % 4) {
      case 0:
        for (size_t i = 0; i < n; ++i) b.push_back(static_cast<uint8_t>(rng()));
        break;
      case 1: {
        uint32_t record[8];
        for (uint32_t& w : record) w = rng();
        for (size_t i = 0; i < n; ++i) {
          if (i % 32 == 0) record[rng() % 8] += 1;
          b.push_back(reinterpret_cast<uint8_t*>(record)[i % 32]);
        }
        break;
      }
      case 2:
        for (size_t i = 0; i < n; ++i)
          b.push_back(static_cast<uint8_t>(text[(i + rng() % 2) % text.size()]));
        break;
      default:
        b.insert(b.end(), n, 0);
    }
  }
  b.resize(size);
  return b;
}
