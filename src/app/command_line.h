// The command line: tasks "export", "import", "exportbundle" (and "list"), their options, and
// the help text.
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
};

// Exit statuses.
inline constexpr int kExitOk = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;

// Translates the value of -t: lower case, split at commas, type words replaced by class
// identifiers (with "dds" appending 89 and 186 to the list); turns on the switches they name.
std::vector<std::string> TranslateTypeWords(const std::string& value, ExportSwitches& switches);

// Reads task, archive and options (from the third argument on). `args` excludes the program
// name.
CommandLine ParseCommandLine(const std::vector<std::string>& args);

// Runs one task and returns the exit status. `args` excludes the program name; `converters` are
// the importers an import runs.
int RunCommandLine(const std::vector<std::string>& args, const ImportConverters& converters);

}  // namespace kestrix
