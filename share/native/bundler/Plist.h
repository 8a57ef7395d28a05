#pragma once

#include <string>

// Text that XML 1.0 can carry: valid UTF-8, without control characters
// other than the tab. Names and versions are checked against it, since an
// Info.plist that holds anything else is not a property list any more.
bool isXmlText(const std::string& text);

// `text` with "&", "<" and ">" escaped, for element content.
std::string xmlEscaped(const std::string& text);

// A property list whose top level is one dictionary, written in the order
// its entries are added.
class PlistDict {
 public:
  // REQUIRES: isXmlText(key) and isXmlText(value).
  PlistDict& string(const std::string& key, const std::string& value);
  PlistDict& flag(const std::string& key);  // the value <true/>

  std::string document() const;

 private:
  std::string entries;
};
