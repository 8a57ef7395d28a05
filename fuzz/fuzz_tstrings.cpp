// Round trips of the string helpers: split then join gives the input back,
// replace equals split then join with the replacement, a replacement by a
// byte the text lacks can be undone, and the smaller helpers keep their
// stated properties on arbitrary bytes.

#include <fuzzer/FuzzedDataProvider.h>

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "FuzzCheck.h"
#include "tstrings.h"

namespace {

bool consistsOf(const std::string& s, const std::string& set) {
  return s.find_first_not_of(set) == std::string::npos;
}

std::vector<std::string> splitTokens(const std::string& s,
                                     const std::string& delimiter,
                                     tstrings::SplitType st) {
  std::vector<std::string> tokens;
  tstrings::split(tokens, s, delimiter, st);
  return tokens;
}

void checkSplitJoin(const std::string& s, const std::string& delimiter) {
  // Earlier entries of the output stay in front.
  std::vector<std::string> out(1, "earlier");
  tstrings::split(out, s, delimiter, tstrings::KEEP_EMPTY);
  FUZZ_CHECK(!out.empty() && out.front() == "earlier");
  const std::vector<std::string> tokens(out.begin() + 1, out.end());

  if (s.empty() || delimiter.empty()) {
    FUZZ_CHECK(tokens.empty());
    FUZZ_CHECK(splitTokens(s, delimiter, tstrings::DROP_EMPTY).empty());
    return;
  }
  FUZZ_CHECK(!tokens.empty());
  FUZZ_CHECK(tstrings::join(tokens.begin(), tokens.end(), delimiter) == s);
  if (delimiter.size() == 1) {
    FUZZ_CHECK(tstrings::join(tokens, delimiter[0]) == s);
  }
  std::vector<std::string> nonEmpty;
  for (const std::string& token : tokens) {
    // The leftmost occurrence ends every token but the last, so no token
    // can hold a whole delimiter.
    FUZZ_CHECK(token.find(delimiter) == std::string::npos);
    if (!token.empty()) {
      nonEmpty.push_back(token);
    }
  }
  FUZZ_CHECK(splitTokens(s, delimiter, tstrings::DROP_EMPTY) == nonEmpty);
}

void checkReplace(const std::string& s, const std::string& search,
                  const std::string& replacement) {
  const std::string replaced = tstrings::replace(s, search, replacement);
  if (search.empty() || s.empty()) {
    FUZZ_CHECK(replaced == s);
    return;
  }
  const std::vector<std::string> tokens =
      splitTokens(s, search, tstrings::KEEP_EMPTY);
  FUZZ_CHECK(tstrings::join(tokens.begin(), tokens.end(), replacement) ==
             replaced);
  FUZZ_CHECK(tstrings::replace(s, search, search) == s);

  // A marker byte that occurs nowhere in s or search can only be found where
  // it was inserted, so replacing it back restores s.
  bool used[256] = {};
  for (const std::string* text : {&s, &search}) {
    for (const char c : *text) {
      used[static_cast<unsigned char>(c)] = true;
    }
  }
  for (int c = 0; c < 256; ++c) {
    if (!used[c]) {
      const std::string marker(1, static_cast<char>(c));
      const std::string marked = tstrings::replace(s, search, marker);
      FUZZ_CHECK(marked.size() + (tokens.size() - 1) * (search.size() - 1) ==
                 s.size());
      FUZZ_CHECK(tstrings::replace(marked, marker, search) == s);
      break;
    }
  }
}

void checkTrim(const std::string& s, const std::string& set) {
  const std::string trimmed = tstrings::trim(s, set);
  if (set.empty()) {
    FUZZ_CHECK(trimmed == s);
  }
  FUZZ_CHECK(tstrings::trim(trimmed, set) == trimmed);
  const std::string::size_type first = s.find_first_not_of(set);
  if (first == std::string::npos) {
    FUZZ_CHECK(trimmed.empty());
    return;
  }
  // s is: bytes of the set, the result, bytes of the set.
  FUZZ_CHECK(!trimmed.empty());
  FUZZ_CHECK(consistsOf(s.substr(0, first), set));
  FUZZ_CHECK(s.compare(first, trimmed.size(), trimmed) == 0);
  FUZZ_CHECK(consistsOf(s.substr(first + trimmed.size()), set));
  FUZZ_CHECK(set.find(trimmed.back()) == std::string::npos);
}

void checkCase(const std::string& a, const std::string& b) {
  const std::string lower = tstrings::toLower(a);
  FUZZ_CHECK(lower.size() == a.size());
  std::string upper = a;
  for (std::string::size_type i = 0; i < a.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(a[i]);
    const unsigned char l = static_cast<unsigned char>(lower[i]);
    FUZZ_CHECK(c >= 'A' && c <= 'Z' ? l == c - 'A' + 'a' : l == c);
    if (c >= 'a' && c <= 'z') {
      upper[i] = static_cast<char>(c - 'a' + 'A');
    }
  }
  FUZZ_CHECK(tstrings::equals(upper, a, tstrings::FOLD_CASE));
  FUZZ_CHECK(tstrings::equals(a, b, tstrings::MATCH_CASE) == (a == b));
  FUZZ_CHECK(tstrings::equals(a, b, tstrings::FOLD_CASE) ==
             (lower == tstrings::toLower(b)));

  const std::string ab = a + b;
  FUZZ_CHECK(tstrings::startsWith(ab, a));
  FUZZ_CHECK(tstrings::endsWith(ab, b));
  FUZZ_CHECK(tstrings::startsWith(ab, upper, tstrings::FOLD_CASE));
  FUZZ_CHECK(tstrings::startsWith(a, b) ==
             (a.size() >= b.size() && a.compare(0, b.size(), b) == 0));
  FUZZ_CHECK(tstrings::endsWith(a, b) ==
             (a.size() >= b.size() &&
              a.compare(a.size() - b.size(), b.size(), b) == 0));
}

void checkFormat(const std::string& s, int number) {
  // %s stops at the first NUL byte, like the C string it is given.
  const std::string text(s.c_str());
  FUZZ_CHECK(tstrings::unsafe_format("%s|%d", text.c_str(), number) ==
             text + "|" + std::to_string(number));
  FUZZ_CHECK((tstrings::any() << s << number).str() ==
             s + std::to_string(number));
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  FuzzedDataProvider input(data, size);
  const std::string delimiter = input.ConsumeRandomLengthString(8);
  const std::string replacement = input.ConsumeRandomLengthString(8);
  const int number = input.ConsumeIntegral<int>();
  const std::string s = input.ConsumeRemainingBytesAsString();

  checkSplitJoin(s, delimiter);
  checkReplace(s, delimiter, replacement);
  checkTrim(s, delimiter);
  FUZZ_CHECK(tstrings::trim(s) == tstrings::trim(s, " \t\n\v\f\r"));
  checkCase(s, delimiter);
  checkCase(delimiter, replacement);
  checkFormat(s, number);
  return 0;
}
