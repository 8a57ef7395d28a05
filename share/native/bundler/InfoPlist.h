#pragma once

#include <string>
#include <utility>
#include <vector>

struct BundleOptions;

// Whether `identifier` can be a CFBundleIdentifier: reverse-DNS, ASCII
// letters, digits, "-" and ".", no empty part between the dots.
bool isBundleIdentifier(const std::string& identifier);

// `text` as a part of an identifier: each character that an identifier
// cannot hold (a UTF-8 sequence counting as one) made "-".
// REQUIRES: isXmlText(text).
std::string identifierPart(const std::string& text);

// The identifier of a bundle that names none: "wrapkin." and the name as
// identifierPart makes it.
std::string identifierFor(const std::string& name);

// CFBundleIdentifier of the bundle that `options` describe: --identifier,
// or identifierFor its name.
std::string bundleIdentifier(const BundleOptions& options);

// The name by which Info.plist names an icon file given by its path: the
// icon is copied into Contents/Resources.
std::string iconFileName(const std::string& path);

// Raises BundleError, calling `text` the `what`, unless Info.plist can
// hold it (isXmlText).
void checkInfoPlistText(const std::string& what, const std::string& text);

// Raises BundleError for a URL scheme that is not one by RFC 3986, or is
// given twice.
void checkUrlSchemes(const std::vector<std::string>& schemes);

// Raises BundleError for a --plist-string key that is no plain key or is
// given twice, for a key that the tool writes itself (naming the option
// that sets it), and for an empty value or one Info.plist cannot hold.
void checkPlistStrings(
    const std::vector<std::pair<std::string, std::string>>& strings);

// Contents/Info.plist of the bundle that `options` describe.
std::string infoPlist(const BundleOptions& options);
