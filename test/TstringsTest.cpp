#include "tstrings.h"

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using tstrings::FOLD_CASE;
using tstrings::MATCH_CASE;

TEST(TstringsTest, ComparesWithAndWithoutCase) {
  struct Row {
    const char* a;
    const char* b;
    bool matchCase;
    bool foldCase;
  };
  const Row rows[] = {
      {"Abc", "aBC", false, true},
      {"", "", true, true},
      {"abc", "abcd", false, false},
      {"\xC3\x84", "\xC3\xA4", false, false},  // only ASCII folds
  };
  for (const Row& r : rows) {
    EXPECT_EQ(r.matchCase, tstrings::equals(r.a, r.b, MATCH_CASE)) << r.a;
    EXPECT_EQ(r.foldCase, tstrings::equals(r.a, r.b, FOLD_CASE)) << r.a;
    // Every mode other than FOLD_CASE compares bytes as they are.
    EXPECT_EQ(r.matchCase,
              tstrings::equals(r.a, r.b, static_cast<tstrings::CompareType>(7)))
        << r.a;
  }
}

TEST(TstringsTest, LowersOnlyAsciiCapitals) {
  EXPECT_EQ("az@[`{", tstrings::toLower("AZ@[`{"));
  const std::string high = "\x80\xC3\x84\xFF";
  EXPECT_EQ(high, tstrings::toLower(high));
}

TEST(TstringsTest, TestsPrefixAndSuffix) {
  EXPECT_TRUE(tstrings::startsWith("-splash:x.png", "-splash:"));
  EXPECT_FALSE(tstrings::startsWith("-spl", "-splash:"));
  EXPECT_TRUE(tstrings::startsWith("abc", ""));
  EXPECT_TRUE(tstrings::startsWith("", ""));
  EXPECT_FALSE(tstrings::startsWith("ABC", "ab"));
  EXPECT_TRUE(tstrings::startsWith("ABC", "ab", FOLD_CASE));

  EXPECT_FALSE(tstrings::endsWith("a", "ab"));
  EXPECT_TRUE(tstrings::endsWith("app.cfg", ".cfg"));
  EXPECT_TRUE(tstrings::endsWith("app.cfg", ""));
  EXPECT_FALSE(tstrings::endsWith("app.CFG", ".cfg"));
  EXPECT_TRUE(tstrings::endsWith("app.CFG", ".cfg", FOLD_CASE));
}

TEST(TstringsTest, SplitsIntoTokens) {
  struct Row {
    const char* s;
    const char* delimiter;
    tstrings::SplitType mode;
    std::vector<std::string> tokens;
  };
  const Row rows[] = {
      {"a::b:", ":", tstrings::KEEP_EMPTY, {"a", "", "b", ""}},
      {"a::b:", ":", tstrings::DROP_EMPTY, {"a", "b"}},
      {"a::b:", ":", static_cast<tstrings::SplitType>(5), {"a", "b"}},
      {"x, y", ", ", tstrings::KEEP_EMPTY, {"x", "y"}},
      {"", ":", tstrings::KEEP_EMPTY, {}},
      {"a:b", "", tstrings::KEEP_EMPTY, {}},
      {"abc", ":", tstrings::KEEP_EMPTY, {"abc"}},
      {":", ":", tstrings::KEEP_EMPTY, {"", ""}},
      {":", ":", tstrings::DROP_EMPTY, {}},
      {"aaa", "aa", tstrings::KEEP_EMPTY, {"", "a"}},
  };
  for (const Row& r : rows) {
    std::vector<std::string> out;
    tstrings::split(out, r.s, r.delimiter, r.mode);
    EXPECT_EQ(r.tokens, out) << '"' << r.s << "\" at \"" << r.delimiter
                             << "\" mode " << r.mode;
  }
}

TEST(TstringsTest, SplitAppendsToEarlierTokens) {
  std::vector<std::string> out = {"kept"};
  tstrings::split(out, "a:b", ":");
  EXPECT_EQ((std::vector<std::string>{"kept", "a", "b"}), out);
}

TEST(TstringsTest, ReplacesEveryOccurrenceOnce) {
  struct Row {
    const char* s;
    const char* search;
    const char* replacement;
    const char* result;
  };
  const Row rows[] = {
      {"aaa", "aa", "b", "ba"},
      {"abc", "", "x", "abc"},
      {"x", "x", "xx", "xx"},
      {"$APPDIR/a:$APPDIR/b", "$APPDIR", "/app", "/app/a:/app/b"},
      {"abc", "b", "", "ac"},
      {"abc", "z", "y", "abc"},
      {"", "a", "b", ""},
  };
  for (const Row& r : rows) {
    EXPECT_EQ(r.result, tstrings::replace(r.s, r.search, r.replacement))
        << r.s << " / " << r.search << " / " << r.replacement;
  }
}

TEST(TstringsTest, TrimsBytesOfTheSet) {
  EXPECT_EQ("ab", tstrings::trim("  ab ", " "));
  EXPECT_EQ("", tstrings::trim("   ", " "));
  EXPECT_EQ("", tstrings::trim("", " "));
  EXPECT_EQ(" ab ", tstrings::trim(" ab ", ""));
  EXPECT_EQ("a--b", tstrings::trim("-+a--b+-", "+-"));
  EXPECT_EQ("a b", tstrings::trim("\t\r\n a b \v\f"));
}

TEST(TstringsTest, JoinsWithDelimiter) {
  const std::vector<std::string> none;
  const std::vector<std::string> one = {"a"};
  const std::vector<std::string> three = {"a", "b", "c"};
  EXPECT_EQ("", tstrings::join(none.begin(), none.end(), ":"));
  EXPECT_EQ("a", tstrings::join(one.begin(), one.end(), ":"));
  EXPECT_EQ("a:b:c", tstrings::join(three.begin(), three.end(), ":"));
  EXPECT_EQ("a, b, c", tstrings::join(three.begin(), three.end(), ", "));
  EXPECT_EQ("a:b:c", tstrings::join(three, ':'));
  EXPECT_EQ("", tstrings::join(none, ':'));
  const std::vector<std::string> empties = {"", ""};
  EXPECT_EQ(":", tstrings::join(empties, ':'));
}

TEST(TstringsTest, FormatsTextOfAnyLength) {
  EXPECT_EQ("a1-b", tstrings::unsafe_format("a%d-%s", 1, "b"));
  EXPECT_EQ("", tstrings::unsafe_format("%s", ""));
  // Lengths around the first buffer's size and far beyond it.
  for (const std::size_t len : {255u, 256u, 257u, 511u, 512u, 5000u}) {
    const std::string text(len, 'x');
    EXPECT_EQ(text + "!", tstrings::unsafe_format("%s!", text.c_str()))
        << len;
  }
}

TEST(TstringsTest, FormatRejectsNullFormat) {
  const char* const nullFormat = nullptr;
  try {
    tstrings::unsafe_format(nullFormat);
    FAIL() << "no exception";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ("Destination buffer can't be NULL", e.what());
  }
}

TEST(TstringsTest, FormatRejectsWhatVsnprintfCannotFormat) {
  // A wide character that the "C" locale cannot encode.
  const wchar_t unencodable[] = {static_cast<wchar_t>(0x100), 0};
  if (std::snprintf(nullptr, 0, "%ls", unencodable) >= 0) {
    GTEST_SKIP() << "this C library encodes U+0100 in the \"C\" locale";
  }
  try {
    tstrings::unsafe_format("%ls", unencodable);
    FAIL() << "no exception";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ("Failed to format \"%ls\" string", e.what());
  }
}

TEST(TstringsTest, AnyCollectsWhatAStreamInserts) {
  const char* const text = "text";
  EXPECT_EQ("Error7text", (tstrings::any("Error") << 7 << text).str());
  EXPECT_EQ("", tstrings::any().str());
  EXPECT_EQ("s-1 2.5", (tstrings::any(std::string("s")) << -1 << ' ' << 2.5)
                           .str());
  EXPECT_EQ("0x10", (tstrings::any() << reinterpret_cast<void*>(16)).str());

  tstrings::any msg("a");
  EXPECT_EQ("a", msg.str());
  msg << "b";
  EXPECT_EQ("ab", msg.str());
}

}  // namespace
