#include "formats/extracted_trees.h"

#include <algorithm>
#include <cctype>
#include <filesystem>
#include <map>
#include <vector>

#include "core/archive.h"
#include "core/error.h"
#include "core/frontend.h"
#include "core/serialized_file.h"
#include "formats/archive_open.h"
#include "formats/asset_reader.h"
#include "platform/byte_source.h"
#include "platform/paths.h"
#include "platform/reader.h"
#include "platform/safe_files.h"

namespace kestrix {

namespace {

// A tree blob is a few kilobytes; anything near this is not one.
constexpr uint64_t kMaxTreeBytes = 64ull << 20;

class SilentFrontend : public Frontend {
 public:
  void MessageBox(const std::string&) override {}
  void ErrorBox(const std::string&) override {}
  void ConsoleLine(const std::string&) override {}
};

// The types still waiting for their tree, by hash name.
using Waiting = std::map<std::string, std::vector<SerializedType*>>;

Waiting WaitingTypes(SerializedFile& s) {
  Waiting waiting;
  for (std::vector<SerializedType>* list : {&s.Types, &s.ReferenceTypes})
    for (SerializedType& t : *list)
      if (t.TreeExtracted && t.Tree.Nodes.empty()) waiting[TreeHashName(t.TreeHash)].push_back(&t);
  return waiting;
}

std::string EntryKey(const ContainedFile& f) { return AsciiLower(FileNameOf(f.Name)); }

// Reads the trees a bundle's entries hold; `base` is where the entry offsets count from in the
// stream `r` reads.
void TakeFromBundle(const Container& bundle, uint64_t base, Reader& r, Waiting& waiting) {
  for (const ContainedFile& f : bundle.ContainedFiles) {
    auto it = waiting.find(EntryKey(f));
    if (it == waiting.end() || f.Size > kMaxTreeBytes) continue;
    try {
      r.Seek(base + f.Offset);
      const std::vector<uint8_t> bytes = r.ReadBytes(static_cast<size_t>(f.Size));
      MemorySource source(bytes);
      Reader blob(source);
      blob.SetOrder(r.Order());
      const TypeTree tree = ReadTypeTreeBlob(blob);
      for (SerializedType* t : it->second) t->Tree = tree;
      waiting.erase(it);
    } catch (const std::exception&) {
      // A damaged entry leaves the type to the engine's layouts, as a missing one does.
    }
  }
}

// The ".typetreedata" archives in the folder of the given path, in name order.
std::vector<std::string> TreeArchivesBeside(const std::string& given) {
  std::vector<std::string> found;
  std::string folder = FolderOf(given);
  if (folder.empty()) folder = ".";
  std::error_code ec;
  for (const auto& e : std::filesystem::directory_iterator(FsPath(folder), ec))
    if (AsciiLower(PathText(e.path().extension())) == ".typetreedata")
      found.push_back(PathText(e.path()));
  std::sort(found.begin(), found.end());
  return found;
}

void TakeFromArchiveBeside(const std::string& path, ByteOrder order, Waiting& waiting) {
  std::string folder = FolderOf(path);
  if (folder.empty()) folder = ".";
  try {
    // The rule for files beside the archive: a regular file inside its folder.
    OpenInsideFolder(folder, path);
    OpenedArchive side;
    SilentFrontend silent;
    OpenContainer(side, silent, path);
    if (!side.Bundle.IsBundle()) return;
    FileSource source(side.ArchivePath);
    Reader r(source);
    r.SetOrder(order);
    const ContainedFile& first = side.Bundle.ContainedFiles.front();
    TakeFromBundle(side.Bundle, side.AssetBase - first.Offset, r, waiting);
  } catch (const std::exception&) {
    // Not an archive Kestrix reads: its trees stay unknown.
  }
}

}  // namespace

std::string TreeHashName(const std::array<uint8_t, 16>& hash) {
  static const char kDigits[] = "0123456789abcdef";
  std::string name;
  for (uint8_t b : hash) {
    name += kDigits[b >> 4];
    name += kDigits[b & 15];
  }
  return name;
}

bool IsTreeHashName(const std::string& name) {
  const std::string base = FileNameOf(name);
  if (base.size() != 32) return false;
  for (char c : base)
    if (!std::isxdigit(static_cast<unsigned char>(c))) return false;
  return true;
}

void ResolveExtractedTrees(SerializedFile& s, const OpenedArchive& a, Reader& r) {
  Waiting waiting = WaitingTypes(s);
  if (waiting.empty()) return;
  if (a.Bundle.IsBundle() && !a.Bundle.ContainedFiles.empty()) {
    const ContainedFile& chosen = a.Bundle.ContainedFiles[static_cast<size_t>(a.SelectedFileIndex)];
    const uint64_t position = r.Tell();
    TakeFromBundle(a.Bundle, a.AssetBase - chosen.Offset, r, waiting);
    r.Seek(position);
  }
  for (const std::string& path : TreeArchivesBeside(a.GivenPath)) {
    if (waiting.empty()) break;
    TakeFromArchiveBeside(path, r.Order(), waiting);
  }
  size_t missing = 0;
  for (const auto& w : waiting) missing += w.second.size();
  if (missing)
    s.Warnings.push_back(std::to_string(missing) +
                         " type trees of this file are kept outside it and were not found (no "
                         "bundle entry or .typetreedata file holds them); the engine's own "
                         "layouts are used for their objects.");
}

}  // namespace kestrix
