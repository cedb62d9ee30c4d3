#include "app/folder_tasks.h"

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <exception>
#include <filesystem>
#include <memory>
#include <mutex>
#include <system_error>

#include "app/command_line.h"
#include "app/console_frontend.h"
#include "app/tasks.h"
#include "core/requests.h"
#include "core/session.h"
#include "formats/archive_detect.h"
#include "formats/archive_open.h"
#include "platform/archive_lock.h"
#include "platform/console.h"
#include "platform/paths.h"
#include "platform/two_threads.h"

namespace kestrix {

namespace fs = std::filesystem;

namespace {

// Export writes its folders beside the archives; they hold copies of objects and extracted
// contained files, which are not the game's archives.
constexpr char kOutputTop[] = "Unity_Assets_Files";

void Walk(const std::string& folder, std::vector<std::string>& out, FolderResources* resources) {
  std::error_code ec;
  fs::directory_iterator it(FsPath(folder), ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const std::string name = PathText(it->path().filename());
    // Hidden names are this program's own run files (joined pieces, journals, records).
    if (name.empty() || name[0] == '.') continue;
    std::error_code kind;
    if (it->is_symlink(kind)) continue;
    if (it->is_directory(kind)) {
      if (name != kOutputTop) Walk(folder + name + kSep, out, resources);
    } else if (!it->is_regular_file(kind)) {
      continue;
    } else if (IsResourceFileName(name)) {
      if (resources) (*resources)[name].push_back(folder + name);
    } else if (LooksLikeArchive(folder + name)) {
      out.push_back(folder + name);
    }
  }
}

// Lines for standard error wait for the archive's turn, so that two archives at a time still
// print in order; per-object progress lines are left out.
class HeldFrontend : public ConsoleFrontend {
 public:
  HeldFrontend() : ConsoleFrontend(false) {}
  bool InFolderRun() const override { return true; }
  std::vector<std::string> held;

 protected:
  void ErrorLine(const std::string& text) override { held.push_back(text); }
};

struct Outcome {
  std::string line;
  std::vector<std::string> errors;
  uint64_t objects = 0, written = 0, failures = 0;
};

std::string Absolute(const std::string& path) {
  std::error_code ec;
  fs::path abs = fs::absolute(FsPath(path), ec);
  return ec ? path : PathText(abs.lexically_normal());
}

// With -p, the archive's sub-folder below the game folder is kept below the -p folder.
CommandLine ForArchive(const CommandLine& cl, const std::string& relative) {
  CommandLine one = cl;
  std::string sub = FolderOf(relative);
  if (!sub.empty()) sub.pop_back();
  if (cl.open.OutputRootGiven && !sub.empty()) one.open.OutputRootOption += kSep + sub;
  return one;
}

std::string CountsLine(const Task& task, const std::string& relative, const Outcome& o,
                       bool not_exported) {
  const std::string name = task.name;
  std::string line = relative + ": ";
  if (not_exported) return line + "not exported, passed over";
  line += std::to_string(o.objects);
  if (name == "list") return line + " objects";
  line += name == "import"         ? " files, "
          : name == "exportbundle" ? " contained files, "
                                   : " objects, ";
  return line + std::to_string(o.written) + " written, " + std::to_string(o.failures) + " failed";
}

Outcome RunOne(const Task& task, const CommandLine& cl, const std::string& archive,
               const std::string& relative, const std::shared_ptr<const FolderResources>& resources,
               const ImportConverters& converters) {
  Session session;
  HeldFrontend frontend;
  int status = kExitOk;
  try {
    const std::string path = task.open_expanded ? Absolute(archive) : archive;
    // Locked for the whole task, as a run on this archive alone locks it.
    ArchiveLock lock(path, task.writes ? LockKind::kWrite : LockKind::kRead,
                     [](const std::string&) {});
    CommandLine one = ForArchive(cl, relative);
    one.export_request.Resources = resources;
    status = task.run(one, session, frontend, path, converters);
  } catch (const std::exception& e) {
    frontend.ErrorBox(e.what());
    status = kExitFailed;
  }
  CloseArchive(session);
  Outcome o;
  o.objects = frontend.counts.objects;
  o.written = frontend.counts.written;
  o.failures = static_cast<uint64_t>(frontend.Errors());
  if (status != kExitOk && o.failures == 0) o.failures = 1;
  o.line = CountsLine(task, relative, o, frontend.counts.not_exported);
  for (const std::string& text : frontend.held) o.errors.push_back(relative + ": " + text);
  return o;
}

}  // namespace

std::vector<std::string> FindArchivesBelow(const std::string& folder, FolderResources* resources) {
  std::vector<std::string> out;
  Walk(folder, out, resources);
  std::sort(out.begin(), out.end());
  return out;
}

int RunFolderTask(const Task& task, const CommandLine& cl, const std::string& given,
                  const ImportConverters& converters) {
  const std::string folder = EndsWith(given, std::string(1, kSep)) ? given : given + kSep;
  // A contained-file index means one bundle; over a folder it would fail every other archive.
  if (cl.open.SelectedFileIndex != kFirstSerializedFile) {
    PrintErrorLine("-i chooses a contained file of one bundle: it cannot be given with a folder.");
    return kExitUsage;
  }
  auto resources = std::make_shared<FolderResources>();
  const std::vector<std::string> archives = FindArchivesBelow(folder, resources.get());
  if (archives.empty()) {
    PrintErrorLine("No Unity archive found in " + folder);
    return kExitFailed;
  }
  // Two archives are worked on at once only while their sizes together stay within the largest
  // one's, so that the run needs about the memory of its largest archive, not of its two largest.
  std::vector<uint64_t> sizes(archives.size(), 0);
  uint64_t budget = 0;
  for (size_t i = 0; i < archives.size(); ++i) {
    std::error_code ec;
    const auto size = std::filesystem::file_size(FsPath(archives[i]), ec);
    sizes[i] = ec ? 0 : static_cast<uint64_t>(size);
    budget = std::max(budget, sizes[i]);
  }
  // Each archive's line goes out as soon as those before it are out; what is printed is let go.
  std::vector<Outcome> outcomes(archives.size());
  std::vector<bool> done(archives.size(), false);
  size_t next = 0, printed = 0;
  uint64_t written = 0, failures = 0, objects = 0, in_flight = 0;
  std::mutex mutex;
  std::condition_variable finished;
  auto worker = [&] {
    for (;;) {
      size_t i;
      {
        std::unique_lock<std::mutex> guard(mutex);
        finished.wait(guard, [&] {
          return next == archives.size() || in_flight == 0 ||
                 in_flight + sizes[next] <= budget;
        });
        if (next == archives.size()) return;
        i = next++;
        in_flight += sizes[i];
      }
      Outcome o =
          RunOne(task, cl, archives[i], archives[i].substr(folder.size()), resources, converters);
      std::lock_guard<std::mutex> guard(mutex);
      in_flight -= sizes[i];
      finished.notify_all();
      outcomes[i] = std::move(o);
      done[i] = true;
      for (; printed < archives.size() && done[printed]; ++printed) {
        Outcome& out = outcomes[printed];
        for (const std::string& text : out.errors) PrintErrorLine(text);
        PrintLine(out.line);
        objects += out.objects;
        written += out.written;
        failures += out.failures;
        out = Outcome();
      }
    }
  };
  // Reading archives keeps both cores busy, two archives at a time. An import writes: one at a
  // time, so that a failure leaves one archive to look at, not two half-done.
  if (task.writes) {
    worker();
  } else {
    RunBoth(worker, worker);
  }
  const std::string name = task.name;
  PrintLine(std::to_string(archives.size()) + " archives, " +
            (name == "list" ? std::to_string(objects) + " objects, "
                            : std::to_string(written) + " objects written, ") +
            std::to_string(failures) + " failures");
  std::fflush(stdout);
  return failures > 0 ? kExitFailed : kExitOk;
}

}  // namespace kestrix
