#pragma once

#include <filesystem>
#include <string>
#include <vector>

// A hidden folder beside the bundle in which it is built, so that a failed
// run leaves nothing half-made and an earlier bundle in place. Unless
// committed, it goes with everything in it, and with the output folders it
// created.
//
// The folder, OUT/.NAME.app-XXXXXX, holds a lock file that the run keeps
// locked while it lives. A run that was killed cannot remove its folder:
// the next run of the same name removes every such folder whose lock no
// running tool holds.
class Staging {
 public:
  // Creates the output folder when needed, removes stale staging folders of
  // the same name, and creates the staging folder. Raises BundleError when
  // the output folder cannot be written.
  Staging(const std::filesystem::path& outDir, const std::string& name);
  Staging(const Staging&) = delete;
  Staging& operator=(const Staging&) = delete;
  ~Staging();

  // Where the bundle is built. The folder that holds it holds nothing
  // else, so that it can be the contents of a disk image.
  const std::filesystem::path& bundle() const { return staged; }

  // Where to build a file that goes beside the bundle.
  std::filesystem::path beside(const std::string& fileName) const;

  // A folder for files that do not go into the output (created on demand).
  std::filesystem::path scratch() const;

  // Moves the files built beside() and the bundle into the output folder,
  // the bundle replacing an earlier one, and returns the bundle's path.
  std::filesystem::path commit(const std::vector<std::string>& besideFiles);

 private:
  void create();
  void removeStaleFolders() const;
  void removeCreatedFolders();

  std::filesystem::path out;
  std::string bundleName;
  std::filesystem::path folder;
  std::filesystem::path staged;
  std::vector<std::filesystem::path> createdFolders;  // outermost first
  int lock = -1;  // the locked lock file in `folder`
  bool committed = false;
};
