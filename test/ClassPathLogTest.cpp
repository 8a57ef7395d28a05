// The files a runtime says it checks before it maps a class-data archive,
// from the words of Java 17 and 25 (-Xlog:class+path=info:stdout:none with
// a jar whose manifest's Class-Path names one jar that is there and one
// that is not, and a module path jar).

#include "ClassPathLog.h"

#include <string>
#include <vector>

#include <gtest/gtest.h>

namespace {

TEST(ClassPathLogTest, FindsTheCheckedFilesInTheWordsOfEachRuntime) {
  const struct {
    const char* label;
    std::string log;
    std::vector<std::string> files;
  } rows[] = {
      {"Java 17, which names a file twice",
       "bootstrap loader class path=/jdk/lib/modules\n"
       "Expecting BOOT path=/jdk/lib/modules\n"
       "Expecting -Djava.class.path=/a/app.jar:/a/lib/dep.jar\n"
       "checking shared classpath entry: /jdk/lib/modules\n"
       "ok\n"
       "checking shared classpath entry: /a/app.jar\n"
       "ok\n"
       "checking shared classpath entry: /a/lib/dep.jar\n"
       "checking shared classpath entry: /a/lib/dep.jar\n"
       "should be non-existent: /a/lib/dep%20one.jar\n"
       "checking shared classpath entry: /a/mods/m.jar\n",
       {"/jdk/lib/modules", "/a/app.jar", "/a/lib/dep.jar",
        "/a/lib/dep%20one.jar", "/a/mods/m.jar"}},
      {"Java 25, with quotes in a path and no end of line at the end",
       "Reading classpath(s) from /c/T.jsa (size = 4)\n"
       "(app   ) [1] = /a/app.jar\n"
       "Checking [0] (modules image)\n"
       "ok\n"
       "Checking app classpath\n"
       "- expected : '/a/app.jar'\n"
       "Checking [1] '/a/app.jar' file\n"
       "Checking [2] '/a/lib/rock 'n' roll.jar' file (from JAR manifest "
       "ClassPath "
       "attribute)\n"
       "Checking [3] '/a/lib/dep%20one.jar' not-exist (from JAR manifest "
       "ClassPath attribute)\n"
       "Checking [4] '/a/classes' dir\n"
       "Checking module paths\n"
       "Checking '/a/mods/m.jar' file",
       {"/a/app.jar", "/a/lib/rock 'n' roll.jar", "/a/lib/dep%20one.jar",
        "/a/classes", "/a/mods/m.jar"}},
      {"other words", "Checking [1] /a/app.jar\nchecking /a/b.jar\n\n", {}},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.files, ClassPathLog::checkedFiles(row.log)) << row.label;
  }
}

}  // namespace
