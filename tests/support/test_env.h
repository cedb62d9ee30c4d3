// What tests share: temporary folders, the corpus of real archives, a recording frontend, and
// running the real kestrix binary.
#pragma once

#include <chrono>
#include <csignal>
#include <functional>
#include <string>
#include <vector>

#include "core/frontend.h"
#include "core/requests.h"

#ifdef _WIN32
// Windows has no SIGKILL; a run ended from outside is reported with the number a Linux run would
// have been killed by (see RunResult).
#ifndef SIGKILL
#define SIGKILL 9
#endif
#endif

namespace kestrix::testing {

// Ends this process at once, as SIGKILL does: no destructor, no handler, no cleanup (Windows:
// TerminateProcess, with the exit status 128 + 9 that the test runner reads back as SIGKILL).
[[noreturn]] void KillSelf();

// A fresh folder, removed with everything in it when the object goes.
class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  const std::string& Path() const { return path_; }
  std::string File(const std::string& name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// The corpus folder, or "" when it is not there.
std::string CorpusDir();
// The file a "Missing file: <path>" failure names (the corpus leaves some resource files out),
// or "" for any other text.
std::string MissingFileOf(const std::string& message);
// True when every line of a run's standard error is a missing-resource failure
// ("<entry>: Missing file: <path>") of a file that is indeed not there.
bool OnlyMissingResources(const std::string& err);

struct CorpusRow {
  std::string relpath, container, compression, serialized_format, unity_version;
  bool big_endian = false;
  std::string has_type_trees;
  long object_count = -1;
  std::string classes_present, notes;
};
std::vector<CorpusRow> CorpusManifest();
// A plain serialized file (not a bundle, not a resource) of formats 6 to 22.
bool IsHandledPlainFile(const CorpusRow& row);
// A bundle of any signature and version the container stage reads (versions 1 to 8).
bool IsReadableBundle(const CorpusRow& row);
// Every serialized format the row lists ("15,15,17") lies from `lowest` to `highest`.
bool FormatsWithin(const CorpusRow& row, int lowest = 6, int highest = 22);
// The path to open for a corpus row. Split pieces are joined beside the first one, so they are
// copied into `tmp` first and the copy's ".split0" is returned.
std::string CorpusArchiveToOpen(const CorpusRow& row, const TempDir& tmp);

// Open options that choose contained file `index` of a bundle.
// Each text with the system's separators ("\\" on Windows), for paths the program prints.
std::vector<std::string> NativeLines(std::vector<std::string> lines);

inline OpenOptions Pick(int index) {
  OpenOptions options;
  options.SelectedFileIndex = index;
  return options;
}

// Records what an operation shows the user, as the command line shows it (console lines, no
// progress) or, with `window` set, as the window does (progress, notes as message boxes, no
// console lines).
class RecordingFrontend : public Frontend {
 public:
  void Note(const std::string& text) override { (window ? messages : lines).push_back(text); }
  void ShowProgress(int percent) override {
    if (window) progress.push_back(percent);
  }
  void MessageBox(const std::string& text) override { messages.push_back(text); }
  void ErrorBox(const std::string& text) override { errors.push_back(text); }
  void ConsoleLine(const std::string& text) override {
    if (!window) lines.push_back(text);
  }
  void EnableCommands(bool enabled) override { enables.push_back(enabled); }
  void FillChooser(const std::vector<std::string>& names, int selected) override {
    chooser = names;
    chooser_selected = selected;
  }
  bool window = false;
  std::vector<int> progress;
  std::vector<std::string> messages, errors, lines;
  std::vector<bool> enables;
  std::vector<std::string> chooser;
  int chooser_selected = -1;
};

struct RunResult {
  int status = -1;  // exit status, or -1 for a signal
  // The signal that ended the run. On Windows: the one a stop asked for (TerminateProcess), or
  // SIGKILL for a child that ended itself by KillSelf.
  int signal = 0;
  std::string out, err;
};
// Runs the kestrix binary with the arguments (and extra environment "NAME=value" entries).
RunResult RunKestrix(const std::vector<std::string>& args, const std::vector<std::string>& env = {},
                     const std::string& cwd = "");
// The same for another program file (a copy of kestrix in another folder, for example).
RunResult RunProgram(const std::string& program, const std::vector<std::string>& args,
                     const std::vector<std::string>& env = {});
// Runs the kestrix binary and asks stop(pid) every 50 ms while it runs: once that answers true
// the program gets `signal` (SIGTERM unless given), after `limit` SIGKILL (result.signal tells
// which ended it).
RunResult RunKestrixUntil(const std::vector<std::string>& args, const std::vector<std::string>& env,
                          const std::function<bool(int pid)>& stop, std::chrono::milliseconds limit,
                          int signal = SIGTERM);

// Every file below a folder but export's record (".kestrix-export"), relative paths, sorted.
std::vector<std::string> ListFiles(const std::string& folder);
void CopyFile(const std::string& from, const std::string& to);

}  // namespace kestrix::testing
