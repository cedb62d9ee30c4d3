// The tasks the command line runs on one archive.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

namespace kestrix {

struct Session;
struct CommandLine;
struct ImportConverters;
class ConsoleFrontend;

struct Task {
  const char* name;
  bool open_expanded;  // open the archive by its absolute path
  bool writes;         // writes the archive (and so holds it alone)
  int (*run)(const CommandLine& cl, Session& session, ConsoleFrontend& frontend,
             const std::string& archive, const ImportConverters& converters);
};

// The -t rule: some word equals the class identifier in decimal, or is "*" (json: every class),
// or the class is negative (a script object) and the word is "114".
bool PassesTypeFilter(const std::vector<std::string>& words, int32_t class_id);
// The entries an "export" walks, in table order: all, or those that pass -t.
std::vector<size_t> EntriesToExport(const Session& session, const CommandLine& cl);

// The task for a lower-case task word, or nullptr.
const Task* FindTask(const std::string& word);
// Every task word, in table order.
std::vector<std::string> TaskNames();

}  // namespace kestrix
