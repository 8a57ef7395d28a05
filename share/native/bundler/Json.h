#pragma once

#include <optional>
#include <string>
#include <utility>
#include <vector>

// A JSON value, as xcrun notarytool prints its answers and logs.
struct JsonValue {
  enum class Kind { null, boolean, number, string, array, object };
  Kind kind = Kind::null;
  std::string text;  // a string's value (UTF-8), or a number or literal
  std::vector<JsonValue> items;                            // an array's
  std::vector<std::pair<std::string, JsonValue>> members;  // an object's

  // The member `key` of an object, or nullptr.
  const JsonValue* member(const std::string& key) const;

  // The string member `key` of an object, or "".
  std::string stringMember(const std::string& key) const;
};

// Reads `text` as one JSON value (RFC 8259) with blanks around it; nothing
// when it is none, or nests deeper than 64 levels.
std::optional<JsonValue> parseJson(const std::string& text);
