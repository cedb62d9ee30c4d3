// Path texts with the native separator. Archive paths are plain byte strings (UTF-8 on Linux).
#pragma once

#include <string>

namespace kestrix {

inline constexpr char kSep = '/';

// Folder part of a path including its trailing separator ("" when the path has none).
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
