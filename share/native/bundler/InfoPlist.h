#pragma once

#include <string>

struct BundleOptions;

// Whether `identifier` can be a CFBundleIdentifier: reverse-DNS, ASCII
// letters, digits, "-" and ".", no empty part between the dots.
bool isBundleIdentifier(const std::string& identifier);

// The identifier of a bundle that names none: "wrapkin." and the name, each
// character that an identifier cannot hold (a UTF-8 sequence counting as
// one) made "-". REQUIRES: isXmlText(name).
std::string identifierFor(const std::string& name);

// Contents/Info.plist of the bundle that `options` describe.
std::string infoPlist(const BundleOptions& options);
