#include "core/json_text.h"

#include <cstring>

#include "core/error.h"

namespace kestrix {

namespace {

constexpr int kMaxDepth = 1000;

class Parser {
 public:
  explicit Parser(std::string_view text) : s_(text) {}

  JsonValue Document() {
    JsonValue v = Value(0);
    Space();
    if (p_ != s_.size()) Fail("text follows the value");
    return v;
  }

 private:
  [[noreturn]] void Fail(const std::string& why) const {
    size_t line = 1, column = 1;
    for (size_t k = 0; k < p_ && k < s_.size(); ++k) {
      if (s_[k] == '\n') {
        ++line;
        column = 1;
      } else {
        ++column;
      }
    }
    throw Error("Not valid JSON at line " + std::to_string(line) + ", column " +
                    std::to_string(column) + ": " + why + ".",
                ErrorKind::kDamagedData);
  }

  void Space() {
    while (p_ < s_.size() && (s_[p_] == ' ' || s_[p_] == '\t' || s_[p_] == '\n' || s_[p_] == '\r'))
      ++p_;
  }

  bool Take(char c) {
    if (p_ < s_.size() && s_[p_] == c) {
      ++p_;
      return true;
    }
    return false;
  }

  void Word(std::string_view word) {
    if (s_.substr(p_, word.size()) != word) Fail("unknown word");
    p_ += word.size();
  }

  JsonValue Value(int depth) {
    if (depth > kMaxDepth) Fail("nested too deeply");
    Space();
    if (p_ >= s_.size()) Fail("the text ends where a value should be");
    JsonValue v;
    const char c = s_[p_];
    if (c == '{') {
      v.kind = JsonValue::Kind::kObject;
      ++p_;
      Space();
      if (Take('}')) return v;
      do {
        Space();
        if (p_ >= s_.size() || s_[p_] != '"') Fail("a member name must be a string");
        std::string name = String();
        Space();
        if (!Take(':')) Fail("':' expected after a member name");
        JsonValue value = Value(depth + 1);
        v.members.push_back({std::move(name), std::move(value)});
        Space();
      } while (Take(','));
      if (!Take('}')) Fail("',' or '}' expected");
    } else if (c == '[') {
      v.kind = JsonValue::Kind::kArray;
      ++p_;
      Space();
      if (Take(']')) return v;
      do {
        v.items.push_back(Value(depth + 1));
        Space();
      } while (Take(','));
      if (!Take(']')) Fail("',' or ']' expected");
    } else if (c == '"') {
      v.kind = JsonValue::Kind::kString;
      v.text = String();
    } else if (c == 't') {
      Word("true");
      v.kind = JsonValue::Kind::kBool;
      v.boolean = true;
    } else if (c == 'f') {
      Word("false");
      v.kind = JsonValue::Kind::kBool;
    } else if (c == 'n') {
      Word("null");
    } else {
      v.kind = JsonValue::Kind::kNumber;
      v.text = Number();
    }
    return v;
  }

  bool Digits() {
    const size_t start = p_;
    while (p_ < s_.size() && s_[p_] >= '0' && s_[p_] <= '9') ++p_;
    return p_ > start;
  }

  std::string Number() {
    const size_t start = p_;
    Take('-');
    if (Take('0')) {
      if (p_ < s_.size() && s_[p_] >= '0' && s_[p_] <= '9') Fail("a number has a leading zero");
    } else if (!Digits()) {
      Fail("unexpected character");
    }
    if (Take('.') && !Digits()) Fail("digits expected after '.'");
    if (Take('e') || Take('E')) {
      if (!Take('+')) Take('-');
      if (!Digits()) Fail("digits expected in the exponent");
    }
    return std::string(s_.substr(start, p_ - start));
  }

  unsigned Hex4() {
    if (s_.size() - p_ < 4) Fail("four hex digits expected after \\u");
    unsigned v = 0;
    for (int k = 0; k < 4; ++k) {
      const char c = s_[p_++];
      v <<= 4;
      if (c >= '0' && c <= '9')
        v |= static_cast<unsigned>(c - '0');
      else if (c >= 'a' && c <= 'f')
        v |= static_cast<unsigned>(c - 'a' + 10);
      else if (c >= 'A' && c <= 'F')
        v |= static_cast<unsigned>(c - 'A' + 10);
      else
        Fail("four hex digits expected after \\u");
    }
    return v;
  }

  static void PutUtf8(std::string& out, unsigned cp) {
    if (cp < 0x80) {
      out += static_cast<char>(cp);
    } else if (cp < 0x800) {
      out += static_cast<char>(0xC0 | (cp >> 6));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else if (cp < 0x10000) {
      out += static_cast<char>(0xE0 | (cp >> 12));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (cp >> 18));
      out += static_cast<char>(0x80 | ((cp >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((cp >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (cp & 0x3F));
    }
  }

  unsigned Escape() {
    const unsigned cp = Hex4();
    if (cp >= 0xDC00 && cp <= 0xDFFF) Fail("a lone low surrogate");
    if (cp < 0xD800 || cp > 0xDBFF) return cp;
    if (!(Take('\\') && Take('u'))) Fail("a high surrogate without its low half");
    const unsigned low = Hex4();
    if (low < 0xDC00 || low > 0xDFFF) Fail("a high surrogate without its low half");
    return 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
  }

  // Whether none of eight bytes ends a run of plain text: a quote, a backslash, a control
  // character, or a byte above 0x7F (which the UTF-8 check must see). Long strings (base64 above
  // all) are scanned a word at a time.
  static bool PlainAscii(uint64_t w) {
    constexpr uint64_t kOnes = 0x0101010101010101u, kHighs = 0x8080808080808080u;
    const auto has_zero = [](uint64_t x) { return (x - kOnes) & ~x & kHighs; };
    return ((w & kHighs) | has_zero(w ^ (kOnes * '"')) | has_zero(w ^ (kOnes * '\\')) |
            ((w - kOnes * 0x20) & ~w & kHighs)) == 0;
  }

  std::string String() {
    ++p_;  // the opening quote
    std::string out;
    size_t run = p_;
    // Only bytes of the text itself can break UTF-8 (escapes give whole characters), and most
    // strings (names, base64) have none above 0x7F: those skip the check.
    unsigned high = 0;
    while (true) {
      while (p_ < s_.size()) {
        uint64_t eight;
        if (s_.size() - p_ >= 8 && (std::memcpy(&eight, s_.data() + p_, 8), PlainAscii(eight))) {
          p_ += 8;
          continue;
        }
        const unsigned char c = static_cast<unsigned char>(s_[p_]);
        if (c == '"' || c == '\\' || c < 0x20) break;
        high |= c;
        ++p_;
      }
      if (p_ >= s_.size()) Fail("a string is not closed");
      const unsigned char c = static_cast<unsigned char>(s_[p_]);
      if (c == '"') break;
      if (c < 0x20) Fail("a control character inside a string");
      out.append(s_.data() + run, p_ - run);
      ++p_;
      if (p_ >= s_.size()) Fail("a string is not closed");
      const char e = s_[p_++];
      switch (e) {
        case '"':
          out += '"';
          break;
        case '\\':
          out += '\\';
          break;
        case '/':
          out += '/';
          break;
        case 'b':
          out += '\b';
          break;
        case 'f':
          out += '\f';
          break;
        case 'n':
          out += '\n';
          break;
        case 'r':
          out += '\r';
          break;
        case 't':
          out += '\t';
          break;
        case 'u':
          PutUtf8(out, Escape());
          break;
        default:
          Fail("an unknown escape");
      }
      run = p_;
    }
    out.append(s_.data() + run, p_ - run);
    ++p_;
    if ((high & 0x80) && !IsUtf8(out)) Fail("a string is not UTF-8");
    return out;
  }

  std::string_view s_;
  size_t p_ = 0;
};

constexpr char kBase64[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

// Each character's digit, 64 for characters that are not digits (so that one test of four
// digits OR-ed together finds any of them).
struct Base64Digits {
  uint8_t of[256];
  constexpr Base64Digits() : of() {
    for (int c = 0; c < 256; ++c) of[c] = 64;
    for (int d = 0; d < 64; ++d)
      of[static_cast<unsigned char>(kBase64[d])] = static_cast<uint8_t>(d);
  }
};
constexpr Base64Digits kDigitOf;

int Base64Digit(char c) {
  const uint8_t d = kDigitOf.of[static_cast<unsigned char>(c)];
  return d == 64 ? -1 : d;
}

}  // namespace

const JsonValue* JsonValue::Member(std::string_view name) const {
  for (const auto& m : members)
    if (m.name == name) return &m.value;
  return nullptr;
}

JsonValue ParseJson(std::string_view text) { return Parser(text).Document(); }

bool IsUtf8(std::string_view s) {
  size_t i = 0;
  const size_t n = s.size();
  while (i < n) {
    // Text is mostly ASCII: eight bytes at a time while none has its top bit.
    uint64_t eight;
    while (n - i >= 8 && (std::memcpy(&eight, s.data() + i, 8), (eight & 0x8080808080808080u) == 0))
      i += 8;
    if (i >= n) break;
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c < 0x80) {
      ++i;
      continue;
    }
    size_t len;
    unsigned cp;
    if (c >= 0xC2 && c <= 0xDF) {
      len = 2;
      cp = c & 0x1F;
    } else if (c >= 0xE0 && c <= 0xEF) {
      len = 3;
      cp = c & 0x0F;
    } else if (c >= 0xF0 && c <= 0xF4) {
      len = 4;
      cp = c & 0x07;
    } else {
      return false;
    }
    if (n - i < len) return false;
    for (size_t k = 1; k < len; ++k) {
      const unsigned char t = static_cast<unsigned char>(s[i + k]);
      if ((t & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (t & 0x3F);
    }
    if ((len == 3 && (cp < 0x800 || (cp >= 0xD800 && cp <= 0xDFFF))) ||
        (len == 4 && (cp < 0x10000 || cp > 0x10FFFF)))
      return false;
    i += len;
  }
  return true;
}

void AppendJsonString(std::string& out, std::string_view s) {
  static constexpr char kHex[] = "0123456789abcdef";
  out += '"';
  size_t run = 0;
  for (size_t i = 0; i < s.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c >= 0x20 && c != '"' && c != '\\') continue;
    out.append(s.data() + run, i - run);
    run = i + 1;
    switch (c) {
      case '"':
        out += "\\\"";
        break;
      case '\\':
        out += "\\\\";
        break;
      case '\n':
        out += "\\n";
        break;
      case '\r':
        out += "\\r";
        break;
      case '\t':
        out += "\\t";
        break;
      default:
        out += "\\u00";
        out += kHex[c >> 4];
        out += kHex[c & 15];
    }
  }
  out.append(s.data() + run, s.size() - run);
  out += '"';
}

void AppendBase64(std::string& out, const uint8_t* d, size_t n) {
  out.reserve(out.size() + (n + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= n; i += 3) {
    const uint32_t v = (uint32_t{d[i]} << 16) | (uint32_t{d[i + 1]} << 8) | d[i + 2];
    out += kBase64[v >> 18];
    out += kBase64[(v >> 12) & 63];
    out += kBase64[(v >> 6) & 63];
    out += kBase64[v & 63];
  }
  if (n - i == 1) {
    const uint32_t v = uint32_t{d[i]} << 16;
    out += kBase64[v >> 18];
    out += kBase64[(v >> 12) & 63];
    out += "==";
  } else if (n - i == 2) {
    const uint32_t v = (uint32_t{d[i]} << 16) | (uint32_t{d[i + 1]} << 8);
    out += kBase64[v >> 18];
    out += kBase64[(v >> 12) & 63];
    out += kBase64[(v >> 6) & 63];
    out += '=';
  }
}

bool DecodeBase64(std::string_view t, std::vector<uint8_t>& out) {
  out.clear();
  if (t.size() % 4 != 0) return false;
  if (t.empty()) return true;
  // Every group but the last has no padding: four digits, three bytes.
  const size_t whole = t.size() - 4;
  out.resize(whole / 4 * 3);
  const unsigned char* in = reinterpret_cast<const unsigned char*>(t.data());
  uint8_t* to = out.data();
  for (size_t i = 0; i < whole; i += 4, to += 3) {
    const uint32_t a = kDigitOf.of[in[i]], b = kDigitOf.of[in[i + 1]], c = kDigitOf.of[in[i + 2]],
                   d = kDigitOf.of[in[i + 3]];
    if ((a | b | c | d) & 64) return false;
    const uint32_t v = (a << 18) | (b << 12) | (c << 6) | d;
    to[0] = static_cast<uint8_t>(v >> 16);
    to[1] = static_cast<uint8_t>(v >> 8);
    to[2] = static_cast<uint8_t>(v);
  }
  for (size_t i = whole; i < t.size(); i += 4) {
    const bool last = i + 4 == t.size();
    const int pad = last ? (t[i + 3] == '=') + (t[i + 2] == '=' && t[i + 3] == '=') : 0;
    int d[4];
    for (int k = 0; k < 4 - pad; ++k)
      if ((d[k] = Base64Digit(t[i + k])) < 0) return false;
    for (int k = 4 - pad; k < 4; ++k) d[k] = 0;
    const uint32_t v = (static_cast<uint32_t>(d[0]) << 18) | (static_cast<uint32_t>(d[1]) << 12) |
                       (static_cast<uint32_t>(d[2]) << 6) | static_cast<uint32_t>(d[3]);
    out.push_back(static_cast<uint8_t>(v >> 16));
    if (pad < 2) out.push_back(static_cast<uint8_t>(v >> 8));
    if (pad < 1) out.push_back(static_cast<uint8_t>(v));
    // Bits the padding drops must be zero: one text per byte string.
    if ((pad == 1 && (d[2] & 3)) || (pad == 2 && (d[1] & 15))) return false;
  }
  return true;
}

}  // namespace kestrix
