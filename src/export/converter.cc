#include "export/converter.h"

#include "core/frontend.h"
#include "core/session.h"

namespace kestrix {

void ConverterContext::Report(const std::string& text) {
  if (session_.Options.ConsoleMode) {
    if (session_.Options.ConsoleOutput) frontend_.ConsoleLine(text);
  } else {
    frontend_.MessageBox(text);
  }
}

void ConverterContext::Done(const std::string& text) {
  if (session_.Options.ConsoleMode && session_.Options.ConsoleOutput) frontend_.ConsoleLine(text);
}

void ConverterContext::MissingResource(const std::string& text) { frontend_.MessageBox(text); }

}  // namespace kestrix
