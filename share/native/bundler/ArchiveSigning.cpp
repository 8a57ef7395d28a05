#include "ArchiveSigning.h"

#include <fstream>
#include <map>
#include <optional>
#include <system_error>
#include <vector>

#include "Ascii.h"
#include "BundleError.h"
#include "FileTree.h"
#include "Interruption.h"
#include "MachO.h"
#include "ZipArchive.h"

namespace fs = std::filesystem;

namespace {

constexpr char kZipStart[] = "PK\x03\x04";
constexpr std::size_t kZipStartSize = 4;
constexpr std::size_t kMachOTestSize = 8;
constexpr int kMaxNesting = 4;

bool startsAsZip(const std::string& head) {
  return head.compare(0, kZipStartSize, kZipStart, kZipStartSize) == 0;
}

// The signature file of a jar that jarsigner signed: a META-INF/*.SF with a
// signature block beside it, as the Java runtime recognises them; or "".
std::string jarSignatureFile(const std::vector<ZipArchiveEntry>& entries) {
  std::string signatureFile;
  bool block = false;
  const std::string folder = "meta-inf/";
  for (const ZipArchiveEntry& entry : entries) {
    const std::string name = asciiLowerCase(entry.name);
    if (name.compare(0, folder.size(), folder) != 0 ||
        name.find('/', folder.size()) != std::string::npos) {
      continue;
    }
    const std::string extension = fs::path(name).extension().string();
    if (extension == ".sf") {
      signatureFile = entry.name;
    }
    block = block || extension == ".rsa" || extension == ".dsa" ||
            extension == ".ec";
  }
  return block ? signatureFile : "";
}

// The last part of an entry's name, for a file taken out under it: codesign
// takes a file's name for the signature's identifier.
std::string fileNameOf(const std::string& entryName) {
  const std::string name = entryName.substr(entryName.find_last_of('/') + 1);
  return name.empty() || name == "." || name == ".." ? "entry" : name;
}

// What ZipArchive raises, as a line that names the archive.
BundleError inArchive(const std::string& shownAs, const std::string& why) {
  return BundleError("cannot sign the native code in " + inQuotes(shownAs) +
                     ": " + why);
}

class ArchiveSigner {
 public:
  ArchiveSigner(const fs::path& scratchFolder,
                const std::function<void(const fs::path&)>& signFile)
      : scratch(scratchFolder), sign(signFile) {}

  // Whether it rewrote `archive`.
  bool signInside(const fs::path& archive, const std::string& shownAs,
                  int depth) {
    // Whatever this level takes out goes when it is done.
    struct TakenOut {
      std::vector<fs::path> folders;
      ~TakenOut() {
        std::error_code ignored;
        for (const fs::path& folder : folders) {
          fs::remove_all(folder, ignored);
        }
      }
    } takenOut;
    std::optional<ZipArchive> zip;
    std::vector<std::size_t> machO;
    std::vector<std::size_t> nested;
    try {
      zip.emplace(archive);
      for (std::size_t i = 0; i < zip->entries().size(); ++i) {
        Interruption::check();
        const ZipArchiveEntry& entry = zip->entries()[i];
        if (!entry.readable() || entry.size < kZipStartSize) {
          continue;
        }
        const std::string head = zip->head(entry, kMachOTestSize);
        if (isMachOStart(reinterpret_cast<const unsigned char*>(head.data()),
                         head.size(), entry.size)) {
          machO.push_back(i);
        } else if (startsAsZip(head)) {
          nested.push_back(i);
        }
      }
    } catch (const BundleError& e) {
      throw inArchive(shownAs, e.what());
    }
    const std::vector<ZipArchiveEntry>& entries = zip->entries();
    const std::string signatureFile = jarSignatureFile(entries);
    const auto refuseSigned = [&] {
      return inArchive(shownAs,
                       "the jar is signed with jarsigner (" + signatureFile +
                           "), whose signature any change breaks; its native "
                           "code must be signed before jarsigner signs it");
    };
    if (!machO.empty() && !signatureFile.empty()) {
      throw refuseSigned();
    }
    std::map<std::size_t, fs::path> replacements;
    for (const std::size_t i : nested) {
      if (depth == kMaxNesting) {
        throw inArchive(shownAs, "archives nest more than " +
                                     std::to_string(kMaxNesting) +
                                     " deep in it, deeper than the tool looks");
      }
      const fs::path file =
          takeOut(*zip, entries[i], shownAs, takenOut.folders);
      if (signInside(file, shownAs + "!/" + entries[i].name, depth + 1)) {
        replacements[i] = file;
      }
    }
    if (!replacements.empty() && !signatureFile.empty()) {
      throw refuseSigned();
    }
    for (const std::size_t i : machO) {
      const fs::path file =
          takeOut(*zip, entries[i], shownAs, takenOut.folders);
      try {
        sign(file);
      } catch (const BundleError& e) {
        throw BundleError("cannot sign " +
                          inQuotes(shownAs + "!/" + entries[i].name) + ": " +
                          e.what());
      }
      replacements[i] = file;
    }
    if (replacements.empty()) {
      return false;
    }
    const fs::path rewritten = newFolder(takenOut.folders) / "rewritten";
    try {
      zip->writeReplacing(replacements, rewritten);
    } catch (const BundleError& e) {
      throw inArchive(shownAs, e.what());
    }
    std::error_code error;
    fs::permissions(rewritten, fs::status(archive, error).permissions(), error);
    fs::rename(rewritten, archive, error);
    if (error) {
      throw inArchive(shownAs, withReason("cannot replace it", error));
    }
    return true;
  }

 private:
  fs::path newFolder(std::vector<fs::path>& folders) {
    folders.push_back(scratch / std::to_string(++taken));
    createDirectories(folders.back());
    return folders.back();
  }

  fs::path takeOut(ZipArchive& zip, const ZipArchiveEntry& entry,
                   const std::string& shownAs, std::vector<fs::path>& folders) {
    const fs::path file = newFolder(folders) / fileNameOf(entry.name);
    try {
      zip.extract(entry, file);
    } catch (const BundleError& e) {
      throw inArchive(shownAs, e.what());
    }
    return file;
  }

  fs::path scratch;
  const std::function<void(const fs::path&)>& sign;
  int taken = 0;
};

}  // namespace

bool isArchive(const fs::path& path) {
  const std::string extension = asciiLowerCase(path.extension().string());
  if (extension == ".jar" || extension == ".zip") {
    return true;
  }
  std::ifstream in(path, std::ios::binary);
  std::string head(kZipStartSize, '\0');
  in.read(head.data(), static_cast<std::streamsize>(head.size()));
  return in.gcount() == static_cast<std::streamsize>(kZipStartSize) &&
         startsAsZip(head);
}

void signInsideArchive(const fs::path& archive, const std::string& shownAs,
                       const fs::path& scratch,
                       const std::function<void(const fs::path&)>& sign) {
  ArchiveSigner(scratch, sign).signInside(archive, shownAs, 0);
}
