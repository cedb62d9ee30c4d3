// The command line's side of the frontend: progress lines on standard output (when a console
// is attached), message and error boxes as lines on standard error.
#pragma once

#include <cstdint>

#include "core/frontend.h"
#include "platform/console.h"

namespace kestrix {

// What a task did to one archive, for the line a folder run prints per archive.
struct TaskCounts {
  uint64_t objects = 0;       // objects (or contained files) the task looked at
  uint64_t written = 0;       // objects (or files) it wrote
  bool not_exported = false;  // import: the archive has no export folder
};

class ConsoleFrontend : public Frontend {
 public:
  explicit ConsoleFrontend(bool console_output) : console_output_(console_output) {}
  void MessageBox(const std::string& text) override { ErrorLine(text); }
  void ErrorBox(const std::string& text) override {
    ++errors_;
    ErrorLine(text);
  }
  void Note(const std::string& text) override { ConsoleLine(text); }
  void ConsoleLine(const std::string& text) override {
    if (console_output_) PrintLine(text);
  }
  int Errors() const { return errors_; }
  // A folder run prints one line per archive: the list task then counts without listing, and
  // import passes over archives that were never exported.
  virtual bool InFolderRun() const { return false; }
  TaskCounts counts;

 protected:
  // Where lines for standard error go: a folder run holds them until the archive's turn.
  virtual void ErrorLine(const std::string& text) { PrintErrorLine(text); }

 private:
  bool console_output_;
  int errors_ = 0;
};

}  // namespace kestrix
