#include "Staging.h"

#include <stdlib.h>
#include <unistd.h>  // mkdtemp on macOS

#include <cerrno>
#include <cstring>
#include <system_error>

#include "BundleError.h"
#include "FileTree.h"

namespace fs = std::filesystem;

namespace {

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
  std::string pattern = (out / ("." + bundleName + "-XXXXXX")).string();
  if (mkdtemp(pattern.data()) == nullptr) {
    const int reason = errno;
    throw BundleError("cannot write into the output folder " +
                      inQuotes(out.string()) + ": " + std::strerror(reason));
  }
  folder = pattern;
  staged = folder / bundleName;
}

Staging::~Staging() {
  std::error_code ignored;
  if (!folder.empty()) {
    fs::remove_all(folder, ignored);
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
