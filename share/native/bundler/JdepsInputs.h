#pragma once

#include <filesystem>
#include <vector>

class AppFolder;
struct BundleOptions;

// The application as jdeps is asked about it: as the runtime will run it.
struct JdepsInputs {
  // Jars and folders, in the order in which the runtime searches them.
  std::vector<std::filesystem::path> classPath;
  std::vector<std::filesystem::path> modulePath;
  // Of the class path, what jdeps analyses whole.
  std::vector<std::filesystem::path> roots;
};

// The class path is the main jar, then the class path entries (the jars
// of a "DIR/*" entry), then what --app-file adds and neither path names:
// a jar, or a folder and the jars right inside it, such as plugins that the
// application loads itself. The roots are the main jar, the class path
// archive that holds the main class, and every class path archive that is
// no module. A modular jar on the class path is no root: jdeps would take
// it for a module and resolve what it requires, although the runtime reads
// it as part of the class path, so it counts where the roots reach it.
JdepsInputs jdepsInputs(const BundleOptions& options, const AppFolder& app);
