#include "CacheDir.h"

#include <algorithm>
#include <cstdint>
#include <string>
#include <unordered_set>
#include <utility>
#include <vector>

#include "AppCdsStore.h"
#include "FileUtils.h"
#include "Fnv1a.h"
#include "SysInfo.h"
#include "tstrings.h"

namespace {

// A key folder is marked used at most this often: a start should not write
// to the disk every time only to say that it ran.
constexpr std::int64_t kUseResolutionNs = std::int64_t(3600) * 1000000000;

bool isKeyName(const std::string& name) {
  return name.size() == 16 &&
         name.find_first_not_of("0123456789abcdef") == std::string::npos;
}

// As the runtime's launcher tells a jar when it expands a "*" entry.
bool isJarName(const std::string& name) {
  return tstrings::endsWith(name, ".jar", tstrings::FOLD_CASE);
}

// "<folder>/*", or "*" for the working folder.
bool isWildcard(const std::string& entry) {
  return entry == "*" || tstrings::endsWith(entry, "/*");
}

void addSource(Fnv1a& key, const std::string& path) {
  const FileUtils::FileStatus status = FileUtils::getFileStatus(path);
  key.add(path)
      .add(std::to_string(status.size))
      .add(std::to_string(status.modifiedNs));
}

std::string folderName(std::string launcherName) {
  std::replace(launcherName.begin(), launcherName.end(),
               FileUtils::pathSeparator, '_');
  return launcherName;
}

}  // namespace

namespace CacheDir {

std::string forBundle(const std::string& launcherName,
                      const std::vector<std::string>& sources,
                      const std::vector<std::string>& jvmOptions) {
  const std::string root = SysInfo::getUserCacheDir();
  if (root.empty()) {
    return root;
  }
  Fnv1a key;
  for (const std::string& source : sources) {
    addSource(key, source);
    if (isWildcard(source)) {
      // The jars the runtime finds there, in the order the folder lists
      // them, which is the order of the class path it checks.
      const std::string prefix = source.substr(0, source.size() - 1);
      for (const std::string& name :
           FileUtils::listDirectory(prefix.empty() ? "." : prefix)) {
        if (isJarName(name)) {
          addSource(key, prefix + name);
        }
      }
    }
  }
  key.add(std::to_string(jvmOptions.size()));
  for (const std::string& option : jvmOptions) {
    key.add(option);
  }
  return root + "/" + folderName(launcherName) + "/" + key.hex();
}

std::vector<std::string> notFollowed(const std::vector<std::string>& sources,
                                     const std::vector<std::string>& paths) {
  const std::unordered_set<std::string> followed(sources.begin(),
                                                 sources.end());
  std::vector<std::string> rest;
  for (const std::string& path : paths) {
    const std::string::size_type slash = path.rfind('/');
    const std::string wildcard =
        slash == std::string::npos ? "*" : path.substr(0, slash + 1) + "*";
    if (followed.count(path) == 0 &&
        !(isJarName(path) && followed.count(wildcard) != 0)) {
      rest.push_back(path);
    }
  }
  return rest;
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
        FileUtils::getLinkStatus(parent + "/" + name);
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
    AppCdsStore::removeUnlessBeingMade(parent + "/" + folders[i].second);
  }
}

}  // namespace CacheDir
