#include "core/list_row.h"

#include <algorithm>
#include <cerrno>
#include <charconv>
#include <condition_variable>
#include <cstring>
#include <exception>
#include <mutex>
#include <string_view>

#include "core/session.h"
#include "platform/io_error.h"
#include "platform/memory.h"
#include "platform/two_threads.h"

namespace kestrix {

namespace {

template <typename T>
void AppendDecimal(std::string& out, T value) {
  char buf[16];
  auto [end, ec] = std::to_chars(buf, buf + sizeof(buf), value);
  (void)ec;  // 16 characters hold every 32-bit value
  out.append(buf, end);
}

// "0x" and the offset in capital hexadecimal digits, at least eight of them.
char* PutOffset(char* p, uint64_t offset) {
  static constexpr char kDigits[] = "0123456789ABCDEF";
  int digits = 8;
  while (digits < 16 && (offset >> (4 * digits)) != 0) ++digits;
  *p++ = '0';
  *p++ = 'x';
  for (int k = digits - 1; k >= 0; --k) *p++ = kDigits[(offset >> (4 * k)) & 0xF];
  return p;
}

void AppendOffset(std::string& out, uint64_t offset) {
  char buf[18];
  out.append(buf, static_cast<size_t>(PutOffset(buf, offset) - buf));
}

}  // namespace

void FillListRow(const Session& s, size_t entry_index, ListRow& row) {
  row.Number = static_cast<int32_t>(entry_index + 1);
  row.Name = s.EntryName(entry_index);
  row.ClassId = s.EntryClass(entry_index);
  row.TypeSuffix.assign(" (");
  row.TypeSuffix += s.Entries.TypeText(entry_index);
  row.TypeSuffix += ')';
  row.Size = s.PayloadSize(entry_index);
  row.Offset = s.PayloadOffset(entry_index);
}

ListRow BuildListRow(const Session& s, size_t entry_index) {
  ListRow row;
  FillListRow(s, entry_index, row);
  return row;
}

std::vector<ListRow> BuildListRows(const Session& s) {
  std::vector<ListRow> rows(s.EntryCount());
  for (size_t i = 0; i < rows.size(); ++i) FillListRow(s, i, rows[i]);
  return rows;
}

std::string TypeCellText(const ListRow& row) {
  return std::to_string(row.ClassId) + row.TypeSuffix;
}

std::string OffsetCellText(uint64_t offset) {
  std::string text;
  AppendOffset(text, offset);
  return text;
}

namespace {

// The five cells of a row separated by tabs; the type cell is the class number, " (", the type
// text and ")". The line is put together in one buffer and appended once: "list" writes a
// million of them.
void AppendCells(std::string& out, int32_t number, std::string_view name, int32_t class_id,
                 const char* type_open, const std::string& type, const char* type_close,
                 uint32_t size, uint64_t offset) {
  const size_t open_length = std::strlen(type_open), close_length = std::strlen(type_close);
  char buf[1024];
  if (name.size() + type.size() + open_length + close_length + 64 > sizeof(buf)) {
    // Longer than any real row: built piece by piece.
    AppendDecimal(out, number);
    out += '\t';
    out += name;
    out += '\t';
    AppendDecimal(out, class_id);
    out += type_open;
    out += type;
    out += type_close;
    out += '\t';
    AppendDecimal(out, size);
    out += '\t';
    AppendOffset(out, offset);
    return;
  }
  char* p = buf;
  char* const end = buf + sizeof(buf);
  p = std::to_chars(p, end, number).ptr;
  *p++ = '\t';
  std::memcpy(p, name.data(), name.size());
  p += name.size();
  *p++ = '\t';
  p = std::to_chars(p, end, class_id).ptr;
  std::memcpy(p, type_open, open_length);
  p += open_length;
  std::memcpy(p, type.data(), type.size());
  p += type.size();
  std::memcpy(p, type_close, close_length);
  p += close_length;
  *p++ = '\t';
  p = std::to_chars(p, end, size).ptr;
  *p++ = '\t';
  p = PutOffset(p, offset);
  out.append(buf, static_cast<size_t>(p - buf));
}

}  // namespace

void AppendListLine(const ListRow& row, std::string& out) {
  AppendCells(out, row.Number, row.Name, row.ClassId, "", row.TypeSuffix, "", row.Size, row.Offset);
}

void AppendListLine(const Session& s, size_t entry_index, std::string& out) {
  AppendCells(out, static_cast<int32_t>(entry_index + 1), s.EntryName(entry_index),
              s.EntryClass(entry_index), " (", s.Entries.TypeText(entry_index), ")",
              s.PayloadSize(entry_index), s.PayloadOffset(entry_index));
}

size_t ListLineWriter::Bound(size_t i) const {
  // Number, size and offset take at most 10, 10 and 18 characters, plus three separators.
  return session_.EntryName(i).size() + session_.Entries.TypeText(i).size() + 64;
}

const std::string& ListLineWriter::TypeCell(int32_t class_id, uint32_t type_id) {
  if (type_id >= cells_.size()) {
    cells_.resize(type_id + 1);
    cell_classes_.resize(type_id + 1, 0);
  }
  std::string& cell = cells_[type_id];
  if (cell.empty() || cell_classes_[type_id] != class_id) {
    cell_classes_[type_id] = class_id;
    cell.assign("\t");
    AppendDecimal(cell, class_id);
    cell += " (";
    cell += session_.Entries.TypeTextOfId(type_id);
    cell += ")\t";
  }
  return cell;
}

char* ListLineWriter::Put(size_t i, char* p) {
  const Session& s = session_;
  const std::string& cell = TypeCell(s.EntryClass(i), s.Entries[i].TypeTextId);
  p = std::to_chars(p, p + 10, static_cast<uint32_t>(i + 1)).ptr;
  *p++ = '\t';
  const std::string_view name = s.EntryName(i);
  std::memcpy(p, name.data(), name.size());
  p += name.size();
  std::memcpy(p, cell.data(), cell.size());
  p += cell.size();
  p = std::to_chars(p, p + 10, s.PayloadSize(i)).ptr;
  *p++ = '\t';
  p = PutOffset(p, s.PayloadOffset(i));
  *p++ = '\n';
  return p;
}

namespace {

// A short write (a full disk, a closed pipe) ends the listing with an error: a listing cut short
// must not pass for the whole.
[[noreturn]] void CannotWrite() {
  throw IoError(std::string("Cannot write the list: ") + std::strerror(errno) + ".");
}

void WriteOut(std::FILE* out, const char* text, size_t length) {
  if (length != 0 && std::fwrite(text, 1, length, out) != length) CannotWrite();
}

void FlushOut(std::FILE* out) {
  if (std::fflush(out) != 0) CannotWrite();
}

// The lines of entries [begin, end) into `text`, which is written over whole; returns their
// length.
size_t FormatRun(ListLineWriter& lines, size_t begin, size_t end, FillLaterVector<char>& text) {
  size_t bound = 0;
  for (size_t i = begin; i < end; ++i) bound += lines.Bound(i);
  if (text.size() < bound) {
    text.clear();  // nothing to keep when it grows
    text.resize(bound);
  }
  char* const start = text.data();
  char* p = start;
  for (size_t i = begin; i < end; ++i) p = lines.Put(i, p);
  return static_cast<size_t>(p - start);
}

// Runs formatted on the second thread, handed to the writing thread through two slots: run
// 2k + 1 goes to slot k % 2, so the formatter works on one while the other is written.
class RunHandover {
 public:
  struct Slot {
    FillLaterVector<char> text;
    size_t length = 0;
    bool full = false;
  };
  // Waits until slot k has been written, or the writer gave up.
  Slot* Empty(int k) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return !slots_[k].full || stopped_; });
    return stopped_ ? nullptr : &slots_[k];
  }
  void Fill(int k) { Set(k, true); }
  // Waits until slot k holds a run; rethrows what stopped the formatter.
  Slot& Full(int k) {
    std::unique_lock<std::mutex> lock(mutex_);
    changed_.wait(lock, [&] { return slots_[k].full || error_; });
    if (!slots_[k].full) std::rethrow_exception(error_);
    return slots_[k];
  }
  void Written(int k) { Set(k, false); }
  void Fail(std::exception_ptr error) {
    std::lock_guard<std::mutex> lock(mutex_);
    error_ = error;
    changed_.notify_all();
  }
  void Stop() {
    std::lock_guard<std::mutex> lock(mutex_);
    stopped_ = true;
    changed_.notify_all();
  }

 private:
  void Set(int k, bool full) {
    std::lock_guard<std::mutex> lock(mutex_);
    slots_[k].full = full;
    changed_.notify_all();
  }
  std::mutex mutex_;
  std::condition_variable changed_;
  Slot slots_[2];
  std::exception_ptr error_;
  bool stopped_ = false;
};

}  // namespace

void WriteListLines(const Session& session, std::FILE* out, size_t run) {
  const size_t n = session.EntryCount();
  if (run == 0) run = 1;
  const size_t runs = (n + run - 1) / run;
  auto run_end = [&](size_t r) { return std::min(n, (r + 1) * run); };
  ListLineWriter lines(session);
  FillLaterVector<char> text;
  auto write_run = [&](size_t r) {
    const size_t length = FormatRun(lines, r * run, run_end(r), text);
    WriteOut(out, text.data(), length);
  };
  RunHandover handover;
  // This thread writes every run in order and formats the even ones.
  auto write_in_order = [&] {
    try {
      for (size_t r = 0; r < runs; ++r) {
        if (r % 2 == 0) {
          write_run(r);
          continue;
        }
        const int k = static_cast<int>((r / 2) % 2);
        RunHandover::Slot& slot = handover.Full(k);
        WriteOut(out, slot.text.data(), slot.length);
        handover.Written(k);
      }
    } catch (...) {
      handover.Stop();  // the formatter would wait for a slot forever
      throw;
    }
  };
  // The other formats the odd ones.
  auto format_odd_runs = [&] {
    try {
      ListLineWriter second_lines(session);
      for (size_t r = 1; r < runs; r += 2) {
        const int k = static_cast<int>((r / 2) % 2);
        RunHandover::Slot* slot = handover.Empty(k);
        if (slot == nullptr) return;
        slot->length = FormatRun(second_lines, r * run, run_end(r), slot->text);
        handover.Fill(k);
      }
    } catch (...) {
      handover.Fail(std::current_exception());
    }
  };
  const bool together = runs >= 2 && TryRunBoth(write_in_order, format_odd_runs);
  // A short list, or no second thread to be had: every run is formatted here.
  if (!together)
    for (size_t r = 0; r < runs; ++r) write_run(r);
  FlushOut(out);
}

std::string ListLineText(const ListRow& row) {
  std::string line;
  AppendListLine(row, line);
  return line;
}

}  // namespace kestrix
