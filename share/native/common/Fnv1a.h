#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

// FNV-1a, 64 bits: a quick hash that tells inputs apart. Not for security.
class Fnv1a {
 public:
  Fnv1a& add(const char* bytes, std::size_t size) {
    for (std::size_t i = 0; i < size; ++i) {
      hash = (hash ^ static_cast<unsigned char>(bytes[i])) * 0x100000001b3u;
    }
    return *this;
  }

  // With its terminating NUL, so that ("ab", "c") and ("a", "bc") differ.
  Fnv1a& add(const std::string& text) {
    return add(text.c_str(), text.size() + 1);
  }

  std::uint64_t value() const { return hash; }

  // Sixteen lowercase hexadecimal digits.
  std::string hex() const {
    static const char digits[] = "0123456789abcdef";
    std::string text(16, '0');
    for (int i = 0; i < 16; ++i) {
      text[15 - i] = digits[(hash >> (4 * i)) & 0xf];
    }
    return text;
  }

 private:
  std::uint64_t hash = 0xcbf29ce484222325u;
};
