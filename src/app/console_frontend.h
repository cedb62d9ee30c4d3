// The command line's side of the frontend: progress lines on standard output (when a console
// is attached), message and error boxes as lines on standard error.
#pragma once

#include "core/frontend.h"
#include "platform/console.h"

namespace kestrix {

class ConsoleFrontend : public Frontend {
 public:
  explicit ConsoleFrontend(bool console_output) : console_output_(console_output) {}
  void MessageBox(const std::string& text) override { PrintErrorLine(text); }
  void ErrorBox(const std::string& text) override {
    ++errors_;
    PrintErrorLine(text);
  }
  void Note(const std::string& text) override { ConsoleLine(text); }
  void ConsoleLine(const std::string& text) override {
    if (console_output_) PrintLine(text);
  }
  int Errors() const { return errors_; }

 private:
  bool console_output_;
  int errors_ = 0;
};

}  // namespace kestrix
