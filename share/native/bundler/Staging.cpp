#include "Staging.h"

#include <fcntl.h>
#include <stdlib.h>
#include <sys/file.h>
#include <unistd.h>  // mkdtemp on macOS

#include <cerrno>
#include <cstring>
#include <system_error>

#include "BundleError.h"
#include "FileTree.h"

namespace fs = std::filesystem;

namespace {

constexpr char kLockName[] = "lock";
constexpr std::size_t kUniqueSuffixSize = 6;  // mkdtemp's XXXXXX

// Opens `path`, creating it, and locks it without waiting: the descriptor,
// or -1 when another process holds the lock or the file cannot be opened.
// The lock goes when the process ends, however it ends.
int lockFile(const fs::path& path) {
  const int fd =
      open(path.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
  if (fd >= 0 && flock(fd, LOCK_EX | LOCK_NB) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

void moveOrFail(const fs::path& from, const fs::path& to) {
  std::error_code error;
  fs::rename(from, to, error);
  if (error) {
    throw BundleError(withReason("cannot move " + inQuotes(from.string()) +
                                     " to " + inQuotes(to.string()),
                                 error));
  }
}

}  // namespace

Staging::Staging(const fs::path& outDir, const std::string& name)
    : out(fs::absolute(outDir).lexically_normal()), bundleName(name + ".app") {
  if (out.filename().empty()) {
    out = out.parent_path();
  }
  try {
    create();
  } catch (...) {
    std::error_code ignored;
    if (!folder.empty()) {
      fs::remove_all(folder, ignored);
    }
    removeCreatedFolders();
    throw;
  }
}

void Staging::create() {
  for (fs::path missing = out; !isOnDisk(missing);
       missing = missing.parent_path()) {
    createdFolders.insert(createdFolders.begin(), missing);
  }
  for (const fs::path& created : createdFolders) {
    std::error_code error;
    fs::create_directory(created, error);
    if (error) {
      throw BundleError(withReason(
          "cannot create the output folder " + inQuotes(out.string()), error));
    }
  }
  removeStaleFolders();
  std::string pattern = (out / ("." + bundleName + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) {
    const int reason = errno;
    throw BundleError("cannot write into the output folder " +
                      inQuotes(out.string()) + ": " + std::strerror(reason));
  }
  folder = pattern;
  staged = folder / "root" / bundleName;
  lock = lockFile(folder / kLockName);
  if (lock < 0) {
    // Only a run that took this folder for a stale one in the moment
    // since mkdtemp made it can hold the lock, or have removed the folder.
    throw BundleError("cannot lock the staging folder " +
                      inQuotes(folder.string()) +
                      ": another run of the tool removes it");
  }
}

// A staging folder of this name whose lock can be taken belongs to no
// running tool: one that was killed, or an older tool that had no lock.
void Staging::removeStaleFolders() const {
  const std::string prefix = "." + bundleName + "-";
  std::vector<fs::path> candidates;
  std::error_code error;
  for (fs::directory_iterator entry(out, error), end; !error && entry != end;
       entry.increment(error)) {
    const std::string name = entry->path().filename().string();
    if (name.size() == prefix.size() + kUniqueSuffixSize &&
        name.compare(0, prefix.size(), prefix) == 0 &&
        fs::is_directory(entry->symlink_status(error))) {
      candidates.push_back(entry->path());
    }
  }
  for (const fs::path& candidate : candidates) {
    const int stale = lockFile(candidate / kLockName);
    if (stale >= 0) {
      std::error_code ignored;
      fs::remove_all(candidate, ignored);
      close(stale);
    }
  }
}

Staging::~Staging() {
  std::error_code ignored;
  if (!folder.empty()) {
    fs::remove_all(folder, ignored);
  }
  if (lock >= 0) {
    close(lock);
  }
  if (!committed) {
    removeCreatedFolders();
  }
}

void Staging::removeCreatedFolders() {
  std::error_code ignored;
  for (auto created = createdFolders.rbegin(); created != createdFolders.rend();
       ++created) {
    fs::remove(*created, ignored);
  }
}

fs::path Staging::beside(const std::string& fileName) const {
  return folder / fileName;
}

fs::path Staging::scratch() const {
  const fs::path path = folder / "scratch";
  createDirectories(path);
  return path;
}

fs::path Staging::commit(const std::vector<std::string>& besideFiles) {
  for (const std::string& file : besideFiles) {
    moveOrFail(beside(file), out / file);
  }
  const fs::path target = out / bundleName;
  const fs::path previous = folder / ".previous";
  const bool replacing = isOnDisk(target);
  if (replacing) {
    moveOrFail(target, previous);
  }
  try {
    moveOrFail(staged, target);
  } catch (const BundleError&) {
    if (replacing) {
      std::error_code ignored;
      fs::rename(previous, target, ignored);
    }
    throw;
  }
  committed = true;
  return target;
}
