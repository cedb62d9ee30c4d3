// JSON as objects are written out and read back: a parsed value keeps each number's text as
// written, so that 64-bit integers and the bits of floats come back exactly (a parser that turns
// every number into a double would round both). Members keep their order.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace kestrix {

struct JsonMember;

struct JsonValue {
  enum class Kind : uint8_t { kNull, kBool, kNumber, kString, kArray, kObject };
  Kind kind = Kind::kNull;
  bool boolean = false;
  std::string text;  // a string's UTF-8 text, or a number's text as written
  std::vector<JsonValue> items;
  std::vector<JsonMember> members;  // in the order written

  // The member named `name`, nullptr when there is none.
  const JsonValue* Member(std::string_view name) const;
};

// A member of an object (a struct rather than a pair: a pair of a type not yet complete is not
// allowed inside that type's own definition).
struct JsonMember {
  std::string name;
  JsonValue value;
};

// Parses one JSON text (RFC 8259: UTF-8, nothing after the value but white space). Throws Error
// saying where the text stops being JSON. Nesting deeper than 1000 levels is refused, so a
// hostile file cannot exhaust the stack.
JsonValue ParseJson(std::string_view text);

// Whether the bytes are well-formed UTF-8 (no overlong forms, no surrogates, at most U+10FFFF).
bool IsUtf8(std::string_view bytes);

// Appends `utf8` as a quoted JSON string (control characters escaped, the rest as is).
void AppendJsonString(std::string& out, std::string_view utf8);

// Base64 with padding (RFC 4648 section 4).
void AppendBase64(std::string& out, const uint8_t* data, size_t size);
// False when `text` is not canonical padded base64.
bool DecodeBase64(std::string_view text, std::vector<uint8_t>& out);

}  // namespace kestrix
