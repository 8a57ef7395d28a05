#pragma once

#include <cstddef>
#include <filesystem>
#include <string>

// The start of one entry of a zip file, such as a jar's manifest.
struct ZipEntryStart {
  bool found = false;
  std::string bytes;       // at most the size asked for
  bool truncated = false;  // the entry holds more than that
};

// Reads the entry `name` (ASCII letters compared in either case, as Java
// finds a jar's manifest; an entry of exactly that name first) of the zip
// file `zip`, unpacking no more than `maxSize` bytes of it: memory and time
// stay bounded whatever the file holds. Raises BundleError with the reason,
// not naming the file, when `zip` is no zip file that Java could read or
// the entry cannot be unpacked.
ZipEntryStart readZipEntry(const std::filesystem::path& zip,
                           const std::string& name, std::size_t maxSize);
