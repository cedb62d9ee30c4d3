#include "app/command_line.h"

#include <exception>
#include <filesystem>

#include "app/console_frontend.h"
#include "app/folder_tasks.h"
#include "app/help_text.h"
#include "app/tasks.h"
#include "core/localization.h"
#include "core/session.h"
#include "formats/archive_open.h"
#include "platform/archive_lock.h"
#include "platform/console.h"
#include "platform/file_ops.h"
#include "platform/paths.h"

namespace kestrix {

namespace {

struct TypeWord {
  const char* word;
  const char* classes;
  ExportSwitches on;
};

ExportSwitches Sw(std::initializer_list<bool ExportSwitches::*> fields) {
  ExportSwitches s;
  for (auto f : fields) s.*f = true;
  return s;
}

const std::vector<TypeWord>& TypeWords() {
  using E = ExportSwitches;
  static const std::vector<TypeWord> words = {
      {"mat", "21", {}},
      {"tex", "28", Sw({&E::ExportRawTextures})},
      {"dds", "28", Sw({&E::ExportDds, &E::ExportSource})},
      {"crn", "28", Sw({&E::ExportCrn, &E::ExportSource})},
      {"ktx", "28", Sw({&E::ExportKtx, &E::ExportSource})},
      {"pvr", "28", Sw({&E::ExportPvr, &E::ExportSource})},
      {"png", "28", Sw({&E::ExportPng, &E::ExportSource})},
      {"mesh", "43", Sw({&E::ExportRawMeshes})},
      {"obj", "43", Sw({&E::ExportObj, &E::ExportSource})},
      {"shader", "48", {}},
      {"txt", "49", {}},
      {"xml", "49", {}},
      {"physmat2d", "62", {}},
      {"ani", "74", {}},
      {"snd", "83", Sw({&E::ExportRawAudio})},
      {"ogg", "83", Sw({&E::ExportSource})},
      {"wav", "83", Sw({&E::ExportSource})},
      {"aif", "83", Sw({&E::ExportSource})},
      {"fsb", "83", Sw({&E::ExportSource})},
      {"mp3", "83", Sw({&E::ExportSource})},
      {"rtex", "84", {}},
      {"cbm", "89", Sw({&E::ExportRawTextures})},
      {"avatar", "90", {}},
      {"amtc", "91", {}},
      {"cgp", "109", {}},
      {"114", "114", {}},
      {"script", "115", {}},
      {"flr", "121", {}},
      {"ttf", "128", {}},
      {"otf", "128", {}},
      {"fnt", "128", {}},
      {"physmat", "134", {}},
      {"ogm", "152", {}},
      {"ter", "156", {}},
      {"sbam", "184", {}},
      {"pmat", "185", {}},
      {"ptex", "186", Sw({&E::ExportRawTextures})},
      {"tes", "194", {}},
      {"sprite", "213", {}},
      {"amc", "241", {}},
      {"amgc", "241", {}},
      {"amsc", "245", {}},
  };
  return words;
}

void TurnOn(ExportSwitches& to, const ExportSwitches& from) {
  to.ExportSource |= from.ExportSource;
  to.ExportRawTextures |= from.ExportRawTextures;
  to.ExportDds |= from.ExportDds;
  to.ExportCrn |= from.ExportCrn;
  to.ExportKtx |= from.ExportKtx;
  to.ExportPvr |= from.ExportPvr;
  to.ExportPng |= from.ExportPng;
  to.ExportRawAudio |= from.ExportRawAudio;
  to.ExportRawMeshes |= from.ExportRawMeshes;
  to.ExportObj |= from.ExportObj;
}

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  std::filesystem::path abs = std::filesystem::absolute(path, ec);
  return ec ? path : abs.lexically_normal().string();
}

// The value of -i: a decimal index, or -1 (which open refuses) for anything else.
int ParseIndex(const std::string& text) {
  if (text.empty() || text.size() > 9 || text.find_first_not_of("0123456789") != std::string::npos)
    return -1;
  return std::stoi(text);
}

std::vector<std::string> SplitAtCommas(const std::string& text) {
  std::vector<std::string> words;
  size_t start = 0;
  while (start <= text.size()) {
    size_t comma = text.find(',', start);
    if (comma == std::string::npos) comma = text.size();
    words.push_back(text.substr(start, comma - start));
    start = comma + 1;
  }
  return words;
}

}  // namespace

std::vector<std::string> TranslateTypeWords(const std::string& value, ExportSwitches& switches) {
  std::vector<std::string> out;
  bool dds = false, png = false;
  std::string lower = AsciiLower(value);
  size_t start = 0;
  while (start <= lower.size()) {
    size_t comma = lower.find(',', start);
    if (comma == std::string::npos) comma = lower.size();
    std::string word = lower.substr(start, comma - start);
    start = comma + 1;
    std::string translated = word;
    bool type_word = false;
    for (const TypeWord& t : TypeWords()) {
      if (word == t.word) {
        translated = t.classes;
        TurnOn(switches, t.on);
        if (word == "dds") dds = true;
        if (word == "png") png = true;
        type_word = true;
        break;
      }
    }
    // A bare class number asks for the objects as stored, like "114" does: without this,
    // "-t 28" would select the textures and then write nothing for them.
    if (!type_word) {
      if (word == "28" || word == "89" || word == "186") switches.ExportRawTextures = true;
      if (word == "43") switches.ExportRawMeshes = true;
      if (word == "83") switches.ExportRawAudio = true;
    }
    out.push_back(translated);
  }
  if (dds) {
    out.push_back("89");
    out.push_back("186");
  } else if (png) {
    out.push_back("89");  // cubemaps are pictures too
  }
  return out;
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  if (!args.empty()) cl.task = AsciiLower(args[0]);
  if (args.size() >= 2) cl.archive = args[1];
  ExportSwitches& w = cl.export_request.Switches;
  // Positions are 1-based as the user counts them: options start at the third argument; an
  // option with a value is the argument before the value.
  const size_t count = args.size();
  for (size_t i = 3; i <= count; ++i) {
    std::string prev = AsciiLower(args[i - 2]);
    std::string cur = AsciiLower(args[i - 1]);
    if (prev == "-t") {
      cl.TypeFilterGiven = true;
      cl.TypeFilter = TranslateTypeWords(cur, w);
      cl.TypeWords = SplitAtCommas(cur);
    } else if (prev == "-p") {
      cl.open.OutputRootGiven = true;
      cl.open.OutputRootOption = args[i - 1];
    } else if (prev == "-i") {
      cl.open.SelectedFileIndex = ParseIndex(cur);
    }
    if (cur == "-f") cl.open.FontContainer = true;
    if (cur == "-nft") cl.export_request.NoTextureFlip = true;
    if (cur == "-ndc") cl.NoConsoleDetect = true;
  }
  if (!cl.TypeFilterGiven) {
    w.ExportSource = w.ExportRawTextures = w.ExportDds = w.ExportCrn = w.ExportPvr = true;
    w.ExportRawAudio = w.ExportRawMeshes = w.ExportObj = true;
    w.ExportKtx = false;
  }
  cl.ConsoleOutput = !cl.NoConsoleDetect && StdoutIsOpen();
  return cl;
}

int RunCommandLine(const std::vector<std::string>& args, const ImportConverters& converters) {
  if (!args.empty()) {
    std::string first = AsciiLower(args[0]);
    if (first == "-h" || first == "--help" || first == "help") {
      std::string help = HelpText(InterfaceIsRussian());
      std::fwrite(help.data(), 1, help.size(), stdout);
      return kExitOk;
    }
    if (first == "--version") {
      PrintLine(std::string("Kestrix ") + KESTRIX_VERSION);
      return kExitOk;
    }
  }
  Session session;
  const CommandLine cl = ParseCommandLine(args);
  ConsoleFrontend frontend(cl.ConsoleOutput);
  const Task* task = FindTask(cl.task);
  if (!task) {
    if (cl.ConsoleOutput) {
      std::string help = HelpText(InterfaceIsRussian());
      std::fwrite(help.data(), 1, help.size(), stdout);
    }
    return kExitUsage;
  }
  if (!cl.archive.empty() && FolderExists(cl.archive))
    return RunFolderTask(*task, cl, cl.archive, converters);
  if (cl.archive.empty() || !FileExists(cl.archive)) {
    // Without a console the message still reaches standard error, as a box would.
    PrintErrorLine(Str(kStrArchiveNotFound) + cl.archive);
    return kExitFailed;
  }
  int status = kExitOk;
  try {
    std::string path = task->open_expanded ? AbsolutePath(cl.archive) : cl.archive;
    // The archive is locked for the whole task: shared by readers, alone by an import, which
    // thus reads the archive it then writes, as no other run left it half-way.
    ArchiveLock lock(path, task->writes ? LockKind::kWrite : LockKind::kRead,
                     [&cl](const std::string& note) {
                       if (cl.ConsoleOutput) PrintErrorLine(note);
                     });
    status = task->run(cl, session, frontend, path, converters);
  } catch (const std::exception& e) {
    frontend.ErrorBox(e.what());
    status = kExitFailed;
  }
  std::fflush(stdout);
  CloseArchive(session);
  return status;
}

}  // namespace kestrix
