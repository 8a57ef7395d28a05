#include "Json.h"

#include <cstdint>

namespace {

constexpr int kMaxDepth = 64;

class JsonReader {
 public:
  explicit JsonReader(const std::string& json) : text(json) {}

  bool document(JsonValue& value) {
    return parse(value, 0) && (skipBlanks(), at == text.size());
  }

 private:
  void skipBlanks() {
    while (at < text.size() && (text[at] == ' ' || text[at] == '\t' ||
                                text[at] == '\n' || text[at] == '\r')) {
      ++at;
    }
  }

  bool take(char c) {
    skipBlanks();
    if (at < text.size() && text[at] == c) {
      ++at;
      return true;
    }
    return false;
  }

  bool literal(const char* word, JsonValue& value, JsonValue::Kind kind) {
    const std::string expected(word);
    if (text.compare(at, expected.size(), expected) != 0) {
      return false;
    }
    at += expected.size();
    value.kind = kind;
    value.text = expected;
    return true;
  }

  bool parse(JsonValue& value, int depth) {
    if (depth > kMaxDepth) {
      return false;
    }
    skipBlanks();
    if (at >= text.size()) {
      return false;
    }
    switch (text[at]) {
    case '{':
      return object(value, depth);
    case '[':
      return array(value, depth);
    case '"':
      value.kind = JsonValue::Kind::string;
      return string(value.text);
    case 't':
      return literal("true", value, JsonValue::Kind::boolean);
    case 'f':
      return literal("false", value, JsonValue::Kind::boolean);
    case 'n':
      return literal("null", value, JsonValue::Kind::null);
    default:
      return number(value);
    }
  }

  bool object(JsonValue& value, int depth) {
    ++at;
    value.kind = JsonValue::Kind::object;
    if (take('}')) {
      return true;
    }
    do {
      std::string key;
      JsonValue member;
      skipBlanks();
      if (!string(key) || !take(':') || !parse(member, depth + 1)) {
        return false;
      }
      value.members.emplace_back(std::move(key), std::move(member));
    } while (take(','));
    return take('}');
  }

  bool array(JsonValue& value, int depth) {
    ++at;
    value.kind = JsonValue::Kind::array;
    if (take(']')) {
      return true;
    }
    do {
      JsonValue item;
      if (!parse(item, depth + 1)) {
        return false;
      }
      value.items.push_back(std::move(item));
    } while (take(','));
    return take(']');
  }

  bool number(JsonValue& value) {
    const std::size_t start = at;
    while (at < text.size() &&
           std::string("+-.0123456789eE").find(text[at]) != std::string::npos) {
      ++at;
    }
    value.kind = JsonValue::Kind::number;
    value.text = text.substr(start, at - start);
    return at > start;
  }

  bool hexQuad(std::uint32_t& unit) {
    if (text.size() - at < 4) {
      return false;
    }
    unit = 0;
    for (int i = 0; i < 4; ++i) {
      const char c = text[at++];
      const std::uint32_t digit =
          c >= '0' && c <= '9'   ? static_cast<std::uint32_t>(c - '0')
          : c >= 'a' && c <= 'f' ? static_cast<std::uint32_t>(c - 'a' + 10)
          : c >= 'A' && c <= 'F' ? static_cast<std::uint32_t>(c - 'A' + 10)
                                 : 16;
      if (digit == 16) {
        return false;
      }
      unit = unit * 16 + digit;
    }
    return true;
  }

  static void appendUtf8(std::string& out, std::uint32_t code) {
    if (code < 0x80) {
      out += static_cast<char>(code);
    } else if (code < 0x800) {
      out += static_cast<char>(0xC0 | (code >> 6));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else if (code < 0x10000) {
      out += static_cast<char>(0xE0 | (code >> 12));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    } else {
      out += static_cast<char>(0xF0 | (code >> 18));
      out += static_cast<char>(0x80 | ((code >> 12) & 0x3F));
      out += static_cast<char>(0x80 | ((code >> 6) & 0x3F));
      out += static_cast<char>(0x80 | (code & 0x3F));
    }
  }

  // A "\u" escape, with the low half that follows a high surrogate; a lone
  // half becomes U+FFFD.
  bool unicodeEscape(std::string& out) {
    std::uint32_t code = 0;
    if (!hexQuad(code)) {
      return false;
    }
    if (code >= 0xD800 && code < 0xDC00 && text.compare(at, 2, "\\u") == 0) {
      const std::size_t mark = at;
      at += 2;
      std::uint32_t low = 0;
      if (hexQuad(low) && low >= 0xDC00 && low < 0xE000) {
        code = 0x10000 + ((code - 0xD800) << 10) + (low - 0xDC00);
      } else {
        at = mark;
      }
    }
    appendUtf8(out, code >= 0xD800 && code < 0xE000 ? 0xFFFD : code);
    return true;
  }

  bool string(std::string& out) {
    if (at >= text.size() || text[at] != '"') {
      return false;
    }
    ++at;
    while (at < text.size()) {
      const char c = text[at++];
      if (c == '"') {
        return true;
      }
      if (c != '\\') {
        out += c;
        continue;
      }
      if (at >= text.size()) {
        return false;
      }
      const char escaped = text[at++];
      switch (escaped) {
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
        if (!unicodeEscape(out)) {
          return false;
        }
        break;
      default:
        out += escaped;
      }
    }
    return false;
  }

  const std::string& text;
  std::size_t at = 0;
};

}  // namespace

const JsonValue* JsonValue::member(const std::string& key) const {
  for (const auto& [name, value] : members) {
    if (name == key) {
      return &value;
    }
  }
  return nullptr;
}

std::string JsonValue::stringMember(const std::string& key) const {
  const JsonValue* value = member(key);
  return value != nullptr && value->kind == Kind::string ? value->text : "";
}

std::optional<JsonValue> parseJson(const std::string& text) {
  JsonValue value;
  if (!JsonReader(text).document(value)) {
    return std::nullopt;
  }
  return value;
}
