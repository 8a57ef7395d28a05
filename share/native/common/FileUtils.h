#pragma once

#include <cstdio>
#include <string>

// Paths as plain byte strings. Both '/' and '\' are recognised as separators;
// '/' is the one inserted. Only isFileExists, isFileMissing, toAbsolutePath,
// resolveDotComponents and openForReading touch the file system.
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

}  // namespace FileUtils
