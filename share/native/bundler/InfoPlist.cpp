#include "InfoPlist.h"

#include <cstring>
#include <filesystem>

#include "Ascii.h"
#include "BundleError.h"
#include "BundleOptions.h"
#include "DocumentTypes.h"
#include "Plist.h"

namespace {

bool isAsciiLetter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z');
}

bool isAsciiDigit(char c) {
  return c >= '0' && c <= '9';
}

bool isIdentifierCharacter(char c) {
  return isAsciiLetter(c) || isAsciiDigit(c) || c == '-';
}

bool isUtf8Continuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The oldest macOS that runs on arm64.
constexpr char kMinimumSystemVersion[] = "11.0";

// The keys that the tool writes, and the options that set them (nullptr for
// those it sets alone). --plist-string cannot set them: a second entry of a
// key would leave which one counts to the reader.
const struct {
  const char* key;
  const char* option;
} kWrittenKeys[] = {
    {"CFBundleExecutable", "--name"},
    {"CFBundleName", "--name"},
    {"CFBundleIdentifier", "--identifier"},
    {"CFBundlePackageType", nullptr},
    {"CFBundleInfoDictionaryVersion", nullptr},
    {"CFBundleShortVersionString", "--bundle-version"},
    {"CFBundleVersion", "--bundle-version"},
    {"CFBundleIconFile", "--icon"},
    {"CFBundleDocumentTypes", "--document-type"},
    {"UTExportedTypeDeclarations", "--document-type"},
    {"CFBundleURLTypes", "--url-scheme"},
    {"LSMinimumSystemVersion", nullptr},
    {"NSHighResolutionCapable", nullptr},
};

// Whether `text` is an ASCII letter, then ASCII letters, digits and the
// characters of `punctuation`: the form of URL schemes by RFC 3986 ("+-.")
// and of Apple's keys (".-_").
bool isWord(const std::string& text, const char* punctuation) {
  if (text.empty() || !isAsciiLetter(text[0])) {
    return false;
  }
  for (const char c : text) {
    if (!isAsciiLetter(c) && !isAsciiDigit(c) &&
        (c == '\0' || std::strchr(punctuation, c) == nullptr)) {
      return false;
    }
  }
  return true;
}

// Apple's categories of applications are "public.app-category." and a
// word; the App Store and the Finder know no others.
constexpr char kCategoryKey[] = "LSApplicationCategoryType";
constexpr char kCategoryPrefix[] = "public.app-category.";

}  // namespace

bool isBundleIdentifier(const std::string& identifier) {
  bool partEmpty = true;
  for (const char c : identifier) {
    if (c == '.') {
      if (partEmpty) {
        return false;
      }
      partEmpty = true;
    } else if (isIdentifierCharacter(c)) {
      partEmpty = false;
    } else {
      return false;
    }
  }
  return !partEmpty;
}

std::string identifierPart(const std::string& text) {
  std::string part;
  for (const char c : text) {
    if (isIdentifierCharacter(c)) {
      part += c;
    } else if (!isUtf8Continuation(c)) {
      // The bytes after a sequence's first belong to the same character.
      part += '-';
    }
  }
  return part;
}

std::string identifierFor(const std::string& name) {
  return "wrapkin." + identifierPart(name);
}

std::string iconFileName(const std::string& path) {
  return std::filesystem::path(path).filename().string();
}

void checkInfoPlistText(const std::string& what, const std::string& text) {
  if (!isXmlText(text)) {
    throw BundleError("the " + what + " " + inQuotes(text) +
                      " is not UTF-8 text without control characters and "
                      "noncharacters");
  }
}

void checkUrlSchemes(const std::vector<std::string>& schemes) {
  for (auto scheme = schemes.begin(); scheme != schemes.end(); ++scheme) {
    if (!isWord(*scheme, "+-.")) {
      throw BundleError("--url-scheme " + inQuotes(*scheme) +
                        " is not a URL scheme: a letter, then letters, "
                        "digits, \"+\", \"-\" and \".\"");
    }
    for (auto earlier = schemes.begin(); earlier != scheme; ++earlier) {
      // Schemes are compared without regard to case.
      if (asciiLowerCase(*earlier) == asciiLowerCase(*scheme)) {
        throw BundleError("--url-scheme " + inQuotes(*scheme) +
                          " is given twice");
      }
    }
  }
}

void checkPlistStrings(
    const std::vector<std::pair<std::string, std::string>>& strings) {
  for (auto entry = strings.begin(); entry != strings.end(); ++entry) {
    const std::string& key = entry->first;
    const std::string option = "--plist-string " + inQuotes(key);
    if (!isWord(key, ".-_")) {
      throw BundleError(option +
                        " is not a key: a letter, then ASCII letters, "
                        "digits, \".\", \"-\" and \"_\"");
    }
    for (const auto& written : kWrittenKeys) {
      if (key == written.key) {
        throw BundleError(
            option + " is a key that the tool writes" +
            (written.option != nullptr
                 ? std::string(": give ") + written.option + " instead"
                 : std::string(" itself")));
      }
    }
    for (auto earlier = strings.begin(); earlier != entry; ++earlier) {
      if (earlier->first == key) {
        throw BundleError(option + " is given twice");
      }
    }
    if (entry->second.empty()) {
      throw BundleError(option + " has an empty value");
    }
    checkInfoPlistText("value of " + key, entry->second);
    if (key == kCategoryKey &&
        entry->second.compare(0, std::strlen(kCategoryPrefix),
                              kCategoryPrefix) != 0) {
      throw BundleError(option + " is not a category of Apple's: give " +
                        kCategoryPrefix + "WORD, as in " + kCategoryPrefix +
                        "productivity");
    }
  }
}

std::string bundleIdentifier(const BundleOptions& options) {
  return options.identifier.empty() ? identifierFor(options.name)
                                    : options.identifier;
}

std::string infoPlist(const BundleOptions& options) {
  const std::string identifier = bundleIdentifier(options);
  PlistDict plist;
  plist.string("CFBundleExecutable", options.name)
      .string("CFBundleName", options.name)
      .string("CFBundleIdentifier", identifier)
      .string("CFBundlePackageType", "APPL")
      .string("CFBundleInfoDictionaryVersion", "6.0");
  if (!options.bundleVersion.empty()) {
    plist.string("CFBundleShortVersionString", options.bundleVersion)
        .string("CFBundleVersion", options.bundleVersion);
  }
  if (!options.icon.empty()) {
    plist.string("CFBundleIconFile", iconFileName(options.icon));
  }
  plist.string("LSMinimumSystemVersion", kMinimumSystemVersion)
      .flag("NSHighResolutionCapable");
  addDocumentTypes(plist, options.documentTypes, identifier);
  if (!options.urlSchemes.empty()) {
    std::vector<PlistDict> urlTypes;
    for (const std::string& scheme : options.urlSchemes) {
      urlTypes.push_back(PlistDict()
                             .string("CFBundleURLName",
                                     identifier + "." + asciiLowerCase(scheme))
                             .strings("CFBundleURLSchemes", {scheme}));
    }
    plist.dicts("CFBundleURLTypes", urlTypes);
  }
  for (const auto& entry : options.plistStrings) {
    plist.string(entry.first, entry.second);
  }
  return plist.document();
}
