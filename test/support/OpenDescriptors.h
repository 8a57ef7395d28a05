#pragma once

#include <dirent.h>
#include <stdlib.h>

#include <set>
#include <stdexcept>
#include <string>

// The descriptors this process has open, as /dev/fd lists them (on Linux a
// link to /proc/self/fd; macOS has it too), without the one the listing
// itself uses. Compare the sets before and after a call to see that it left
// nothing open.
inline std::set<int> openDescriptors() {
  DIR* const dir = opendir("/dev/fd");
  if (dir == nullptr) {
    throw std::runtime_error("cannot list /dev/fd");
  }
  std::set<int> result;
  while (const dirent* entry = readdir(dir)) {
    const std::string name = entry->d_name;
    if (name != "." && name != "..") {
      result.insert(std::stoi(name));
    }
  }
  result.erase(dirfd(dir));
  closedir(dir);
  return result;
}
