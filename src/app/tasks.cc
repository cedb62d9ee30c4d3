#include "app/tasks.h"

#include "app/command_line.h"
#include "app/console_frontend.h"
#include "core/session.h"
#include "formats/archive_open.h"
#include "formats/bundle_extract.h"
#include "platform/file_ops.h"
#include "platform/paths.h"

namespace kestrix {

namespace {

int ExportTask(Session& s, ConsoleFrontend& frontend, const std::string& archive) {
  frontend.ConsoleLine("export");
  frontend.ConsoleLine("");
  OpenArchive(s, frontend, archive, s.Options.SelectedFileIndex);
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
};

}  // namespace

const Task* FindTask(const std::string& word) {
  for (const Task& t : kTasks)
    if (word == t.name) return &t;
  return nullptr;
}

}  // namespace kestrix
