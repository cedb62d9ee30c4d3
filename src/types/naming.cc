#include "types/naming.h"

#include <algorithm>
#include <atomic>
#include <charconv>
#include <cstring>
#include <string_view>
#include <unordered_map>
#include <utility>
#include <vector>

#include "core/error.h"
#include "core/frontend.h"
#include "core/object_cursor.h"
#include "core/session.h"
#include "platform/ascii.h"
#include "platform/byte_source.h"
#include "platform/memory.h"
#include "platform/paths.h"
#include "platform/reader.h"
#include "platform/two_threads.h"
#include "types/class_ids.h"
#include "types/object_layouts.h"
#include "types/type_info.h"

namespace kestrix {

namespace {

constexpr uint32_t kFontMarker = 0x3DCCCCCD;  // the float 0.1 before the font data length
constexpr uint32_t kOs2Tag = 0x322F534F;      // "OS/2"

struct ProbeResult {
  uint32_t payload_skip = 0;
  uint32_t payload_length = 0;
  int32_t texture_format = 0;
  const char* extension = nullptr;  // replaces the class extension when set
};

void ProbeFont(ObjectCursor& w, uint64_t base, bool font_container, ByteOrder order,
               ProbeResult* out) {
  uint64_t pos = base;
  uint32_t last = 0;
  bool os2 = false;
  while (last != kFontMarker && pos < w.Limit()) {
    if (!w.TryU32At(pos, ByteOrder::Little, &last)) {
      pos = w.Limit();
      break;
    }
    pos += 4;
    if (last == kOs2Tag) os2 = true;
  }
  uint32_t length = 0;
  if (last == kFontMarker && pos < w.Limit()) {
    if (w.TryU32At(pos, order, &length)) out->payload_skip = static_cast<uint32_t>(pos - base + 4);
  } else if (os2) {
    uint32_t c = 0;
    if (w.TryU32At(base + 48, ByteOrder::Little, &c)) {
      uint64_t at = base + 56 + 8ull * c;
      if (at < w.Limit() && c != 0 && w.TryU32At(at, order, &length))
        out->payload_skip = static_cast<uint32_t>(at - base + 4);
    }
  }
  out->payload_length = length;
  if (length == 0) {
    out->payload_skip = 0;
    out->extension = ".font_raw";
  }
  if (font_container) {
    out->payload_skip = 0;
    out->payload_length = 0;
    out->extension = ".fnt";
  }
}

void ProbeText(ObjectCursor& w, uint64_t base, ByteOrder order, ProbeResult* out) {
  out->payload_skip = 4;
  uint32_t length = 0;
  w.TryU32At(base, order, &length);
  out->payload_length = length;
  char head[5];
  if (w.TryBytesAt(base + 4, head, 5) && std::memcmp(head, "<?xml", 5) == 0)
    out->extension = ".xml";
}

void ProbeMovie(ObjectCursor& w, uint64_t base, ByteOrder order, ProbeResult* out) {
  char tag[4];
  uint32_t length = 0;
  if (w.TryBytesAt(base + 16, tag, 4) && std::memcmp(tag, "OggS", 4) == 0) {
    if (w.TryU32At(base + 12, order, &length)) {
      out->payload_length = length;
      out->payload_skip = 16;
    }
  } else if (w.TryBytesAt(base + 20, tag, 4) && std::memcmp(tag, "OggS", 4) == 0) {
    if (w.TryU32At(base + 16, order, &length)) {
      out->payload_length = length;
      out->payload_skip = 20;
    }
  }
}

// Eight bytes at a time with the ASCII capitals folded: 0x20 is added to every byte from 'A'
// to 'Z', and no byte carries into the next.
inline uint64_t FoldWord(uint64_t x) {
  constexpr uint64_t kOnes = 0x0101010101010101ull;
  const uint64_t low7 = x & (0x7F * kOnes);
  const uint64_t from_a = low7 + (0x80 - 'A') * kOnes;      // top bit: low7 >= 'A'
  const uint64_t past_z = low7 + (0x80 - 'Z' - 1) * kOnes;  // top bit: low7 > 'Z'
  const uint64_t capital = from_a & ~past_z & ~x & (0x80 * kOnes);
  return x | (capital >> 2);
}

inline uint64_t MixWord(uint64_t h, uint64_t word) {
  h = (h ^ word) * 0xFF51AFD7ED558CCDull;
  return h ^ (h >> 32);
}

// The last 1 to 7 bytes of a text as the low bytes of a word, in the order a little-endian load
// gives, read with loads that stay inside the text.
inline uint64_t TailWord(const char* p, size_t r) {
  if (r >= 4) {
    uint32_t low, high;
    std::memcpy(&low, p, 4);
    std::memcpy(&high, p + r - 4, 4);
    return low | static_cast<uint64_t>(high) << (8 * (r - 4));
  }
  const auto byte = [p](size_t k) {
    return static_cast<uint64_t>(static_cast<unsigned char>(p[k]));
  };
  return byte(0) | byte(r / 2) << (8 * (r / 2)) | byte(r - 1) << (8 * (r - 1));
}

uint64_t FoldedHash(std::string_view text) {
  uint64_t h = text.size() * 0x9E3779B97F4A7C15ull;
  size_t k = 0;
  for (; k + 8 <= text.size(); k += 8) {
    uint64_t word;
    std::memcpy(&word, text.data() + k, 8);
    h = MixWord(h, FoldWord(word));
  }
  if (k < text.size()) h = MixWord(h, FoldWord(TailWord(text.data() + k, text.size() - k)));
  h *= 0xC4CEB9FE1A85EC53ull;
  return h ^ (h >> 29);
}

// Equal names (ASCII case folded): the lowest entry index keeps its name, the later holders
// are numbered 1, 2, 3 ... in index order. Names arrive in index order, so one hash table of the
// names seen so far, each with its latest holder, gives the same numbers as sorting the names
// would, in linear time. A slot keeps part of the name's hash, so most probes never touch the
// names themselves.
class DuplicateTable {
 public:
  // At most `expected` names are added, so the table never fills past two thirds.
  explicit DuplicateTable(size_t expected) {
    size_t capacity = 16;
    while (capacity < expected + expected / 2) capacity *= 2;
    ResizeLarge(slots_, capacity);
    mask_ = capacity - 1;
  }
  // The table is far larger than the caches on big files: a slot is fetched a few names before
  // it is needed.
  void Prefetch(uint64_t hash) const { __builtin_prefetch(&slots_[hash & mask_]); }
  // The number entry `entry` gets for its name (0 when the name is new). `name_of` gives an
  // earlier holder's name, `number_of` the number it got.
  template <typename NameOf, typename NumberOf>
  uint32_t Add(uint32_t entry, std::string_view name, uint64_t hash, const NameOf& name_of,
               const NumberOf& number_of) {
    const uint32_t tag = static_cast<uint32_t>(hash >> 32);
    size_t at = hash & mask_;
    while (slots_[at].holder_plus_one != 0 &&
           (slots_[at].hash != tag ||
            !AsciiEqualFolded(name_of(slots_[at].holder_plus_one - 1), name)))
      at = (at + 1) & mask_;
    Slot& slot = slots_[at];
    const uint32_t number = slot.holder_plus_one != 0 ? number_of(slot.holder_plus_one - 1) + 1 : 0;
    slot.hash = tag;
    slot.holder_plus_one = entry + 1;
    return number;
  }

 private:
  struct Slot {
    uint32_t hash = 0;
    uint32_t holder_plus_one = 0;  // 0: empty
  };
  FillLaterVector<Slot> slots_;  // zeros all the same: Slot initialises its fields
  size_t mask_ = 0;
};

// The bytes that a name loses: NUL, the control characters and \ / : * ? " < > |.
struct RemovedBytes {
  bool removed[256] = {};
  RemovedBytes() {
    for (int c = 0; c < 32; ++c) removed[c] = true;
    for (const char* p = "\\/:*?\"<>|"; *p; ++p) removed[static_cast<unsigned char>(*p)] = true;
  }
};
const RemovedBytes kRemoved;

// Per class identifier: the running count, its name and extension. A file has few distinct
// classes, so a linear search that starts at the last hit is cheaper than hashing.
constexpr uint32_t kNoTypeId = 0xFFFFFFFF;

struct ClassCounter {
  int32_t class_id;
  int32_t count;
  std::string name;
  const char* extension;
  uint32_t type_id = kNoTypeId;  // the class name's number among the entries' type texts
};

class ClassCounters {
 public:
  ClassCounter& For(int32_t class_id) {
    if (last_ < counters_.size() && counters_[last_].class_id == class_id) return counters_[last_];
    for (size_t k = 0; k < counters_.size(); ++k) {
      if (counters_[k].class_id == class_id) {
        last_ = k;
        return counters_[k];
      }
    }
    counters_.push_back(
        {class_id, 0, ClassIdToName(class_id), ExtensionForClass(class_id), kNoTypeId});
    last_ = counters_.size() - 1;
    return counters_.back();
  }

 private:
  std::vector<ClassCounter> counters_;
  size_t last_ = 0;
};

// " " + TextureFormatName(code), made once per code.
class FormatSuffixes {
 public:
  explicit FormatSuffixes(const EngineVersion& engine) : engine_(engine) {}
  const std::string& For(int32_t code) {
    for (const auto& [c, text] : made_)
      if (c == code) return text;
    made_.emplace_back(code, " " + TextureFormatName(code, engine_));
    return made_.back().second;
  }

 private:
  EngineVersion engine_;
  std::vector<std::pair<int32_t, std::string>> made_;
};

// Where the format code lies in a texture payload, worked out once per type tree (formats 16 and
// later give each object its tree) or once for the version table.
class TextureFormatOffsets {
 public:
  int64_t For(const SerializedFile& f, size_t index) {
    const void* key = ObjectTypeTree(f, index);
    for (const auto& [k, offset] : made_)
      if (k == key) return offset;
    made_.emplace_back(key, TextureFormatOffsetFor(f, index));
    return made_.back().second;
  }

 private:
  std::vector<std::pair<const void*, int64_t>> made_;
};

// The ordinal text of a positive count at `out`: at least five digits, zeros in front. Returns
// the end of what was written (at most 10 characters).
char* PutOrdinal(char* out, int32_t value) {
  char buf[16];
  char* end = buf + sizeof(buf);
  char* p = end;
  uint32_t v = static_cast<uint32_t>(value);
  do {
    *--p = static_cast<char>('0' + v % 10);
    v /= 10;
  } while (v != 0);
  while (end - p < 5) *--p = '0';
  const size_t n = static_cast<size_t>(end - p);
  std::memcpy(out, p, n);
  return out + n;
}

// An entry with a name of its own (not made from the asset's name) takes part in duplicate
// numbering; the naming pass marks it by the object name's field, which holds at least one byte.
bool HasOwnName(const Entry& e) { return e.NameFieldSize > 4; }

// Makes the `length` bytes written at the place `names` reserved last the entry's name.
void KeepName(Entry& e, NameBuffer& names, size_t length) {
  e.NameRef = names.Commit(length);
  e.NameLength = static_cast<uint16_t>(length);
}

// Gives duplicate numbers to the entries with names of their own, which arrive in index order,
// and renames the numbered ones once every equal name has been seen: "a.tex" -> "a_00001.tex".
class DuplicateNumbering {
 public:
  DuplicateNumbering(EntryList& entries, size_t expected) : entries_(entries), table_(expected) {}

  void Add(uint32_t entry) {
    const uint64_t hash = FoldedHash(entries_.Name(entry));
    // Entries wait a few names in a queue while their slots are fetched.
    table_.Prefetch(hash);
    if (waiting_ == kAhead) NumberOldest();
    queue_[(first_ + waiting_) % kAhead] = {entry, hash};
    ++waiting_;
  }

  void Finish() {
    while (waiting_ != 0) NumberOldest();
    NameBuffer& names = entries_.NameStore();
    for (const auto& [i, number] : entries_.Duplicates()) {
      const std::string_view name = entries_.Name(i);
      size_t dot = name.rfind('.');
      if (dot == std::string_view::npos) dot = name.size();
      // Earlier names stay where they are while the buffer grows.
      char* at = names.Reserve(name.size() + 11);
      std::memcpy(at, name.data(), dot);
      char* p = at + dot;
      *p++ = '_';
      p = PutOrdinal(p, static_cast<int32_t>(number));
      std::memcpy(p, name.data() + dot, name.size() - dot);
      p += name.size() - dot;
      KeepName(entries_[i], names, static_cast<size_t>(p - at));
    }
  }

 private:
  void NumberOldest() {
    const Waiting& w = queue_[first_];
    auto name_of = [this](uint32_t e) { return entries_.Name(e); };
    auto number_of = [this](uint32_t e) { return entries_.DuplicateNumber(e); };
    const uint32_t number = table_.Add(w.entry, entries_.Name(w.entry), w.hash, name_of, number_of);
    if (number != 0) entries_.SetDuplicateNumber(w.entry, number);
    first_ = (first_ + 1) % kAhead;
    --waiting_;
  }

  struct Waiting {
    uint32_t entry;
    uint64_t hash;
  };
  static constexpr size_t kAhead = 16;
  EntryList& entries_;
  DuplicateTable table_;
  Waiting queue_[kAhead];
  size_t first_ = 0, waiting_ = 0;
};

// Names the entries of a range of objects: file name, type text, texture format and payload
// location, with names and type texts kept in the stores it is given. It reads only what stays
// unchanged while it runs and writes only its own entries, so two halves can be named at once.
class RangeNamer {
 public:
  RangeNamer(const Session& s, EntryList& entries, ByteSource& source, bool font_container,
             NameBuffer& names, TypeTexts& types)
      : f_(s.Asset),
        asset_(s.Archive.AssetBaseName),
        entries_(entries),
        data_(source),
        font_container_(font_container),
        order_(f_.IsBigEndian() ? ByteOrder::Big : ByteOrder::Little),
        prefix_(entries.PrefixSkip),
        names_(names),
        types_(types),
        format_suffixes_(f_.Engine) {}

  // Ordinals count on from the objects before `begin`.
  void CountObjectsBefore(size_t begin) {
    for (size_t i = 0; i < begin; ++i) ++class_counters_.For(f_.Objects[i].ClassId).count;
  }

  void Name(size_t i);

 private:
  const SerializedFile& f_;
  const std::string& asset_;
  EntryList& entries_;
  Reader data_;
  const bool font_container_;
  const ByteOrder order_;
  const uint32_t prefix_;
  NameBuffer& names_;
  TypeTexts& types_;
  // Type texts of textures, one per class and format code: (class << 32 | format) -> number.
  std::unordered_map<uint64_t, uint32_t> texture_type_ids_;
  ClassCounters class_counters_;
  FormatSuffixes format_suffixes_;
  TextureFormatOffsets format_offsets_;
};

void RangeNamer::Name(size_t i) {
  Entry& entry = entries_[i];
  entry = Entry{};
  const ObjectRecord& object = f_.Objects[i];
  const int32_t cls = object.ClassId;
  ClassCounter& counter = class_counters_.For(cls);
  const int32_t ordinal = ++counter.count;
  const char* extension = counter.extension;
  if (counter.type_id == kNoTypeId) counter.type_id = types_.Intern(counter.name, 0);
  entry.TypeTextId = counter.type_id;

  bool named = false;
  uint32_t name_length = 0;
  char name[256];  // the object's name as stored (shorter than 256 bytes)
  if (*extension != '\0') {
    const uint64_t object_start = f_.DataStart + object.Offset;
    const uint64_t object_end = object_start + object.Size;
    ObjectCursor win(data_, object_start, object_end, order_);
    if (win.TryU32At(object_start + prefix_, order_, &name_length) && name_length < 256 &&
        win.Fits(object_start + prefix_ + 4, name_length)) {
      if (name_length) win.TryBytesAt(object_start + prefix_ + 4, name, name_length);
      named = true;
    }
    if (named) {
      const uint32_t name_field = 4 + ((name_length + 3) & ~3u);
      entry.NameFieldSize = static_cast<uint16_t>(name_field);
      const uint64_t base = object_start + prefix_ + name_field;
      ProbeResult probe;
      switch (cls) {
        case kClassFont:
          ProbeFont(win, base, font_container_, order_, &probe);
          break;
        case kClassShader:
          // The parsed form of later engines begins with a count, which is no text length.
          if (ShaderHoldsText(f_, i)) ProbeText(win, base, order_, &probe);
          break;
        case kClassTextAsset:
          ProbeText(win, base, order_, &probe);
          break;
        case kClassMovieTexture:
          ProbeMovie(win, base, order_, &probe);
          break;
        case kClassTexture2D:
        case kClassCubemap: {
          if (f_.Platform < 0) probe.payload_skip = 16;
          uint32_t format = 0;
          const int64_t at = format_offsets_.For(f_, i);
          if (at >= 0)
            win.TryU32At(base + probe.payload_skip + static_cast<uint64_t>(at), order_, &format);
          probe.texture_format = static_cast<int32_t>(format);
          break;
        }
        case kClassProceduralTexture: {
          uint32_t format = 0;
          // A procedural texture smaller than its trailer keeps format 0 rather than reading
          // the object before it.
          if (object_end >= 12) win.TryU32At(object_end - 12, order_, &format);
          probe.texture_format = static_cast<int32_t>(format);
          break;
        }
        default:
          break;
      }
      if (HasTextureFormat(cls)) {
        const uint64_t key = static_cast<uint64_t>(static_cast<uint32_t>(cls)) << 32 |
                             static_cast<uint32_t>(probe.texture_format);
        auto found = texture_type_ids_.find(key);
        if (found == texture_type_ids_.end()) {
          const uint32_t id = types_.Intern(
              counter.name + format_suffixes_.For(probe.texture_format), probe.texture_format);
          found = texture_type_ids_.emplace(key, id).first;
        }
        entry.TypeTextId = found->second;
      }
      entry.PayloadSkip = probe.payload_skip;
      entry.PayloadLength = probe.payload_length;
      if (probe.extension) extension = probe.extension;
    }
  }
  size_t length = 0;
  char* at;
  if (named && name_length > 0) {
    // Cleaned and extended straight into the name store.
    constexpr size_t kRoom = 256 + 32;
    at = names_.Reserve(kRoom);
    for (uint32_t k = 0; k < name_length; ++k)
      if (!kRemoved.removed[static_cast<unsigned char>(name[k])]) at[length++] = name[k];
    for (const char* e = extension; *e && length < kRoom; ++e) at[length++] = *e;
  } else {
    // <asset>_<ordinal><extension>, or <asset>_<ordinal>.<class> for classes without one,
    // written in place.
    at = names_.Reserve(asset_.size() + 48);
    char* p = at;
    std::memcpy(p, asset_.data(), asset_.size());
    p += asset_.size();
    *p++ = '_';
    p = PutOrdinal(p, ordinal);
    if (*extension == '\0') {
      *p++ = '.';
      p = std::to_chars(p, p + 12, cls).ptr;
    } else {
      for (const char* e = extension; *e; ++e) *p++ = *e;
    }
    length = static_cast<size_t>(p - at);
  }
  KeepName(entry, names_, length);
}

// Moves the progress when the next whole percent of `total` is reached, without a division
// per object.
class PercentSteps {
 public:
  PercentSteps(Frontend& frontend, size_t total) : frontend_(frontend), total_(total) {}
  void Reached(size_t done) {
    if (done < next_at_ || total_ == 0) return;
    const int percent = static_cast<int>(done * 100 / total_);
    next_at_ = (static_cast<size_t>(percent + 1) * total_ + 99) / 100;
    frontend_.ShowProgress(percent);
    frontend_.ProcessMessages();
  }

 private:
  Frontend& frontend_;
  size_t total_;
  size_t next_at_ = 0;
};

}  // namespace

const char* ExtensionForClass(int32_t class_id) {
  switch (class_id) {
    case 21:
      return ".mat";
    case 28:
      return ".tex";
    case 43:
      return ".mesh";
    case 48:
      return ".shader";
    case 49:
      return ".txt";
    case 62:
      return ".physmat2D";
    case 74:
      return ".ani";
    case 83:
      return ".snd";
    case 84:
      return ".rtex";
    case 89:
      return ".cbm";
    case 90:
      return ".avatar";
    case 91:
      return ".amtc";
    case 109:
      return ".cgp";
    case 115:
      return ".script";
    case 121:
      return ".flr";
    case 128:
      return ".ttf";
    case 134:
      return ".physmat";
    case 152:
      return ".ogm";
    case 156:
      return ".ter";
    case 184:
      return ".sbam";
    case 185:
      return ".pmat";
    case 186:
      return ".ptex";
    case 194:
      return ".tes";
    case 213:
      return ".sprite";
    case 241:
      return ".amc";
    case 243:
      return ".amgc";
    case 245:
      return ".amsc";
    default:
      return "";
  }
}

std::string OrdinalText(int32_t value) {
  char buf[16];
  return std::string(buf, PutOrdinal(buf, value));
}

std::string CleanName(const std::string& name) {
  std::string out;
  out.reserve(name.size());
  for (char c : name)
    if (!kRemoved.removed[static_cast<unsigned char>(c)]) out.push_back(c);
  return out;
}

void NamingPass(Session& s, Frontend& frontend, ByteSource& source, bool font_container,
                size_t split_at) {
  const SerializedFile& f = s.Asset;
  EntryList& entries = s.Entries;
  const size_t n = f.Objects.size();
  entries.Reset(n);
  if (f.RawSingleFile) {
    // The whole stream is one entry, named after the asset.
    entries[0] = Entry{};
    entries.SetName(0, s.Archive.AssetBaseName);
    const bool audio = f.ShownKind != "unknown";
    entries[0].TypeTextId = entries.InternType(audio ? "AudioClip" : "unknown", 0);
    return;
  }
  entries.PrefixSkip = f.Platform < 0 ? 28 : 0;

  // Only entries whose class has an extension can have a name of their own.
  size_t nameable = 0;
  int32_t last_class = 0;
  bool last_nameable = false;
  for (const ObjectRecord& o : f.Objects) {
    if (o.ClassId != last_class) {
      last_class = o.ClassId;
      last_nameable = *ExtensionForClass(o.ClassId) != '\0';
    }
    nameable += last_nameable;
  }
  DuplicateNumbering numbering(entries, nameable);
  PercentSteps progress(frontend, n);
  RangeNamer namer(s, entries, source, font_container, entries.NameStore(), entries.TypeStore());
  // Big files: the second half is named on another thread, into stores of its own that join the
  // entries' afterwards. This thread numbers its half's duplicates as it goes and the second
  // half's once that is done, in index order.
  const size_t split = n >= split_at && n >= 2 ? n / 2 : n;
  auto name_first_part = [&](const std::atomic<size_t>* second_done) {
    for (size_t i = 0; i < split; ++i) {
      namer.Name(i);
      if (HasOwnName(entries[i])) numbering.Add(static_cast<uint32_t>(i));
      progress.Reached(i + 1 + (second_done ? second_done->load(std::memory_order_relaxed) : 0));
    }
  };
  if (split == n) {
    name_first_part(nullptr);
  } else {
    NameBuffer second_names;
    TypeTexts second_types;
    std::atomic<size_t> second_done{0};
    RunBoth([&] { name_first_part(&second_done); },
            [&] {
              RangeNamer second(s, entries, source, font_container, second_names, second_types);
              second.CountObjectsBefore(split);
              for (size_t i = split; i < n; ++i) {
                second.Name(i);
                if ((i & 4095) == 0) second_done.store(i - split, std::memory_order_relaxed);
              }
            });
    entries.AdoptPart(split, n, std::move(second_names), second_types);
    for (size_t i = split; i < n; ++i)
      if (HasOwnName(entries[i])) numbering.Add(static_cast<uint32_t>(i));
    progress.Reached(n);
  }
  numbering.Finish();
}

}  // namespace kestrix
