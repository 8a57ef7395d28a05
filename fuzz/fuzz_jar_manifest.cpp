// The bundle tool's reading of a main jar's manifest on arbitrary bytes: it
// either gives a main class, trimmed as the Java launcher trims it, or
// raises BundleError, never reads out of bounds, and never holds a main
// class longer than the MiB of the main section that it reads.

#include <unistd.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <filesystem>
#include <string>

#include "BundleError.h"
#include "FuzzCheck.h"
#include "JarManifest.h"

namespace {

// One file for all inputs, in the scratch folder: the reader takes a path.
const std::string& jarPath() {
  static const std::string path =
      (std::filesystem::temp_directory_path() /
       ("fuzz_jar_manifest-" + std::to_string(getpid()) + ".jar"))
          .string();
  return path;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  std::FILE* file = std::fopen(jarPath().c_str(), "wb");
  FUZZ_CHECK(file != nullptr);
  FUZZ_CHECK(std::fwrite(data, 1, size, file) == size);
  FUZZ_CHECK(std::fclose(file) == 0);
  try {
    const JarManifest manifest = readJarManifest(jarPath());
    const std::string& mainClass = manifest.mainClass;
    FUZZ_CHECK(mainClass.size() <= 1024 * 1024);
    FUZZ_CHECK(mainClass.find_first_of("\r\n") == std::string::npos);
    // Trimmed as the launcher trims it.
    FUZZ_CHECK(mainClass.empty() ||
               (static_cast<unsigned char>(mainClass.front()) > ' ' &&
                static_cast<unsigned char>(mainClass.back()) > ' '));
  } catch (const BundleError&) {
  }
  return 0;
}
