#pragma once

#include <filesystem>
#include <string>

// Raises BundleError when this system cannot make disk images: it has no
// hdiutil.
void checkCanMakeDiskImage();

// Makes `image`, a compressed disk image whose volume, `volumeName`, holds
// the folder that holds `bundle` (which holds nothing else), and a link to
// /Applications beside the bundle: what a user drags the application onto.
void makeDiskImage(const std::filesystem::path& bundle,
                   const std::string& volumeName,
                   const std::filesystem::path& image);
