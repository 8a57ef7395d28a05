#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct JdepsInputs;

// The Java runtime home a bundle's runtime is made from.
namespace JavaHome {

// `given` with links resolved, or, when it is empty, the home of the `java`
// on the PATH as that runtime reports it. Raises BundleError when it is no
// folder or holds no lib/<the runtime library>.
std::filesystem::path find(const std::string& given);

// The feature release in the home's `release` file (JAVA_VERSION="17.0.2"
// is "17"). Raises BundleError when the file cannot be read or names none.
std::string featureVersion(const std::filesystem::path& home);

// The command line that starts the home's `tool` (jlink, jdeps) with JVM
// options for a program that runs once and briefly, for which the optimising
// compiler and a parallel collector cost more than they save: they take
// half the processor time of such a run.
std::vector<std::string> briefToolCommand(const std::filesystem::path& tool);

// Raises BundleError, saying why, unless the home's jlink can link a
// runtime: from the home's jmods, or else from its own run-time image.
void checkCanLink(const std::filesystem::path& home);

// The modules that the home's jdeps finds `archives` need.
struct ModuleDeps {
  std::string modules;  // comma-separated
  std::string note;     // how they were found, when it is worth a line
};

// Asks the home's jdeps for the modules that the application needs, as the
// runtime will run it: its class path as a class path, its roots analysed
// whole, every module of its module path as a module. Where jdeps stops at
// classes or modules it cannot find, it asks again with
// --ignore-missing-deps and says so in the note. Raises BundleError, naming
// --jlink MODULE,... as the way out, when that fails too.
ModuleDeps moduleDeps(const std::filesystem::path& home,
                      const JdepsInputs& application);

}  // namespace JavaHome
