// How operations talk to the user. The window implements it with Qt, the command line with
// standard output and error, tests with a recorder. Operations never print or exit themselves.
#pragma once

#include <string>
#include <vector>

namespace kestrix {

class Frontend {
 public:
  virtual ~Frontend() = default;

  // Progress of open, export and import, 0 to 100 (the window only).
  virtual void ShowProgress(int /*percent*/) {}
  // Lets the window handle pending events between entries.
  virtual void ProcessMessages() {}
  // A note that does not stop the operation ("Error: Not find offsets.", ...).
  virtual void MessageBox(const std::string& text) = 0;
  // A converter's note that does not stop the run ("Not supported format ..."): a message box
  // in the window, a console line on the command line.
  virtual void Note(const std::string& text) { MessageBox(text); }
  // A failure with an OK button.
  virtual void ErrorBox(const std::string& text) = 0;
  // A progress line of a command-line run (printed only when a console is attached; the
  // window shows none).
  virtual void ConsoleLine(const std::string& text) = 0;
  // Enables or disables the commands that could start another operation.
  virtual void EnableCommands(bool /*enabled*/) {}
  // The contained-file chooser: its items and the selected one.
  virtual void FillChooser(const std::vector<std::string>& /*names*/, int /*selected*/) {}
};

// Keeps the main commands disabled while an operation runs, and enables them again however it
// ends.
class CommandsDisabled {
 public:
  explicit CommandsDisabled(Frontend& frontend) : frontend_(frontend) {
    frontend_.EnableCommands(false);
  }
  ~CommandsDisabled() { frontend_.EnableCommands(true); }
  CommandsDisabled(const CommandsDisabled&) = delete;
  CommandsDisabled& operator=(const CommandsDisabled&) = delete;

 private:
  Frontend& frontend_;
};

}  // namespace kestrix
