#pragma once

#include <string>
#include <utility>
#include <vector>

#include "TestFiles.h"
#include "ZipFiles.h"

// An entry of a jar: its name and its bytes.
using JarEntry = std::pair<std::string, std::string>;

// A jar of `entries`, in this order, deflated as a jar tool writes them,
// after `prefix` (the launch script of a jar that runs as a program, say).
// Two entries may have one name, as no jar tool would write them.
inline void writeJar(const std::string& path,
                     const std::vector<JarEntry>& entries,
                     const std::string& prefix = "") {
  std::vector<ZipItem> items;
  for (const auto& [name, bytes] : entries) {
    items.push_back({name, bytes, true, false});
  }
  writeFile(path, prefix + zipBytes(items));
}
