#pragma once

#include <filesystem>
#include <string>
#include <vector>

#include "BundleOptions.h"

class AppFolder;

// How the bundle's runtime is made, decided and checked before anything is
// built, so that a runtime that cannot be made fails the run at its start.
struct RuntimePlan {
  std::filesystem::path home;  // the Java home, links resolved
  RuntimeSource source = RuntimeSource::copy;
  std::string modules;             // for jlink
  bool withoutLibrary = false;     // --omit jli
  std::vector<std::string> notes;  // how the plan was made, a line each
};

// Raises BundleError for a Java home the options cannot use.
RuntimePlan planRuntime(const BundleOptions& options, const AppFolder& app);

// Makes the runtime under `runtimeDir` (Contents/runtime of the bundle):
// its Contents/Home and, for a macOS runtime bundle, Contents/Info.plist.
void makeRuntime(const RuntimePlan& plan,
                 const std::filesystem::path& runtimeDir);
