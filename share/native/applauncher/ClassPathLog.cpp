#include "ClassPathLog.h"

#include <string>
#include <unordered_set>
#include <vector>

#include "tstrings.h"

namespace {

// Up to Java 17 or so: the path follows these words to the end of the line.
const char* const kPathToTheEnd[] = {"checking shared classpath entry: ",
                                     "should be non-existent: "};

// Later: "Checking [1] '<path>' file", "Checking '<path>' file" for the
// module path, "... not-exist (from JAR manifest ClassPath attribute)" or
// "... dir". The path may hold quotes itself.
const char kQuotedPathAfter[] = "Checking ";

std::string checkedPath(const std::string& line) {
  for (const char* words : kPathToTheEnd) {
    if (tstrings::startsWith(line, words)) {
      return line.substr(std::char_traits<char>::length(words));
    }
  }
  if (!tstrings::startsWith(line, kQuotedPathAfter)) {
    return std::string();
  }
  const std::string::size_type open = line.find('\'');
  const std::string::size_type close = line.rfind("' ");
  if (open == std::string::npos || close == std::string::npos ||
      close <= open) {
    return std::string();
  }
  return line.substr(open + 1, close - open - 1);
}

}  // namespace

namespace ClassPathLog {

std::vector<std::string> checkedFiles(const std::string& log) {
  std::vector<std::string> files;
  std::unordered_set<std::string> seen;
  std::string::size_type start = 0;
  while (start < log.size()) {
    std::string::size_type end = log.find('\n', start);
    if (end == std::string::npos) {
      end = log.size();
    }
    const std::string path = checkedPath(log.substr(start, end - start));
    if (!path.empty() && seen.insert(path).second) {
      files.push_back(path);
    }
    start = end + 1;
  }
  return files;
}

}  // namespace ClassPathLog
