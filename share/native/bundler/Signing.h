#pragma once

#include <filesystem>
#include <string>
#include <vector>

// What the hardened runtime must allow a JVM: code compiled at run time, and
// JNI libraries that are not signed by the bundle's signer.
std::string entitlementsPlist();

// The program `name` that `option` needs, found on the PATH: one of the
// tools of macOS, codesign, hdiutil or xcrun. Raises BundleError when there
// is none: then this is no Mac.
std::filesystem::path macOSTool(const std::string& option,
                                const std::string& name);

// Raises BundleError when this system cannot sign.
void checkCanSign();

// Signs the bundle with the hardened runtime and `entitlements`, nested
// code before what holds it: the Mach-O entries of every jar or zip file in
// it (isArchive; see signInsideArchive), every Mach-O file in it (isMachO),
// then the launcher, then the bundle. Files taken out of archives go to
// `scratch`.
void signBundle(const std::filesystem::path& bundle, const std::string& name,
                const std::string& identity,
                const std::filesystem::path& entitlements,
                const std::filesystem::path& scratch);

// Signs a disk image, which takes neither entitlements nor the hardened
// runtime.
void signDiskImage(const std::filesystem::path& image,
                   const std::string& identity);
