#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <chrono>
#include <filesystem>
#include <string>
#include <system_error>
#include <thread>
#include <vector>

// Whether a process holds the lock at `path`, as a start and the waiter it
// leaves hold an archive's lock while they make it.
inline bool isLockHeld(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return false;
  }
  const bool held = flock(fd, LOCK_EX | LOCK_NB) != 0;
  close(fd);
  return held;
}

// The archives completed under `cache`, once no start or waiter is making
// one (the dump runs after its start has ended); none when that takes more
// than two minutes.
inline std::vector<std::string> completedArchives(const std::string& cache) {
  namespace fs = std::filesystem;
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::minutes(2);
  for (;;) {
    std::vector<std::string> archives;
    bool making = false;
    std::error_code ignored;
    for (fs::recursive_directory_iterator it(cache, ignored), end; it != end;
         it.increment(ignored)) {
      const std::string path = it->path().string();
      const auto endsWith = [&](const std::string& suffix) {
        return path.size() > suffix.size() &&
               path.compare(path.size() - suffix.size(), suffix.size(),
                            suffix) == 0;
      };
      making = making || (endsWith(".lock") && isLockHeld(path));
      if (endsWith(".done")) {
        archives.push_back(path.substr(0, path.size() - 5));
      }
    }
    if (!making) {
      return archives;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      return {};
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(100));
  }
}
