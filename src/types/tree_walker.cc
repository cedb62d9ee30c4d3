#include "types/tree_walker.h"

#include <algorithm>
#include <charconv>
#include <climits>
#include <cmath>
#include <cstring>

#include "core/error.h"
#include "core/field_layout.h"
#include "core/json_text.h"
#include "core/object_cursor.h"

namespace kestrix {

namespace {

using Shape = ObjectTree::Shape;
using Node = ObjectTree::Node;

constexpr uint32_t kAlignAfter = 0x4000;
// Arrays of numbers longer than this go as base64: vertex data, curves and the like are not
// what anyone edits by hand, and as text they would be several times their size.
constexpr uint32_t kCompactAbove = 64;

struct NumberType {
  const char* name;
  Shape shape;
};
constexpr NumberType kNumberTypes[] = {
    {"bool", Shape::kBool},         {"SInt8", Shape::kSigned},
    {"SInt16", Shape::kSigned},     {"short", Shape::kSigned},
    {"SInt32", Shape::kSigned},     {"int", Shape::kSigned},
    {"SInt64", Shape::kSigned},     {"long long", Shape::kSigned},
    {"UInt8", Shape::kUnsigned},    {"char", Shape::kUnsigned},
    {"UInt16", Shape::kUnsigned},   {"unsigned short", Shape::kUnsigned},
    {"UInt32", Shape::kUnsigned},   {"unsigned int", Shape::kUnsigned},
    {"UInt64", Shape::kUnsigned},   {"unsigned long long", Shape::kUnsigned},
    {"FileSize", Shape::kUnsigned}, {"Type*", Shape::kUnsigned},
    {"float", Shape::kFloat},       {"double", Shape::kFloat},
};

bool IsNumber(Shape s) {
  return s == Shape::kBool || s == Shape::kSigned || s == Shape::kUnsigned || s == Shape::kFloat;
}

// Leaves the table does not name are kept as unsigned numbers of their size: nothing is lost,
// and the rebuild writes them back as they were.
void ClassifyLeaf(Node& n, int32_t byte_size) {
  n.shape = Shape::kUnwalkable;
  const bool plain_size = byte_size == 1 || byte_size == 2 || byte_size == 4 || byte_size == 8;
  for (const NumberType& t : kNumberTypes)
    if (n.type == t.name) {
      if (plain_size && (t.shape != Shape::kFloat || byte_size >= 4)) {
        n.shape = t.shape;
        n.size = static_cast<uint8_t>(byte_size);
      }
      return;
    }
  // A managed reference's data has the shape of its class, which the tree leaves out (the file's
  // reference types describe it): not walked rather than read as nothing.
  if (n.type == "ReferencedObjectData") return;
  if (byte_size == 0) {
    n.shape = Shape::kStruct;  // a structure without members
  } else if (plain_size && n.type.find("Referenced") == std::string::npos) {
    n.shape = Shape::kUnsigned;
    n.size = static_cast<uint8_t>(byte_size);
  }
}

std::string HexBits(uint64_t bits, int digits) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string s(static_cast<size_t>(digits), '0');
  for (int k = digits - 1; k >= 0; --k, bits >>= 4) s[static_cast<size_t>(k)] = kHex[bits & 15];
  return s;
}

// Where a walk is, for messages: "m_Items[2].m_Name".
class FieldPath {
 public:
  void Push(const Node* n) { steps_.push_back({n, -1}); }
  void PushIndex(int64_t i) { steps_.push_back({nullptr, i}); }
  void Pop() { steps_.pop_back(); }
  std::string Text() const {
    std::string out;
    for (const Step& s : steps_) {
      if (s.node) {
        if (!out.empty()) out += '.';
        out += s.node->name;
      } else {
        out += "[" + std::to_string(s.index) + "]";
      }
    }
    return out.empty() ? "(the object)" : out;
  }

 private:
  struct Step {
    const Node* node;
    int64_t index;
  };
  std::vector<Step> steps_;
};

void Indent(std::string& out, int depth) {
  out += '\n';
  out.append(static_cast<size_t>(depth) * 2, ' ');
}

class JsonReader {
 public:
  JsonReader(const std::vector<Node>& nodes, ObjectCursor& c) : nodes_(nodes), c_(c) {}

  std::string Root() {
    std::string out;
    out.reserve(c_.Limit() - c_.Start() + 64);
    Value(0, 0, out);
    if (c_.Tell() != c_.Limit())
      throw Error("the type tree " + nodes_[0].type + " ends after " +
                  std::to_string(c_.Tell() - c_.Start()) + " of the object's " +
                  std::to_string(c_.Limit() - c_.Start()) + " bytes");
    out += '\n';
    return out;
  }

 private:
  [[noreturn]] void Fail(const std::string& why) {
    reported_ = true;
    throw Error(path_.Text() + ": " + why);
  }

  void Value(uint32_t i, int depth, std::string& out) {
    const Node& n = nodes_[i];
    try {
      Fill(n, depth, out);
    } catch (const Error& e) {
      // The innermost field names the failure; the levels above pass it on.
      if (!reported_) Fail(e.what());
      throw;
    }
    if (n.align) Pad();
  }

  void Fill(const Node& n, int depth, std::string& out) {
    switch (n.shape) {
      case Shape::kStruct:
        return Struct(n, depth, out);
      case Shape::kVector:
        return Vector(n, depth, out);
      case Shape::kString:
        return String(out);
      case Shape::kUnwalkable:
        throw Error(
            "a field of type " + n.type + " is not read here" +
            (n.type.find("Referenced") != std::string::npos ? " (managed references)" : ""));
      default:
        return Number(n, out);
    }
  }

  void Struct(const Node& n, int depth, std::string& out) {
    if (n.children.empty()) {
      out += "{}";
      return;
    }
    out += '{';
    bool first = true;
    for (uint32_t child : n.children) {
      if (!first) out += ',';
      first = false;
      Indent(out, depth + 1);
      AppendJsonString(out, nodes_[child].name);
      out += ": ";
      path_.Push(&nodes_[child]);
      Value(child, depth + 1, out);
      path_.Pop();
    }
    Indent(out, depth);
    out += '}';
  }

  void Vector(const Node& n, int depth, std::string& out) {
    const Node& e = nodes_[n.element];
    // Elements of other kinds take a byte at least as they lie in real objects; a count past the
    // bytes left is damage, and would otherwise loop over nothing billions of times.
    const uint32_t count = c_.Count(IsNumber(e.shape) ? e.size : 1);
    if (n.compact && (e.size == 1 || count > kCompactAbove)) return Compact(e, count, out);
    if (count == 0) {
      out += "[]";
      return;
    }
    const bool one_line = IsNumber(e.shape);
    out += '[';
    for (uint32_t k = 0; k < count; ++k) {
      if (k) out += one_line ? ", " : ",";
      if (!one_line) Indent(out, depth + 1);
      path_.PushIndex(k);
      Value(n.element, depth + 1, out);
      path_.Pop();
    }
    if (!one_line) Indent(out, depth);
    out += ']';
  }

  void Compact(const Node& e, uint32_t count, std::string& out) {
    buffer_.resize(static_cast<size_t>(count) * e.size);
    c_.Read(buffer_.data(), buffer_.size());
    if (c_.Order() == ByteOrder::Big && e.size > 1)
      for (size_t k = 0; k < buffer_.size(); k += e.size)
        std::reverse(buffer_.begin() + k, buffer_.begin() + k + e.size);
    out += "{\"$type\": ";
    AppendJsonString(out, e.type);
    out += ", \"$base64\": \"";
    AppendBase64(out, buffer_.data(), buffer_.size());
    out += "\"}";
  }

  void String(std::string& out) {
    const uint32_t count = c_.Count(1);
    text_.resize(count);
    c_.Read(text_.data(), count);
    if (IsUtf8(text_)) {
      AppendJsonString(out, text_);
    } else {
      out += "{\"$base64\": \"";
      AppendBase64(out, reinterpret_cast<const uint8_t*>(text_.data()), text_.size());
      out += "\"}";
    }
  }

  void Number(const Node& n, std::string& out) {
    uint64_t v = 0;
    switch (n.size) {
      case 1:
        v = c_.U8();
        break;
      case 2:
        v = c_.U16();
        break;
      case 4:
        v = c_.U32();
        break;
      default:
        v = c_.U64();
        break;
    }
    char buf[40];
    std::to_chars_result r{};
    switch (n.shape) {
      case Shape::kBool:
        if (v <= 1) {
          out += v ? "true" : "false";
          return;
        }
        r = std::to_chars(buf, buf + sizeof buf, v);
        break;
      case Shape::kSigned: {
        const int shift = 64 - 8 * n.size;
        r = std::to_chars(buf, buf + sizeof buf, static_cast<int64_t>(v << shift) >> shift);
        break;
      }
      case Shape::kFloat:
        return Float(n, v, out);
      default:
        r = std::to_chars(buf, buf + sizeof buf, v);
    }
    out.append(buf, r.ptr);
  }

  static void Float(const Node& n, uint64_t bits, std::string& out) {
    char buf[40];
    std::to_chars_result r{};
    bool back = false;
    if (n.size == 4) {
      float f;
      const uint32_t b32 = static_cast<uint32_t>(bits);
      std::memcpy(&f, &b32, 4);
      if (std::isfinite(f)) {
        r = std::to_chars(buf, buf + sizeof buf, f);
        float again = 0;
        uint32_t again_bits = 0;
        back = std::from_chars(buf, r.ptr, again).ec == std::errc() &&
               (std::memcpy(&again_bits, &again, 4), again_bits == b32);
      }
    } else {
      double d;
      std::memcpy(&d, &bits, 8);
      if (std::isfinite(d)) {
        r = std::to_chars(buf, buf + sizeof buf, d);
        double again = 0;
        uint64_t again_bits = 0;
        back = std::from_chars(buf, r.ptr, again).ec == std::errc() &&
               (std::memcpy(&again_bits, &again, 8), again_bits == bits);
      }
    }
    if (back) {
      out.append(buf, r.ptr);
    } else {
      out += "{\"$bits\": \"" + HexBits(bits, n.size * 2) + "\"}";
    }
  }

  void Pad() {
    const uint64_t pad = (4 - (c_.Tell() - c_.Start()) % 4) % 4;
    for (uint64_t k = 0; k < pad; ++k)
      if (c_.U8() != 0)
        Fail("the padding after it holds data, which the JSON could not bring back");
  }

  const std::vector<Node>& nodes_;
  ObjectCursor& c_;
  FieldPath path_;
  bool reported_ = false;
  std::vector<uint8_t> buffer_;
  std::string text_;
};

class JsonWriter {
 public:
  JsonWriter(const std::vector<Node>& nodes, ByteOrder order)
      : nodes_(nodes), w_(order), order_(order) {}

  std::vector<uint8_t> Root(const JsonValue& v) {
    Value(0, v);
    return w_.Take();
  }

 private:
  [[noreturn]] void Fail(const std::string& why) const { throw Error(path_.Text() + ": " + why); }

  static const char* KindName(const JsonValue& v) {
    switch (v.kind) {
      case JsonValue::Kind::kNull:
        return "null";
      case JsonValue::Kind::kBool:
        return "true or false";
      case JsonValue::Kind::kNumber:
        return "a number";
      case JsonValue::Kind::kString:
        return "a string";
      case JsonValue::Kind::kArray:
        return "an array";
      default:
        return "an object";
    }
  }

  [[noreturn]] void WrongKind(const Node& n, const char* want, const JsonValue& v) const {
    Fail(std::string(want) + " is expected (" + n.type + "), not " + KindName(v));
  }

  void Value(uint32_t i, const JsonValue& v) {
    const Node& n = nodes_[i];
    switch (n.shape) {
      case Shape::kStruct:
        Struct(n, v);
        break;
      case Shape::kVector:
        Vector(n, v);
        break;
      case Shape::kString:
        String(n, v);
        break;
      case Shape::kUnwalkable:
        Fail("a field of type " + n.type + " is not written here");
      default:
        Number(n, v);
    }
    if (n.align) w_.Align();
  }

  void Struct(const Node& n, const JsonValue& v) {
    if (v.kind != JsonValue::Kind::kObject) WrongKind(n, "an object", v);
    size_t hint = 0;
    for (uint32_t child : n.children) {
      const Node& c = nodes_[child];
      const JsonValue* member = nullptr;
      if (hint < v.members.size() && v.members[hint].name == c.name) {
        member = &v.members[hint++].value;
      } else if ((member = v.Member(c.name)) == nullptr) {
        Fail("the field " + c.name + " (" + c.type + ") is missing");
      }
      path_.Push(&c);
      Value(child, *member);
      path_.Pop();
    }
    if (v.members.size() != n.children.size()) {
      for (const auto& m : v.members) {
        bool known = false;
        for (uint32_t child : n.children) known = known || nodes_[child].name == m.name;
        if (!known) Fail("the field " + m.name + " is not in the type tree");
      }
      Fail("a field is given twice");
    }
  }

  // {"$type": ..., "$base64": ...} for an array of numbers, or {"$base64": ...} for a string.
  std::vector<uint8_t> Base64Of(const Node& n, const JsonValue& v, const std::string* type) {
    const JsonValue* data = v.Member("$base64");
    const JsonValue* named = v.Member("$type");
    if (!data || data->kind != JsonValue::Kind::kString || v.members.size() != (type ? 2u : 1u) ||
        (type && (!named || named->kind != JsonValue::Kind::kString)))
      Fail(std::string("an object with only ") + (type ? "\"$type\" and " : "") +
           "\"$base64\" is expected (" + n.type + ")");
    if (type && named->text != *type) Fail("the elements are " + *type + ", not " + named->text);
    std::vector<uint8_t> bytes;
    if (!DecodeBase64(data->text, bytes)) Fail("\"$base64\" is not base64");
    return bytes;
  }

  void Count(size_t count) {
    if (count > 0x7FFFFFFF) Fail("more elements than a 32-bit count holds");
    w_.U32(static_cast<uint32_t>(count));
  }

  void Vector(const Node& n, const JsonValue& v) {
    const Node& e = nodes_[n.element];
    if (n.compact && v.kind == JsonValue::Kind::kObject) {
      std::vector<uint8_t> bytes = Base64Of(n, v, &e.type);
      if (bytes.size() % e.size != 0)
        Fail("the base64 data is not a whole number of " + e.type + " elements");
      if (order_ == ByteOrder::Big && e.size > 1)
        for (size_t k = 0; k < bytes.size(); k += e.size)
          std::reverse(bytes.begin() + k, bytes.begin() + k + e.size);
      Count(bytes.size() / e.size);
      w_.Bytes(bytes.data(), bytes.size());
      return;
    }
    if (v.kind != JsonValue::Kind::kArray) WrongKind(n, "an array", v);
    Count(v.items.size());
    for (size_t k = 0; k < v.items.size(); ++k) {
      path_.PushIndex(static_cast<int64_t>(k));
      Value(n.element, v.items[k]);
      path_.Pop();
    }
  }

  void String(const Node& n, const JsonValue& v) {
    if (v.kind == JsonValue::Kind::kString) {
      Count(v.text.size());
      w_.Bytes(v.text.data(), v.text.size());
    } else if (v.kind == JsonValue::Kind::kObject) {
      const std::vector<uint8_t> bytes = Base64Of(n, v, nullptr);
      Count(bytes.size());
      w_.Bytes(bytes.data(), bytes.size());
    } else {
      WrongKind(n, "a string", v);
    }
  }

  void Put(const Node& n, uint64_t v) {
    switch (n.size) {
      case 1:
        w_.U8(static_cast<uint8_t>(v));
        break;
      case 2:
        w_.U16(static_cast<uint16_t>(v));
        break;
      case 4:
        w_.U32(static_cast<uint32_t>(v));
        break;
      default:
        w_.U64(v);
    }
  }

  void Number(const Node& n, const JsonValue& v) {
    if (n.shape == Shape::kBool && v.kind == JsonValue::Kind::kBool) return Put(n, v.boolean);
    if (n.shape == Shape::kFloat) return Float(n, v);
    if (v.kind != JsonValue::Kind::kNumber)
      WrongKind(n, n.shape == Shape::kBool ? "true, false or an integer" : "an integer", v);
    const char* first = v.text.data();
    const char* last = first + v.text.size();
    const int bits = 8 * n.size;
    if (n.shape == Shape::kSigned) {
      int64_t x = 0;
      const auto r = std::from_chars(first, last, x);
      const int64_t low = bits == 64 ? INT64_MIN : -(int64_t{1} << (bits - 1));
      const int64_t high = bits == 64 ? INT64_MAX : (int64_t{1} << (bits - 1)) - 1;
      if (r.ptr != last || r.ec != std::errc()) NotInteger(n, v, r.ec, r.ptr == last);
      if (x < low || x > high) OutOfRange(n, v);
      return Put(n, static_cast<uint64_t>(x));
    }
    uint64_t x = 0;
    const auto r = std::from_chars(first, last, x);
    if (v.text[0] == '-' && v.text.find_first_not_of("-0") != std::string::npos) OutOfRange(n, v);
    if (v.text == "-0") return Put(n, 0);
    if (r.ptr != last || r.ec != std::errc()) NotInteger(n, v, r.ec, r.ptr == last);
    if (bits < 64 && x >> bits) OutOfRange(n, v);
    Put(n, x);
  }

  [[noreturn]] void NotInteger(const Node& n, const JsonValue& v, std::errc ec, bool whole) const {
    if (ec == std::errc::result_out_of_range && whole) OutOfRange(n, v);
    Fail(v.text + " is not an integer (" + n.type + ")");
  }
  [[noreturn]] void OutOfRange(const Node& n, const JsonValue& v) const {
    Fail(v.text + " is out of the range of " + n.type + " (" + std::to_string(n.size) + " bytes)");
  }

  void Float(const Node& n, const JsonValue& v) {
    if (v.kind == JsonValue::Kind::kObject) {
      const JsonValue* bits = v.Member("$bits");
      const size_t digits = n.size * 2u;
      uint64_t x = 0;
      if (!bits || v.members.size() != 1 || bits->kind != JsonValue::Kind::kString ||
          bits->text.size() != digits ||
          std::from_chars(bits->text.data(), bits->text.data() + digits, x, 16).ptr !=
              bits->text.data() + digits)
        Fail("{\"$bits\": \"<" + std::to_string(digits) + " hex digits>\"} is expected (" + n.type +
             ")");
      return Put(n, x);
    }
    if (v.kind != JsonValue::Kind::kNumber) WrongKind(n, "a number", v);
    const char* first = v.text.data();
    const char* last = first + v.text.size();
    if (n.size == 4) {
      float f = 0;
      const auto r = std::from_chars(first, last, f);
      if (r.ptr != last || r.ec != std::errc()) OutOfRange(n, v);
      uint32_t b = 0;
      std::memcpy(&b, &f, 4);
      return Put(n, b);
    }
    double d = 0;
    const auto r = std::from_chars(first, last, d);
    if (r.ptr != last || r.ec != std::errc()) OutOfRange(n, v);
    uint64_t b = 0;
    std::memcpy(&b, &d, 8);
    Put(n, b);
  }

  const std::vector<Node>& nodes_;
  ObjectWriter w_;
  ByteOrder order_;
  FieldPath path_;
};

}  // namespace

ObjectTree::ObjectTree(const TypeTree& tree) {
  const std::vector<TypeTreeNode>& in = tree.Nodes;
  nodes_.resize(in.size());
  // Children by level: a node's parent is the nearest earlier node one level up.
  std::vector<uint32_t> open;
  std::vector<std::vector<uint32_t>> kids(in.size());
  for (uint32_t k = 0; k < in.size(); ++k) {
    while (!open.empty() && in[open.back()].Level >= in[k].Level) open.pop_back();
    if (!open.empty() && in[open.back()].Level + 1 == in[k].Level) kids[open.back()].push_back(k);
    open.push_back(k);
    nodes_[k].name = TreeText(tree, in[k].FieldNameOffset);
    nodes_[k].type = TreeText(tree, in[k].TypeNameOffset);
    nodes_[k].align = (in[k].MetaFlags & kAlignAfter) != 0;
  }
  // Bottom up, so that a node's children are classified before it.
  for (size_t k = in.size(); k-- > 0;) {
    Node& n = nodes_[k];
    const std::vector<uint32_t>& c = kids[k];
    const bool array = (in[k].TypeFlags & 1) != 0 || n.type == "TypelessData";
    auto vector_of = [&](uint32_t array_node) {
      n.shape = Shape::kVector;
      n.element = kids[array_node][1];
      const Node& e = nodes_[n.element];
      n.compact = IsNumber(e.shape) && !e.align;
    };
    if (array) {
      if (c.size() == 2)
        vector_of(static_cast<uint32_t>(k));
      else
        n.shape = Shape::kUnwalkable;
    } else if (c.size() == 1 && ((in[c[0]].TypeFlags & 1) || nodes_[c[0]].type == "TypelessData")) {
      // Strings, vectors, maps and sets hold one array: the field is that array.
      if (kids[c[0]].size() != 2) {
        n.shape = Shape::kUnwalkable;
        continue;
      }
      n.align = n.align || nodes_[c[0]].align;
      const Node& e = nodes_[kids[c[0]][1]];
      if (n.type == "string" && e.size == 1 && IsNumber(e.shape) && !e.align) {
        n.shape = Shape::kString;
      } else {
        vector_of(c[0]);
      }
    } else if (c.empty()) {
      ClassifyLeaf(n, in[k].ByteSize);
    } else {
      n.shape = Shape::kStruct;
      n.children = c;
    }
  }
}

const std::string& ObjectTree::RootType() const {
  static const std::string kNone;
  return nodes_.empty() ? kNone : nodes_[0].type;
}

std::string ObjectTree::ToJson(ObjectCursor& cursor) const {
  if (nodes_.empty()) throw Error("the type tree is empty");
  return JsonReader(nodes_, cursor).Root();
}

std::vector<uint8_t> ObjectTree::FromJson(const JsonValue& value, ByteOrder order) const {
  if (nodes_.empty()) throw Error("the type tree is empty");
  return JsonWriter(nodes_, order).Root(value);
}

}  // namespace kestrix
