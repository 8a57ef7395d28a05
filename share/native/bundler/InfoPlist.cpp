#include "InfoPlist.h"

#include <filesystem>

#include "BundleOptions.h"
#include "Plist.h"

namespace {

bool isIdentifierCharacter(char c) {
  return (c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') ||
         (c >= '0' && c <= '9') || c == '-';
}

bool isUtf8Continuation(char c) {
  return (static_cast<unsigned char>(c) & 0xC0) == 0x80;
}

// The oldest macOS that runs on arm64.
constexpr char kMinimumSystemVersion[] = "11.0";

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

std::string identifierFor(const std::string& name) {
  std::string identifier = "wrapkin.";
  for (const char c : name) {
    if (isIdentifierCharacter(c)) {
      identifier += c;
    } else if (!isUtf8Continuation(c)) {
      // The bytes after a sequence's first belong to the same character.
      identifier += '-';
    }
  }
  return identifier;
}

std::string infoPlist(const BundleOptions& options) {
  PlistDict plist;
  plist.string("CFBundleExecutable", options.name)
      .string("CFBundleName", options.name)
      .string("CFBundleIdentifier", options.identifier.empty()
                                        ? identifierFor(options.name)
                                        : options.identifier)
      .string("CFBundlePackageType", "APPL")
      .string("CFBundleInfoDictionaryVersion", "6.0");
  if (!options.version.empty()) {
    plist.string("CFBundleShortVersionString", options.version)
        .string("CFBundleVersion", options.version);
  }
  if (!options.icon.empty()) {
    plist.string("CFBundleIconFile",
                 std::filesystem::path(options.icon).filename().string());
  }
  plist.string("LSMinimumSystemVersion", kMinimumSystemVersion)
      .flag("NSHighResolutionCapable");
  return plist.document();
}
