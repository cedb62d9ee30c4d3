#include "app/tasks.h"

#include <algorithm>
#include <cstdio>
#include <vector>

#include "app/command_line.h"
#include "app/console_frontend.h"
#include "core/list_row.h"
#include "core/session.h"
#include "export/export_driver.h"
#include "formats/archive_open.h"
#include "formats/bundle_extract.h"
#include "import/import_driver.h"
#include "import/standard_converters.h"
#include "platform/console.h"
#include "platform/file_ops.h"
#include "platform/paths.h"

namespace kestrix {

namespace {

int ExportTask(const CommandLine& cl, Session& s, ConsoleFrontend& frontend,
               const std::string& archive, const ImportConverters&) {
  frontend.ConsoleLine("export");
  frontend.ConsoleLine("");
  OpenArchive(s, frontend, archive, cl.open);
  // Every failed entry has been reported on standard error; the others are exported.
  const std::vector<size_t> entries = EntriesToExport(s, cl);
  frontend.counts.objects = entries.size();
  ExportRunResult result = ExportEntries(s, cl.export_request, frontend, entries);
  frontend.counts.written = result.exported;
  return result.failed || frontend.Errors() ? kExitFailed : kExitOk;
}

// The listing is the task's result, not progress, so it is printed also with -ndc. A million
// rows are common in big games: lines go out in large blocks, written straight from the entries.
int ListTask(const CommandLine& cl, Session& s, ConsoleFrontend& frontend,
             const std::string& archive, const ImportConverters&) {
  OpenArchive(s, frontend, archive, cl.open);
  frontend.counts.objects = s.EntryCount();
  if (!frontend.InFolderRun()) WriteListLines(s, stdout);
  return frontend.Errors() ? kExitFailed : kExitOk;
}

int ImportTask(const CommandLine& cl, Session& s, ConsoleFrontend& frontend,
               const std::string& archive, const ImportConverters& converters) {
  // Import works in the folder export writes, found by the same rule (-p included).
  OpenArchive(s, frontend, archive, cl.open);
  const std::string folder = ExportFolder(s.Archive);
  if (!FolderExists(folder)) {
    frontend.counts.not_exported = true;
    if (frontend.InFolderRun()) return kExitOk;
    frontend.ErrorBox("Nothing to import: the folder " + folder +
                      " does not exist (export the archive first).");
    return kExitFailed;
  }
  frontend.ConsoleLine("import");
  frontend.ConsoleLine("");
  ImportRequest request;
  request.NoTextureFlip = cl.export_request.NoTextureFlip;
  request.TypeFilterGiven = cl.TypeFilterGiven;
  request.TypeWords = cl.TypeWords;
  const ImportResult result = ImportAll(s, request, frontend, converters);
  frontend.counts.objects = result.candidates;
  frontend.counts.written = result.replaced;
  return frontend.Errors() ? kExitFailed : kExitOk;
}

int ExportBundleTask(const CommandLine& cl, Session& s, ConsoleFrontend& frontend,
                     const std::string& archive, const ImportConverters&) {
  frontend.ConsoleLine("export");
  frontend.ConsoleLine("");
  // Extraction reads no asset file, so bundles whose asset files this program cannot read yet
  // still give up their contents.
  OpenOptions options = cl.open;
  options.SelectedFileIndex = 0;
  OpenContainer(s.Archive, frontend, archive, options);
  frontend.counts.objects = s.Archive.Bundle.ContainedFiles.size();
  frontend.counts.written = static_cast<uint64_t>(
      std::max(0, ExtractBundleFiles(s.Archive, frontend, BundleFolder(s.Archive))));
  return frontend.Errors() ? kExitFailed : kExitOk;
}

const Task kTasks[] = {
    {"export", true, false, ExportTask},
    {"import", false, true, ImportTask},
    {"exportbundle", true, false, ExportBundleTask},
    {"list", true, false, ListTask},
};

}  // namespace

bool PassesTypeFilter(const std::vector<std::string>& words, int32_t class_id) {
  const std::string text = std::to_string(class_id);
  for (const std::string& word : words)
    if (word == text || word == "*" || (class_id < 0 && word == "114")) return true;
  return false;
}

std::vector<size_t> EntriesToExport(const Session& s, const CommandLine& cl) {
  std::vector<size_t> out;
  out.reserve(s.EntryCount());
  for (size_t i = 0; i < s.EntryCount(); ++i)
    if (!cl.TypeFilterGiven || PassesTypeFilter(cl.TypeFilter, s.EntryClass(i))) out.push_back(i);
  return out;
}

const Task* FindTask(const std::string& word) {
  for (const Task& t : kTasks)
    if (word == t.name) return &t;
  return nullptr;
}

std::vector<std::string> TaskNames() {
  std::vector<std::string> names;
  for (const Task& t : kTasks) names.push_back(t.name);
  return names;
}

}  // namespace kestrix
