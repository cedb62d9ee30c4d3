#include "app/help_text.h"

#include <initializer_list>

namespace kestrix {

namespace {

void Lines(std::string& out, std::initializer_list<const char*> lines) {
  for (const char* line : lines) {
    out += line;
    out += '\n';
  }
}

}  // namespace

std::string HelpText(bool russian) {
  std::string out;
  Lines(out, {"Kestrix", ""});
  if (russian) {
    Lines(out, {
        "Использование:",
        "               Kestrix задача <архив unity> [настройки]",
        "",
        "задача:",
        "  export",
        "  Распаковать все файлы из архива в каталог /Unity_Assets_Files/имя_архива/",
        "  import",
        "  Запаковать все файлы в архив из каталога /Unity_Assets_Files/имя_архива/",
        "  exportbundle",
        "  Распаковать bundle из архива в каталог /Unity_Assets_Files/имя_архива/Bundle",
        "",
        "настройки:",
        "  -t <тип> экспорт импорт файлов по типу (-t ttf,txt,114,tex,dds,crn,ktx,pvr,png,obj...)",
        "  -f экспорт шрифтов в контейнере типом fnt.",
        "  -p выбранный путь для операций с файлами (-p \"PATH\"). По умолчанию где находится архив.",
        "  -nft отключение переворачивания текстур dds.",
        "  -ndc отключение захвата консольного, с захватом возможна ошибка на x64ОС.",
        "",
        "  При запуске без параметров запускается графический интерфейс.",
        "  Все MonoBehaviour могут быть извлечены через настройку (-t 114), типы файлов с отрицательным числом.",
        "  Схемы конвертации.",
    });
  } else {
    Lines(out, {
        "Uses:",
        "               Kestrix task <archive unity> [options]",
        "",
        "task:",
        "  export",
        "  Export all files from archive in directory /Unity_Assets_Files/name_archive/",
        "  import",
        "  Import all files in archive from directory /Unity_Assets_Files/name_archive/",
        "",
        "  exportbundle",
        "  Export bundle from archive in directory /Unity_Assets_Files/name_archive/Bundle",
        "options:",
        "  -t <type> export import files by type (-t ttf,txt,114,tex,dds,crn,ktx,pvr,png,obj...)",
        "  -f export fonts in container with type fnt.",
        "",
        "  -p selected path for operations with files (-p \"PATH\"). Default where there is archive.",
        "  -nft disabled flip texture dds.",
        "  -ndc disabled detect console.",
        "",
        "  Used without parameters, run graphical interface.",
        "  All MonoBehaviour can be exported through option (-t 114), type files with a negative number.",
        "  Shemes convertation.",
    });
  }
  // Texture containers.
  Lines(out, {
      "  ┌───┐              ┌──────┐",
      "  │dds│ <═══════════ │      │",
      "  │ktx│    ┌───┐     │assets│",
      "  │pvr│ ═> │tex│ <═> │      │",
      "  └───┘    └───┘     └──────┘",
  });
  if (russian) {
    Lines(out, {"  Текстуры iOS ktx экспортируется только через настройку -t ktx.",
                "  По умолчанию конвертируются в pvr.",
                "  Картинки png (верхний уровень, кубические карты полосой из шести граней)",
                "  экспортируются и импортируются через настройку -t png.", ""});
  } else {
    Lines(out, {"  Textures iOS ktx exporder only through option -t ktx", "  Default converted in pvr.",
                "  PNG pictures (top level, cubemaps as a strip of six faces) are exported",
                "  and imported through option -t png.", ""});
  }
  // Compressed DDS.
  Lines(out, {
      "  ┌─────────┐                                    ┌──────────┐   ",
      "  │   DDS   │     ┌────────────────────────┐     │compressed│ <═",
      "  │ARGB-8888│ <═> │The Compressonator - AMD│ <═> │   DDS    │   ",
      "  └─────────┘     └────────────────────────┘     │ATC_RGB4  │   ",
      "                                                 │ATC_RGBA8 │ ═>",
      "                                                 └──────────┘   ",
      "",
  });
  // Crunch.
  Lines(out, {
      "  ┌───┐    ┌──────────┐    ┌───┐              ┌──────┐",
      "  │   │ <═ │          │ <═ │   │ <═══════════ │      │",
      "  │dds│ ═> │crunch.exe│ ═> │crn│    ┌───┐     │assets│",
      "  └───┘    └──────────┘    │   │ ═> │tex│ <═> │      │",
      "                           └───┘    └───┘     └──────┘",
  });
  if (russian) {
    Lines(out, {"  CRN конвертируется через crunch.exe автоматически, если crunch.exe находится к корне с Kestrix."});
  } else {
    Lines(out, {"  CRN converted through crunch.exe automatically, if crunch.exe is at the root with Kestrix.", ""});
  }
  Lines(out, {""});
  // Text assets.
  Lines(out, {
      "  ┌───┐    ┌──────┐",
      "  │txt│ <═ │      │",
      "  │xml│    │assets│",
      "  │ttf│ ═> │      │",
      "  └───┘    └──────┘",
      "",
  });
  // Meshes.
  Lines(out, {
      "  ┌───┐               ┌──────┐",
      "  │   │ <════════════ │      │",
      "  │obj│    ┌────┐     │assets│",
      "  │   │    │mesh│ <═> │      │",
      "  └───┘    └────┘     └──────┘",
      "",
  });
  // Archive.
  Lines(out, {
      "     ┌──────────────┐    ┌──────────┐",
      "  <═ │ ARCHIVE.TEMP │ <═ │ UNINY3D  │",
      "  ═> │not compressed│ ═> │compressed│",
      "     └──────────────┘    └──────────┘",
  });
  return out;
}

}  // namespace kestrix
