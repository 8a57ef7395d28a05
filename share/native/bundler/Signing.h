#pragma once

#include <filesystem>
#include <string>
#include <vector>

// What the hardened runtime must allow a JVM: code compiled at run time, and
// JNI libraries that are not signed by the bundle's signer.
std::string entitlementsPlist();

// Raises BundleError when this system cannot sign.
void checkCanSign();

// Signs the bundle with the hardened runtime and `entitlements`, nested
// code before what holds it: every Mach-O file in it (isMachO), then the
// launcher, then the bundle.
void signBundle(const std::filesystem::path& bundle, const std::string& name,
                const std::string& identity,
                const std::filesystem::path& entitlements);
