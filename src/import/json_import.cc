#include "import/json_import.h"

#include <algorithm>

#include "core/error.h"
#include "core/frontend.h"
#include "core/json_text.h"
#include "core/session.h"
#include "export/json_export.h"
#include "import/import_plan.h"
#include "import/texture_import.h"
#include "platform/byte_order.h"
#include "platform/byte_source.h"
#include "platform/safe_files.h"
#include "types/type_info.h"

namespace kestrix {

namespace {

// JSON spends at most a few characters a byte (escapes, numbers with their separators, base64);
// a file far past that holds something else, and is refused before it is read into memory.
constexpr uint64_t kJsonBytesPerObjectByte = 32;
constexpr uint64_t kJsonSlack = 64u << 20;

[[noreturn]] void Refuse(const ImporterCall& call, const std::string& why) {
  throw Error("Cannot import " + call.source_path + ": " + why);
}

std::vector<uint8_t> ReadObject(const ImporterCall& call, const Session& s, size_t i) {
  std::vector<uint8_t> bytes(s.EntrySize(i));
  const uint64_t start = s.Asset.DataStart + s.EntryOffset(i);
  if (start > call.working.Size() || bytes.size() > call.working.Size() - start)
    Refuse(call, "the object runs past the end of the archive.");
  call.working.ReadAt(start, bytes.data(), bytes.size());
  return bytes;
}

}  // namespace

std::vector<uint8_t> RawFileFor(const Session& s, size_t i, const std::vector<uint8_t>& old_object,
                                const std::vector<uint8_t>& new_object) {
  const size_t skip = s.HeaderSkip(i);
  const auto kept_before = [&](size_t n) {
    return n <= old_object.size() && n <= new_object.size() &&
           std::equal(old_object.begin(), old_object.begin() + static_cast<ptrdiff_t>(n),
                      new_object.begin());
  };
  const Error header_changed(
      "the object's name or a field before its data changed (the first " + std::to_string(skip) +
      " bytes, which give the entry its name); only the fields after them can be imported.");
  if (!s.HasEmbeddedPayload(i)) {
    if (!kept_before(skip)) throw header_changed;
    return std::vector<uint8_t>(new_object.begin() + static_cast<ptrdiff_t>(skip),
                                new_object.end());
  }
  // An embedded file is replaced with its length field and padding; what follows it stays.
  if (skip < 4 || !kept_before(skip - 4) || new_object.size() < skip) throw header_changed;
  const ByteOrder order = s.Asset.IsBigEndian() ? ByteOrder::Big : ByteOrder::Little;
  const uint64_t length = Get32(new_object.data() + skip - 4, order);
  const uint64_t old_end = skip + Round4(s.Entries[i].PayloadLength);
  if (length > new_object.size() - skip || old_end > old_object.size()) throw header_changed;
  std::vector<uint8_t> raw(new_object.begin() + static_cast<ptrdiff_t>(skip),
                           new_object.begin() + static_cast<ptrdiff_t>(skip + length));
  std::vector<uint8_t> rebuilt(old_object.begin(),
                               old_object.begin() + static_cast<ptrdiff_t>(skip));
  Put32(rebuilt.data() + skip - 4, static_cast<uint32_t>(length), order);
  rebuilt.insert(rebuilt.end(), raw.begin(), raw.end());
  rebuilt.resize(skip + Round4(length), 0);
  rebuilt.insert(rebuilt.end(), old_object.begin() + static_cast<ptrdiff_t>(old_end),
                 old_object.end());
  if (rebuilt != new_object)
    throw Error("only the embedded data of this " + ClassIdToName(s.EntryClass(i)) +
                " can be imported; a field beside it changed too.");
  return raw;
}

void ImportJson(const ImporterCall& call, ImporterContext& ctx) {
  if (!call.session) Refuse(call, "the archive is not known to the JSON import.");
  const Session& s = *call.session;
  const size_t i = call.entry;
  ObjectTrees own;
  std::vector<uint8_t> rebuilt;
  try {
    const ObjectTree& tree = (ctx.object_trees ? *ctx.object_trees : own).For(s, i);
    FileSource source(OpenSourceFile(call, call.source_path));
    const uint64_t most = uint64_t{s.EntrySize(i)} * kJsonBytesPerObjectByte + kJsonSlack;
    if (source.Size() > most)
      throw Error("it has " + std::to_string(source.Size()) + " bytes, more than the JSON of a " +
                  std::to_string(s.EntrySize(i)) + "-byte object is allowed (" +
                  std::to_string(most) + ").");
    std::string text(static_cast<size_t>(source.Size()), '\0');
    source.ReadAt(0, text.data(), text.size());
    const JsonValue value = ParseJson(text);
    rebuilt = tree.FromJson(value, s.Asset.IsBigEndian() ? ByteOrder::Big : ByteOrder::Little);
  } catch (const RefusedFile&) {
    throw;
  } catch (const Error& e) {
    Refuse(call, e.what());
  }
  const std::vector<uint8_t> current = ReadObject(call, s, i);
  if (rebuilt == current) return;  // nothing changed: no raw file to take
  std::vector<uint8_t> raw;
  try {
    raw = RawFileFor(s, i, current, rebuilt);
  } catch (const Error& e) {
    Refuse(call, e.what());
  }
  SaveRawFile(call, raw);
  ctx.frontend.ConsoleLine(call.source_path + " -> " + ClassIdToName(s.EntryClass(i)));
}

}  // namespace kestrix
