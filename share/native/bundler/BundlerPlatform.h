#pragma once

#include <filesystem>

// What the bundle tool does differently on macOS, where bundles run, and on
// the Linux machines that build and test them.
namespace BundlerPlatform {

// The runtime's launcher library in a Java home's lib folder. Where it is not
// "libjli.dylib", the bundle's runtime gets that name as a link to it, since
// the launcher looks for the macOS name.
extern const char* const runtimeLibraryName;

// The path of this program's executable file, links resolved.
std::filesystem::path executablePath();

}  // namespace BundlerPlatform
