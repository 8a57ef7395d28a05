#pragma once

#include <cstddef>
#include <string>
#include <vector>

// What $CACHEDIR stands for: a folder of this user's for one bundle as it
// is now, started with one set of JVM options: <user cache folder>/<launcher
// name>/<key>. The key follows what the runtime checks when it maps a
// class-data archive: the path, size and modification time of every source
// given (the bundle, its configuration, its runtime, the application's jars
// and folders, and the jars that an entry ending in "*" stands for), and
// the JVM options. So a moved, copied or updated bundle or runtime, or a
// start with other options, gets a folder of its own instead of an archive
// that the runtime would refuse.
namespace CacheDir {

// Empty when the user has no cache folder. Touches nothing on disk but the
// sources' status and the listing of the folders of "*" entries. Every ":"
// of the launcher's name becomes "_" in the folder's name: the runtime takes
// ":" in an archive's path for the start of another archive's.
std::string forBundle(const std::string& launcherName,
                      const std::vector<std::string>& sources,
                      const std::vector<std::string>& jvmOptions);

// Those of `paths` that the key of `sources` (as forBundle takes them) does
// not follow: neither one of them nor a jar that a "<folder>/*" among them
// stands for.
std::vector<std::string> notFollowed(const std::vector<std::string>& sources,
                                     const std::vector<std::string>& paths);

// Notes that `keyDir` is in use, so that pruning keeps it.
void markUsed(const std::string& keyDir);

// Keeps the `keep` most recently used key folders beside `keyDir` (itself
// among them) and removes older ones with what they hold, except those
// whose archive is being made.
void prune(const std::string& keyDir, std::size_t keep);

}  // namespace CacheDir
