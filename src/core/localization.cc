#include "core/localization.h"

#include "platform/language.h"

namespace kestrix {

namespace {

const char* const kRussian[kStringCount] = {
    "Открыть архив Unity",
    "Извлечь все файлы",
    "Запаковать все файлы",
    "Поиск имени",
    "Поиск текста",
    "Найти следующий",
    "Найти предыдущий",
    "Выделить найденные",
    "Учитывать регистр",
    "Зациклить поиск",
    "Архив: ",
    "Размер: ",
    "Версия: ",
    " id: ",
    "Файлов: ",
    "№",
    "Имя",
    "Тип",
    "Размер",
    "Смещение",
    "Извлечь выделенное",
    "Извлечь исходными файлами",
    "Выделить всё",
    "Файл не найден в архиве: ",
    "И будет пропущен.",
    "Архив не найден: ",
    "Not supported convertanion meshes big endian.",
    "Сжатые mesh не поддерживаются.",
    "Ошибка памяти: Этот формат mesh не поддерживаются!!!",
    "Ошибка конвертации mesh!!!",
    "Отсутствует файл: ",
    "Извлечь как JSON",
};

const char* const kEnglish[kStringCount] = {
    "Open archive…",
    "Export all files",
    "Import all files",
    "Search names",
    "Search data",
    "Find next",
    "Find previous",
    "Select matches",
    "Match case",
    "Wrap around",
    "Archive: ",
    "Size: ",
    "Version: ",
    " id: ",
    "Files: ",
    "#",
    "Name",
    "Type",
    "Size",
    "Offset",
    "Export selected",
    "Export converted files",
    "Select all",
    "File not found in archive: ",
    "And it will be skipped.",
    "Archive not found: ",
    "Not supported convertanion meshes big endian.",
    "Compression meshes are not supported.",
    "Error memory: This format meshes not supported!!!",
    "Error: Convertanion mesh!!!",
    "Missing file: ",
    "Export as JSON",
};

struct Table {
  bool russian = false;
  std::string texts[kStringCount];
};

Table& TheTable() {
  static Table table = [] {
    Table t;
    for (int i = 0; i < kStringCount; ++i) t.texts[i] = kEnglish[i];
    return t;
  }();
  return table;
}

}  // namespace

void InitLocalization(uint16_t language_id) {
  Table& t = TheTable();
  t.russian = language_id == kLangRussian;
  const char* const* source = t.russian ? kRussian : kEnglish;
  for (int i = 0; i < kStringCount; ++i) t.texts[i] = source[i];
}

bool InterfaceIsRussian() { return TheTable().russian; }

const std::string& Str(int key) {
  static const std::string empty;
  if (key < 0 || key >= kStringCount) return empty;
  return TheTable().texts[key];
}

}  // namespace kestrix
