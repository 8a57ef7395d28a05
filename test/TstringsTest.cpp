#include "tstrings.h"

#include <cstdio>
#include <stdexcept>
#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

using tstrings::FOLD_CASE;

TEST(TstringsTest, ComparesWithAndWithoutCase) {
  EXPECT_FALSE(tstrings::equals("Abc", "aBC"));
  EXPECT_TRUE(tstrings::equals("Abc", "aBC", FOLD_CASE));
  EXPECT_TRUE(tstrings::equals("", "", FOLD_CASE));
  // Any mode but FOLD_CASE matches case; only ASCII capitals fold.
  EXPECT_FALSE(tstrings::equals("A", "a", tstrings::CompareType(7)));
  EXPECT_FALSE(tstrings::equals("\xC3\x84", "\xC3\xA4", FOLD_CASE));
  EXPECT_EQ("az@[\x80\xFF", tstrings::toLower("AZ@[\x80\xFF"));

  EXPECT_TRUE(tstrings::startsWith("-splash:x.png", "-splash:"));
  EXPECT_FALSE(tstrings::startsWith("-spl", "-splash:"));
  EXPECT_TRUE(tstrings::startsWith("", ""));
  EXPECT_TRUE(tstrings::startsWith("ABC", "ab", FOLD_CASE));
  EXPECT_FALSE(tstrings::endsWith("a", "ab"));
  EXPECT_TRUE(tstrings::endsWith("app.cfg", ""));
  EXPECT_FALSE(tstrings::endsWith("app.CFG", ".cfg"));
}

TEST(TstringsTest, SplitsAppendingToOut) {
  using tstrings::DROP_EMPTY;
  using tstrings::KEEP_EMPTY;
  using V = std::vector<std::string>;
  const struct {
    const char* s;
    const char* delimiter;
    tstrings::SplitType mode;
    V tokens;
  } rows[] = {
      {"a::b:", ":", KEEP_EMPTY, {"a", "", "b", ""}},
      {"a::b:", ":", DROP_EMPTY, {"a", "b"}},
      {"a::b:", ":", tstrings::SplitType(5), {"a", "b"}},
      {"x, y", ", ", KEEP_EMPTY, {"x", "y"}},
      {"", ":", KEEP_EMPTY, {}},
      {"a:b", "", KEEP_EMPTY, {}},
      {"abc", ":", KEEP_EMPTY, {"abc"}},
      {":", ":", KEEP_EMPTY, {"", ""}},
  };
  for (const auto& r : rows) {
    V out = {"kept"}, expected = {"kept"};
    expected.insert(expected.end(), r.tokens.begin(), r.tokens.end());
    tstrings::split(out, r.s, r.delimiter, r.mode);
    EXPECT_EQ(expected, out) << '"' << r.s << "\" mode " << r.mode;
  }
}

TEST(TstringsTest, ReplacesTrimsAndJoins) {
  EXPECT_EQ("ba", tstrings::replace("aaa", "aa", "b"));
  EXPECT_EQ("abc", tstrings::replace("abc", "", "x"));
  EXPECT_EQ("xx", tstrings::replace("x", "x", "xx"));
  EXPECT_EQ("/a/x:/a/y", tstrings::replace("$D/x:$D/y", "$D", "/a"));

  EXPECT_EQ("ab", tstrings::trim("  ab ", " "));
  EXPECT_EQ("", tstrings::trim("   ", " "));
  EXPECT_EQ(" a-b ", tstrings::trim(" a-b ", ""));
  EXPECT_EQ("a-b", tstrings::trim("-+a-b+-", "+-"));

  const std::vector<std::string> none, abc = {"a", "b", "c"};
  EXPECT_EQ("", tstrings::join(none.begin(), none.end(), ":"));
  EXPECT_EQ("a, b, c", tstrings::join(abc.begin(), abc.end(), ", "));
  EXPECT_EQ("a:b:c", tstrings::join(abc, ':'));
}

TEST(TstringsTest, FormatsBeyondFirstBufferAndRejectsBadFormats) {
  for (const std::size_t len : {255u, 256u, 257u, 5000u}) {
    const std::string text(len, 'x');
    EXPECT_EQ(text + "7", tstrings::unsafe_format("%s%d", text.c_str(), 7))
        << len;
  }
  const char* const nullFormat = nullptr;
  try {
    tstrings::unsafe_format(nullFormat);
    ADD_FAILURE() << "no exception for a null format";
  } catch (const std::invalid_argument& e) {
    EXPECT_STREQ("Destination buffer can't be NULL", e.what());
  }
  // A wide character that the "C" locale cannot encode makes vsnprintf fail.
  const wchar_t unencodable[] = {wchar_t(0x100), 0};
  if (std::snprintf(nullptr, 0, "%ls", unencodable) < 0) {
    EXPECT_THROW(tstrings::unsafe_format("%ls", unencodable),
                 std::invalid_argument);
  }
}

TEST(TstringsTest, AnyCollectsWhatAStreamInserts) {
  tstrings::any msg("Error");
  msg << 7 << static_cast<const char*>("text");
  EXPECT_EQ("Error7text", msg.str());
  EXPECT_EQ("Error7text-1", (msg << -1).str());  // keeps collecting
  EXPECT_EQ("", tstrings::any().str());
}

}  // namespace
