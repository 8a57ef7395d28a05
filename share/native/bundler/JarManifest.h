#pragma once

#include <filesystem>
#include <string>

// The Main-Class attribute of the manifest of `jar`, trimmed as the Java
// runtime trims it, or "" when the jar has no manifest or the manifest names
// none. Reads no more of the jar than the manifest's main section. Raises
// BundleError with the reason, not naming the jar, when `jar` is no jar that
// Java could read.
std::string jarMainClass(const std::filesystem::path& jar);
