// The display record of one list row: what the window's list and the "list" task show for an
// entry. Rows are built once from the entry table and never while painting.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace kestrix {

struct Session;

struct ListRow {
  int32_t Number = 0;  // entry index + 1
  std::string Name;    // EntryName
  int32_t ClassId = 0;
  std::string TypeSuffix;  // " (" + TypeText + ")"
  uint32_t Size = 0;       // payload size
  uint64_t Offset = 0;     // payload offset: the absolute position in the stream
};

ListRow BuildListRow(const Session& session, size_t entry_index);
// The same into an existing row, reusing its text buffers (for walks over many entries).
void FillListRow(const Session& session, size_t entry_index, ListRow& row);
// One row per entry, in table order (the window's row cache).
std::vector<ListRow> BuildListRows(const Session& session);

// Cell texts of the Type and Offset columns: "28 (Texture2D id: 10 - DXT1)", "0x00001A2C"
// (at least eight hexadecimal digits; positions past 4 GiB take more).
std::string TypeCellText(const ListRow& row);
std::string OffsetCellText(uint64_t offset);
// The five cells separated by tabs, as the "list" task prints them (without a line break).
std::string ListLineText(const ListRow& row);
void AppendListLine(const ListRow& row, std::string& out);
// The same line for an entry in table order, without building its row first.
void AppendListLine(const Session& session, size_t entry_index, std::string& out);

// Writes "list" lines of a session's entries straight into a caller's buffer, a million of
// them in a fraction of a second: the type cell ("28 (Texture2D id: 10 - DXT1)") is the same
// for runs of entries and is made once per change.
class ListLineWriter {
 public:
  explicit ListLineWriter(const Session& session) : session_(session) {}
  // The most bytes Put may write for entry i (its line and the line break).
  size_t Bound(size_t i) const;
  // Writes the line of entry i and a line break at `p`; returns the end of what was written.
  char* Put(size_t i, char* p);

 private:
  // "\t" + class + " (" + type text + ")\t" per type text, with the class it was made for: a
  // type text almost always belongs to one class.
  const std::string& TypeCell(int32_t class_id, uint32_t type_id);

  const Session& session_;
  std::vector<std::string> cells_;
  std::vector<int32_t> cell_classes_;
};

// Writes the "list" line of every entry, with its line break, to `out` in table order. A long
// list is cut into runs of `run` entries; a second thread formats every other run while the
// caller formats and writes the others.
constexpr size_t kListLinesRun = 8192;
void WriteListLines(const Session& session, std::FILE* out, size_t run = kListLinesRun);

}  // namespace kestrix
