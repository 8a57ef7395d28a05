#include "FileTree.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <iostream>
#include <iterator>
#include <system_error>

#include "BundleError.h"
#include "Interruption.h"

namespace fs = std::filesystem;

namespace {

class TreeCopier {
 public:
  TreeCopier(const fs::path& from, const fs::path& to,
             const LinkRules& linkRules)
      : rules(linkRules),
        sourceTop(from),
        copyTop(to),
        canonicalCopyTop(canonical(to.parent_path()) / to.filename()) {
    if (rules.keepLinksInside) {
      canonicalTop = canonical(from);
    }
  }

  void copy(const fs::path& from, const fs::path& to) {
    // A runtime is thousands of files: a signal stops the copy between two.
    Interruption::check();
    std::error_code error;
    const fs::file_status own = fs::symlink_status(from, error);
    if (error) {
      throw BundleError(withReason("cannot read " + inQuotes(from), error));
    }
    if (!fs::is_symlink(own)) {
      copyResolved(from, to, own);
      return;
    }
    const fs::file_status target = fs::status(from, error);
    if (error && error != std::errc::no_such_file_or_directory &&
        error != std::errc::not_a_directory) {
      throw BundleError(
          withReason("cannot follow the link " + inQuotes(from), error));
    }
    if (!fs::exists(target)) {
      if (rules.leaveOutDangling) {
        return;
      }
      throw BundleError(inQuotes(from) + " is a link to " +
                        inQuotes(fs::read_symlink(from, error)) +
                        ", which does not exist");
    }
    if (rules.keepLinksInside) {
      const fs::path resolved = canonical(from);
      if (isWithin(resolved, canonicalTop)) {
        const fs::path copied =
            copyTop / resolved.lexically_relative(canonicalTop);
        createSymlink(copied.lexically_relative(to.parent_path()), to);
        return;
      }
    }
    copyResolved(from, to, target);
  }

 private:
  static fs::path canonical(const fs::path& path) {
    std::error_code error;
    fs::path resolved = fs::canonical(path, error);
    if (error) {
      throw BundleError(withReason("cannot resolve " + inQuotes(path), error));
    }
    return resolved;
  }

  void copyResolved(const fs::path& from, const fs::path& to,
                    const fs::file_status& status) {
    std::error_code error;
    if (fs::is_directory(status)) {
      copyFolder(from, to);
    } else if (fs::is_regular_file(status)) {
      if (!fs::copy_file(from, to, error)) {
        throw BundleError(withReason(
            "cannot copy " + inQuotes(from) + " to " + inQuotes(to), error));
      }
    } else {
      throw BundleError(inQuotes(from) + " is neither a file nor a folder");
    }
  }

  void copyFolder(const fs::path& from, const fs::path& to) {
    const fs::path resolved = canonical(from);
    if (std::find(openFolders.begin(), openFolders.end(), resolved) !=
        openFolders.end()) {
      throw BundleError(inQuotes(from) +
                        " leads back into a folder that holds it: a link loop");
    }
    if (isWithin(canonicalCopyTop, resolved)) {
      throw BundleError("cannot copy " + inQuotes(from) +
                        " into the bundle: it holds the bundle being made");
    }
    std::error_code error;
    // Folders get the usual mode, not the source's: a read-only one would
    // keep its entries out, and the next build from removing the bundle.
    if (!fs::create_directory(to, error)) {
      throw BundleError(withReason("cannot create " + inQuotes(to), error));
    }
    openFolders.push_back(resolved);
    fs::directory_iterator entries(from, error);
    for (; !error && entries != fs::directory_iterator();
         entries.increment(error)) {
      const fs::path entry = entries->path();
      const fs::path relative = entry.lexically_relative(sourceTop);
      if (std::find(rules.leaveOut.begin(), rules.leaveOut.end(), relative) ==
          rules.leaveOut.end()) {
        copy(entry, to / entry.filename());
      }
    }
    if (error) {
      throw BundleError(withReason("cannot list " + inQuotes(from), error));
    }
    openFolders.pop_back();
  }

  const LinkRules& rules;
  const fs::path sourceTop;
  const fs::path copyTop;
  const fs::path canonicalCopyTop;
  fs::path canonicalTop;
  // The folders being copied, outermost first, to tell a link loop.
  std::vector<fs::path> openFolders;
};

}  // namespace

void copyTree(const fs::path& from, const fs::path& to,
              const LinkRules& rules) {
  TreeCopier(from, to, rules).copy(from, to);
}

void copyExecutable(const fs::path& from, const fs::path& to) {
  copyTree(from, to);
  std::error_code error;
  fs::permissions(
      to,
      fs::perms::owner_exec | fs::perms::group_exec | fs::perms::others_exec,
      fs::perm_options::add, error);
  if (error) {
    throw BundleError(
        withReason("cannot make " + inQuotes(to) + " executable", error));
  }
}

void createDirectories(const fs::path& path) {
  std::error_code error;
  fs::create_directories(path, error);
  if (error) {
    throw BundleError(withReason("cannot create " + inQuotes(path), error));
  }
}

void createSymlink(const fs::path& target, const fs::path& link) {
  std::error_code error;
  fs::create_symlink(target, link, error);
  if (error) {
    throw BundleError(
        withReason("cannot make the link " + inQuotes(link), error));
  }
}

void writeFile(const fs::path& path, const std::string& text) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out << text;
  out.close();
  if (!out) {
    throw BundleError("cannot write " + inQuotes(path));
  }
}

std::string readFile(const std::string& path) {
  if (path == "-") {
    return std::string(std::istreambuf_iterator<char>(std::cin),
                       std::istreambuf_iterator<char>());
  }
  std::ifstream in(path, std::ios::binary);
  if (!in) {
    throw BundleError("cannot read " + inQuotes(path) + ": " +
                      std::strerror(errno));
  }
  std::string text((std::istreambuf_iterator<char>(in)),
                   std::istreambuf_iterator<char>());
  if (in.bad()) {
    throw BundleError("cannot read " + inQuotes(path));
  }
  return text;
}

bool isOnDisk(const fs::path& path) {
  std::error_code error;
  return fs::exists(fs::symlink_status(path, error));
}

bool isWithin(const fs::path& path, const fs::path& folder) {
  auto part = path.begin();
  for (const fs::path& folderPart : folder) {
    if (part == path.end() || *part != folderPart) {
      return false;
    }
    ++part;
  }
  return true;
}
