#include "SysInfo.h"

#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <new>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "RaisedMessage.h"
#include "TempDir.h"

namespace fs = std::filesystem;

namespace {

const std::string kExe = "app/Tool.app/Contents/MacOS/tool";
const std::string kEntryTarget = "../" + kExe;

std::vector<char> nulTerminated(const std::string& s) {
  std::vector<char> v(s.begin(), s.end());
  v.push_back('\0');
  return v;
}

// Enters `dir` for the life of the object.
class WorkingDir {
 public:
  explicit WorkingDir(const fs::path& dir) : saved(fs::current_path()) {
    fs::current_path(dir);
  }
  ~WorkingDir() { fs::current_path(saved); }

 private:
  const fs::path saved;
};

// A bundle with a command-line entry point bin/tool -> ../<kExe>, the way
// such tools are installed.
void makeBundle(const fs::path& root, const fs::path& exeSource = {}) {
  fs::create_directories((root / kExe).parent_path());
  fs::create_directories(root / "bin");
  if (exeSource.empty()) {
    std::ofstream(root / kExe) << "x";
  } else {
    fs::copy_file(exeSource, root / kExe);
  }
  fs::create_symlink(kEntryTarget, root / "bin/tool");
}

TEST(SysInfoTest, GetRealPathFollowsLinksAgainstTheirOwnDirectory) {
  const TempDir dir;
  const std::string d = dir.path().string();
  makeBundle(d);
  fs::create_directories(d + "/links");
  fs::create_symlink(d + "/" + kExe, d + "/bin/abs");
  fs::create_symlink("../links/hop", d + "/bin/chain");
  fs::create_symlink(kEntryTarget, d + "/links/hop");
  std::string longTarget;  // Longer than any fixed 1024-byte buffer.
  for (int i = 0; i < 600; ++i) {
    longTarget += "./";
  }
  longTarget += kEntryTarget;
  fs::create_symlink(longTarget, d + "/bin/long");

  // The bundle root is the working directory, not the links' directory.
  const WorkingDir cwd(d);
  const struct {
    std::string path;
    std::string expected;
  } rows[] = {
      {kExe, kExe},
      {d + "/bin/abs", d + "/" + kExe},
      {d + "/bin/tool", d + "/bin/" + kEntryTarget},
      {"bin/tool", "bin/" + kEntryTarget},
      {"bin/chain", "bin/../links/" + kEntryTarget},
      {"bin/long", "bin/" + longTarget},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.expected, SysInfo::getRealPath(nulTerminated(row.path)))
        << row.path;
  }
  const WorkingDir inBin(d + "/bin");
  EXPECT_EQ(kEntryTarget, SysInfo::getRealPath(nulTerminated("tool")));
}

TEST(SysInfoTest, GetRealPathFailures) {
  const TempDir dir;
  const std::string d = dir.path().string();
  fs::create_symlink(d + "/missing", d + "/dangling");
  fs::create_symlink("loop-b", d + "/loop-a");
  fs::create_symlink("loop-a", d + "/loop-b");
  std::ofstream(d + "/hop0") << "x";
  for (int i = 1; i <= 41; ++i) {
    fs::create_symlink("hop" + std::to_string(i - 1),
                       d + "/hop" + std::to_string(i));
  }
  // As many links as the kernel follows, and not one more.
  EXPECT_EQ(d + "/hop0", SysInfo::getRealPath(nulTerminated(d + "/hop40")));

  const std::string noEntry = std::strerror(ENOENT);
  const std::string loop = std::strerror(ELOOP);
  const struct {
    std::vector<char> path;
    std::string expected;
  } rows[] = {
      {nulTerminated(d + "/none"),
       "lstat(" + d + "/none) failed. Error: " + noEntry},
      {nulTerminated(d + "/dangling"),
       "lstat(" + d + "/missing) failed. Error: " + noEntry},
      {nulTerminated(d + "/loop-a"),
       "readlink(" + d + "/loop-a) failed. Error: " + loop},
      {nulTerminated(d + "/hop41"),
       "readlink(" + d + "/hop41) failed. Error: " + loop},
      {{}, "lstat() failed. Error: " + noEntry},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.expected,
              raisedMessage([&] { SysInfo::getRealPath(row.path); }));
  }
}

// Runs a shell command and returns its output, or why it failed.
std::string shellOutput(const std::string& command) {
  FILE* pipe = popen(command.c_str(), "r");
  if (pipe == nullptr) {
    return "popen failed";
  }
  std::string out;
  char buf[256];
  while (fgets(buf, sizeof buf, pipe) != nullptr) {
    out += buf;
  }
  const int status = pclose(pipe);
  return WIFEXITED(status) && WEXITSTATUS(status) == 0 ? out : "failed: " + out;
}

TEST(SysInfoTest, GetProcessModulePathFindsBundleHoweverStarted) {
  const TempDir dir;
  const std::string d = dir.path().string();
  makeBundle(d, MODULE_PATH_PRINTER);
  // The link's ".." is resolved: a bundle climbed from bin/../app/... by
  // text would be the wrong one.
  const std::string viaEntry = d + "/" + kExe + "\n";
  const struct {
    std::string command;
    std::string expected;
  } rows[] = {
      {"cd '" + d + "' && exec " + kExe, d + "/" + kExe + "\n"},
      {"cd '" + d + "' && exec bin/tool", viaEntry},
      {"cd / && exec '" + d + "/bin/tool'", viaEntry},
      // The shell executes the full path it found on PATH.
      {"cd / && PATH='" + d + "/bin' && exec tool", viaEntry},
  };
  for (const auto& row : rows) {
    EXPECT_EQ(row.expected, shellOutput(row.command)) << row.command;
  }
}

TEST(SysInfoTest, GetCommandArgsDropsProcessSerialNumbersOnly) {
  std::vector<std::string> given = {"prog",   "-psn_0_1", "a", "",
                                    "-PSN_1", "x-psn_1",  "b"};
  std::vector<char*> argv;
  for (std::string& a : given) {
    argv.push_back(a.data());
  }
  SysInfo::argv = argv.data();
  SysInfo::argc = static_cast<int>(argv.size());
  const std::vector<std::string> rest = {"a", "", "-PSN_1", "x-psn_1", "b"};
  EXPECT_EQ(rest, SysInfo::getCommandArgs(SysInfo::ExcludeProgramName));
  std::vector<std::string> all = rest;
  all.insert(all.begin(), "prog");
  EXPECT_EQ(all, SysInfo::getCommandArgs(SysInfo::IncludeProgramName));

  argv[0] = given[1].data();
  SysInfo::argc = 1;
  EXPECT_TRUE(SysInfo::getCommandArgs(SysInfo::IncludeProgramName).empty());
  EXPECT_TRUE(SysInfo::getCommandArgs().empty());
  SysInfo::argc = 0;
  SysInfo::argv = nullptr;
}

TEST(SysInfoTest, EnvironmentVariables) {
  const std::string name = "WRAPKIN_SYSINFO_TEST";
  unsetenv(name.c_str());
  EXPECT_FALSE(SysInfo::isEnvVariableSet(name));
  EXPECT_EQ("def", SysInfo::getEnvVariable(std::nothrow, name, "def"));
  EXPECT_EQ("getenv(" + name + ") failed. Variable not set",
            raisedMessage([&] { SysInfo::getEnvVariable(name); }));

  SysInfo::setEnvVariable(name, "");
  EXPECT_TRUE(SysInfo::isEnvVariableSet(name));
  EXPECT_EQ("", SysInfo::getEnvVariable(std::nothrow, name, "def"));
  unsetenv(name.c_str());

  for (const std::string bad : {"", "A=B"}) {
    EXPECT_EQ("setenv(" + bad + ", v) failed. Error: " + std::strerror(EINVAL),
              raisedMessage([&] { SysInfo::setEnvVariable(bad, "v"); }));
  }
}

TEST(SysInfoTest, OnlyAClosedDescriptorOrTheNullDeviceIsWrittenToNoOne) {
  const TempDir dir;
  int fds[2];
  ASSERT_EQ(0, pipe(fds));
  const int nullDevice = open("/dev/null", O_WRONLY);
  const int file = open((dir.path() / "f").c_str(), O_WRONLY | O_CREAT, 0600);
  EXPECT_TRUE(SysInfo::isWrittenToNoOne(nullDevice));
  EXPECT_FALSE(SysInfo::isWrittenToNoOne(fds[1]));
  EXPECT_FALSE(SysInfo::isWrittenToNoOne(file));
  for (int fd : {fds[0], fds[1], nullDevice, file}) {
    close(fd);
  }
  EXPECT_TRUE(SysInfo::isWrittenToNoOne(file));  // closed now
}

}  // namespace
