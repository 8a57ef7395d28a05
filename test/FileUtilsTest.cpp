#include "FileUtils.h"

#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>
#include <system_error>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "ErrorHandling.h"
#include "TempDir.h"

namespace fs = std::filesystem;

namespace {

// Enters `dir` and goes back at the end of the scope, even after a failure.
struct WorkingDirScope {
  explicit WorkingDirScope(const fs::path& dir) { fs::current_path(dir); }
  ~WorkingDirScope() { fs::current_path(old, ignored); }
  const fs::path old = fs::current_path();
  std::error_code ignored;
};

TEST(FileUtilsTest, TakesPathsApart) {
  using Fn = std::string (*)(const std::string&);
  using Cases = std::vector<std::pair<const char*, const char*>>;
  // clang-format off
  const std::pair<Fn, Cases> rows[] = {
      {FileUtils::basename, {{"a/b/c.txt", "c.txt"}, {"name", "name"},
          {"a/b/", ""}, {"a\\b/c", "c"}, {"", ""}}},
      {FileUtils::dirname, {{"a/b//c", "a/b"}, {"a/b/", "a/b"}, {"a/b/.", "a"},
          {"a\\b\\.", "a"}, {"a/b/..", "a/b"}, {"//a", ""}, {"/", ""},
          {"/.", ""}, {"name", ""}, {"", ""}}},
      {FileUtils::suffix, {{"a/b.tar.gz", ".gz"}, {"a.d\\b", ""},
          {"a/.profile", ".profile"}, {"a.", "."}, {"..", ""}, {"a\\..", ""},
          {"a..b", ".b"}, {"x/a..", "."}, {"", ""}}},
      {FileUtils::removeTrailingSlash, {{"a/b/\\/", "a/b"}, {"/", ""}}},
      {FileUtils::stripExeSuffix, {{"app.exe", "app.exe"}}},
  };
  // clang-format on
  for (const auto& row : rows) {
    for (const auto& [arg, result] : row.second) {
      EXPECT_EQ(result, row.first(arg)) << "row " << &row - rows << ": " << arg;
    }
  }
}

TEST(FileUtilsTest, JoinsAndRewritesPaths) {
  const char* const rows[][3] = {{"a//", "//b", "a//b"}, {"/", "b", "/b"},
                                 {"", "b", "b"},         {"a", "", "a"},
                                 {"a\\", "\\b", "a/b"},  {"//", "/", "/"}};
  for (const auto& r : rows) {
    EXPECT_EQ(r[2], FileUtils::combinePath(r[0], r[1])) << r[0] << "+" << r[1];
  }
  EXPECT_EQ("a//./../b", FileUtils::normalizePath("a/\\./..\\b"));
  EXPECT_EQ("a.d/b.cfg", FileUtils::replaceSuffix("a.d/b", ".cfg"));
  EXPECT_EQ("a/b", FileUtils::replaceSuffix("a/b.txt", ""));
}

TEST(FileUtilsTest, FileExistsFollowsLinks) {
  const TempDir tmp;
  std::ofstream(tmp.path() / "file") << "x";
  fs::create_symlink(tmp.path() / "file", tmp.path() / "link");
  fs::create_symlink(tmp.path() / "missing", tmp.path() / "dangling");
  for (const char* name : {"", "file", "link", "dangling", "file/below"}) {
    EXPECT_EQ(fs::exists(tmp.path() / name),
              FileUtils::isFileExists((tmp.path() / name).string()))
        << name;
    EXPECT_EQ(!fs::exists(tmp.path() / name),
              FileUtils::isFileMissing((tmp.path() / name).string()))
        << name;
  }
  EXPECT_FALSE(FileUtils::isFileExists(""));
  // Behind a folder that may not be searched a file is neither there nor
  // missing; root searches any folder.
  if (geteuid() != 0) {
    const fs::path locked = tmp.path() / "locked";
    fs::create_directory(locked);
    fs::permissions(locked, fs::perms::none);
    EXPECT_FALSE(FileUtils::isFileMissing((locked / "file").string()));
    fs::permissions(locked, fs::perms::owner_all);
  }
}

TEST(FileUtilsTest, MakesPathsAbsoluteAgainstWorkingDir) {
  EXPECT_EQ("\\x", FileUtils::toAbsolutePath("\\x"));
  {
    const WorkingDirScope root("/");
    EXPECT_EQ("/y", FileUtils::toAbsolutePath("y"));
    EXPECT_EQ("/", FileUtils::toAbsolutePath(""));
  }
  // Deeper than getcwd()'s first buffer of 1024 bytes.
  const TempDir tmp;
  const fs::path deep = fs::canonical(tmp.path()) / std::string(250, 'd') /
                        std::string(250, 'd') / std::string(250, 'd') /
                        std::string(250, 'd') / std::string(250, 'd');
  fs::create_directories(deep);
  const WorkingDirScope cwd(deep);
  EXPECT_EQ(deep.string() + "/x/../y", FileUtils::toAbsolutePath("x/../y"));
}

TEST(FileUtilsTest, ResolvesDotComponentsAsTheKernelDoes) {
  const TempDir tmp;
  const std::string t = fs::canonical(tmp.path()).string();
  fs::create_directories(t + "/a/b/c");
  fs::create_directory_symlink(t + "/a/b", t + "/link");
  const std::pair<std::string, std::string> rows[] = {
      {t + "/link/c", t + "/link/c"},  // no dots: links stay as written
      {t + "/a/b/../c", t + "/a/c"},
      {t + "/a/./b/.", t + "/a/b"},
      {t + "/a//b/../../x", t + "/x"},
      {t + "/link/../x", t + "/a/x"},  // up from where the link leads
      {t + "/link/c/../x", t + "/link/x"},
      {"/..", "/"},
      {"/../a/.", "/a"},
  };
  for (const auto& [path, expected] : rows) {
    EXPECT_EQ(expected, FileUtils::resolveDotComponents(path)) << path;
  }
}

TEST(FileUtilsTest, ReportsRemovedWorkingDir) {
  const TempDir tmp;
  fs::create_directory(tmp.path() / "gone");
  const WorkingDirScope cwd(tmp.path() / "gone");
  fs::remove(tmp.path() / "gone");
  const std::string raw =
      std::string("getcwd() failed. Error: ") + std::strerror(ENOENT);
  try {
    FileUtils::toAbsolutePath("x");
    ADD_FAILURE() << "no exception";
  } catch (const std::runtime_error& e) {
    EXPECT_EQ("UnixFileUtils.cpp(59) at toAbsolutePath(): " + raw, e.what());
    EXPECT_EQ(raw, dynamic_cast<const WkErrorBase&>(e).rawMessage());
  }
}

}  // namespace
