// The key folders of one launcher in the user's cache, as pruning leaves
// them. What $CACHEDIR stands for is checked end to end, in
// LauncherEndToEndTest.

#include "CacheDir.h"

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <set>
#include <string>
#include <vector>

#include <gtest/gtest.h>

#include "TempDir.h"

namespace fs = std::filesystem;

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

}  // namespace
