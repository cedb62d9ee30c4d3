// The name of an archive's folder in the output tree ("Unity_Assets_Files/<name>/").
//
// The rule: an archive's name up to its first dot ("sharedassets0" for "sharedassets0.assets"),
// unless another archive in the same folder has the same name up to its first dot; then the
// whole file name. So "globalgamemanagers" and "globalgamemanagers.assets", or
// "x-2019.3.13f1-lzma" and "x-2019.3.13f1-lz4", each get a folder of their own, and every
// other archive keeps the short name it has always had. Which files are archives is told by
// their content (formats/archive_detect.h): resource files and later split pieces never
// count, so "resources.assets" keeps "resources" beside "resources.resource", while
// "resources.resource" opened on its own gets its whole name.
//
// The name depends only on the file names and contents of the archive's own folder, so a run
// on one archive and a run on the whole game folder choose the same one. Whole names never
// meet short ones: a whole name that differs from its short name has a dot, a short name none.
#pragma once

#include <string>
#include <vector>

namespace kestrix {

// The rule on names alone: `other_archives` are the file names of the other archives of the
// folder.
std::string ExportFolderBase(const std::string& file_name,
                             const std::vector<std::string>& other_archives);

// The rule for the archive at `path`, looking at the files beside it.
std::string ExportFolderBaseFor(const std::string& path);

}  // namespace kestrix
