#pragma once

#include <string>

// `text` with ASCII letters in lower case, other bytes as they are: the
// case that zip entry names, manifest attributes, extensions and URL
// schemes ignore.
inline std::string asciiLowerCase(std::string text) {
  for (char& c : text) {
    if (c >= 'A' && c <= 'Z') {
      c = static_cast<char>(c - 'A' + 'a');
    }
  }
  return text;
}
