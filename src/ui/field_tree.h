// An object with a known layout in the preview pane: its fields as a tree that opens and closes
// (name, type, value). The tree is the JSON the object's walker writes (types/tree_walker.h), so
// the pane shows exactly what "Export as JSON" writes, read by one reader. Items are made when
// their parent opens, and an array shows its count: a large one opens into ranges of at most
// kFieldPage elements, so no level ever holds thousands of rows.
#pragma once

#include <QTreeWidget>
#include <map>
#include <memory>
#include <string>
#include <vector>

#include "core/json_text.h"
#include "types/tree_walker.h"

namespace kestrix {

struct Session;

inline constexpr uint32_t kFieldPage = 100;

struct ObjectFields {
  JsonValue value;                      // the object, as ToJson writes it
  std::vector<ObjectTree::Node> nodes;  // its walker's nodes, for the type column
};

// Reads object `index` through its layout. Null when no layout is known or the bytes do not fit
// it (the pane then shows the bytes as hex). Never throws; reads the archive through its own
// stream, so that it runs off the window's thread.
std::shared_ptr<const ObjectFields> ReadObjectFields(const Session& session, size_t index);

class FieldTreeView : public QTreeWidget {
  Q_OBJECT

 public:
  explicit FieldTreeView(QWidget* parent = nullptr);

  void SetFields(std::shared_ptr<const ObjectFields> fields);
  void Clear();
  bool HasFields() const { return fields_ != nullptr; }

  // Opens the tree down to the first string or number whose text holds `text`, and selects it.
  // False (nothing changed) when no field holds it.
  bool Reveal(const std::string& text);

 private:
  enum class SlotKind : uint8_t { kValue, kRange, kPacked };
  // What an item shows: a field or element (value, node), a range [first, last) of the array
  // `value`, or element `first` of a packed array (numbers as base64).
  struct Slot {
    SlotKind kind = SlotKind::kValue;
    const JsonValue* value = nullptr;
    uint32_t node = 0;
    uint32_t first = 0, last = 0;
    bool filled = false;
  };

  QTreeWidgetItem* AddValue(QTreeWidgetItem* parent, const QString& name, const JsonValue& value,
                            uint32_t node);
  QTreeWidgetItem* AddSlot(QTreeWidgetItem* parent, const Slot& slot, const QStringList& texts,
                           bool opens);
  void Fill(QTreeWidgetItem* item);
  void FitColumns();
  void FillElements(QTreeWidgetItem* item, const Slot& array, uint32_t first, uint32_t last);
  // The elements of an array field and how they are held.
  uint32_t ElementCount(const Slot& array) const;
  const std::vector<uint8_t>& Packed(const JsonValue& value);
  Slot& SlotOf(QTreeWidgetItem* item);
  QTreeWidgetItem* ChildHolding(QTreeWidgetItem* item, uint32_t index);

  std::shared_ptr<const ObjectFields> fields_;
  std::vector<Slot> slots_;
  std::map<const JsonValue*, std::vector<uint8_t>> packed_;
};

}  // namespace kestrix
