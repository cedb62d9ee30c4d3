// The display record of one list row: what the window's list and the "list" task show for an
// entry. Rows are built once from the entry table and never while painting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace kestrix {

struct Session;

struct ListRow {
  int32_t Number = 0;  // entry index + 1
  std::string Name;    // EntryName
  int32_t ClassId = 0;
  std::string TypeSuffix;  // " (" + TypeText + ")"
  uint32_t Size = 0;       // payload size
  uint32_t Offset = 0;     // payload offset (low 32 bits of the absolute position)
};

ListRow BuildListRow(const Session& session, size_t entry_index);
// The same into an existing row, reusing its text buffers (for walks over many entries).
void FillListRow(const Session& session, size_t entry_index, ListRow& row);
// Fills row `row_index` of the session's ListRows (grown when needed) from an entry.
void BuildListRow(Session& session, size_t row_index, size_t entry_index);

// Cell texts of the Type and Offset columns: "28 (Texture2D id: 10 - DXT1)", "0x00001A2C".
std::string TypeCellText(const ListRow& row);
std::string OffsetCellText(uint32_t offset);
// The five cells separated by tabs, as the "list" task prints them (without a line break).
std::string ListLineText(const ListRow& row);
void AppendListLine(const ListRow& row, std::string& out);
// The same line for an entry in table order, without building its row first.
void AppendListLine(const Session& session, size_t entry_index, std::string& out);

}  // namespace kestrix
