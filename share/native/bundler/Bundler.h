#pragma once

#include <filesystem>

struct BundleOptions;

// Assembles the bundle that `options` describe and returns its path. Checks
// every input before it builds anything, and builds in a staging folder
// beside the bundle; raises BundleError with the line to show when it fails,
// having left the output folder as it was.
std::filesystem::path makeBundle(const BundleOptions& options);
