#include "FileUtils.h"

namespace FileUtils {

namespace {

const char* const dirSeparators = "/\\";

}  // namespace

bool isDirSeparator(char c) { return c == '/' || c == '\\'; }

std::string dirname(const std::string& path) {
  std::string::size_type searchLen = path.size();
  if (searchLen >= 2 && path[searchLen - 1] == '.' &&
      isDirSeparator(path[searchLen - 2])) {
    // "a/b/." names "a/b" itself, whose directory part is "a".
    searchLen -= 2;
  }
  if (searchLen == 0) {
    return std::string();
  }
  const std::string::size_type pos =
      path.find_last_of(dirSeparators, searchLen - 1);
  if (pos == std::string::npos) {
    return std::string();
  }
  const std::string::size_type end = path.find_last_not_of(dirSeparators, pos);
  if (end == std::string::npos) {
    return std::string();
  }
  return path.substr(0, end + 1);
}

std::string basename(const std::string& path) {
  const std::string::size_type pos = path.find_last_of(dirSeparators);
  if (pos == std::string::npos) {
    return path;
  }
  return path.substr(pos + 1);
}

std::string suffix(const std::string& path) {
  const std::string::size_type pos = path.rfind('.');
  if (pos == std::string::npos) {
    return std::string();
  }
  if (path.find_first_of(dirSeparators, pos) != std::string::npos) {
    return std::string();  // the dot belongs to a directory name
  }
  if (pos == 0) {
    return path;
  }
  if (path[pos - 1] == '.') {
    // ".." is the parent directory, not a suffix.
    if (pos == 1 || isDirSeparator(path[pos - 2])) {
      return std::string();
    }
  }
  return path.substr(pos);
}

std::string combinePath(const std::string& parent, const std::string& child) {
  if (parent.empty()) {
    return child;
  }
  if (child.empty()) {
    return parent;
  }
  std::string result = removeTrailingSlash(parent);
  result += '/';
  if (isDirSeparator(child[0])) {
    result.append(child, 1, std::string::npos);
  } else {
    result += child;
  }
  return result;
}

std::string removeTrailingSlash(const std::string& path) {
  const std::string::size_type end = path.find_last_not_of(dirSeparators);
  if (end == std::string::npos) {
    return std::string();
  }
  return path.substr(0, end + 1);
}

std::string normalizePath(std::string v) {
  for (char& c : v) {
    if (c == '\\') {
      c = '/';
    }
  }
  return v;
}

std::string replaceSuffix(const std::string& path,
                          const std::string& newSuffix) {
  const std::string oldSuffix = suffix(path);
  return path.substr(0, path.size() - oldSuffix.size()) + newSuffix;
}

}  // namespace FileUtils
