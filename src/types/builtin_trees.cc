#include "types/builtin_trees.h"

#include <map>
#include <memory>
#include <mutex>
#include <stdexcept>
#include <tuple>

#include "types/builtin_tables.h"

namespace kestrix {

namespace {

constexpr uint32_t kAlignAfter = 0x4000;

// An engine release as the tables write it, ordered like EngineVersion::AtLeast.
struct Release {
  int32_t major = 0, minor = 0, patch = 0;
  bool Reached(const EngineVersion& v) const { return v.AtLeast(major, minor, patch); }
};

// Releases from `from` (inclusive) to `until` (exclusive); either end may be open.
struct Range {
  bool has_from = false, has_until = false;
  Release from, until;
  bool Holds(const EngineVersion& v) const {
    return (!has_from || from.Reached(v)) && (!has_until || !until.Reached(v));
  }
};

// One member line of a table: "<type> <name>[!range] [@range]", a range being
// "[from][-until]". The type may hold spaces ("unsigned int") and templates; "!" asks for
// padding to 4 bytes after the field (in the releases of its range, if one follows); the "@"
// range names the releases that have the field.
struct Member {
  std::string type, name;
  bool align = false;
  Range align_in, in;
  bool Aligned(const EngineVersion& v) const { return align && align_in.Holds(v); }
  bool In(const EngineVersion& v) const { return in.Holds(v); }
};

struct Block {
  std::string base;  // "Cubemap < Texture2D": the base's members come first
  std::vector<Member> members;
};

[[noreturn]] void TableFault(const std::string& why) {
  // The tables are Kestrix's own text; a fault in them is a programming error, caught by the
  // tests that build every table for every engine.
  throw std::logic_error("built-in layout table: " + why);
}

Release ParseRelease(const std::string& text) {
  Release r;
  int* parts[] = {&r.major, &r.minor, &r.patch};
  size_t at = 0;
  for (int k = 0; k < 3 && at < text.size(); ++k) {
    const size_t dot = text.find('.', at);
    const std::string part = text.substr(at, dot == std::string::npos ? dot : dot - at);
    if (part.empty() || part.find_first_not_of("0123456789") != std::string::npos)
      TableFault("bad release " + text);
    *parts[k] = std::stoi(part);
    at = dot == std::string::npos ? text.size() : dot + 1;
  }
  return r;
}

Range ParseRange(const std::string& text) {
  Range r;
  const size_t dash = text.find('-');
  const std::string from = text.substr(0, dash);
  if (!from.empty()) {
    r.has_from = true;
    r.from = ParseRelease(from);
  }
  if (dash != std::string::npos) {
    r.has_until = true;
    r.until = ParseRelease(text.substr(dash + 1));
  }
  return r;
}

Member ParseMember(std::string line) {
  Member m;
  const size_t at = line.find(" @");
  if (at != std::string::npos) {
    m.in = ParseRange(line.substr(at + 2));
    line.resize(at);
  }
  line.erase(0, line.find_first_not_of(' '));
  while (!line.empty() && line.back() == ' ') line.pop_back();
  if (line == "align") {
    m.type = line;
    return m;
  }
  const size_t space = line.rfind(' ');
  if (space == std::string::npos) TableFault("no field name in: " + line);
  m.type = line.substr(0, space);
  m.name = line.substr(space + 1);
  const size_t bang = m.name.find('!');
  if (bang != std::string::npos) {
    m.align = true;
    m.align_in = ParseRange(m.name.substr(bang + 1));
    m.name.resize(bang);
  }
  // The few engine names with a space ("image data") are written with '~' for it.
  for (char& c : m.name)
    if (c == '~') c = ' ';
  return m;
}

// Blocks start at a line without indentation ("Name" or "Name < Base"); their members follow,
// indented. '#' starts a comment line.
std::map<std::string, Block> ParseTables() {
  std::map<std::string, Block> blocks;
  Block* current = nullptr;
  const std::string text = kBuiltInTableText;
  size_t at = 0;
  while (at < text.size()) {
    size_t end = text.find('\n', at);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    const size_t first = line.find_first_not_of(' ');
    if (first == std::string::npos || line[first] == '#') continue;
    if (first == 0) {
      const size_t lt = line.find(" < ");
      current = &blocks[line.substr(0, lt)];
      if (lt != std::string::npos) current->base = line.substr(lt + 3);
    } else {
      if (!current) TableFault("a member before any block: " + line);
      current->members.push_back(ParseMember(line));
    }
  }
  return blocks;
}

const std::map<std::string, Block>& Tables() {
  static const std::map<std::string, Block> blocks = ParseTables();
  return blocks;
}

// "vector<pair<int,PPtr<Component>>>" -> "vector", {"pair<int,PPtr<Component>>"}.
std::pair<std::string, std::vector<std::string>> SplitTemplate(const std::string& type) {
  const size_t lt = type.find('<');
  if (lt == std::string::npos || type.back() != '>') return {type, {}};
  std::vector<std::string> args;
  int depth = 0;
  size_t start = lt + 1;
  for (size_t k = lt + 1; k + 1 < type.size(); ++k) {
    if (type[k] == '<') ++depth;
    if (type[k] == '>') --depth;
    if (type[k] == ',' && depth == 0) {
      args.push_back(type.substr(start, k - start));
      start = k + 1;
    }
  }
  args.push_back(type.substr(start, type.size() - 1 - start));
  return {type.substr(0, lt), args};
}

int32_t LeafSize(const std::string& type) {
  static const std::map<std::string, int32_t> kSizes = {{"bool", 1},
                                                        {"char", 1},
                                                        {"SInt8", 1},
                                                        {"UInt8", 1},
                                                        {"SInt16", 2},
                                                        {"UInt16", 2},
                                                        {"short", 2},
                                                        {"unsigned short", 2},
                                                        {"int", 4},
                                                        {"SInt32", 4},
                                                        {"UInt32", 4},
                                                        {"unsigned int", 4},
                                                        {"float", 4},
                                                        {"SInt64", 8},
                                                        {"UInt64", 8},
                                                        {"double", 8},
                                                        {"long long", 8},
                                                        {"FileSize", 8},
                                                        {"unsigned long long", 8}};
  const auto it = kSizes.find(type);
  return it == kSizes.end() ? 0 : it->second;
}

// Writes the nodes of a tree in the file's order (parents before children, each node's level
// one more than its parent's), with the strings a file keeps beside them.
class TreeBuilder {
 public:
  explicit TreeBuilder(const EngineVersion& v) : v_(v) {}

  void Field(const std::string& type, const std::string& name, uint8_t level, bool align) {
    const auto [head, args] = SplitTemplate(type);
    const int32_t leaf = LeafSize(type);
    if (leaf) {
      Node(type, name, level, leaf, 0, align);
    } else if (type == "string") {
      Node("string", name, level, -1, 0, align);
      ArrayOf("char", level + 1, true);
    } else if (type == "TypelessData") {
      Node("TypelessData", name, level, -1, 1, align);
      Node("int", "size", level + 1, 4, 0, false);
      Node("UInt8", "data", level + 1, 1, 0, false);
    } else if ((head == "vector" || head == "set") && args.size() == 1) {
      Node(head, name, level, -1, 0, false);
      ArrayOf(args[0], level + 1, align || AlignsEveryArray());
    } else if (head == "map" && args.size() == 2) {
      Node("map", name, level, -1, 0, false);
      ArrayOf("pair<" + args[0] + "," + args[1] + ">", level + 1, align || AlignsEveryArray());
    } else if (head == "pair" && args.size() == 2) {
      Node("pair", name, level, 0, 0, align);
      Field(args[0], "first", level + 1, false);
      Field(args[1], "second", level + 1, false);
    } else if (head == "PPtr" && args.size() == 1) {
      Node(type, name, level, 0, 0, align);
      Field("int", "m_FileID", level + 1, false);
      // Path ids became 64-bit with the 5.0 file formats.
      Field(v_.AtLeast(5, 0) ? "SInt64" : "int", "m_PathID", level + 1, false);
    } else {
      Struct(type, name, level, align);
    }
  }

  TypeTree Take() {
    SizeStructs();
    return std::move(tree_);
  }

  void Members(const std::string& block, uint8_t level) {
    const auto it = Tables().find(block);
    if (it == Tables().end()) TableFault("no block " + block);
    if (!it->second.base.empty()) Members(it->second.base, level);
    for (const Member& m : it->second.members)
      if (m.In(v_)) {
        if (m.type == "align") {
          AlignLast(level);
        } else {
          Field(m.type, m.name, level, m.Aligned(v_));
        }
      }
  }

  void Root(const std::string& block) {
    Node(block.substr(0, block.find('#')), "Base", 0, 0, 0, false);
    Members(block, 1);
  }

 private:
  // From 2017.1 on the engine pads after every array, whatever its elements.
  bool AlignsEveryArray() const { return v_.AtLeast(2017, 1); }

  // Blocks of the same engine type that differ by field ("PackedBitVector#bits") name the type
  // without the part from '#'.
  void Struct(const std::string& type, const std::string& name, uint8_t level, bool align) {
    Node(type.substr(0, type.find('#')), name, level, 0, 0, align);
    Members(type, static_cast<uint8_t>(level + 1));
  }

  void ArrayOf(const std::string& element, uint8_t level, bool align) {
    Node("Array", "Array", level, -1, 1, align);
    Node("int", "size", static_cast<uint8_t>(level + 1), 4, 0, false);
    Field(element, "data", static_cast<uint8_t>(level + 1), false);
  }

  // "align" lines pad after whatever field of their level came last in this version.
  void AlignLast(uint8_t level) {
    for (size_t k = tree_.Nodes.size(); k-- > 0;)
      if (tree_.Nodes[k].Level == level) {
        tree_.Nodes[k].MetaFlags |= kAlignAfter;
        return;
      }
    TableFault("align before any field");
  }

  void Node(const std::string& type, const std::string& name, uint8_t level, int32_t size,
            uint8_t flags, bool align) {
    TypeTreeNode n;
    n.Version = 1;
    n.Level = level;
    n.TypeFlags = flags;
    n.TypeNameOffset = Text(type);
    n.FieldNameOffset = Text(name);
    n.ByteSize = size;
    n.Index = static_cast<int32_t>(tree_.Nodes.size());
    n.MetaFlags = align ? kAlignAfter : 0;
    tree_.Nodes.push_back(n);
  }

  uint32_t Text(const std::string& s) {
    const auto it = offsets_.find(s);
    if (it != offsets_.end()) return it->second;
    const uint32_t at = static_cast<uint32_t>(tree_.Strings.size());
    tree_.Strings += s;
    tree_.Strings += '\0';
    offsets_.emplace(s, at);
    return at;
  }

  // Structures (size 0 so far) take the sum of their members' sizes, or -1 when a member
  // varies, as files state them.
  void SizeStructs() {
    std::vector<TypeTreeNode>& n = tree_.Nodes;
    for (size_t k = n.size(); k-- > 0;) {
      if (n[k].ByteSize != 0 || n[k].TypeFlags) continue;
      int32_t sum = 0;
      for (size_t c = k + 1; c < n.size() && n[c].Level > n[k].Level; ++c) {
        if (n[c].Level != n[k].Level + 1) continue;
        if (n[c].ByteSize < 0 || (n[c].MetaFlags & kAlignAfter)) {
          sum = -1;
          break;
        }
        sum += n[c].ByteSize;
      }
      n[k].ByteSize = sum;
    }
  }

  const EngineVersion& v_;
  TypeTree tree_;
  std::map<std::string, uint32_t> offsets_;
};

bool Described(const EngineVersion& v) {
  return v.Known && v.AtLeast(3, 0) && v.Major <= kNewestTableMajor;
}

}  // namespace

const TypeTree* BuiltInTypeTree(int32_t class_id, const EngineVersion& engine) {
  if (!Described(engine)) return nullptr;
  const BuiltInClass* known = nullptr;
  for (size_t k = 0; k < kBuiltInClassCount && !known; ++k) {
    const BuiltInClass& c = kBuiltInClasses[k];
    if (c.class_id == class_id && engine.AtLeast(c.from_major, c.from_minor) &&
        !(c.until_major && engine.AtLeast(c.until_major, c.until_minor)))
      known = &c;
  }
  if (!known) return nullptr;
  static std::mutex mutex;
  static std::map<std::tuple<int32_t, int32_t, int32_t, int32_t>, std::unique_ptr<TypeTree>> made;
  const std::lock_guard<std::mutex> lock(mutex);
  std::unique_ptr<TypeTree>& tree = made[{class_id, engine.Major, engine.Minor, engine.Patch}];
  if (!tree) {
    TreeBuilder builder(engine);
    builder.Root(known->block);
    tree = std::make_unique<TypeTree>(builder.Take());
  }
  return tree.get();
}

std::vector<int32_t> BuiltInTreeClasses() {
  std::vector<int32_t> ids;
  for (size_t k = 0; k < kBuiltInClassCount; ++k) ids.push_back(kBuiltInClasses[k].class_id);
  return ids;
}

}  // namespace kestrix
