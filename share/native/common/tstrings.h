#pragma once

#include <sstream>
#include <string>
#include <vector>

// Byte-string helpers shared by every part of the launcher. Strings are
// std::string values of bytes (UTF-8 in practice); nothing here interprets
// multi-byte characters or converts character sets.
namespace tstrings {

// A fixed underlying type makes every int a valid value, so that "any other
// value" below is defined behaviour rather than an out-of-range enum.
enum CompareType : int { MATCH_CASE = 0, FOLD_CASE = 1 };
enum SplitType : int { KEEP_EMPTY = 0, DROP_EMPTY = 1 };

// Every mode other than FOLD_CASE compares bytes as they are.
bool equals(const std::string& a, const std::string& b,
            CompareType ct = MATCH_CASE);

// Lowers the ASCII capitals only; bytes 0x80 and above stay as they are.
std::string toLower(const std::string& s);

bool startsWith(const std::string& s, const std::string& prefix,
                CompareType ct = MATCH_CASE);
bool endsWith(const std::string& s, const std::string& suffix,
              CompareType ct = MATCH_CASE);

// Appends the tokens of `s` to `out` (which is not cleared). An empty `s` or
// an empty delimiter appends nothing; with KEEP_EMPTY, n delimiters always
// give n + 1 tokens. Every mode other than KEEP_EMPTY drops empty tokens.
void split(std::vector<std::string>& out, const std::string& s,
           const std::string& delimiter, SplitType st = KEEP_EMPTY);

// Replaces every occurrence of `search`, left to right and non-overlapping;
// inserted text is never searched again. Linear in the size of the result.
std::string replace(const std::string& s, const std::string& search,
                    const std::string& replacement);

// Strips leading and trailing bytes that belong to `set`.
std::string trim(const std::string& s, const std::string& set = " \t\n\v\f\r");

template <class It>
std::string join(It first, It last, const std::string& delimiter) {
  std::string result;
  if (first == last) {
    return result;
  }
  result = *first;
  for (++first; first != last; ++first) {
    result += delimiter;
    result += *first;
  }
  return result;
}

std::string join(const std::vector<std::string>& v, char c);

// printf-style formatting into a std::string. Throws std::invalid_argument for
// a null format and for a format that vsnprintf cannot process.
std::string unsafe_format(const char* format, ...)
    __attribute__((__format__(__printf__, 1, 2)));

// Message builder: collects anything a standard output stream can insert,
// formatted with the stream's default settings.
class any {
 public:
  any() = default;
  any(const char* s) {  // NOLINT(google-explicit-constructor)
    if (s != nullptr) {
      data << s;
    }
  }
  any(const std::string& s) { data << s; }  // NOLINT(google-explicit-constructor)
  any(const any& other) { data << other.str(); }
  any& operator=(const any&) = delete;

  template <class T>
  any& operator<<(const T& v) {
    data << v;
    return *this;
  }

  std::string str() const { return data.str(); }

 private:
  std::ostringstream data;
};

}  // namespace tstrings
