// Path texts with the native separator. Archive paths are plain byte strings (UTF-8 on Linux).
#pragma once

#include <filesystem>
#include <string>

namespace kestrix {

#ifdef _WIN32
inline constexpr char kSep = '\\';
inline constexpr char kSeparators[] = "\\/";  // Windows reads "/" as "\\"
#else
inline constexpr char kSep = '/';
inline constexpr char kSeparators[] = "/";
#endif

// Path texts are UTF-8 on every system; these convert to and from the library's paths (on
// Windows std::filesystem would otherwise use the ANSI code page).
std::filesystem::path FsPath(const std::string& text);
std::string PathText(const std::filesystem::path& path);

// Folder part of a path including its trailing separator ("" when the path has none). Windows
// also takes "/" (and a drive's "C:") as where a folder part ends, as the system does.
std::string FolderOf(const std::string& path);
// File name part of a path (after the last separator).
std::string FileNameOf(const std::string& path);
// The name up to (not including) its first "."; the whole name when it has none.
std::string UpToFirstDot(const std::string& name);
// The extension from the last "." on, "" when the file name has no ".".
std::string ExtensionOf(const std::string& path);
// Removes the last extension of the file name (the part from the last ".").
std::string WithoutExtension(const std::string& path);
// ASCII letters only are folded; other bytes stay.
std::string AsciiLower(std::string text);
std::string AsciiUpper(std::string text);
bool EndsWith(const std::string& text, const std::string& tail);

// A name that comes from archive data, made native: "/" and "\" become the native separator.
std::string NativeSeparators(std::string name);
// True when a name from archive data, appended to a folder text, stays inside that folder: it
// has no ".." component and is not empty (or made of separators only).
bool IsContainedName(const std::string& name);

}  // namespace kestrix
