#include "JarManifest.h"

#include <cstddef>

#include "Ascii.h"
#include "BundleError.h"
#include "ZipEntry.h"

namespace {

constexpr char kManifestName[] = "META-INF/MANIFEST.MF";

// The main attributes come first in a manifest; signed jars follow them with
// a section per entry, megabytes of them in a large jar, which are not read.
constexpr std::size_t kMaxMainSection = 1024 * 1024;

std::string trimmed(const std::string& text) {
  const std::size_t first = text.find_first_not_of(" \t");
  if (first == std::string::npos) {
    return "";
  }
  return text.substr(first, text.find_last_not_of(" \t") - first + 1);
}

bool isMainClassHeader(const std::string& attribute) {
  const std::string name = "main-class:";
  return asciiLowerCase(attribute.substr(0, name.size())) == name;
}

// The Main-Class value of the main section of the manifest `text`, of which
// `complete` tells whether it is whole. Lines end with CR LF, LF or CR; a
// line that starts with a space continues the one before; an empty line
// ends the main section.
std::string mainClassIn(const std::string& text, bool complete) {
  std::string attribute;
  std::string mainClass;
  const auto endAttribute = [&] {
    if (isMainClassHeader(attribute)) {
      mainClass = trimmed(attribute.substr(attribute.find(':') + 1));
    }
    attribute.clear();
  };
  for (std::size_t at = 0; at < text.size();) {
    std::size_t end = text.find_first_of("\r\n", at);
    if (end == std::string::npos) {
      if (!complete) {
        break;
      }
      end = text.size();
    }
    const std::string line = text.substr(at, end - at);
    at = end + 1;
    if (end + 1 < text.size() && text[end] == '\r' && text[end + 1] == '\n') {
      ++at;
    }
    if (line.empty()) {
      endAttribute();
      return mainClass;
    }
    if (line[0] == ' ') {
      attribute += line.substr(1);
    } else {
      endAttribute();
      attribute = line;
    }
  }
  if (!complete) {
    throw BundleError("the main section of its manifest is larger than " +
                      std::to_string(kMaxMainSection / (1024 * 1024)) + " MiB");
  }
  endAttribute();
  return mainClass;
}

}  // namespace

std::string jarMainClass(const std::filesystem::path& jar) {
  const ZipEntryStart manifest =
      readZipEntry(jar, kManifestName, kMaxMainSection);
  return manifest.found ? mainClassIn(manifest.bytes, !manifest.truncated)
                        : std::string();
}
