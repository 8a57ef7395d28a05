#include "JdepsInputs.h"

#include <algorithm>
#include <functional>
#include <optional>
#include <string>
#include <system_error>

#include "AppFolder.h"
#include "Ascii.h"
#include "BundleError.h"
#include "BundleOptions.h"
#include "ZipArchive.h"

namespace fs = std::filesystem;

namespace {

bool endsWith(const std::string& text, const std::string& end) {
  return text.size() >= end.size() &&
         text.compare(text.size() - end.size(), end.size(), end) == 0;
}

// As the runtime expands a "DIR/*" class path entry: ".jar" in any case.
bool isJar(const fs::path& path) {
  std::error_code error;
  return asciiLowerCase(path.extension().string()) == ".jar" &&
         fs::is_regular_file(path, error);
}

bool isFolder(const fs::path& path) {
  std::error_code error;
  return fs::is_directory(path, error);
}

// Whether the zip file `jar` has an entry for which `matches` holds; not
// when it is no zip file that Java could read.
bool zipHasEntry(const fs::path& jar,
                 const std::function<bool(const std::string&)>& matches) {
  try {
    const ZipArchive zip(jar);
    const auto& entries = zip.entries();
    return std::any_of(
        entries.begin(), entries.end(),
        [&](const ZipArchiveEntry& e) { return matches(e.name); });
  } catch (const BundleError&) {
    return false;
  }
}

// Whether the jar or folder `archive` holds the file `name`.
bool holds(const fs::path& archive, const std::string& name) {
  std::error_code error;
  if (isFolder(archive)) {
    return fs::is_regular_file(archive / name, error);
  }
  return zipHasEntry(archive,
                     [&](const std::string& entry) { return entry == name; });
}

// A modular jar or folder, also one of a multi-release jar's versions.
bool isModule(const fs::path& archive) {
  const std::string descriptor = "module-info.class";
  if (isFolder(archive)) {
    return holds(archive, descriptor);
  }
  return zipHasEntry(archive, [&](const std::string& entry) {
    return entry == descriptor ||
           (entry.compare(0, 18, "META-INF/versions/") == 0 &&
            endsWith(entry, "/" + descriptor));
  });
}

void addOnce(std::vector<fs::path>& paths, const fs::path& path) {
  if (std::find(paths.begin(), paths.end(), path) == paths.end()) {
    paths.push_back(path);
  }
}

// The jars right inside `folder`, by name.
std::vector<fs::path> jarsIn(const fs::path& folder) {
  std::vector<fs::path> jars;
  std::error_code error;
  for (const fs::directory_entry& entry :
       fs::directory_iterator(folder, error)) {
    if (isJar(entry.path())) {
      jars.push_back(entry.path());
    }
  }
  std::sort(jars.begin(), jars.end());
  return jars;
}

}  // namespace

JdepsInputs jdepsInputs(const BundleOptions& o, const AppFolder& app) {
  JdepsInputs inputs;
  // What the class and module paths name, so that app files among them
  // are not added again.
  std::vector<fs::path> named;
  std::vector<std::string> classPathValues = o.classPath;
  if (!o.mainJar.empty()) {
    classPathValues.insert(classPathValues.begin(), o.mainJar);
  }
  for (const std::string& value : classPathValues) {
    const bool wildcard = endsWith(value, "/*");
    const auto source =
        app.source(wildcard ? value.substr(0, value.size() - 1) : value);
    if (!source) {
      continue;
    }
    named.push_back(*source);
    if (!wildcard) {
      addOnce(inputs.classPath, *source);
    } else if (isFolder(*source)) {
      for (const fs::path& jar : jarsIn(*source)) {
        addOnce(inputs.classPath, jar);
      }
    }
  }
  for (const std::string& value : o.modulePath) {
    if (const auto source = app.source(value)) {
      named.push_back(*source);
      addOnce(inputs.modulePath, *source);
    }
  }
  for (const fs::path& file : app.appFiles()) {
    if (std::find(named.begin(), named.end(), file) != named.end()) {
      continue;
    }
    if (isJar(file)) {
      addOnce(inputs.classPath, file);
    } else if (isFolder(file)) {
      addOnce(inputs.classPath, file);
      for (const fs::path& jar : jarsIn(file)) {
        addOnce(inputs.classPath, jar);
      }
    }
  }
  std::string mainClassFile = o.mainClass;
  std::replace(mainClassFile.begin(), mainClassFile.end(), '.', '/');
  mainClassFile += ".class";
  bool mainClassFound = o.mainClass.empty();
  const auto mainJar = o.mainJar.empty() ? std::nullopt : app.source(o.mainJar);
  for (const fs::path& archive : inputs.classPath) {
    const bool holdsMainClass =
        !mainClassFound && holds(archive, mainClassFile);
    mainClassFound = mainClassFound || holdsMainClass;
    if (archive == mainJar || holdsMainClass || !isModule(archive)) {
      inputs.roots.push_back(archive);
    }
  }
  // Modules alone on the class path, and no main class among them: better
  // roots than none.
  if (inputs.roots.empty() && inputs.modulePath.empty()) {
    inputs.roots = inputs.classPath;
  }
  return inputs;
}
