#include "platform/language.h"

#include <cstdlib>

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
  return LanguageIdFromEnvironment([](const char* name) { return std::getenv(name); });
}

}  // namespace kestrix
