// The tasks the command line runs on one archive.
#pragma once

#include <string>

namespace kestrix {

struct Session;
class ConsoleFrontend;

struct Task {
  const char* name;
  bool open_expanded;  // open the archive by its absolute path
  int (*run)(Session& session, ConsoleFrontend& frontend, const std::string& archive);
};

// The task for a lower-case task word, or nullptr.
const Task* FindTask(const std::string& word);

}  // namespace kestrix
