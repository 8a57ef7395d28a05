#include "JavaHome.h"

#include <cerrno>
#include <cstring>
#include <fstream>
#include <sstream>
#include <system_error>

#include "BundleError.h"
#include "BundlerPlatform.h"
#include "Subprocess.h"

namespace fs = std::filesystem;

namespace JavaHome {

namespace {

// The first executable `java` in a folder of the PATH.
fs::path javaOnPath() {
  const fs::path java = findOnPath("java");
  if (java.empty()) {
    throw BundleError("no --java-home given and no `java` on the PATH");
  }
  return java;
}

// The runtime's own word for its home: a `java` on the PATH may be a stub or
// a chain of links that leads elsewhere than to a runtime's bin folder.
std::string reportedHome(const fs::path& java) {
  const ProgramResult settings = runProgramOrFail(
      {java.string(), "-XshowSettings:properties", "-version"});
  std::istringstream lines(settings.err);
  const std::string key = "java.home = ";
  for (std::string line; std::getline(lines, line);) {
    const std::string::size_type at = line.find(key);
    if (at != std::string::npos) {
      return line.substr(at + key.size());
    }
  }
  throw BundleError(inQuotes(java.string()) + " does not report its java.home");
}

fs::path tool(const fs::path& home, const std::string& name,
              const std::string& purpose) {
  const fs::path path = home / "bin" / name;
  std::error_code error;
  if (!fs::is_regular_file(path, error)) {
    throw BundleError(inQuotes(home.string()) + " has no bin/" + name + " " +
                      purpose);
  }
  return path;
}

std::string trimmed(const std::string& text) {
  const std::string::size_type first = text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) {
    return "";
  }
  return text.substr(first, text.find_last_not_of(" \t\r\n") - first + 1);
}

// The module list of a jdeps --print-module-deps run, or "" when it failed.
std::string moduleList(const ProgramResult& deps) {
  if (deps.exitCode != 0) {
    return "";
  }
  // Warnings may come first; the list is the last line.
  std::string list = trimmed(deps.out);
  list = trimmed(list.substr(list.find_last_of('\n') + 1));
  const bool isList = !list.empty() &&
                      list.find_first_not_of(
                          "abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ"
                          "0123456789._,") == std::string::npos;
  return isList ? list : "";
}

// jlink names its capabilities at the end of its help text, which follows
// the JVM's locale.
constexpr char kLinksFromImage[] = "Linking from run-time image enabled";

}  // namespace

fs::path find(const std::string& given) {
  const std::string home = given.empty() ? reportedHome(javaOnPath()) : given;
  std::error_code error;
  const fs::path resolved = fs::canonical(home, error);
  if (error || !fs::is_directory(resolved, error)) {
    throw BundleError("no Java runtime folder at " + inQuotes(home));
  }
  const std::string library =
      std::string("lib/") + BundlerPlatform::runtimeLibraryName;
  if (!fs::is_regular_file(resolved / library, error)) {
    throw BundleError(inQuotes(resolved.string()) + " holds no " + library);
  }
  return resolved;
}

std::string featureVersion(const fs::path& home) {
  const fs::path release = home / "release";
  std::ifstream in(release);
  if (!in) {
    const int reason = errno;
    throw BundleError(
        "cannot read " + inQuotes(release.string()) +
        ", which names the runtime's version: " + std::strerror(reason));
  }
  const std::string key = "JAVA_VERSION=";
  for (std::string line; std::getline(in, line);) {
    if (line.compare(0, key.size(), key) != 0) {
      continue;
    }
    std::string version = line.substr(key.size());
    version.erase(0, version.find_first_not_of('"'));
    // Before 9, releases were numbered 1.<feature>.
    if (version.compare(0, 2, "1.") == 0) {
      version.erase(0, 2);
    }
    version = version.substr(0, version.find_first_not_of("0123456789"));
    if (!version.empty()) {
      return version;
    }
  }
  throw BundleError(inQuotes(release.string()) + " names no JAVA_VERSION");
}

void checkCanLink(const fs::path& home) {
  const fs::path jlink = tool(home, "jlink", "to link a runtime with");
  std::error_code error;
  if (fs::is_directory(home / "jmods", error)) {
    return;
  }
  const ProgramResult help =
      runProgram({jlink.string(), "-J-Duser.language=en", "--help"});
  if (help.out.find(kLinksFromImage) == std::string::npos) {
    throw BundleError(inQuotes(home.string()) +
                      " cannot link a runtime: it has no jmods folder, and "
                      "its jlink cannot link from its own run-time image");
  }
}

ModuleDeps moduleDeps(const fs::path& home,
                      const std::vector<fs::path>& archives) {
  if (archives.empty()) {
    throw BundleError(
        "--jlink has no jars or folders to find the modules in: name them, "
        "--jlink MODULE,...");
  }
  const std::string jdeps =
      tool(home, "jdeps",
           "to find the modules with: name them, --jlink MODULE,...")
          .string();
  std::vector<std::string> argv{jdeps, "--print-module-deps", "--multi-release",
                                featureVersion(home)};
  for (const fs::path& archive : archives) {
    argv.push_back(archive.string());
  }
  ModuleDeps deps;
  const ProgramResult strict = runProgram(argv);
  deps.modules = moduleList(strict);
  if (!deps.modules.empty()) {
    return deps;
  }
  argv.insert(argv.begin() + 1, "--ignore-missing-deps");
  const ProgramResult lenient = runProgram(argv);
  deps.modules = moduleList(lenient);
  if (deps.modules.empty()) {
    throw BundleError(inQuotes(jdeps) +
                      " cannot list the modules that the application needs (" +
                      lenient.firstLine() + "): name them, --jlink MODULE,...");
  }
  deps.note = "jdeps stopped at what it cannot find (" + strict.firstLine() +
              "); asked again with --ignore-missing-deps, it lists " +
              deps.modules + ", without the modules that only that needs";
  return deps;
}

}  // namespace JavaHome
