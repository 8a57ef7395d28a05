#include "FileUtils.h"

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "ErrorHandling.h"
#include "TempDir.h"

namespace {

// Changes the working directory for one test and goes back to the old one
// afterwards, even when the directory entered has been removed meanwhile.
class WorkingDirScope {
 public:
  explicit WorkingDirScope(const std::filesystem::path& dir)
      : oldDir(open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC)) {
    if (oldDir < 0) {
      throw std::runtime_error("cannot open the working directory");
    }
    if (chdir(dir.c_str()) != 0) {
      close(oldDir);
      throw std::runtime_error("cannot enter " + dir.string());
    }
  }
  ~WorkingDirScope() {
    if (fchdir(oldDir) != 0) {
      ADD_FAILURE() << "cannot return to the old working directory";
    }
    close(oldDir);
  }
  WorkingDirScope(const WorkingDirScope&) = delete;
  WorkingDirScope& operator=(const WorkingDirScope&) = delete;

 private:
  const int oldDir;
};

struct Row {
  const char* path;
  const char* result;
};

TEST(FileUtilsTest, TakesPathsApart) {
  const Row basenames[] = {{"a/b/c.txt", "c.txt"}, {"name", "name"},
                           {"a/b/", ""},           {"a\\b", "b"},
                           {"a\\b/c", "c"},        {"", ""}};
  for (const Row& r : basenames) {
    EXPECT_EQ(r.result, FileUtils::basename(r.path)) << r.path;
  }

  const Row dirnames[] = {
      {"a/b/c", "a/b"}, {"a/b//c", "a/b"}, {"a/b/", "a/b"},  {"a/b/.", "a"},
      {"a\\b\\.", "a"}, {"/a", ""},        {"/", ""},        {"//a", ""},
      {"/.", ""},       {"name", ""},      {"", ""},         {"a\\b", "a"},
      {"a//", "a"},     {"/a/b", "/a"},    {"a/./b", "a/."}, {"a/b/..", "a/b"},
  };
  for (const Row& r : dirnames) {
    EXPECT_EQ(r.result, FileUtils::dirname(r.path)) << r.path;
  }

  const Row suffixes[] = {
      {"a/b.tar.gz", ".gz"}, {"a.d/b", ""},         {".profile", ".profile"},
      {"a/.profile", ".profile"},                   {"a.", "."},
      {"..", ""},            {"a/..", ""},          {"a\\..", ""},
      {"a..b", ".b"},        {"name", ""},          {"", ""},
      {"a.d\\b", ""},        {"x/a..", "."},
  };
  for (const Row& r : suffixes) {
    EXPECT_EQ(r.result, FileUtils::suffix(r.path)) << r.path;
  }
}

TEST(FileUtilsTest, CombinesPaths) {
  struct {
    const char* parent;
    const char* child;
    const char* result;
  } const rows[] = {
      {"a/", "/b", "a/b"}, {"a//", "//b", "a//b"}, {"/", "b", "/b"},
      {"", "b", "b"},      {"a", "", "a"},         {"a\\", "b", "a/b"},
      {"a", "\\b", "a/b"}, {"", "", ""},           {"//", "/", "/"},
  };
  for (const auto& r : rows) {
    EXPECT_EQ(r.result, FileUtils::combinePath(r.parent, r.child))
        << r.parent << " + " << r.child;
  }
}

TEST(FileUtilsTest, RewritesSeparatorsAndSuffixes) {
  EXPECT_EQ("a/b", FileUtils::removeTrailingSlash("a/b//"));
  EXPECT_EQ("a/b", FileUtils::removeTrailingSlash("a/b\\/"));
  EXPECT_EQ("", FileUtils::removeTrailingSlash("/"));
  EXPECT_EQ("", FileUtils::removeTrailingSlash(""));
  EXPECT_EQ("a/b/c", FileUtils::normalizePath("a\\b\\c"));
  EXPECT_EQ("a//./../b", FileUtils::normalizePath("a/\\./..\\b"));

  EXPECT_EQ("a/b.cfg", FileUtils::replaceSuffix("a/b.txt", ".cfg"));
  EXPECT_EQ("a.d/b.cfg", FileUtils::replaceSuffix("a.d/b", ".cfg"));
  EXPECT_EQ("a/b", FileUtils::replaceSuffix("a/b.txt", ""));
  EXPECT_EQ("a/...cfg", FileUtils::replaceSuffix("a/..", ".cfg"));

  EXPECT_EQ("app.exe", FileUtils::stripExeSuffix("app.exe"));
  EXPECT_EQ(':', FileUtils::pathSeparator);
}

TEST(FileUtilsTest, FileExistsFollowsLinks) {
  const TempDir tmp;
  const std::filesystem::path file = tmp.path() / "file";
  std::ofstream(file) << "x";
  std::filesystem::create_symlink(file, tmp.path() / "link");
  std::filesystem::create_symlink(tmp.path() / "missing",
                                  tmp.path() / "dangling");

  EXPECT_FALSE(FileUtils::isFileExists(""));
  EXPECT_TRUE(FileUtils::isFileExists(tmp.path().string()));
  EXPECT_TRUE(FileUtils::isFileExists(file.string()));
  EXPECT_TRUE(FileUtils::isFileExists((tmp.path() / "link").string()));
  EXPECT_FALSE(FileUtils::isFileExists((tmp.path() / "dangling").string()));
  EXPECT_FALSE(FileUtils::isFileExists((tmp.path() / "missing").string()));
  EXPECT_FALSE(FileUtils::isFileExists((file / "below").string()));
}

TEST(FileUtilsTest, MakesPathsAbsoluteAgainstWorkingDir) {
  EXPECT_EQ("/x/y", FileUtils::toAbsolutePath("/x/y"));
  EXPECT_EQ("\\x", FileUtils::toAbsolutePath("\\x"));
  {
    const WorkingDirScope cwd("/");
    EXPECT_EQ("/y", FileUtils::toAbsolutePath("y"));
    EXPECT_EQ("/", FileUtils::toAbsolutePath(""));
  }
  const TempDir tmp;
  const std::string dir = std::filesystem::canonical(tmp.path()).string();
  const WorkingDirScope cwd(dir);
  EXPECT_EQ(dir + "/x/../y", FileUtils::toAbsolutePath("x/../y"));
  EXPECT_EQ(dir, FileUtils::toAbsolutePath(""));
}

TEST(FileUtilsTest, AcceptsWorkingDirDeeperThanFirstBuffer) {
  const TempDir tmp;
  std::filesystem::path deep = std::filesystem::canonical(tmp.path());
  for (int i = 0; i < 8; ++i) {
    deep /= std::string(200, 'd');
  }
  std::filesystem::create_directories(deep);
  ASSERT_GT(deep.string().size(), 1024u);
  const WorkingDirScope cwd(deep);
  EXPECT_EQ(deep.string() + "/x", FileUtils::toAbsolutePath("x"));
}

TEST(FileUtilsTest, ReportsRemovedWorkingDir) {
  const TempDir tmp;
  const std::filesystem::path gone = tmp.path() / "gone";
  std::filesystem::create_directory(gone);
  const WorkingDirScope cwd(gone);
  std::filesystem::remove(gone);
  const std::string expected =
      std::string("getcwd() failed. Error: ") + std::strerror(ENOENT);
  try {
    FileUtils::toAbsolutePath("x");
    FAIL() << "no exception";
  } catch (const WkErrorBase& e) {
    EXPECT_EQ(expected, e.rawMessage());
    EXPECT_EQ("UnixFileUtils.cpp(55) at toAbsolutePath(): " + expected,
              dynamic_cast<const std::runtime_error&>(e).what());
  }
}

}  // namespace
