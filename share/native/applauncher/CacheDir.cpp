#include "CacheDir.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <utility>
#include <vector>

#include "FileUtils.h"
#include "Fnv1a.h"
#include "SysInfo.h"

namespace {

// A key folder is marked used at most this often: a start should not write
// to the disk every time only to say that it ran.
constexpr std::int64_t kUseResolutionNs = std::int64_t(3600) * 1000000000;

bool isKeyName(const std::string& name) {
  return name.size() == 16 &&
         name.find_first_not_of("0123456789abcdef") == std::string::npos;
}

}  // namespace

namespace CacheDir {

std::string forBundle(const std::string& launcherName,
                      const std::vector<std::string>& sources) {
  const std::string root = SysInfo::getUserCacheDir();
  if (root.empty()) {
    return root;
  }
  Fnv1a key;
  for (const std::string& source : sources) {
    const FileUtils::FileStatus status = FileUtils::getFileStatus(source);
    key.add(source)
        .add(std::to_string(status.size))
        .add(std::to_string(status.modifiedNs));
  }
  return root + "/" + launcherName + "/" + key.hex();
}

void markUsed(const std::string& keyDir) {
  const FileUtils::FileStatus status = FileUtils::getFileStatus(keyDir);
  if (status.isDirectory &&
      FileUtils::modifiedAgoNs(status) > kUseResolutionNs) {
    FileUtils::touch(keyDir);
  }
}

void prune(const std::string& keyDir, std::size_t keep) {
  const std::string parent = FileUtils::dirname(keyDir);
  const std::string current = FileUtils::basename(keyDir);
  // Newest first; the folder in use counts as the newest of all.
  std::vector<std::pair<std::int64_t, std::string>> folders;
  for (const std::string& name : FileUtils::listDirectory(parent)) {
    if (!isKeyName(name)) {
      continue;
    }
    const FileUtils::FileStatus status =
        FileUtils::getFileStatus(parent + "/" + name);
    if (status.isDirectory) {
      folders.emplace_back(name == current ? INT64_MAX : status.modifiedNs,
                           name);
    }
  }
  if (folders.size() <= keep) {
    return;
  }
  std::sort(folders.rbegin(), folders.rend());
  for (std::size_t i = keep; i < folders.size(); ++i) {
    FileUtils::removeTree(parent + "/" + folders[i].second);
  }
}

}  // namespace CacheDir
