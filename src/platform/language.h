// The interface language, taken from the locale of the environment.
#pragma once

#include <cstdint>
#include <functional>
#include <string>

namespace kestrix {

inline constexpr uint16_t kLangRussian = 0x0419;
inline constexpr uint16_t kLangEnglish = 0x0409;

// POSIX order: LC_ALL, else LC_MESSAGES, else LANG (the first that is set and not empty).
// "ru_RU" (with any codeset or modifier) gives 0x0419; everything else gives 0x0409.
uint16_t LanguageIdFromEnvironment(const std::function<const char*(const char*)>& getenv_fn);
uint16_t SystemLanguageId();

}  // namespace kestrix
