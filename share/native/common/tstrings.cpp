#include "tstrings.h"

#include <cctype>
#include <cstdarg>
#include <cstdio>
#include <stdexcept>

namespace tstrings {

std::string toLower(const std::string& s) {
  std::string result(s);
  for (char& c : result) {
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  }
  return result;
}

bool equals(const std::string& a, const std::string& b, CompareType ct) {
  if (ct == FOLD_CASE) {
    return toLower(a) == toLower(b);
  }
  return a == b;
}

bool startsWith(const std::string& s, const std::string& prefix,
                CompareType ct) {
  if (s.size() < prefix.size()) {
    return false;
  }
  return equals(s.substr(0, prefix.size()), prefix, ct);
}

bool endsWith(const std::string& s, const std::string& suffix,
              CompareType ct) {
  if (s.size() < suffix.size()) {
    return false;
  }
  return equals(s.substr(s.size() - suffix.size()), suffix, ct);
}

void split(std::vector<std::string>& out, const std::string& s,
           const std::string& delimiter, SplitType st) {
  if (s.empty() || delimiter.empty()) {
    return;
  }
  const bool keepEmpty = (st == KEEP_EMPTY);
  std::string::size_type start = 0;
  for (std::string::size_type pos = s.find(delimiter);
       pos != std::string::npos; pos = s.find(delimiter, start)) {
    if (keepEmpty || pos != start) {
      out.push_back(s.substr(start, pos - start));
    }
    start = pos + delimiter.size();
  }
  if (keepEmpty || start != s.size()) {
    out.push_back(s.substr(start));
  }
}

std::string replace(const std::string& s, const std::string& search,
                    const std::string& replacement) {
  if (search.empty()) {
    return s;
  }
  // Copy the untouched stretches and the replacements into a fresh string:
  // erasing and inserting in place would move the tail once per occurrence.
  std::string result;
  std::string::size_type start = 0;
  for (std::string::size_type pos = s.find(search); pos != std::string::npos;
       pos = s.find(search, start)) {
    result.append(s, start, pos - start);
    result += replacement;
    start = pos + search.size();
  }
  if (start == 0) {
    return s;
  }
  result.append(s, start, std::string::npos);
  return result;
}

std::string trim(const std::string& s, const std::string& set) {
  const std::string::size_type first = s.find_first_not_of(set);
  if (first == std::string::npos) {
    return std::string();
  }
  const std::string::size_type last = s.find_last_not_of(set);
  return s.substr(first, last - first + 1);
}

std::string join(const std::vector<std::string>& v, char c) {
  return join(v.begin(), v.end(), std::string(1, c));
}

std::string unsafe_format(const char* format, ...) {
  if (format == nullptr) {
    throw std::invalid_argument("Destination buffer can't be NULL");
  }

  std::string buffer(256, '\0');
  for (;;) {
    va_list args;
    va_start(args, format);
    const int len = std::vsnprintf(&buffer[0], buffer.size(), format, args);
    va_end(args);
    if (len < 0) {
      // An encoding error never goes away by retrying with a larger buffer.
      throw std::invalid_argument(std::string("Failed to format \"") + format +
                                  "\" string");
    }
    const std::string::size_type needed =
        static_cast<std::string::size_type>(len);
    if (needed < buffer.size()) {
      buffer.resize(needed);
      return buffer;
    }
    // vsnprintf told us the exact length: one more try always fits.
    buffer.assign(needed + 1, '\0');
  }
}

}  // namespace tstrings
