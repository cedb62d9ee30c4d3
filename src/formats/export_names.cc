#include "formats/export_names.h"

#include <filesystem>
#include <system_error>

#include "formats/archive_detect.h"
#include "platform/paths.h"

namespace kestrix {

namespace fs = std::filesystem;

std::string ExportFolderBase(const std::string& file_name,
                             const std::vector<std::string>& other_archives) {
  const std::string short_name = UpToFirstDot(file_name);
  for (const std::string& other : other_archives)
    if (other != file_name && UpToFirstDot(other) == short_name) return file_name;
  return short_name;
}

std::string ExportFolderBaseFor(const std::string& path) {
  const std::string name = FileNameOf(path);
  const std::string short_name = UpToFirstDot(name);
  std::string folder = FolderOf(path);
  if (folder.empty()) folder = std::string(".") + kSep;
  // Only files that share the short name are read, so a folder of thousands of archives costs
  // a listing, not thousands of reads.
  std::vector<std::string> rivals;
  std::error_code ec;
  fs::directory_iterator it(FsPath(folder), ec), end;
  for (; !ec && it != end; it.increment(ec)) {
    const std::string other = PathText(it->path().filename());
    if (other == name || UpToFirstDot(other) != short_name) continue;
    std::error_code kind;
    if (it->is_regular_file(kind) && LooksLikeArchive(folder + other)) rivals.push_back(other);
  }
  return ExportFolderBase(name, rivals);
}

}  // namespace kestrix
