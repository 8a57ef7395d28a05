#pragma once

#include <string>

// Paths as plain byte strings. Both '/' and '\' are recognised as separators;
// '/' is the one inserted. Only isFileExists and toAbsolutePath touch the file
// system.
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

// Purely textual: neither "." nor ".." nor links are resolved. Raises when
// the working directory cannot be read.
std::string toAbsolutePath(const std::string& path);

std::string stripExeSuffix(const std::string& path);

}  // namespace FileUtils
