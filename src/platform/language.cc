#include "platform/language.h"

#include <cstdlib>
#ifdef _WIN32
#include <windows.h>
#endif

namespace kestrix {

uint16_t LanguageIdFromEnvironment(const std::function<const char*(const char*)>& getenv_fn) {
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = getenv_fn(var);
    if (!value || !*value) continue;
    std::string locale(value);
    // language_TERRITORY.codeset@modifier
    size_t end = locale.find_first_of(".@");
    std::string head = locale.substr(0, end);
    return head == "ru_RU" ? kLangRussian : kLangEnglish;
  }
  return kLangEnglish;
}

uint16_t SystemLanguageId() {
#ifdef _WIN32
  // A locale set in the environment (as shells from the Unix world set it) comes first; else the
  // user's interface language, where Russian (Russia) alone is Russian.
  for (const char* var : {"LC_ALL", "LC_MESSAGES", "LANG"}) {
    const char* value = std::getenv(var);
    if (value && *value)
      return LanguageIdFromEnvironment([](const char* name) { return std::getenv(name); });
  }
  return GetUserDefaultUILanguage() == kLangRussian ? kLangRussian : kLangEnglish;
#else
  return LanguageIdFromEnvironment([](const char* name) { return std::getenv(name); });
#endif
}

}  // namespace kestrix
