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

struct OptionRule {
  const char* name;        // lower case, as matched
  const char* value_name;  // what the value is, for messages; nullptr for a switch
  // Takes the option (and its value) into the command line; returns what is wrong, or "".
  std::string (*take)(CommandLine& cl, const std::string& value);
};

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
      {"m4a", "83", Sw({&E::ExportSource})},
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
      {"json", "*", Sw({&E::ExportJson})},  // every class
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
  to.ExportJson |= from.ExportJson;
}

std::string AbsolutePath(const std::string& path) {
  std::error_code ec;
  std::filesystem::path abs = std::filesystem::absolute(FsPath(path), ec);
  return ec ? path : PathText(abs.lexically_normal());
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

bool IsClassNumber(const std::string& word) {
  const size_t digits = !word.empty() && word[0] == '-' ? 1 : 0;
  return word.size() > digits && word.size() - digits <= 9 &&
         word.find_first_not_of("0123456789", digits) == std::string::npos;
}

bool IsTypeWord(const std::string& word) {
  for (const TypeWord& t : TypeWords())
    if (word == t.word) return true;
  return false;
}

// A word that is neither would select nothing on export (no class has that number) and, on
// import, only files whose extension happens to be that word: almost always a typing mistake,
// so it is refused rather than silently exporting nothing.
std::string TakeTypes(CommandLine& cl, const std::string& value) {
  const std::string lower = AsciiLower(value);
  for (const std::string& word : SplitAtCommas(lower)) {
    if (word.empty())
      return "-t \"" + value + "\" has an empty type word (words are separated by single commas).";
    // Import lists the files of the export folder by each word as a name pattern ("t*" takes
    // .tex and .txt files alike); only there is a wildcard a meaningful word.
    const bool pattern = cl.task == "import" && word.find_first_of("*?") != std::string::npos;
    if (!IsTypeWord(word) && !IsClassNumber(word) && !pattern)
      return "-t \"" + word + "\" is neither a type word (tex, dds, snd, txt ...) nor a class " +
             "number (28, 114, -3 ...).";
  }
  // Several -t options add up, as one list would.
  cl.TypeFilterGiven = true;
  for (std::string& word : SplitAtCommas(lower)) cl.TypeWords.push_back(std::move(word));
  return "";
}

std::string TakeFolder(CommandLine& cl, const std::string& value) {
  if (value.empty()) return "-p needs a folder, not an empty text.";
  cl.open.OutputRootGiven = true;
  cl.open.OutputRootOption = value;
  return "";
}

// Only the form is checked here: whether the bundle has that many files is known once it is open.
std::string TakeIndex(CommandLine& cl, const std::string& value) {
  if (value.empty() || value.size() > 9 || value.find_first_not_of("0123456789") != std::string::npos)
    return "-i needs the index of a contained file, a whole number from 0 on, not \"" + value +
           "\".";
  cl.open.SelectedFileIndex = std::stoi(value);
  return "";
}

// Options in any order, before or after the archive; an option's value is the next argument.
// A new option is one row here and one line in help_text.cc.
const OptionRule kOptions[] = {
    {"-t", "types", TakeTypes},
    {"-p", "folder", TakeFolder},
    {"-i", "index", TakeIndex},
    {"--engine", "version", [](CommandLine& cl, const std::string& value) -> std::string {
       if (value.empty()) return "--engine needs an engine version such as 2019.4.1f1.";
       cl.open.EngineVersion = value;
       return "";
     }},
    {"-f", nullptr, [](CommandLine& cl, const std::string&) -> std::string {
       cl.open.FontContainer = true;
       return "";
     }},
    {"-nft", nullptr, [](CommandLine& cl, const std::string&) -> std::string {
       cl.export_request.NoTextureFlip = true;
       return "";
     }},
    {"-ndc", nullptr, [](CommandLine& cl, const std::string&) -> std::string {
       cl.NoConsoleDetect = true;
       return "";
     }},
};

const OptionRule* FindOption(const std::string& word) {
  for (const OptionRule& o : kOptions)
    if (word == o.name) return &o;
  return nullptr;
}

bool LooksLikeOption(const std::string& arg) { return arg.size() > 1 && arg[0] == '-'; }

// Reads the arguments after the task word into `cl`; returns the first problem, or "".
std::string ReadArguments(const std::vector<std::string>& args, CommandLine& cl) {
  bool options_end = false;
  for (size_t i = 1; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (!options_end && arg == "--") {
      options_end = true;
      continue;
    }
    if (options_end || !LooksLikeOption(arg)) {
      if (!cl.archive.empty())
        return "Two archives given (\"" + cl.archive + "\" and \"" + arg +
               "\"): a task takes one archive.";
      cl.archive = arg;
      continue;
    }
    const OptionRule* option = FindOption(AsciiLower(arg));
    if (!option) return "Unknown option \"" + arg + "\".";
    std::string value;
    if (option->value_name) {
      // "-p -nft": the value was forgotten, and the next option is not a folder.
      if (i + 1 >= args.size() || FindOption(AsciiLower(args[i + 1])))
        return std::string(option->name) + " needs a value (" + option->value_name + ").";
      value = args[++i];
    }
    std::string problem = option->take(cl, value);
    if (!problem.empty()) return problem;
  }
  if (cl.archive.empty()) return "No archive given.";
  return "";
}

}  // namespace

std::vector<std::string> TranslateTypeWords(const std::string& value, ExportSwitches& switches) {
  std::vector<std::string> out;
  bool dds = false, png = false, sprite = false;
  std::string lower = AsciiLower(value);
  size_t start = 0;
  while (start <= lower.size()) {
    size_t comma = lower.find(',', start);
    if (comma == std::string::npos) comma = lower.size();
    std::string word = lower.substr(start, comma - start);
    start = comma + 1;
    std::string translated = word;
    bool type_word = false;
    if (word == "sprite" || word == "213") sprite = true;
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
  // Sprites are pictures cut from textures; asked for as pictures, they are not copied raw.
  if (png && !sprite) {
    out.push_back("213");
    switches.NoRawSprites = true;
  }
  return out;
}

CommandLine ParseCommandLine(const std::vector<std::string>& args) {
  CommandLine cl;
  if (args.empty()) {
    cl.Problem = "No task given.";
    return cl;
  }
  cl.task = AsciiLower(args[0]);
  if (!FindTask(cl.task)) {
    cl.Problem = "Unknown task \"" + args[0] + "\".";
    return cl;
  }
  cl.Problem = ReadArguments(args, cl);
  ExportSwitches& w = cl.export_request.Switches;
  if (cl.TypeFilterGiven) {
    std::string joined;
    for (const std::string& word : cl.TypeWords) joined += (joined.empty() ? "" : ",") + word;
    cl.TypeFilter = TranslateTypeWords(joined, w);
  } else {
    w.ExportSource = w.ExportRawTextures = w.ExportDds = w.ExportCrn = w.ExportPvr = true;
    w.ExportRawAudio = w.ExportRawMeshes = w.ExportObj = true;
    w.ExportKtx = false;
  }
  cl.ConsoleOutput = !cl.NoConsoleDetect && StdoutIsOpen();
  return cl;
}

std::vector<std::string> OptionNames() {
  std::vector<std::string> names;
  for (const OptionRule& o : kOptions) names.push_back(o.name);
  return names;
}

int RunCommandLine(const std::vector<std::string>& args, const ImportConverters& converters) {
  for (const std::string& arg : args) {
    if (arg == "--") break;
    const std::string word = AsciiLower(arg);
    if (word == "-h" || word == "--help" || (word == "help" && &arg == &args.front())) {
      std::string help = HelpText(InterfaceIsRussian());
      std::fwrite(help.data(), 1, help.size(), stdout);
      return kExitOk;
    }
    if (word == "--version") {
      PrintLine(std::string("Kestrix ") + KESTRIX_VERSION);
      return kExitOk;
    }
  }
  Session session;
  const CommandLine cl = ParseCommandLine(args);
  if (!cl.Problem.empty()) {
    // Standard error, whatever -ndc says: a run that did nothing must say why.
    PrintErrorLine(cl.Problem);
    std::string usage = UsageText(InterfaceIsRussian());
    std::fwrite(usage.data(), 1, usage.size(), stderr);
    return kExitUsage;
  }
  const Task* task = FindTask(cl.task);
  if (FolderExists(cl.archive)) return RunFolderTask(*task, cl, cl.archive, converters);
  ConsoleFrontend frontend(cl.ConsoleOutput);
  if (!FileExists(cl.archive)) {
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
