#include "ui/field_tree.h"

#include <QHeaderView>
#include <algorithm>
#include <charconv>
#include <climits>
#include <cstring>
#include <exception>

#include "core/localization.h"
#include "core/object_cursor.h"
#include "core/session.h"
#include "export/json_export.h"
#include "platform/byte_source.h"
#include "platform/reader.h"

namespace kestrix {

namespace {

using Node = ObjectTree::Node;
using NodeShape = ObjectTree::Shape;
using Kind = JsonValue::Kind;

constexpr uint32_t kNoNode = UINT32_MAX;
// An object this large is shown as hex: its JSON would take seconds and a lot of memory, and
// nobody reads a tree of that many fields in a preview pane.
constexpr uint32_t kMostFieldBytes = 32u << 20;
constexpr int kShownChars = 300;
constexpr int kTipChars = 4000;

const Node* NodeAt(const ObjectFields& f, uint32_t i) {
  return i < f.nodes.size() ? &f.nodes[i] : nullptr;
}

QString Text(const std::string& s) {
  return QString::fromUtf8(s.data(), static_cast<qsizetype>(s.size()));
}

// One line of a string's text: line breaks and tabs would make rows of their own.
QString OneLine(const std::string& s) {
  QString t = Text(s.size() > kShownChars * 4 ? s.substr(0, kShownChars * 4) : s);
  if (t.size() > kShownChars) t = t.left(kShownChars) + QChar(0x2026);
  for (QChar& c : t) {
    if (c == '\n' || c == '\r') {
      c = QChar(0x21B5);
    } else if (c.unicode() < 32) {
      c = ' ';
    }
  }
  return t;
}

size_t Base64Bytes(const std::string& text) {
  size_t n = text.size() / 4 * 3;
  if (!text.empty() && text.back() == '=') --n;
  if (text.size() > 1 && text[text.size() - 2] == '=') --n;
  return n;
}

// The elements of a packed array are little-endian whatever the file's byte order.
std::string PackedNumber(const Node& e, const uint8_t* p) {
  uint64_t v = 0;
  for (int k = e.size - 1; k >= 0; --k) v = v << 8 | p[k];
  char buf[40];
  std::to_chars_result r{};
  switch (e.shape) {
    case NodeShape::kBool:
      if (v <= 1) return v ? "true" : "false";
      r = std::to_chars(buf, buf + sizeof buf, v);
      break;
    case NodeShape::kSigned: {
      const int shift = 64 - 8 * e.size;
      r = std::to_chars(buf, buf + sizeof buf, static_cast<int64_t>(v << shift) >> shift);
      break;
    }
    case NodeShape::kFloat:
      if (e.size == 4) {
        float f;
        const uint32_t b = static_cast<uint32_t>(v);
        std::memcpy(&f, &b, 4);
        r = std::to_chars(buf, buf + sizeof buf, f);
      } else {
        double d;
        std::memcpy(&d, &v, 8);
        r = std::to_chars(buf, buf + sizeof buf, d);
      }
      break;
    default:
      r = std::to_chars(buf, buf + sizeof buf, v);
  }
  return std::string(buf, r.ptr);
}

QString TypeText(const ObjectFields& f, uint32_t node) {
  const Node* n = NodeAt(f, node);
  if (!n) return QString();
  if (n->shape != NodeShape::kVector || n->type == "TypelessData") return Text(n->type);
  const Node* e = NodeAt(f, n->element);
  return Text(n->type + "<" + (e ? e->type : std::string()) + ">");
}

QString CountText(size_t count, bool bytes) {
  const bool ru = InterfaceIsRussian();
  if (bytes) return ru ? QString::fromUtf8("байт: %1").arg(count) : QString("%1 bytes").arg(count);
  if (ru) return QString::fromUtf8("элементов: %1").arg(count);
  return QString(count == 1 ? "%1 element" : "%1 elements").arg(count);
}

// A structure's value column: a reference's file and path id, a small vector's numbers.
QString StructText(const JsonValue& v, const Node* n) {
  const JsonValue* file = v.Member("m_FileID");
  const JsonValue* id = v.Member("m_PathID");
  if (n && n->type.rfind("PPtr<", 0) == 0 && file && id && v.members.size() == 2)
    return (InterfaceIsRussian() ? QString::fromUtf8("файл %1, path id %2")
                                 : QString("file %1, path id %2"))
        .arg(Text(file->text), Text(id->text));
  if (v.members.empty() || v.members.size() > 4) return QString();
  QStringList parts;
  for (const JsonMember& m : v.members) {
    if (m.value.kind != Kind::kNumber) return QString();
    parts << Text(m.value.text);
  }
  return "(" + parts.join(", ") + ")";
}

// Where text lies: the member or element indices from the root down, empty when nowhere.
bool FindText(const JsonValue& v, const std::string& text, std::vector<uint32_t>& path) {
  switch (v.kind) {
    case Kind::kString:
    case Kind::kNumber:
      return v.text.find(text) != std::string::npos;
    case Kind::kArray:
      for (size_t k = 0; k < v.items.size(); ++k) {
        path.push_back(static_cast<uint32_t>(k));
        if (FindText(v.items[k], text, path)) return true;
        path.pop_back();
      }
      return false;
    case Kind::kObject:
      // The $base64 of a packed array or of bytes that are not UTF-8 is not the text searched.
      if (!v.members.empty() && v.members.front().name.rfind('$', 0) == 0) return false;
      for (size_t k = 0; k < v.members.size(); ++k) {
        path.push_back(static_cast<uint32_t>(k));
        if (FindText(v.members[k].value, text, path)) return true;
        path.pop_back();
      }
      return false;
    default:
      return false;
  }
}

}  // namespace

std::shared_ptr<const ObjectFields> ReadObjectFields(const Session& s, size_t i) {
  try {
    if (i >= s.EntryCount() || s.EntrySize(i) > kMostFieldBytes) return nullptr;
    ObjectTrees trees;
    const ObjectTree& tree = trees.For(s, i);
    FileSource source(s.Archive.ArchivePath);
    Reader reader(source);
    const uint64_t start = s.Asset.DataStart + s.EntryOffset(i);
    ObjectCursor cursor(reader, start, start + s.EntrySize(i),
                        s.Asset.IsBigEndian() ? ByteOrder::Big : ByteOrder::Little);
    if (cursor.Limit() - cursor.Start() != s.EntrySize(i)) return nullptr;
    auto fields = std::make_shared<ObjectFields>();
    fields->value = ParseJson(tree.ToJson(cursor));
    fields->nodes = tree.Nodes();
    return fields;
  } catch (const std::exception&) {
    return nullptr;
  }
}

FieldTreeView::FieldTreeView(QWidget* parent) : QTreeWidget(parent) {
  setObjectName("FieldPreview");
  setColumnCount(3);
  setUniformRowHeights(true);
  setAlternatingRowColors(true);
  setSelectionBehavior(QAbstractItemView::SelectRows);
  header()->setStretchLastSection(true);
  connect(this, &QTreeWidget::itemExpanded, this, [this](QTreeWidgetItem* item) {
    Fill(item);
    FitColumns();
  });
  hide();
}

void FieldTreeView::Clear() {
  clear();
  slots_.clear();
  packed_.clear();
  fields_.reset();
  hide();
}

void FieldTreeView::SetFields(std::shared_ptr<const ObjectFields> fields) {
  Clear();
  fields_ = std::move(fields);
  if (!fields_) return;
  show();
  setHeaderLabels({Text(Str(kStrColName)), Text(Str(kStrColType)),
                   InterfaceIsRussian() ? QString::fromUtf8("Значение") : QString("Value")});
  const JsonValue& root = fields_->value;
  const Node* n = NodeAt(*fields_, 0);
  for (size_t k = 0; k < root.members.size(); ++k) {
    const uint32_t node = n && k < n->children.size() ? n->children[k] : kNoNode;
    QTreeWidgetItem* item =
        AddValue(nullptr, Text(root.members[k].name), root.members[k].value, node);
    SlotOf(item).first = static_cast<uint32_t>(k);
  }
  FitColumns();
}

// Names and types as wide as what is shown, but each within two fifths of the pane, so that
// the values keep room.
void FieldTreeView::FitColumns() {
  const int most = std::max(viewport()->width(), 300) * 2 / 5;
  for (int column : {0, 1}) {
    resizeColumnToContents(column);
    if (columnWidth(column) > most) setColumnWidth(column, most);
  }
}

FieldTreeView::Slot& FieldTreeView::SlotOf(QTreeWidgetItem* item) {
  return slots_[item->data(0, Qt::UserRole).toUInt()];
}

QTreeWidgetItem* FieldTreeView::AddSlot(QTreeWidgetItem* parent, const Slot& slot,
                                        const QStringList& texts, bool opens) {
  auto* item = parent ? new QTreeWidgetItem(parent, texts) : new QTreeWidgetItem(this, texts);
  item->setData(0, Qt::UserRole, static_cast<uint>(slots_.size()));
  item->setChildIndicatorPolicy(opens ? QTreeWidgetItem::ShowIndicator
                                      : QTreeWidgetItem::DontShowIndicatorWhenChildless);
  slots_.push_back(slot);
  return item;
}

QTreeWidgetItem* FieldTreeView::AddValue(QTreeWidgetItem* parent, const QString& name,
                                         const JsonValue& v, uint32_t node) {
  const Node* n = NodeAt(*fields_, node);
  Slot slot{SlotKind::kValue, &v, node};
  QString value;
  bool opens = false;
  if (n && n->shape == NodeShape::kVector) {
    const uint32_t count = ElementCount(slot);
    const Node* e = NodeAt(*fields_, n->element);
    value = CountText(count, e && e->size == 1 && e->shape != NodeShape::kStruct &&
                                 e->shape != NodeShape::kString && e->shape != NodeShape::kBool);
    opens = count > 0;
  } else if (v.kind == Kind::kObject) {
    if (const JsonValue* bits = v.Member("$bits")) {
      value = "bits 0x" + Text(bits->text);
    } else if (const JsonValue* data = v.Member("$base64")) {
      value = InterfaceIsRussian()
                  ? QString::fromUtf8("(не UTF-8, байт: %1) ").arg(Base64Bytes(data->text))
                  : QString("(not UTF-8, %1 bytes) ").arg(Base64Bytes(data->text));
      value += Text(data->text.substr(0, kShownChars));
    } else {
      value = StructText(v, n);
      opens = !v.members.empty();
    }
  } else if (v.kind == Kind::kArray) {
    value = CountText(v.items.size(), false);
    opens = !v.items.empty();
  } else if (v.kind == Kind::kBool) {
    value = v.boolean ? "true" : "false";
  } else {
    value = v.kind == Kind::kString ? OneLine(v.text) : Text(v.text);
  }
  QTreeWidgetItem* item = AddSlot(parent, slot, {name, TypeText(*fields_, node), value}, opens);
  if (v.kind == Kind::kString && v.text.size() > static_cast<size_t>(kShownChars))
    item->setToolTip(2, Text(v.text.substr(0, kTipChars)));
  return item;
}

uint32_t FieldTreeView::ElementCount(const Slot& array) const {
  const JsonValue& v = *array.value;
  if (v.kind == Kind::kArray) return static_cast<uint32_t>(v.items.size());
  const Node* n = NodeAt(*fields_, array.node);
  const Node* e = n ? NodeAt(*fields_, n->element) : nullptr;
  const JsonValue* data = v.Member("$base64");
  if (!e || e->size == 0 || !data) return 0;
  return static_cast<uint32_t>(Base64Bytes(data->text) / e->size);
}

const std::vector<uint8_t>& FieldTreeView::Packed(const JsonValue& v) {
  auto [it, added] = packed_.try_emplace(&v);
  if (added) {
    const JsonValue* data = v.Member("$base64");
    if (!data || !DecodeBase64(data->text, it->second)) it->second.clear();
  }
  return it->second;
}

void FieldTreeView::Fill(QTreeWidgetItem* item) {
  if (!fields_) return;
  Slot slot = SlotOf(item);
  if (slot.filled || slot.kind == SlotKind::kPacked) return;
  SlotOf(item).filled = true;
  const Node* n = NodeAt(*fields_, slot.node);
  const JsonValue& v = *slot.value;
  if (slot.kind == SlotKind::kRange) return FillElements(item, slot, slot.first, slot.last);
  if (n && n->shape == NodeShape::kVector) return FillElements(item, slot, 0, ElementCount(slot));
  if (v.kind == Kind::kArray)
    return FillElements(item, slot, 0, static_cast<uint32_t>(v.items.size()));
  for (size_t k = 0; k < v.members.size(); ++k) {
    const uint32_t node = n && k < n->children.size() ? n->children[k] : kNoNode;
    QTreeWidgetItem* child = AddValue(item, Text(v.members[k].name), v.members[k].value, node);
    SlotOf(child).first = static_cast<uint32_t>(k);
  }
}

void FieldTreeView::FillElements(QTreeWidgetItem* item, const Slot& array, uint32_t first,
                                 uint32_t last) {
  const uint32_t count = last - first;
  if (count > kFieldPage) {
    // Ranges of kFieldPage^k elements, the smallest k that keeps this level within a page.
    uint64_t step = kFieldPage;
    while ((count + step - 1) / step > kFieldPage) step *= kFieldPage;
    for (uint64_t a = first; a < last; a += step) {
      const uint32_t b = static_cast<uint32_t>(std::min<uint64_t>(a + step, last));
      Slot range{SlotKind::kRange, array.value, array.node, static_cast<uint32_t>(a), b};
      AddSlot(item, range, {QString("[%1 … %2]").arg(a).arg(b - 1), QString(), QString()}, true);
    }
    return;
  }
  const JsonValue& v = *array.value;
  const Node* n = NodeAt(*fields_, array.node);
  const uint32_t element = n ? n->element : kNoNode;
  if (v.kind == Kind::kArray) {
    for (uint32_t k = first; k < last && k < v.items.size(); ++k) {
      QTreeWidgetItem* child = AddValue(item, QString("[%1]").arg(k), v.items[k], element);
      SlotOf(child).first = k;
    }
    return;
  }
  const Node* e = NodeAt(*fields_, element);
  const std::vector<uint8_t>& bytes = Packed(v);
  if (!e) return;
  const QString type = Text(e->type);
  for (uint32_t k = first; k < last && (uint64_t{k} + 1) * e->size <= bytes.size(); ++k) {
    Slot one{SlotKind::kPacked, &v, element, k, k + 1, true};
    AddSlot(item, one, {QString("[%1]").arg(k), type, Text(PackedNumber(*e, &bytes[k * e->size]))},
            false);
  }
}

QTreeWidgetItem* FieldTreeView::ChildHolding(QTreeWidgetItem* item, uint32_t index) {
  Fill(item);
  item->setExpanded(true);
  for (int c = 0; c < item->childCount(); ++c) {
    QTreeWidgetItem* child = item->child(c);
    const Slot& s = SlotOf(child);
    if (s.kind == SlotKind::kRange && index >= s.first && index < s.last)
      return ChildHolding(child, index);
    if (s.kind != SlotKind::kRange && s.first == index) return child;
  }
  return nullptr;
}

bool FieldTreeView::Reveal(const std::string& text) {
  if (!fields_ || text.empty()) return false;
  std::vector<uint32_t> path;
  if (!FindText(fields_->value, text, path) || path.empty()) return false;
  QTreeWidgetItem* item = path[0] < static_cast<uint32_t>(topLevelItemCount())
                              ? topLevelItem(static_cast<int>(path[0]))
                              : nullptr;
  for (size_t k = 1; item && k < path.size(); ++k) item = ChildHolding(item, path[k]);
  if (!item) return false;
  setCurrentItem(item);
  scrollToItem(item);
  return true;
}

}  // namespace kestrix
