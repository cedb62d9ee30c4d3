#include "platform/paths.h"

#include "platform/ascii.h"
#ifdef _WIN32
#include "platform/sys.h"
#endif

namespace kestrix {

#ifdef _WIN32
std::filesystem::path FsPath(const std::string& text) {
  return std::filesystem::path(sys::Wide(text));
}

std::string PathText(const std::filesystem::path& path) { return sys::Utf8(path.wstring()); }

namespace {
size_t LastSeparator(const std::string& path) { return path.find_last_of("\\/:"); }
}  // namespace
#else
std::filesystem::path FsPath(const std::string& text) { return std::filesystem::path(text); }

std::string PathText(const std::filesystem::path& path) { return path.string(); }

namespace {
size_t LastSeparator(const std::string& path) { return path.rfind(kSep); }
}  // namespace
#endif

std::string FolderOf(const std::string& path) {
  size_t cut = LastSeparator(path);
  return cut == std::string::npos ? std::string() : path.substr(0, cut + 1);
}

std::string FileNameOf(const std::string& path) {
  size_t cut = LastSeparator(path);
  return cut == std::string::npos ? path : path.substr(cut + 1);
}

std::string UpToFirstDot(const std::string& name) {
  size_t dot = name.find('.');
  return dot == std::string::npos ? name : name.substr(0, dot);
}

std::string ExtensionOf(const std::string& path) {
  std::string name = FileNameOf(path);
  size_t dot = name.rfind('.');
  return dot == std::string::npos ? std::string() : name.substr(dot);
}

std::string WithoutExtension(const std::string& path) {
  std::string ext = ExtensionOf(path);
  return path.substr(0, path.size() - ext.size());
}

std::string AsciiLower(std::string text) {
  for (char& c : text) c = static_cast<char>(AsciiFold(static_cast<unsigned char>(c)));
  return text;
}

std::string AsciiUpper(std::string text) {
  for (char& c : text)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
  return text;
}

bool EndsWith(const std::string& text, const std::string& tail) {
  return text.size() >= tail.size() && text.compare(text.size() - tail.size(), tail.size(), tail) == 0;
}

std::string NativeSeparators(std::string name) {
  for (char& c : name)
    if (c == '/' || c == '\\') c = kSep;
  return name;
}

bool IsContainedName(const std::string& raw) {
  // Names are always appended to a folder text that ends in a separator, so a leading
  // separator (from "archive:/CAB-x/CAB-x") stays inside it; only ".." climbs out.
  std::string name = NativeSeparators(raw);
  if (name.find_first_not_of(kSep) == std::string::npos) return false;
  size_t start = 0;
  while (start <= name.size()) {
    size_t end = name.find(kSep, start);
    if (end == std::string::npos) end = name.size();
    if (end - start == 2 && name.compare(start, 2, "..") == 0) return false;
    start = end + 1;
  }
  return true;
}

}  // namespace kestrix
