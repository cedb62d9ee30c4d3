#include "app/tasks.h"

#include <cstdio>

#include "app/command_line.h"
#include "app/console_frontend.h"
#include "core/list_row.h"
#include "core/session.h"
#include "export/export_driver.h"
#include "formats/archive_open.h"
#include "formats/bundle_extract.h"
#include "platform/console.h"
#include "platform/file_ops.h"
#include "platform/paths.h"

namespace kestrix {

namespace {

int ExportTask(Session& s, ConsoleFrontend& frontend, const std::string& archive) {
  frontend.ConsoleLine("export");
  frontend.ConsoleLine("");
  OpenArchive(s, frontend, archive, s.Options.SelectedFileIndex);
  // Every failed entry has been reported on standard error; the others are exported.
  ExportRunResult result = ExportEntries(s, frontend, EntriesToExport(s));
  return result.failed || frontend.Errors() ? kExitFailed : kExitOk;
}

// The listing is the task's result, not progress, so it is printed also with -ndc. A million
// rows are common in big games: lines go out in large blocks, written straight from the entries.
int ListTask(Session& s, ConsoleFrontend& frontend, const std::string& archive) {
  OpenArchive(s, frontend, archive, s.Options.SelectedFileIndex);
  std::string block;
  constexpr size_t kBlock = 1 << 20;
  block.reserve(kBlock + 4096);
  for (size_t i = 0; i < s.EntryCount(); ++i) {
    AppendListLine(s, i, block);
    block += '\n';
    if (block.size() >= kBlock) {
      std::fwrite(block.data(), 1, block.size(), stdout);
      block.clear();
    }
  }
  std::fwrite(block.data(), 1, block.size(), stdout);
  return frontend.Errors() ? kExitFailed : kExitOk;
}

int ImportTask(Session& s, ConsoleFrontend& frontend, const std::string& archive) {
  // Import runs only when the export folder of the archive exists.
  std::string folder = FolderOf(archive) + "Unity_Assets_Files" + kSep +
                       WithoutExtension(FileNameOf(archive));
  if (!FolderExists(folder)) return kExitOk;
  frontend.ConsoleLine("import");
  frontend.ConsoleLine("");
  OpenArchive(s, frontend, archive, s.Options.SelectedFileIndex);
  return frontend.Errors() ? kExitFailed : kExitOk;
}

int ExportBundleTask(Session& s, ConsoleFrontend& frontend, const std::string& archive) {
  frontend.ConsoleLine("export");
  frontend.ConsoleLine("");
  // Extraction reads no asset file, so bundles whose asset files this program cannot read yet
  // still give up their contents.
  OpenContainer(s, frontend, archive, 0);
  ExtractBundleFiles(s, frontend,
                     s.OutputRoot + "Unity_Assets_Files" + kSep + s.ArchiveBaseName + kSep +
                         "Bundle" + kSep);
  return frontend.Errors() ? kExitFailed : kExitOk;
}

const Task kTasks[] = {
    {"export", true, ExportTask},
    {"import", false, ImportTask},
    {"exportbundle", true, ExportBundleTask},
    {"list", true, ListTask},
};

}  // namespace

bool PassesTypeFilter(const std::vector<std::string>& words, int32_t class_id) {
  const std::string text = std::to_string(class_id);
  for (const std::string& word : words)
    if (word == text || (class_id < 0 && word == "114")) return true;
  return false;
}

std::vector<size_t> EntriesToExport(const Session& s) {
  std::vector<size_t> out;
  out.reserve(s.EntryCount());
  for (size_t i = 0; i < s.EntryCount(); ++i)
    if (!s.Options.TypeFilterGiven || PassesTypeFilter(s.Options.TypeFilter, s.EntryClass(i)))
      out.push_back(i);
  return out;
}

const Task* FindTask(const std::string& word) {
  for (const Task& t : kTasks)
    if (word == t.name) return &t;
  return nullptr;
}

}  // namespace kestrix
