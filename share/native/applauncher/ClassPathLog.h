#pragma once

#include <string>
#include <vector>

// What a Java runtime says with -Xlog:class+path=info (no decorations) as
// it checks a class-data archive before it maps it: the files on the class
// and module path the archive was made with, whose size and modification
// time must not have changed, the jars that their manifests' Class-Path
// names, resolved as the runtime resolves them, and those entries that
// named no file then and must still name none.
namespace ClassPathLog {

// The paths of the files the log says are checked, once each, in the
// order the runtime checks them. Knows the words of Java 17 to 25; a log
// in other words gives no paths.
std::vector<std::string> checkedFiles(const std::string& log);

}  // namespace ClassPathLog
