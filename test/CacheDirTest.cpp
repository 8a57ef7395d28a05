// The key folders of one launcher in the user's cache, as pruning leaves
// them, and the locks with which pruning and a start that makes an archive
// keep out of each other's way. What $CACHEDIR stands for is checked end to
// end, in LauncherEndToEndTest.

#include "CacheDir.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <functional>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include <gtest/gtest.h>

#include "AppCdsStore.h"
#include "TempDir.h"

namespace fs = std::filesystem;

namespace {

// Runs once, at the next flock of this process, before it locks: what
// another process may do between a lock file's open and its lock.
std::function<void()> beforeNextFlock;

}  // namespace

#if defined(__GLIBC__)
#define WRAPKIN_AS_DECLARED noexcept
#else
#define WRAPKIN_AS_DECLARED
#endif

// The launcher's calls of flock, in this test program, come here first.
extern "C" int flock(int fd, int operation) WRAPKIN_AS_DECLARED {
  using Flock = int (*)(int, int);
  static const Flock next = reinterpret_cast<Flock>(dlsym(RTLD_NEXT, "flock"));
  if (beforeNextFlock) {
    const std::function<void()> hook = std::move(beforeNextFlock);
    beforeNextFlock = nullptr;
    hook();
  }
  return next(fd, operation);
}

namespace {

// The newest folders stay, the one in use counting as the newest of all,
// and so does an older one whose archive another process is making: a start
// that writes into a folder must not lose it.
TEST(CacheDirTest, PruningKeepsTheNewestFoldersAndThoseBeingMade) {
  const TempDir tmp;
  const fs::path launcher = tmp.path() / "Tool";
  std::vector<std::string> keys;
  for (unsigned i = 0; i < 12; ++i) {
    char key[17];
    std::snprintf(key, sizeof(key), "%016x", i);
    keys.push_back(key);
    fs::create_directories(launcher / key);
    std::ofstream(launcher / key / "T.jsa") << "archive";
  }
  fs::create_directories(launcher / "other");
  const int lock = open((launcher / keys[1] / "T.jsa.lock").c_str(),
                        O_CREAT | O_RDWR | O_CLOEXEC, 0600);
  ASSERT_EQ(0, flock(lock, LOCK_EX | LOCK_NB));
  // keys[0] the oldest and in use, keys[11] the newest.
  const auto now = fs::file_time_type::clock::now();
  for (unsigned i = 0; i < keys.size(); ++i) {
    fs::last_write_time(launcher / keys[i], now - std::chrono::hours(12 - i));
  }

  CacheDir::prune((launcher / keys[0]).string(), 8);
  close(lock);

  std::set<std::string> left;
  for (const auto& entry : fs::directory_iterator(launcher)) {
    left.insert(entry.path().filename().string());
  }
  std::set<std::string> expected{keys[0], keys[1], "other"};
  expected.insert(keys.begin() + 5, keys.end());
  EXPECT_EQ(expected, left);
}

// A start that opened the lock file of a folder that pruning then removed
// locks nothing: it must not go on to make the archive there.
TEST(CacheDirTest, ALockFileRemovedBeforeItIsLockedIsNotTaken) {
  const TempDir tmp;
  const fs::path folder = tmp.path() / "0000000000000000";
  fs::create_directories(folder);
  beforeNextFlock = [&] { fs::remove_all(folder); };

  EXPECT_EQ(AppCdsStore::Lock::failed,
            AppCdsStore::lockForMaking((folder / "T.jsa").string()));
  AppCdsStore::releaseLock();
}

// Pruning that opened a lock file which, before pruning locked it, another
// process removed with its folder and a start then made anew, and holds,
// leaves the folder to that start.
TEST(CacheDirTest, PruningLeavesAFolderWhoseLockFileWasReplaced) {
  const TempDir tmp;
  const fs::path folder = tmp.path() / "0000000000000000";
  const fs::path lockFile = folder / "T.jsa.lock";
  fs::create_directories(folder);
  std::ofstream(lockFile.string()) << "";
  int startsLock = -1;
  beforeNextFlock = [&] {
    fs::remove_all(folder);
    fs::create_directories(folder);
    startsLock = open(lockFile.c_str(), O_CREAT | O_RDWR | O_CLOEXEC, 0600);
    ASSERT_EQ(0, flock(startsLock, LOCK_EX | LOCK_NB));
  };

  AppCdsStore::removeUnlessBeingMade(folder.string());
  close(startsLock);

  EXPECT_TRUE(fs::exists(lockFile));
}

// What the runtime checks beyond the key: the key follows the paths it is
// given and the jars of their "<folder>/*" entries.
TEST(CacheDirTest, NotFollowedAreThePathsBeyondTheKey) {
  const std::vector<std::string> sources{"/b/a.jar", "/b/lib/*", "/b/mods",
                                         "/b/mods/*", "/jdk/lib/modules"};
  const std::vector<std::string> paths{
      "/b/a.jar",     "/b/lib/x.jar",     "/b/lib/X.JAR",
      "/b/lib/x.zip", "/b/lib/s/y.jar",   "/b/mods/m.jar",
      "/b/dep.jar",   "/jdk/lib/modules", "dep.jar"};

  EXPECT_EQ((std::vector<std::string>{"/b/lib/x.zip", "/b/lib/s/y.jar",
                                      "/b/dep.jar", "dep.jar"}),
            CacheDir::notFollowed(sources, paths));
}

}  // namespace
