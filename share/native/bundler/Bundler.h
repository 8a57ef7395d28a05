#pragma once

#include <filesystem>
#include <string>
#include <vector>

struct BundleOptions;

// What a run made.
struct MadeBundle {
  std::filesystem::path path;
  std::filesystem::path diskImage;  // with --dmg
  // What the packager should know of how it was made, a line each.
  std::vector<std::string> notes;
};

// Assembles the bundle that `options` describe. Checks every input before
// it builds anything, and builds in a staging folder beside the bundle;
// raises BundleError with the line to show when it fails, and
// Interruption::Interrupted at a signal, having left the output folder as it
// was.
MadeBundle makeBundle(const BundleOptions& options);
