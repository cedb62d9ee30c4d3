#include "core/list_row.h"

#include <cstdio>

#include "core/session.h"

namespace kestrix {

ListRow BuildListRow(const Session& s, size_t entry_index) {
  ListRow row;
  row.Number = static_cast<int32_t>(entry_index + 1);
  row.Name = s.EntryName[entry_index];
  row.ClassId = s.EntryClass(entry_index);
  row.TypeSuffix = " (" + s.TypeText[entry_index] + ")";
  row.Size = s.PayloadSize(entry_index);
  row.Offset = static_cast<uint32_t>(s.PayloadOffset(entry_index));
  return row;
}

void BuildListRow(Session& s, size_t row_index, size_t entry_index) {
  if (s.ListRows.size() <= row_index) s.ListRows.resize(row_index + 1);
  s.ListRows[row_index] = BuildListRow(static_cast<const Session&>(s), entry_index);
}

std::string TypeCellText(const ListRow& row) { return std::to_string(row.ClassId) + row.TypeSuffix; }

std::string OffsetCellText(uint32_t offset) {
  char buf[16];
  std::snprintf(buf, sizeof(buf), "0x%08X", offset);
  return buf;
}

std::string ListLineText(const ListRow& row) {
  std::string line = std::to_string(row.Number);
  line += '\t';
  line += row.Name;
  line += '\t';
  line += TypeCellText(row);
  line += '\t';
  line += std::to_string(row.Size);
  line += '\t';
  line += OffsetCellText(row.Offset);
  return line;
}

}  // namespace kestrix
