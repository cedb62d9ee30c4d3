#include "export/json_export.h"

#include "core/error.h"
#include "core/object_cursor.h"
#include "core/session.h"
#include "platform/file_ops.h"
#include "platform/paths.h"
#include "platform/reader.h"
#include "types/builtin_trees.h"
#include "types/class_ids.h"
#include "types/object_layouts.h"
#include "types/type_info.h"

namespace kestrix {

const TypeTree* ObjectLayoutTree(const SerializedFile& file, size_t index) {
  if (const TypeTree* tree = ObjectTypeTree(file, index)) return tree;
  const int32_t cls = index < file.Objects.size() ? file.Objects[index].ClassId : 0;
  // A script object's fields come from its script, which no table can know.
  if (cls <= 0 || cls == kClassMonoBehaviour) return nullptr;
  return BuiltInTypeTree(cls, file.Engine);
}

const ObjectTree& ObjectTrees::For(const Session& s, size_t i) {
  const TypeTree* tree = ObjectLayoutTree(s.Asset, i);
  if (!tree)
    throw Error("no type tree: the file keeps no field layout for " +
                    ClassIdToName(s.EntryClass(i)) +
                    (s.Asset.TypeTreeFlag ? "" : " (it was built without type trees)"),
                ErrorKind::kNotSupported);
  std::unique_ptr<ObjectTree>& walker = trees_[tree];
  if (!walker) walker = std::make_unique<ObjectTree>(*tree);
  return *walker;
}

namespace {

// The objects of a run fail for few different reasons; the summary groups them by the reason's
// first words, not by each field's path.
std::string ReasonKey(const std::string& why) {
  const size_t colon = why.find(": ");
  return why.rfind("no type tree", 0) == 0 || colon == std::string::npos ? why
                                                                         : why.substr(colon + 2);
}

}  // namespace

void ExportObjectJson(const Session& s, size_t i, Reader& data, const std::string& folder,
                      JsonTally& tally) {
  std::string text;
  try {
    const ObjectTree& tree = tally.trees.For(s, i);
    const uint64_t start = s.Asset.DataStart + s.EntryOffset(i);
    ObjectCursor cursor(data, start, start + s.EntrySize(i),
                        s.Asset.IsBigEndian() ? ByteOrder::Big : ByteOrder::Little);
    if (cursor.Limit() - cursor.Start() != s.EntrySize(i))
      throw Error("the object runs past the end of the archive");
    text = tree.ToJson(cursor);
  } catch (const Error& e) {
    ++tally.skipped;
    ++tally.reasons[ReasonKey(e.what())];
    return;
  }
  const std::string sub = folder + kJsonFolder + kSep;
  CreateFolders(sub);
  const std::string path = sub + std::string(s.EntryName(i)) + ".json";
  try {
    OutputFile out(path);
    out.Write(text);
    out.Close();
  } catch (...) {
    RemoveFileQuietly(path);
    throw;
  }
  ++tally.written;
}

std::string JsonSummary(const JsonTally& t) {
  std::string out = "JSON: " + std::to_string(t.written) + " objects written, " +
                    std::to_string(t.skipped) + " passed over.";
  for (const auto& [why, count] : t.reasons)
    out += "\n  " + std::to_string(count) + " passed over: " + why;
  return out;
}

}  // namespace kestrix
