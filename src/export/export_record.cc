#include "export/export_record.h"

#include <algorithm>
#include <cinttypes>
#include <cstdio>
#include <vector>

#include "core/archive.h"
#include "core/error.h"
#include "platform/byte_source.h"
#include "platform/file_ops.h"
#include "platform/io_error.h"
#include "platform/paths.h"
#include "platform/safe_files.h"

namespace kestrix {

namespace {

constexpr char kHeading[] = "kestrix-export-record 1";
// A record this long is not one export wrote (a line is under 100 bytes plus a name).
constexpr uint64_t kLargestRecord = uint64_t{256} << 20;

std::string HashText(const ContentHash& h) {
  char text[33];
  std::snprintf(text, sizeof text, "%016" PRIx64 "%016" PRIx64, h.high, h.low);
  return text;
}

bool ParseHash(const std::string& text, ContentHash* h) {
  if (text.size() != 32 || text.find_first_not_of("0123456789abcdef") != std::string::npos)
    return false;
  h->high = std::stoull(text.substr(0, 16), nullptr, 16);
  h->low = std::stoull(text.substr(16), nullptr, 16);
  return true;
}

bool ParsePathId(const std::string& text, int64_t* id) {
  if (text.empty() || text.size() > 20 ||
      text.find_first_not_of("-0123456789", 0) != std::string::npos)
    return false;
  try {
    *id = std::stoll(text);
  } catch (const std::exception&) {
    return false;
  }
  return true;
}

std::vector<std::string> SplitTabs(const std::string& line, size_t fields) {
  std::vector<std::string> out;
  size_t at = 0;
  while (out.size() + 1 < fields) {
    const size_t tab = line.find('\t', at);
    if (tab == std::string::npos) return {};
    out.push_back(line.substr(at, tab - at));
    at = tab + 1;
  }
  out.push_back(line.substr(at));
  return out;
}

// The record as text, read by the rule for files Kestrix did not make: it lies in a folder
// that may come from someone else.
bool ReadRecordText(const std::string& folder, std::string* text) {
  try {
    FileSource file(OpenInsideFolder(folder, folder + kExportRecordName));
    if (file.Size() > kLargestRecord) return false;
    text->resize(static_cast<size_t>(file.Size()));
    file.ReadAt(0, text->data(), text->size());
    return true;
  } catch (const Error&) {
    return false;
  }
}

}  // namespace

ContentHash HashBytes(ByteSource& source, uint64_t pos, uint64_t n) {
  ContentHasher hasher;
  std::vector<uint8_t> buffer(static_cast<size_t>(std::min<uint64_t>(n, 1 << 20)));
  while (n > 0) {
    const size_t step = static_cast<size_t>(std::min<uint64_t>(n, buffer.size()));
    source.ReadAt(pos, buffer.data(), step);
    hasher.Add(buffer.data(), step);
    pos += step;
    n -= step;
  }
  return hasher.Digest();
}

ContentHash HashFile(const std::string& path) {
  FileSource source(path);
  return HashBytes(source, 0, source.Size());
}

ExportRecord ExportRecord::Load(const std::string& folder) {
  ExportRecord record;
  std::string text;
  if (!ReadRecordText(folder, &text)) return record;
  size_t at = 0;
  bool first = true;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    if (first) {
      if (line != kHeading) return record;
      first = false;
      continue;
    }
    ContentHash hash;
    int64_t id = 0;
    if (line.rfind("a\t", 0) == 0) {
      record.owner_ = line.substr(2);
    } else if (line.rfind("o\t", 0) == 0) {
      const std::vector<std::string> f = SplitTabs(line, 3);
      if (f.size() == 3 && ParsePathId(f[1], &id) && ParseHash(f[2], &hash))
        record.objects_[id] = hash;
    } else if (line.rfind("f\t", 0) == 0) {
      const std::vector<std::string> f = SplitTabs(line, 4);
      if (f.size() == 4 && ParseHash(f[1], &hash) && ParsePathId(f[2], &id) && !f[3].empty())
        record.files_[f[3]] = {hash, id};
    }
  }
  return record;
}

void ExportRecord::Save(const std::string& folder) const {
  std::string text = std::string(kHeading) + "\n";
  // A name that would break the line is left out: the record then reads as an older one.
  if (!owner_.empty() && owner_.find('\n') == std::string::npos) text += "a\t" + owner_ + "\n";
  for (const auto& [id, hash] : objects_)
    text += "o\t" + std::to_string(id) + "\t" + HashText(hash) + "\n";
  for (const auto& [name, file] : files_)
    text += "f\t" + HashText(file.hash) + "\t" + std::to_string(file.path_id) + "\t" + name + "\n";
  WholeFileWriter out(folder + kExportRecordName);
  out.Out().Write(text);
  out.Commit();
}

void ExportRecord::NoteFile(const std::string& relative, int64_t path_id, const ContentHash& hash) {
  // A name that would break the line cannot be recorded; its file is then taken as unrecorded.
  if (relative.empty() || relative.find('\n') != std::string::npos) return;
  files_[relative] = {hash, path_id};
}

const RecordedFile* ExportRecord::File(const std::string& relative) const {
  auto it = files_.find(relative);
  return it == files_.end() ? nullptr : &it->second;
}

const ContentHash* ExportRecord::Object(int64_t path_id) const {
  auto it = objects_.find(path_id);
  return it == objects_.end() ? nullptr : &it->second;
}

std::string RecordOwnerName(const OpenedArchive& a) {
  return FileNameOf(a.JoinedPath.empty() ? a.GivenPath : WithoutExtension(a.GivenPath));
}

void RefuseOthersFolder(const ExportRecord& record, const std::string& owner,
                        const std::string& folder, const std::string& doing) {
  if (record.Owner().empty() || record.Owner() == owner) return;
  throw Error("Cannot " + doing + " " + folder + ": it holds the export of " + record.Owner() +
              ", another archive than " + owner +
              ". Export into another folder (-p), or remove that folder first.");
}

}  // namespace kestrix
