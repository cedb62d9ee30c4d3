// The command line: tasks "list", "export", "import" and "exportbundle", their options, and the
// help text. A line the program cannot run as typed is refused whole, before anything is opened.
#pragma once

#include <string>
#include <vector>

#include "core/requests.h"
#include "import/importer.h"

namespace kestrix {

struct CommandLine {
  std::string task;     // lower case
  std::string archive;  // as given
  OpenOptions open;
  ExportRequest export_request;
  bool TypeFilterGiven = false;
  std::vector<std::string> TypeFilter;  // -t, translated to class identifiers
  std::vector<std::string> TypeWords;   // -t as typed, lower case: import's patterns
  bool NoConsoleDetect = false;         // -ndc
  bool ConsoleOutput = false;           // progress lines are printed
  std::string Problem;                  // why the line is refused (one line), or ""
};

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Translates the value of -t: lower case, split at commas, type words replaced by class
// identifiers (with "dds" appending 89 and 186 to the list); turns on the switches they name.
std::vector<std::string> TranslateTypeWords(const std::string& value, ExportSwitches& switches);

// Reads the task word, then the archive and options in any order ("--" ends the options).
// `args` excludes the program name. Problem names the first thing that cannot be run as typed:
// an unknown task or option, an option without its value, a value of the wrong form, a -t word
// that is neither a type word nor a class number, a second archive or none.
CommandLine ParseCommandLine(const std::vector<std::string>& args);
// The options ParseCommandLine knows, as matched (lower case).
std::vector<std::string> OptionNames();

// Runs one task and returns the exit status. `args` excludes the program name; `converters` are
// the importers an import runs.
int RunCommandLine(const std::vector<std::string>& args, const ImportConverters& converters);

}  // namespace kestrix
