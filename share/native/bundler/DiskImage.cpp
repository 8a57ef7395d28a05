#include "DiskImage.h"

#include "FileTree.h"
#include "Signing.h"
#include "Subprocess.h"

namespace fs = std::filesystem;

void checkCanMakeDiskImage() {
  macOSTool("--dmg", "hdiutil");
}

void makeDiskImage(const fs::path& bundle, const std::string& volumeName,
                   const fs::path& image) {
  const fs::path contents = bundle.parent_path();
  createSymlink("/Applications", contents / "Applications");
  // HFS+ opens on every macOS the launcher runs on; UDZO is compressed by
  // zlib, which every one of them reads.
  runProgramOrFail({macOSTool("--dmg", "hdiutil").string(), "create",
                    "-volname", volumeName, "-srcfolder", contents.string(),
                    "-fs", "HFS+", "-format", "UDZO", image.string()});
}
