#include "AppLauncher.h"

#include <string>

#include <gtest/gtest.h>

namespace {

TEST(AppLauncherTest, AncestorDirNeverClimbsPastTheTop) {
  const struct {
    const char* path;
    int levels;
    const char* expected;
  } rows[] = {
      {"/A/B.app/Contents/MacOS/x", 3, "/A/B.app"},
      {"/A/B.app/Contents/MacOS/x", 1, "/A/B.app/Contents/MacOS"},
      {"/A/B.app/Contents/MacOS/x", 0, "/A/B.app/Contents/MacOS/x"},
      // A launcher installed as /usr/bin/x or /x: the bundle root is "/",
      // never a path relative to the working directory.
      {"/usr/bin/x", 3, "/"},
      {"/a/x", 3, "/"},
      {"/x", 3, "/"},
      {"/", 3, "/"},
      // A relative path climbs as far as it goes.
      {"a/b/c/x", 3, "a"},
      {"b/c/x", 3, ""},
      {"", 3, ""},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.expected, AppLauncher::ancestorDir(row.path, row.levels))
        << row.path << " up " << row.levels;
  }
}

}  // namespace
