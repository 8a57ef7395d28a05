#include "Plist.h"

#include <algorithm>
#include <cstddef>
#include <cstdint>

namespace {

// The code point of the UTF-8 sequence at `at` and its length, or a length
// of 0 where no well-formed sequence starts: a stray or missing
// continuation byte, an overlong form, a surrogate, or beyond U+10FFFF.
struct Decoded {
  std::uint32_t codePoint = 0;
  std::size_t length = 0;
};

Decoded decode(const std::string& text, std::size_t at) {
  const unsigned char lead = static_cast<unsigned char>(text[at]);
  std::size_t length = 0;
  if (lead < 0x80) {
    return {lead, 1};
  } else if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4;
  } else {
    return {};
  }
  if (at + length > text.size()) {
    return {};
  }
  std::uint32_t codePoint = lead & (0xFFu >> (length + 1));
  for (std::size_t i = 1; i < length; ++i) {
    const unsigned char next = static_cast<unsigned char>(text[at + i]);
    if ((next & 0xC0) != 0x80) {
      return {};
    }
    codePoint = (codePoint << 6) | (next & 0x3F);
  }
  const std::uint32_t smallest[] = {0, 0, 0x80, 0x800, 0x10000};
  if (codePoint < smallest[length] || codePoint > 0x10FFFF ||
      (codePoint >= 0xD800 && codePoint <= 0xDFFF)) {
    return {};
  }
  return {codePoint, length};
}

bool isControl(std::uint32_t c) {
  return c < 0x20 || (c >= 0x7F && c <= 0x9F);
}

bool isNoncharacter(std::uint32_t c) {
  return (c >= 0xFDD0 && c <= 0xFDEF) || (c & 0xFFFE) == 0xFFFE;
}

// Each line of `lines` after `by`.
std::string indented(const std::string& lines, const std::string& by) {
  std::string result;
  for (std::size_t start = 0; start < lines.size();) {
    const std::size_t end = std::min(lines.find('\n', start), lines.size());
    result += by + lines.substr(start, end - start) + "\n";
    start = end + 1;
  }
  return result;
}

}  // namespace

bool isXmlText(const std::string& text) {
  for (std::size_t at = 0; at < text.size();) {
    const Decoded next = decode(text, at);
    if (next.length == 0 ||
        (isControl(next.codePoint) && next.codePoint != '\t') ||
        isNoncharacter(next.codePoint)) {
      return false;
    }
    at += next.length;
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

void PlistDict::line(const std::string& text) {
  entries += "  " + text + "\n";
}

PlistDict& PlistDict::key(const std::string& name) {
  line("<key>" + xmlEscaped(name) + "</key>");
  return *this;
}

PlistDict& PlistDict::string(const std::string& name,
                             const std::string& value) {
  line("<key>" + xmlEscaped(name) + "</key><string>" + xmlEscaped(value) +
       "</string>");
  return *this;
}

PlistDict& PlistDict::flag(const std::string& name) {
  line("<key>" + xmlEscaped(name) + "</key><true/>");
  return *this;
}

PlistDict& PlistDict::strings(const std::string& name,
                              const std::vector<std::string>& values) {
  key(name).line("<array>");
  for (const std::string& value : values) {
    line("  <string>" + xmlEscaped(value) + "</string>");
  }
  line("</array>");
  return *this;
}

PlistDict& PlistDict::dict(const std::string& name, const PlistDict& value) {
  key(name).line("<dict>");
  entries += indented(value.entries, "  ");
  line("</dict>");
  return *this;
}

PlistDict& PlistDict::dicts(const std::string& name,
                            const std::vector<PlistDict>& values) {
  key(name).line("<array>");
  for (const PlistDict& value : values) {
    line("  <dict>");
    entries += indented(value.entries, "    ");
    line("  </dict>");
  }
  line("</array>");
  return *this;
}

std::string PlistDict::document() const {
  return "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n"
         "<!DOCTYPE plist PUBLIC \"-//Apple//DTD PLIST 1.0//EN\" "
         "\"http://www.apple.com/DTDs/PropertyList-1.0.dtd\">\n"
         "<plist version=\"1.0\">\n<dict>\n" +
         entries + "</dict>\n</plist>\n";
}
