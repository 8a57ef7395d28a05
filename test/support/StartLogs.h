#pragma once

#include <fcntl.h>
#include <sys/file.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

#include "ChildProcess.h"

// The logs of starts from the Finder: one per start, each written by a
// process of its own (the keeper), which holds the log's lock until the
// last writer has closed its pipe, after the start has ended.

// The paths of the log files in `folder`, sorted; none when it is missing.
inline std::vector<std::string> logsIn(const std::string& folder) {
  std::vector<std::string> logs;
  std::error_code missing;
  for (const auto& entry :
       std::filesystem::directory_iterator(folder, missing)) {
    if (entry.path().extension() == ".log") {
      logs.push_back(entry.path().string());
    }
  }
  std::sort(logs.begin(), logs.end());
  return logs;
}

// What the log at `path` holds once its keeper has ended, or once 20
// seconds have passed; empty when there is no such file.
inline std::string readFinishedLog(const std::string& path) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    return std::string();
  }
  const auto deadline =
      std::chrono::steady_clock::now() + std::chrono::seconds(20);
  while (flock(fd, LOCK_SH | LOCK_NB) != 0 &&
         std::chrono::steady_clock::now() < deadline) {
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  close(fd);
  return childprocess::readFile(path);
}

// The log that an alert names in its last line, or "".
inline std::string logNamedBy(const std::string& alert) {
  const std::string before = "The full log is in \"";
  const std::string::size_type start = alert.rfind(before);
  const std::string::size_type end = alert.rfind("\".");
  return start == std::string::npos || end == std::string::npos ||
                 end < start + before.size()
             ? std::string()
             : alert.substr(start + before.size(),
                            end - start - before.size());
}
