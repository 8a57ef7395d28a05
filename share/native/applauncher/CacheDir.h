#pragma once

#include <cstddef>
#include <string>
#include <vector>

// What $CACHEDIR stands for: a folder of this user's for one bundle as it
// is now, <user cache folder>/<launcher name>/<key>. The key follows the
// path, size and modification time of every source given (the bundle, its
// configuration, its runtime's libjli, the application's jars and folders),
// so that a moved, copied or updated bundle or runtime gets a folder of its
// own instead of one whose contents no longer fit.
namespace CacheDir {

// Empty when the user has no cache folder. Touches nothing on disk but the
// sources' status.
std::string forBundle(const std::string& launcherName,
                      const std::vector<std::string>& sources);

// Notes that `keyDir` is in use, so that pruning keeps it.
void markUsed(const std::string& keyDir);

// Keeps the `keep` most recently used key folders beside `keyDir` (itself
// among them) and removes older ones with what they hold.
void prune(const std::string& keyDir, std::size_t keep);

}  // namespace CacheDir
