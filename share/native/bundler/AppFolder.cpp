#include "AppFolder.h"

#include <system_error>

#include "BundleError.h"
#include "BundleOptions.h"
#include "CfgText.h"
#include "FileTree.h"

namespace fs = std::filesystem;

namespace {

// The absolute path of `value`, with "." and ".." and any trailing "/"
// taken away, so that its last part is the name the copy gets.
fs::path sourcePath(const std::string& value) {
  fs::path path = fs::absolute(value).lexically_normal();
  if (path.filename().empty()) {
    path = path.parent_path();
  }
  return path;
}

}  // namespace

AppFolder::AppFolder(const BundleOptions& options) {
  if (!options.omits("cfg")) {
    cfgName = options.name + ".cfg";
  }
  if (!options.mainJar.empty()) {
    add(options.mainJar, "--main-jar");
  }
  for (const std::string& entry : options.classPath) {
    add(entry, "--class-path");
  }
  for (const std::string& entry : options.modulePath) {
    add(entry, "--module-path");
  }
  if (!options.splash.empty()) {
    add(options.splash, "--splash");
  }
  for (const std::string& file : options.appFiles) {
    add(file, "--app-file");
  }
}

void AppFolder::add(const std::string& value, const char* option) {
  if (value.empty()) {
    throw BundleError(std::string(option) + " names no file or folder");
  }
  // The configuration names every input but the app files.
  const bool named = std::string(option) != "--app-file";
  if (isWrittenAsGiven(value) && named) {
    return;
  }
  const fs::path source = sourcePath(value);
  std::error_code error;
  if (!fs::exists(fs::status(source, error))) {
    if (isOnDisk(source)) {
      throw BundleError(
          std::string(option) + " " + inQuotes(value) + " is a link to " +
          inQuotes(fs::read_symlink(source, error)) + ", which does not exist");
    }
    throw BundleError(std::string(option) + " " + inQuotes(value) +
                      ": no such file or folder");
  }
  const std::string name = source.filename().string();
  if (name.empty() || name == "..") {
    throw BundleError(std::string(option) + " " + inQuotes(value) +
                      " has no name to copy it by");
  }
  if (name.find(':') != std::string::npos) {
    throw BundleError(std::string(option) + " " + inQuotes(value) +
                      ": its name holds \":\", " + kPathListSeparatorReason +
                      ": rename it");
  }
  const std::string macro = named ? launcherMacroIn(name) : std::string();
  if (!macro.empty()) {
    throw BundleError(std::string(option) + " " + inQuotes(value) +
                      ": its name holds " + inQuotes(macro) + ", " +
                      kMacroReason + ": rename it");
  }
  if (name == cfgName) {
    throw BundleError(std::string(option) + " " + inQuotes(value) +
                      " has the name of the bundle's configuration file");
  }
  for (const Input& input : inputs) {
    if (input.name != name) {
      continue;
    }
    if (input.source == source) {
      return;  // named twice, copied once
    }
    throw BundleError("two inputs are named " + inQuotes(name) + ": " +
                      inQuotes(input.source) + " and " + inQuotes(source));
  }
  inputs.push_back({source, name, !named});
}

bool AppFolder::isWrittenAsGiven(const std::string& value) {
  return startsWithLauncherMacro(value);
}

std::string AppFolder::cfgValue(const std::string& value) {
  if (isWrittenAsGiven(value)) {
    return value;
  }
  return "$APPDIR/" + sourcePath(value).filename().string();
}

std::optional<fs::path> AppFolder::source(const std::string& value) const {
  const std::string appDir = "$APPDIR/";
  fs::path path;
  if (!isWrittenAsGiven(value)) {
    path = sourcePath(value);
  } else if (value.compare(0, appDir.size(), appDir) == 0) {
    const fs::path inside =
        fs::path(value.substr(appDir.size())).lexically_normal();
    for (const Input& input : inputs) {
      if (!inside.empty() && *inside.begin() == input.name) {
        const fs::path rest = inside.lexically_relative(input.name);
        path = rest == "." ? input.source : input.source / rest;
      }
    }
  }
  std::error_code error;
  if (path.empty() || !fs::exists(path, error)) {
    return std::nullopt;
  }
  return path.lexically_normal();
}

std::vector<fs::path> AppFolder::appFiles() const {
  std::vector<fs::path> files;
  for (const Input& input : inputs) {
    if (input.appFile) {
      files.push_back(input.source);
    }
  }
  return files;
}

void AppFolder::copyInto(const fs::path& appDir) const {
  for (const Input& input : inputs) {
    copyTree(input.source, appDir / input.name);
  }
}
