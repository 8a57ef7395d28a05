#pragma once

#include <filesystem>
#include <string>
#include <vector>

// How copyTree treats symbolic links.
struct LinkRules {
  // Whether a link that leads somewhere inside the tree being copied is made
  // again, as a relative link to the same place in the copy. Otherwise, and
  // for links that lead out of the tree, what the link leads to is copied.
  bool keepLinksInside = false;
  // Whether a link that leads nowhere is left out; otherwise it fails the
  // copy, naming it.
  bool leaveOutDangling = false;
  // Entries below the tree, relative to its top, that are not copied.
  std::vector<std::filesystem::path> leaveOut;
};

// Copies the file or folder `from` to `to`, which must not exist yet,
// following links by `rules`. A folder that a followed link leads back into
// fails the copy as a link loop; so does anything that is neither a file
// nor a folder. Raises BundleError naming what could not be copied.
void copyTree(const std::filesystem::path& from,
              const std::filesystem::path& to, const LinkRules& rules = {});

// Copies the file `from`, following links, to `to` and makes it executable.
void copyExecutable(const std::filesystem::path& from,
                    const std::filesystem::path& to);

void createDirectories(const std::filesystem::path& path);
void createSymlink(const std::filesystem::path& target,
                   const std::filesystem::path& link);
void writeFile(const std::filesystem::path& path, const std::string& text);

// The whole file, or standard input for "-".
std::string readFile(const std::string& path);

// Whether `path` names something, a link that leads nowhere included.
bool isOnDisk(const std::filesystem::path& path);

// Whether `path` is `folder` or below it; both canonical.
bool isWithin(const std::filesystem::path& path,
              const std::filesystem::path& folder);
