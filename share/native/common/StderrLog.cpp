#include "StderrLog.h"

#include <algorithm>
#include <cstring>

void LastLines::add(const char* bytes, std::size_t size) {
  const char* const end = bytes + size;
  while (bytes != end) {
    const void* const found = std::memchr(bytes, '\n', end - bytes);
    const char* const lineEnd =
        found != nullptr ? static_cast<const char*>(found) : end;
    if (current.size() < lineSize) {
      current.append(bytes, std::min<std::size_t>(lineEnd - bytes,
                                                  lineSize - current.size()));
    }
    if (found == nullptr) {
      return;
    }
    endLine();
    bytes = lineEnd + 1;
  }
}

std::vector<std::string> LastLines::get() const {
  std::vector<std::string> result(lines.begin(), lines.end());
  if (isShown(current)) {
    result.push_back(current);
  }
  if (result.size() > lineCount) {
    result.erase(result.begin(), result.end() - lineCount);
  }
  return result;
}

void LastLines::endLine() {
  // Of a CR LF line end.
  if (!current.empty() && current.back() == '\r') {
    current.pop_back();
  }
  if (isShown(current)) {
    lines.push_back(current);
    if (lines.size() > lineCount) {
      lines.pop_front();
    }
  }
  current.clear();
}

bool LastLines::isShown(const std::string& line) const {
  if (line.empty() || line.front() != '\t') {
    return !line.empty();
  }
  // A frame, however deep in a chain of causes; the line of a cause that
  // the runtime indents (java.lang.UnsupportedClassVersionError: ...) stays.
  const std::size_t text = line.find_first_not_of('\t');
  return text != std::string::npos && line.compare(text, 3, "at ") != 0 &&
         line.compare(text, 4, "... ") != 0;
}
