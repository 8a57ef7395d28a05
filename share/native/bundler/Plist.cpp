#include "Plist.h"

#include <cstddef>

namespace {

// The length of the UTF-8 sequence that `lead` starts, or 0 when no sequence
// starts with it.
std::size_t sequenceLength(unsigned char lead) {
  if (lead < 0x80) {
    return 1;
  }
  if (lead >= 0xC2 && lead <= 0xDF) {
    return 2;
  }
  if (lead >= 0xE0 && lead <= 0xEF) {
    return 3;
  }
  if (lead >= 0xF0 && lead <= 0xF4) {
    return 4;
  }
  return 0;
}

// Whether the sequence of `length` at `at` decodes to a code point that
// needs all its bytes (no overlong form), is no surrogate and no more than
// U+10FFFF.
bool isWellFormed(const std::string& text, std::size_t at, std::size_t length) {
  if (at + length > text.size()) {
    return false;
  }
  unsigned long codePoint =
      static_cast<unsigned char>(text[at]) & (0xFFu >> (length + 1));
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) {
      return false;
    }
    codePoint = (codePoint << 6) | (next & 0x3F);
  }
  const unsigned long smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  return codePoint >= smallest[length] && codePoint <= 0x10FFFF &&
         (codePoint < 0xD800 || codePoint > 0xDFFF);
}

}  // namespace

bool isXmlText(const std::string& text) {
  for (std::size_t at = 0; at < text.size();) {
    const unsigned char lead = static_cast<unsigned char>(text[at]);
    if (lead < 0x20 && lead != '\t') {
      return false;
    }
    const std::size_t length = sequenceLength(lead);
    if (length == 0 || (length > 1 && !isWellFormed(text, at, length))) {
      return false;
    }
    at += length;
  }
  return true;
}

std::string xmlEscaped(const std::string& text) {
  std::string escaped;
  for (const char c : text) {
    switch (c) {
    case '&':
      escaped += "&amp;";
      break;
    case '<':
      escaped += "&lt;";
      break;
    case '>':
      escaped += "&gt;";
      break;
    default:
      escaped += c;
    }
  }
  return escaped;
}

PlistDict& PlistDict::string(const std::string& key, const std::string& value) {
  entries += "  <key>" + xmlEscaped(key) + "</key><string>" +
             xmlEscaped(value) + "</string>\n";
  return *this;
}

PlistDict& PlistDict::flag(const std::string& key) {
  entries += "  <key>" + xmlEscaped(key) + "</key><true/>\n";
  return *this;
}

std::string PlistDict::document() const {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n<dict>\n" +
         entries + "</dict>\n</plist>\n";
}
