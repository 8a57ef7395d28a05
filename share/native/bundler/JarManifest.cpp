#include "JarManifest.h"

#include <cstddef>
#include <cstdint>
#include <vector>

#include "Ascii.h"
#include "BundleError.h"
#include "ZipArchive.h"

namespace {

constexpr char kManifestName[] = "META-INF/MANIFEST.MF";

// Signed jars follow the main attributes with a section per entry,
// megabytes of them in a large jar; a manifest of more than 64 MiB, or a
// main section of more than 1 MiB, is a zip bomb rather than a jar.
constexpr std::uint64_t kMaxManifest = 64 * 1024 * 1024;
constexpr std::uint64_t kMaxMainSection = 1024 * 1024;

// java.util.jar reads a manifest line by line into 512 bytes, line end
// included.
constexpr std::size_t kJavaLineBuffer = 512;
constexpr std::size_t kMaxAttributeName = 70;

std::string mebibytes(std::uint64_t bytes) {
  return std::to_string(bytes / (1024 * 1024)) + " MiB";
}

// The bytes of a manifest entry, one at a time, with one of look-ahead.
class ManifestBytes {
 public:
  explicit ManifestBytes(ZipEntryReader& entry)
      : reader(entry), buffer(16 * 1024) {}

  // The next byte, not consumed, or -1 at the end.
  int peek() {
    if (at == filled) {
      filled = reader.read(buffer.data(), buffer.size());
      at = 0;
      if (filled == 0) {
        return -1;
      }
    }
    return static_cast<unsigned char>(buffer[at]);
  }

  // The next byte, or -1 at the end.
  int get() {
    const int c = peek();
    if (c >= 0) {
      ++at;
      if (++consumed > kMaxManifest) {
        throw BundleError("its manifest is larger than " +
                          mebibytes(kMaxManifest));
      }
    }
    return c;
  }

  std::uint64_t consumedBytes() const { return consumed; }

 private:
  ZipEntryReader& reader;
  std::vector<char> buffer;
  std::size_t at = 0;
  std::size_t filled = 0;
  std::uint64_t consumed = 0;
};

void checkMainSectionSize(const ManifestBytes& bytes) {
  if (bytes.consumedBytes() > kMaxMainSection) {
    throw BundleError("the main section of its manifest is larger than " +
                      mebibytes(kMaxMainSection));
  }
}

// Whether the header line `line` has ": " right after its first ":", as
// both readers want it.
bool hasNameAndValue(const std::string& line) {
  const std::string::size_type colon = line.find(':');
  return colon != std::string::npos && colon + 1 < line.size() &&
         line[colon + 1] == ' ';
}

// An attribute name as java.util.jar.Attributes.Name takes it.
bool isAttributeName(const std::string& name) {
  if (name.empty() || name.size() > kMaxAttributeName) {
    return false;
  }
  for (const char c : name) {
    const bool alphanumeric = (c >= 'a' && c <= 'z') ||
                              (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9');
    if (!alphanumeric && c != '-' && c != '_') {
      return false;
    }
  }
  return true;
}

// What `java.lang.String.trim` leaves of `text`: no byte up to the blank at
// either end.
std::string trimmed(const std::string& text) {
  std::size_t first = 0;
  std::size_t end = text.size();
  while (first < end && static_cast<unsigned char>(text[first]) <= ' ') {
    ++first;
  }
  while (end > first && static_cast<unsigned char>(text[end - 1]) <= ' ') {
    --end;
  }
  return text.substr(first, end - first);
}

// The manifest as java.util.jar.Manifest reads it: a main section of
// attributes, then sections that each start with "Name: ". A line that
// starts with a blank continues the value before it. Java takes an
// attribute only once it knows that no continuation follows, so one whose
// continuation is cut off by the end of the manifest does not count.
class JavaManifestReader {
 public:
  explicit JavaManifestReader(ManifestBytes& manifest) : bytes(manifest) {}

  // The main section's Main-Class value, the last one given, untrimmed.
  // Raises BundleError for anything Java refuses.
  std::string mainClass() {
    readAttributes(true);
    readEntrySections();
    return foundMainClass;
  }

 private:
  // The next line's text without its line end; false at the end. Lines end
  // with LF, CR or CR LF, but the LF of a CR LF counts only when it fits
  // into Java's buffer; else it ends a line of its own. A last line
  // without a line end is dropped unless it fills the buffer.
  bool nextLine(std::string& text) {
    line.clear();
    int c = 0;
    while (line.size() < kJavaLineBuffer && c != '\n' && c != '\r') {
      c = bytes.get();
      if (c < 0) {
        return false;
      }
      line += static_cast<char>(c);
    }
    if (c == '\r' && line.size() < kJavaLineBuffer && bytes.peek() == '\n') {
      line += static_cast<char>(bytes.get());
    }
    ++lineNumber;
    if (c != '\n' && c != '\r') {
      throw error("is longer than the " + std::to_string(kJavaLineBuffer) +
                  " bytes, line end included, that Java reads");
    }
    std::size_t length = line.size() - 1;
    if (length > 0 && line[length - 1] == '\r') {
      --length;
    }
    text.assign(line, 0, length);
    return true;
  }

  BundleError error(const std::string& what) const {
    return BundleError("line " + std::to_string(lineNumber) +
                       " of its manifest " + what);
  }

  // A section's attributes, up to an empty line or the end.
  void readAttributes(bool mainSection) {
    std::string text;
    std::string name;  // of the attribute being read; none yet when empty
    std::size_t nameLine = 0;
    bool started = false;
    std::string value;  // kept in the main section only, which is small
    while (nextLine(text)) {
      if (mainSection) {
        checkMainSectionSize(bytes);
      }
      if (text.empty()) {
        return;
      }
      if (text[0] == ' ') {
        if (!started) {
          throw error("continues no attribute");
        }
        if (mainSection) {
          value.append(text, 1, std::string::npos);
        }
      } else {
        if (!hasNameAndValue(text)) {
          throw error("has no \": \" after an attribute name");
        }
        const std::string::size_type colon = text.find(':');
        name = text.substr(0, colon);
        nameLine = lineNumber;
        started = true;
        if (mainSection) {
          value = text.substr(colon + 2);
        }
      }
      if (bytes.peek() == ' ') {
        continue;
      }
      if (!isAttributeName(name)) {
        throw BundleError("line " + std::to_string(nameLine) +
                          " of its manifest names an attribute that Java "
                          "refuses: a name is 1 to 70 ASCII letters, digits, "
                          "\"-\" and \"_\"");
      }
      if (mainSection && asciiLowerCase(name) == "main-class") {
        foundMainClass = value;
      }
    }
  }

  void readEntrySections() {
    std::string text;
    bool skipEmptyLines = true;
    bool nameContinues = false;
    while (nextLine(text)) {
      if (text.empty() && skipEmptyLines) {
        continue;
      }
      skipEmptyLines = false;
      if (!nameContinues && asciiLowerCase(text.substr(0, 6)) != "name: ") {
        throw error("starts a section without \"Name: \"");
      }
      nameContinues = bytes.peek() == ' ';
      if (!nameContinues) {
        readAttributes(false);
        skipEmptyLines = true;
      }
    }
  }

  ManifestBytes& bytes;
  std::string line;
  std::size_t lineNumber = 0;
  std::string foundMainClass;
};

// Why the Java launcher cannot parse the main section of a manifest, which
// it reads alone, up to its first empty line: "" when it can. Unlike
// java.util.jar it reads a last line without a line end, knows no limit to
// a line's length, and takes a NUL byte for the end of the text. A line is
// either a continuation, but neither the first nor one without a line end,
// or has ": " after its first ":".
std::string launcherRefusal(ManifestBytes& bytes) {
  for (std::size_t lineNumber = 1;; ++lineNumber) {
    std::string line;
    int c = bytes.get();
    for (; c > 0 && c != '\n' && c != '\r'; c = bytes.get()) {
      line += static_cast<char>(c);
      checkMainSectionSize(bytes);
    }
    if (c == '\r' && bytes.peek() == '\n') {
      bytes.get();
    }
    if (line.empty()) {
      return "";
    }
    const std::string at = "line " + std::to_string(lineNumber);
    const bool lineEnds = c > 0;
    if (line[0] != ' ' && !hasNameAndValue(line)) {
      return at + " has no \": \" after an attribute name";
    }
    if (line[0] == ' ' && lineNumber == 1) {
      return at + " continues no attribute";
    }
    if (line[0] == ' ' && !lineEnds) {
      return at + " continues an attribute but has no line end";
    }
    if (!lineEnds) {
      return "";
    }
  }
}

bool isManifestName(const std::string& name) {
  return name.size() == sizeof kManifestName - 1 &&
         asciiLowerCase(name) == asciiLowerCase(kManifestName);
}

}  // namespace

JarManifest readJarManifest(const std::filesystem::path& jar) {
  ZipArchive zip(jar);
  const ZipArchiveEntry* firstExact = nullptr;
  const ZipArchiveEntry* lastInAnyCase = nullptr;
  for (const ZipArchiveEntry& entry : zip.entries()) {
    if (isManifestName(entry.name)) {
      lastInAnyCase = &entry;
      if (firstExact == nullptr && entry.name == kManifestName) {
        firstExact = &entry;
      }
    }
  }
  JarManifest manifest;
  if (lastInAnyCase != nullptr) {
    ZipEntryReader reader(zip, *lastInAnyCase);
    ManifestBytes bytes(reader);
    manifest.mainClass = trimmed(JavaManifestReader(bytes).mainClass());
  }
  if (firstExact == nullptr) {
    manifest.jarLaunchRefusal =
        "the Java launcher finds no entry named exactly " +
        std::string(kManifestName) + " in it";
  } else {
    const std::string first = "its first " + std::string(kManifestName);
    try {
      ZipEntryReader reader(zip, *firstExact);
      ManifestBytes bytes(reader);
      const std::string refusal = launcherRefusal(bytes);
      if (!refusal.empty()) {
        manifest.jarLaunchRefusal =
            "the Java launcher reads " + first + ", and " + refusal + " of it";
      }
    } catch (const BundleError& e) {
      // Not the entry java.util.jar reads, or it would have failed above.
      manifest.jarLaunchRefusal =
          "the Java launcher cannot read " + first + ": " + e.what();
    }
  }
  return manifest;
}
