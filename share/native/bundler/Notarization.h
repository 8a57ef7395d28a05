#pragma once

#include <filesystem>
#include <string>

// Raises BundleError when this system cannot notarize: it has no xcrun, or
// xcrun finds no notarytool or stapler (they come with Xcode or its command
// line tools).
void checkCanNotarize();

// Submits the signed disk image `image` to Apple's notary service with the
// credentials that `xcrun notarytool store-credentials PROFILE` saved in
// the keychain, and waits for its answer. On acceptance, staples the
// ticket to `image` and to `bundle`, the application in it. Otherwise
// raises BundleError whose lines before (BundleError::linesBefore) name the
// first issues of the notary service's log, path and message.
void notarize(const std::filesystem::path& image,
              const std::filesystem::path& bundle, const std::string& profile);
