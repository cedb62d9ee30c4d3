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

void Tasks(std::string& out, bool russian) {
  if (russian) {
    Lines(out, {
        "Задачи (регистр букв не важен):",
        "  list          Вывести по строке на объект: номер, имя, класс (и формат текстуры),",
        "                размер, смещение.",
        "  export        Записать все объекты в <каталог>/Unity_Assets_Files/<имя архива>/:",
        "                как они хранятся (.tex, .snd, .mesh ...) и преобразованными",
        "                (DDS, KTX, PVR, CRN, PNG, OBJ, звуки, тексты).",
        "  import        Вернуть в архив файлы этого каталога, изменённые после экспорта.",
        "                Архив заменяется, только когда новый записан целиком.",
        "  exportbundle  Записать файлы, содержащиеся в бандле, в",
        "                <каталог>/Unity_Assets_Files/<имя архива>/Bundle/.",
        "",
    });
  } else {
    Lines(out, {
        "Tasks (any case):",
        "  list          Print one line per object: number, name, class (and texture",
        "                format), size, offset.",
        "  export        Write every object into <folder>/Unity_Assets_Files/<archive name>/:",
        "                as stored (.tex, .snd, .mesh ...) and converted (DDS, KTX, PVR,",
        "                CRN, PNG, OBJ, sounds, texts).",
        "  import        Put the files of that folder that changed since the export back",
        "                into the archive. The archive is replaced only once the new one",
        "                is complete.",
        "  exportbundle  Write the files a bundle contains into",
        "                <folder>/Unity_Assets_Files/<archive name>/Bundle/.",
        "",
    });
  }
}

void Options(std::string& out, bool russian) {
  if (russian) {
    Lines(out, {
        "Настройки (до или после архива, в любом порядке):",
        "  -t <типы>     Только эти типы, через запятую: слова типов (ниже) или номера",
        "                классов (28, 114, -3 ...). 114 берёт все объекты скриптов",
        "                (MonoBehaviour, их номера отрицательны).",
        "  -p <каталог>  Каталог, в котором лежит Unity_Assets_Files (по умолчанию каталог",
        "                архива).",
        "  -i <номер>    Какой файл бандла открыть, считая от 0 (по умолчанию первый",
        "                сериализованный файл).",
        "  --engine <версия>  Версия движка для файла, где она стёрта (\"0.0.0\"),",
        "                например 2019.4.1f1; без неё версия выводится из файла.",
        "  -f            Шрифты целиком, файлами .fnt.",
        "  -nft          Не переворачивать текстуры DDS: строки в порядке хранения, при",
        "                экспорте и импорте.",
        "  -ndc          Без строк хода работы на стандартном выводе (список и ошибки",
        "                выводятся всё равно).",
        "  -h, --help    Эта справка.",
        "  --version     Версия программы.",
        "  --            Конец настроек (для архива, имя которого начинается с \"-\").",
        "",
        "Слова типов для -t:",
        "  текстуры      tex (как хранятся), dds, crn, ktx, pvr, png; cbm (кубические",
        "                карты), ptex, rtex",
        "  сетки         mesh (как хранятся), obj",
        "  звуки         snd (как хранятся), ogg, wav, aif, fsb, mp3, m4a",
        "  тексты        txt, xml; шрифты ttf, otf, fnt",
        "  прочее        mat, shader, ani, avatar, amtc, amc, amgc, amsc, cgp, script,",
        "                flr, physmat, physmat2d, ogm, ter, sbam, pmat, tes, sprite",
        "  любой объект  json (поля каждого объекта с известной разметкой, в JSON;",
        "                импорт принимает изменённые файлы .json обратно)",
        "",
        "Код выхода: 0 задача выполнена; 1 что-то не удалось прочитать или записать (каждая",
        "ошибка выводится на стандартный поток ошибок); 2 командная строка не принята.",
        "",
    });
  } else {
    Lines(out, {
        "Options (before or after the archive, in any order):",
        "  -t <types>    Only these types, separated by commas: type words (below) or",
        "                class numbers (28, 114, -3 ...). 114 takes every script object",
        "                (MonoBehaviour, whose class numbers are negative).",
        "  -p <folder>   The folder that holds Unity_Assets_Files (default: the archive's",
        "                folder).",
        "  -i <index>    The contained file of a bundle to open, counted from 0 (default:",
        "                the first serialized file).",
        "  --engine <version>  The engine whose layouts to read a file with when its",
        "                version is stripped (\"0.0.0\"), such as 2019.4.1f1; without it",
        "                the version is inferred and named.",
        "  -f            Keep fonts whole, as .fnt files.",
        "  -nft          Do not flip DDS textures: rows stay in stored order, on export",
        "                and import.",
        "  -ndc          No progress lines on standard output (the list and the errors",
        "                are still printed).",
        "  -h, --help    This text.",
        "  --version     The program's version.",
        "  --            Ends the options (for an archive whose name begins with \"-\").",
        "",
        "Type words for -t:",
        "  textures      tex (as stored), dds, crn, ktx, pvr, png; cbm (cubemaps), ptex,",
        "                rtex",
        "  meshes        mesh (as stored), obj",
        "  sounds        snd (as stored), ogg, wav, aif, fsb, mp3, m4a",
        "  texts         txt, xml; fonts ttf, otf, fnt",
        "  others        mat, shader, ani, avatar, amtc, amc, amgc, amsc, cgp, script,",
        "                flr, physmat, physmat2d, ogm, ter, sbam, pmat, tes, sprite",
        "  any object    json (the fields of every object with a known layout, as JSON;",
        "                import takes edited .json files back)",
        "",
        "Exit status: 0 the task ran; 1 something could not be read or written (each",
        "failure is named on standard error); 2 the command line was refused.",
        "",
    });
  }
}

void Diagrams(std::string& out, bool russian) {
  // Texture containers.
  Lines(out, {
      "  ┌───┐              ┌──────┐",
      "  │dds│ <═══════════ │      │",
      "  │ktx│    ┌───┐     │assets│",
      "  │pvr│ ═> │tex│ <═> │      │",
      "  └───┘    └───┘     └──────┘",
  });
  if (russian) {
    Lines(out, {
        "  Мобильные форматы (PVRTC, ETC, EAC, ASTC) записываются в PVR, в KTX только",
        "  с -t ktx. Грани кубической карты: отдельные файлы <имя>_px.dds, _nx, _py, _ny,",
        "  _pz, _nz. Текстуры ATC записываются сжатыми DDS (ATC_RGB4, ATC_RGBA8).",
        "  Картинки PNG (верхний уровень; кубическая карта полосой из шести граней)",
        "  экспортируются и импортируются с -t png. С ним каждый спрайт также",
        "  вырезается из своей текстуры в отдельную картинку (Sprites/<имя>.png;",
        "  только экспорт).",
        "",
    });
  } else {
    Lines(out, {
        "  Mobile formats (PVRTC, ETC, EAC, ASTC) are written as PVR, as KTX only with",
        "  -t ktx. Cubemap faces are files of their own: <name>_px.dds, _nx, _py, _ny,",
        "  _pz, _nz. ATC textures are written as compressed DDS (ATC_RGB4, ATC_RGBA8).",
        "  PNG pictures (the top level; a cubemap as a strip of its six faces) are",
        "  exported and imported with -t png. With it every sprite is also cut from its",
        "  texture into a picture of its own (Sprites/<name>.png; export only).",
        "",
    });
  }
  // Crunch.
  Lines(out, {
      "  ┌───┐    ┌──────┐    ┌───┐              ┌──────┐",
      "  │   │ <═ │      │ <═ │   │ <═══════════ │      │",
      "  │dds│ ═> │crunch│ ═> │crn│    ┌───┐     │assets│",
      "  └───┘    └──────┘    │   │ ═> │tex│ <═> │      │",
      "                       └───┘    └───┘     └──────┘",
  });
  if (russian) {
    Lines(out, {
        "  Сжатые crunch текстуры записываются файлом .crn; если рядом с kestrix лежит",
        "  программа crunch, из него делается и .crn.dds, а при импорте обратно.",
        "",
    });
  } else {
    Lines(out, {
        "  Crunched textures are written as .crn files; when the crunch tool sits beside",
        "  kestrix, it also makes a .crn.dds of each, and turns an edited one back.",
        "",
    });
  }
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
  // Bundles.
  Lines(out, {
      "     ┌──────────────┐    ┌──────────┐",
      "  <═ │  .TEMP file  │ <═ │  bundle  │",
      "  ═> │not compressed│ ═> │compressed│",
      "     └──────────────┘    └──────────┘",
  });
  if (russian) {
    Lines(out, {
        "  Сжатый бандл распаковывается во временный файл .TEMP рядом с ним; файл",
        "  удаляется по окончании задачи, а импорт снова сжимает бандл.",
    });
  } else {
    Lines(out, {
        "  A compressed bundle is unpacked into a .TEMP file beside it, which is removed",
        "  when the task ends; import compresses the bundle again.",
    });
  }
}

}  // namespace

std::string UsageText(bool russian) {
  std::string out;
  if (russian) {
    Lines(out, {
        "Использование:",
        "  kestrix <задача> <архив> [настройки]",
        "  kestrix --help | --version",
        "Без аргументов kestrix открывает окно.",
    });
  } else {
    Lines(out, {
        "Usage:",
        "  kestrix <task> <archive> [options]",
        "  kestrix --help | --version",
        "Without arguments kestrix opens its window.",
    });
  }
  return out;
}

std::string HelpText(bool russian) {
  std::string out;
  if (russian) {
    Lines(out, {
        "Kestrix открывает, экспортирует и импортирует архивы ресурсов игр на движке Unity:",
        "сериализованные файлы (.assets, файлы уровней), бандлы (UnityFS, UnityWeb,",
        "UnityRaw) и части .split0.",
        "",
    });
  } else {
    Lines(out, {
        "Kestrix opens, exports and imports the asset archives of games made with the",
        "Unity engine: serialized files (.assets, level files), bundles (UnityFS,",
        "UnityWeb, UnityRaw) and .split0 pieces.",
        "",
    });
  }
  out += UsageText(russian);
  out += '\n';
  Tasks(out, russian);
  Options(out, russian);
  Diagrams(out, russian);
  return out;
}

}  // namespace kestrix
