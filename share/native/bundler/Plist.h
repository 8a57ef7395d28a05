#pragma once

#include <string>
#include <vector>

// Text that an Info.plist can carry and its readers give back unchanged:
// valid UTF-8 without control characters other than the tab (XML forbids
// most, and its parsers turn line ends into others) and without Unicode
// noncharacters (U+FFFE, U+FFFF, U+FDD0 to U+FDEF and the last two of each
// plane), which XML forbids or discourages.
bool isXmlText(const std::string& text);

// `text` with "&", "<" and ">" escaped, for element content.
std::string xmlEscaped(const std::string& text);

// A dictionary of a property list, written in the order its entries are
// added. All keys and strings REQUIRE isXmlText.
class PlistDict {
 public:
  PlistDict& string(const std::string& key, const std::string& value);
  PlistDict& flag(const std::string& key);  // the value <true/>
  PlistDict& strings(const std::string& key,
                     const std::vector<std::string>& values);  // an array
  PlistDict& dict(const std::string& key, const PlistDict& value);
  PlistDict& dicts(const std::string& key,
                   const std::vector<PlistDict>& values);  // an array

  // The property list whose top level is this dictionary.
  std::string document() const;

 private:
  PlistDict& key(const std::string& name);
  // One line of an entry, indented below the dictionary's own level.
  void line(const std::string& text);

  std::string entries;
};
