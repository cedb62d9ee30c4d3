#include "core/session.h"

namespace kestrix {

ColumnMap ColumnMapForFormat(uint32_t format_version) {
  ColumnMap m;
  if (format_version <= 9) {
    m = {1, 2, 3, 4, 5};
  } else if (format_version <= 14) {
    m = {2, 3, 4, 5, 6};
  } else if (format_version == 15) {
    m = {2, 3, 4, 5, 7};
  } else if (format_version == 16) {
    // path id (2 words), offset, size, type index, script index with the stripped byte
    m = {2, 3, 4, 5, 6};
  } else {
    m = {2, 3, 4, -1, 5};
  }
  return m;
}

ColumnMap RawColumnMap() { return ColumnMap{0, 1, 2, 3, 4}; }

uint32_t SharedTexts::Intern(const std::string& text) {
  auto [it, added] = index_.try_emplace(text, static_cast<uint32_t>(pool_.size()));
  if (added) pool_.push_back(text);
  return it->second;
}

uint32_t Session::HeaderSkip(size_t i) const {
  const int32_t* row = Entries.Row(i);
  return static_cast<uint32_t>(row[Columns.PrefixSkipColumn()]) +
         static_cast<uint32_t>(row[Columns.NameFieldSizeColumn()]) +
         static_cast<uint32_t>(row[Columns.PayloadSkipColumn()]);
}

bool Session::HasEmbeddedPayload(size_t i) const {
  int32_t cls = EntryClass(i);
  if (cls == 48 || cls == 49) return true;
  return (cls == 128 || cls == 152) && Entries.Row(i)[Columns.PayloadLengthColumn()] != 0;
}

uint64_t Session::PayloadOffset(size_t i) const {
  return DataStart + EntryOffset(i) + HeaderSkip(i);
}

uint32_t Session::PayloadSize(size_t i) const {
  if (HasEmbeddedPayload(i)) return static_cast<uint32_t>(Entries.Row(i)[Columns.PayloadLengthColumn()]);
  return EntrySize(i) - HeaderSkip(i);
}

void ResetArchiveState(Session& s) {
  RunOptions options = s.Options;
  ExportSwitches switches = s.Switches;
  s = Session();
  s.Options = options;
  s.Switches = switches;
}

}  // namespace kestrix
