// A task on a whole game folder: every Unity archive in it and below, each as the task on that
// archive alone would do it, one line per archive and a summary at the end.
#pragma once

#include <string>
#include <vector>

#include "core/requests.h"

namespace kestrix {

struct CommandLine;
struct ImportConverters;
struct Task;

// The archives below `folder` (which ends in a separator), by content (formats/archive_detect.h),
// as paths that start with `folder`, in byte order of their paths below it. Hidden files and
// folders, links, and the output folders Kestrix writes ("Unity_Assets_Files") are passed over.
// With `resources`, the resource files met on the way are noted there by name.
std::vector<std::string> FindArchivesBelow(const std::string& folder,
                                           FolderResources* resources = nullptr);

// Runs `task` on every archive below `folder` (as the user gave it) and returns the exit status: 1 when an archive
// or an object failed. With -p, an archive of the sub-folder "a/b" exports into "<-p>/a/b", so
// that archives of different folders never share an export folder.
int RunFolderTask(const Task& task, const CommandLine& cl, const std::string& folder,
                  const ImportConverters& converters);

}  // namespace kestrix
