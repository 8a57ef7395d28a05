#pragma once

#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

// Paths as plain byte strings. Both '/' and '\' are recognised as separators;
// '/' is the one inserted. The functions below stripExeSuffix, and
// isFileExists, isFileMissing, toAbsolutePath and resolveDotComponents,
// touch the file system.
namespace FileUtils {

// Separates the entries of a path list.
const char pathSeparator = ':';

bool isDirSeparator(char c);

std::string dirname(const std::string& path);
std::string basename(const std::string& path);
std::string suffix(const std::string& path);
std::string combinePath(const std::string& parent, const std::string& child);
std::string removeTrailingSlash(const std::string& path);
std::string normalizePath(std::string v);
std::string replaceSuffix(const std::string& path,
                          const std::string& newSuffix = std::string());

// True when stat() succeeds: links are followed, directories count.
bool isFileExists(const std::string& filePath);

// True when nothing is at `filePath` (stat() fails with ENOENT or ENOTDIR;
// a dangling link counts). Unlike !isFileExists, an entry that cannot be
// looked at, behind a folder that may not be searched, is not missing.
bool isFileMissing(const std::string& filePath);

// Purely textual: neither "." nor ".." nor links are resolved. Raises when
// the working directory cannot be read.
std::string toAbsolutePath(const std::string& path);

// `path` (absolute) with its "." and ".." components resolved as the kernel
// resolves them: ".." leads to the parent of where a linked folder leads.
// A path without such components is returned as it is, and the other
// components, links among them, stay as written. Only '/' separates here.
std::string resolveDotComponents(const std::string& path);

std::string stripExeSuffix(const std::string& path);

// A file opened for reading: `file` (closed by the caller with fclose), or
// null and the reason in the system's words.
struct OpenedFile {
  std::FILE* file;
  std::string failure;
};

// Opens a file for reading bytes, as fopen(path, "rb") does, but never
// waits: a FIFO without a writer would hold the caller up for good, and a
// terminal or a device may never end. So only a regular file or a directory
// (whose reading then fails) is opened; anything else is refused as "Not a
// regular file".
OpenedFile openForReading(const std::string& path);

// What stat() tells of a path, links followed.
struct FileStatus {
  bool exists = false;
  bool isDirectory = false;
  bool isRegularFile = false;
  std::uint64_t size = 0;
  std::int64_t modifiedNs = 0;  // since the epoch
  std::uint64_t inode = 0;
};

FileStatus getFileStatus(const std::string& path);

// What lstat() tells: a link is neither a directory nor a regular file.
FileStatus getLinkStatus(const std::string& path);

// How long ago the file of `status` was modified, in nanoseconds.
std::int64_t modifiedAgoNs(const FileStatus& status);

// Creates `path` and the folders above it that are missing, for the user
// alone (mode 0700). False, with the system's reason in `failure`, when
// `path` cannot be had as a folder.
bool createDirectories(const std::string& path, std::string& failure);

// The names in folder `path`, without "." and ".."; none when it cannot be
// read.
std::vector<std::string> listDirectory(const std::string& path);

// Whether `path` is a folder of the user this process runs as, that no one
// else can write to: a directory, not a link to one, owned by the effective
// user, without write permission for its group or others. Otherwise false,
// and why in a few words in `why`.
bool isPrivateFolder(const std::string& path, std::string& why);

// Where `path` leads when it is a link of the effective user's own, which
// only they can change: its target, made absolute. Otherwise `path` itself.
std::string throughOwnLink(const std::string& path);

// Removes `path` with all it holds, links as links; what cannot be removed
// stays. It never goes into a folder of another user.
void removeTree(const std::string& path);

// Sets the modification time of `path` to now; false when that fails.
bool touch(const std::string& path);

}  // namespace FileUtils
