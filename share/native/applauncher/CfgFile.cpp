#include "CfgFile.h"

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <iterator>
#include <limits>
#include <memory>
#include <string_view>
#include <utility>

#include "ErrorHandling.h"
#include "FileUtils.h"
#include "Log.h"
#include "tstrings.h"

// constexpr makes the compiler prove that these are initialised before any
// dynamic initialiser of another unit can look at them.
namespace SectionName {
constexpr CfgFile::Id<CfgFile::SectionNameTag> Application("Application");
constexpr CfgFile::Id<CfgFile::SectionNameTag> JavaOptions("JavaOptions");
constexpr CfgFile::Id<CfgFile::SectionNameTag> AppCDSJavaOptions(
    "AppCDSJavaOptions");
constexpr CfgFile::Id<CfgFile::SectionNameTag> AppCDSGenerateCacheJavaOptions(
    "AppCDSGenerateCacheJavaOptions");
constexpr CfgFile::Id<CfgFile::SectionNameTag> ArgOptions("ArgOptions");
}  // namespace SectionName

namespace PropertyName {
constexpr CfgFile::Id<CfgFile::PropertyNameTag> version("app.version");
constexpr CfgFile::Id<CfgFile::PropertyNameTag> mainjar("app.mainjar");
constexpr CfgFile::Id<CfgFile::PropertyNameTag> mainmodule("app.mainmodule");
constexpr CfgFile::Id<CfgFile::PropertyNameTag> mainclass("app.mainclass");
constexpr CfgFile::Id<CfgFile::PropertyNameTag> classpath("app.classpath");
constexpr CfgFile::Id<CfgFile::PropertyNameTag> modulepath("app.modulepath");
constexpr CfgFile::Id<CfgFile::PropertyNameTag> runtime("app.runtime");
constexpr CfgFile::Id<CfgFile::PropertyNameTag> splash("app.splash");
constexpr CfgFile::Id<CfgFile::PropertyNameTag> memory("app.memory");
constexpr CfgFile::Id<CfgFile::PropertyNameTag> arguments("arguments");
constexpr CfgFile::Id<CfgFile::PropertyNameTag> javaOptions("java-options");
constexpr CfgFile::Id<CfgFile::PropertyNameTag> cds("app.cds");
constexpr CfgFile::Id<CfgFile::PropertyNameTag> userOptions("app.user-options");
}  // namespace PropertyName

namespace {

typedef CfgFile::Id<CfgFile::SectionNameTag> SectionId;

// Lines before the first header and lines of unrecognised sections belong
// here and are dropped.
constexpr SectionId UnknownSection("");

// The comparison by name with UnknownSection, without a call per line.
bool isUnknown(const SectionId& section) {
  return *section.name() == '\0';
}

// A recognised name with its length at hand, for the comparison of every
// line's key. The stored identifier is always the constant itself, so nothing
// in a loaded CfgFile points into text read from the file.
template <class Tag>
struct Word {
  constexpr explicit Word(const CfgFile::Id<Tag>& constant)
      : text(constant.name()), id(&constant) {}

  std::string_view text;
  const CfgFile::Id<Tag>* id;
};

constexpr Word<CfgFile::SectionNameTag> knownSections[] = {
    Word(SectionName::Application),
    Word(SectionName::JavaOptions),
    Word(SectionName::AppCDSJavaOptions),
    Word(SectionName::AppCDSGenerateCacheJavaOptions),
    Word(SectionName::ArgOptions),
};

constexpr Word<CfgFile::PropertyNameTag> knownProperties[] = {
    Word(PropertyName::version),     Word(PropertyName::mainjar),
    Word(PropertyName::mainmodule),  Word(PropertyName::mainclass),
    Word(PropertyName::classpath),   Word(PropertyName::modulepath),
    Word(PropertyName::runtime),     Word(PropertyName::splash),
    Word(PropertyName::memory),      Word(PropertyName::arguments),
    Word(PropertyName::javaOptions), Word(PropertyName::cds),
    Word(PropertyName::userOptions),
};

constexpr std::string_view kUtf8ByteOrderMark = "\xEF\xBB\xBF";

constexpr std::size_t kNotFound = std::numeric_limits<std::size_t>::max();

// The index of `name` in `words`, or kNotFound.
template <class Tag, std::size_t N>
std::size_t findWord(const Word<Tag> (&words)[N], std::string_view name) {
  for (std::size_t i = 0; i < N; ++i) {
    const std::string_view text = words[i].text;
    // Most candidates differ in length or in their last byte, which spares
    // a call to memcmp per candidate on every line.
    if (name.size() == text.size() && name.back() == text.back() &&
        name == text) {
      return i;
    }
  }
  return kNotFound;
}

// The key ends at the first "=" that does not follow a backslash; without
// one the whole line is the key.
std::pair<std::string_view, std::string_view> splitProperty(
    std::string_view line) {
  std::size_t pos = line.find('=');
  while (pos != std::string_view::npos && pos != 0 && line[pos - 1] == '\\') {
    pos = line.find('=', pos + 1);
  }
  if (pos == std::string_view::npos) {
    return {line, std::string_view()};
  }
  return {line.substr(0, pos), line.substr(pos + 1)};
}

}  // namespace

// The state of one CfgFile::load call. A friend of CfgFile, whose sections
// it fills directly.
class CfgFileParser {
 public:
  // False for a key that is not known.
  bool AddProperty(std::string_view key, std::string_view value) {
    if (isUnknown(currentSection)) {
      return true;
    }
    const std::size_t property = findWord(knownProperties, key);
    if (property == kNotFound) {
      return false;
    }
    pendingValues[property].emplace_back(value);
    hasPendingValues = true;
    return true;
  }

  // A later occurrence of a section with stored values replaces the earlier
  // one as a whole; an occurrence without any leaves it alone.
  void PurgeSection() {
    if (isUnknown(currentSection) || !hasPendingValues) {
      return;
    }
    CfgFile::Properties properties;
    for (std::size_t i = 0; i < std::size(pendingValues); ++i) {
      if (!pendingValues[i].empty()) {
        properties.emplace(*knownProperties[i].id, std::move(pendingValues[i]));
        pendingValues[i].clear();
      }
    }
    config.data[currentSection].swap(properties);
    currentSection = UnknownSection;
    hasPendingValues = false;
  }

  void selectSection(std::string_view name) {
    const std::size_t section = findWord(knownSections, name);
    currentSection =
        section != kNotFound ? *knownSections[section].id : UnknownSection;
  }

  bool inUnknownSection() const { return isUnknown(currentSection); }

  const char* sectionName() const { return currentSection.name(); }

  CfgFile result() { return std::move(config); }

 private:
  SectionId currentSection = UnknownSection;
  // The values of the current occurrence of a section, by the index of
  // their property in knownProperties.
  std::vector<std::string> pendingValues[std::size(knownProperties)];
  bool hasPendingValues = false;
  CfgFile config;
};

namespace {

// Reads a file line by line through C stdio, in large chunks. File streams
// are no use here: some standard libraries report a failed read (of a
// directory, or an I/O error) as the end of the file, while stdio tells the
// two apart. Chunks also spare the locking and copying of a call per line.
class LineReader {
 public:
  // Takes ownership of `openFile`, also when the constructor throws.
  explicit LineReader(std::FILE* openFile)
      : file(openFile), buffer(new char[kChunkSize]), capacity(kChunkSize) {}

  // The next line without its line-feed; valid until the next call. False
  // at the end of the file or on a read error, which atEnd() tells apart.
  bool next(std::string_view& line) {
    for (;;) {
      const char* const start = buffer.get() + begin;
      const void* const lineFeed = std::memchr(start, '\n', end - begin);
      if (lineFeed != nullptr) {
        const std::size_t size = static_cast<const char*>(lineFeed) - start;
        line = std::string_view(start, size);
        begin += size + 1;
        return true;
      }
      if (!fill()) {
        break;
      }
    }
    // The last line needs no line-feed, but a line cut short by a read
    // error is not a line.
    if (begin == end || !atEnd()) {
      return false;
    }
    line = std::string_view(buffer.get() + begin, end - begin);
    begin = end;
    return true;
  }

  bool atEnd() const { return std::feof(file.get()) != 0; }

 private:
  static constexpr std::size_t kChunkSize = 64 * 1024;

  // Keeps the unfinished line and reads more after it; false when nothing
  // more could be read.
  bool fill() {
    const std::size_t rest = end - begin;
    if (rest == capacity) {
      // One line fills the whole buffer.
      std::unique_ptr<char[]> larger(new char[capacity * 2]);
      std::memcpy(larger.get(), buffer.get() + begin, rest);
      buffer = std::move(larger);
      capacity *= 2;
    } else {
      std::memmove(buffer.get(), buffer.get() + begin, rest);
    }
    begin = 0;
    end = rest;
    const std::size_t count =
        std::fread(buffer.get() + end, 1, capacity - end, file.get());
    end += count;
    return count > 0;
  }

  struct FileCloser {
    void operator()(std::FILE* f) const { std::fclose(f); }
  };

  const std::unique_ptr<std::FILE, FileCloser> file;
  // Not zero-filled, unlike a vector: a small file touches only the first
  // page of it, and every page the kernel maps costs time at start-up.
  std::unique_ptr<char[]> buffer;
  std::size_t capacity;
  std::size_t begin = 0;  // the unread bytes of buffer are [begin, end)
  std::size_t end = 0;
};

}  // namespace

CfgFile CfgFile::load(const std::string& path, UnknownNames unknownNames) {
  const FileUtils::OpenedFile opened = FileUtils::openForReading(path);
  if (opened.file == nullptr) {
    THROW_ERROR(tstrings::any()
                << "Error opening \"" << path << "\" file: " << opened.failure);
  }
  LineReader reader(opened.file);

  const bool warn = unknownNames == WarnAboutUnknownNames;
  bool afterFirstHeader = false;
  CfgFileParser parser;
  std::string_view line;
  // 64 bits: a file can hold more lines than a 32-bit counter can number.
  std::int64_t lineNumber = 0;
  while (reader.next(line)) {
    ++lineNumber;
    // Windows editors end lines with CR LF, and Notepad starts the file
    // with a UTF-8 byte order mark: neither belongs to the text.
    if (!line.empty() && line.back() == '\r') {
      line.remove_suffix(1);
    }
    if (lineNumber == 1 && line.substr(0, 3) == kUtf8ByteOrderMark) {
      line.remove_prefix(3);
    }
    if (line.empty() || line.front() == ';') {
      continue;
    }
    if (line.front() == '[') {
      const std::size_t closing = line.rfind(']');
      if (closing == std::string_view::npos) {
        THROW_ERROR(tstrings::any() << "Error parsing [" << path << "] file at "
                                    << lineNumber << ": Missing ']' character");
      }
      parser.PurgeSection();
      const std::string_view name = line.substr(1, closing - 1);
      parser.selectSection(name);
      if (warn && parser.inUnknownSection()) {
        LOG_WARNING("Unknown section \"" << name << "\" at line " << lineNumber
                                         << " of \"" << path
                                         << "\" file ignored with its lines");
      }
      afterFirstHeader = true;
      continue;
    }
    if (parser.inUnknownSection()) {
      if (warn && !afterFirstHeader) {
        LOG_WARNING("Line " << lineNumber << " of \"" << path
                            << "\" file ignored: it comes before the first "
                               "section");
      }
      // AddProperty would drop the line anyway; skip the split.
      continue;
    }
    const auto keyValue = splitProperty(line);
    if (!parser.AddProperty(keyValue.first, keyValue.second) && warn) {
      LOG_WARNING("Unknown key \""
                  << keyValue.first << "\" in \"" << parser.sectionName()
                  << "\" section at line " << lineNumber << " of \"" << path
                  << "\" file ignored");
    }
  }
  if (!reader.atEnd()) {
    THROW_ERROR(tstrings::any() << "Failed to read \"" << path
                                << "\" file up to the end: " << lastCRTError());
  }
  parser.PurgeSection();
  return parser.result();
}

namespace {

// Beyond this, a pass that only checks whether a value settles is abandoned:
// values grow like that only when a replacement text holds macro texts.
constexpr std::size_t kMinExpansionLimit = std::size_t(1) << 20;
constexpr std::size_t kMaxExpansionGrowth = 64;

// The length tstrings::replace would give, or `limit` + 1 once it would
// exceed `limit`; counts occurrences the same way: left to right, without
// overlap.
std::size_t replacedLength(const std::string& s, const std::string& search,
                           const std::string& replacement, std::size_t limit) {
  std::size_t length = s.size();
  if (search.empty() || replacement.size() <= search.size()) {
    return length;
  }
  const std::size_t growth = replacement.size() - search.size();
  for (std::size_t pos = s.find(search); pos != std::string::npos;
       pos = s.find(search, pos + search.size())) {
    if (length > limit || limit - length < growth) {
      return limit + 1;
    }
    length += growth;
  }
  return length;
}

bool holdsMacro(const std::string& value, const CfgFile::Macros& macros) {
  for (const auto& macro : macros) {
    if (!macro.first.empty() && value.find(macro.first) != std::string::npos) {
      return true;
    }
  }
  return false;
}

// Applies every macro once, in the map's order. Returns false, with `value`
// partly expanded, when the text would grow beyond `limit` bytes.
bool expandOnce(std::string& value, const CfgFile::Macros& macros,
                std::size_t limit) {
  for (const auto& macro : macros) {
    if (macro.first.empty() || value.find(macro.first) == std::string::npos) {
      // Spares the copy that tstrings::replace returns.
      continue;
    }
    if (replacedLength(value, macro.first, macro.second, limit) > limit) {
      return false;
    }
    value = tstrings::replace(value, macro.first, macro.second);
  }
  return true;
}

// Expands until a pass changes nothing. A replacement text that contains
// its own macro text, or macros whose replacements contain each other, never
// settle; such a value keeps its first expansion, which is what the file
// meant, and is reported once.
void expandValue(std::string& value, const CfgFile::Macros& macros) {
  // Most values name no macro at all: they are final as they are, and are
  // neither copied nor compared.
  if (!holdsMacro(value, macros)) {
    return;
  }
  std::string firstPass = value;
  expandOnce(firstPass, macros, std::numeric_limits<std::size_t>::max());
  if (firstPass == value) {
    return;
  }
  // The usual case: the replacements hold no macro text, so a second pass
  // would change nothing.
  if (!holdsMacro(firstPass, macros)) {
    value = std::move(firstPass);
    return;
  }

  // Without a cycle every pass resolves at least one more level of nesting,
  // and there are no more levels than macros.
  const std::size_t maxPasses = macros.size() + 1;
  const std::size_t limit =
      firstPass.size() > kMinExpansionLimit / kMaxExpansionGrowth
          ? firstPass.size() * kMaxExpansionGrowth
          : kMinExpansionLimit;
  std::string current = firstPass;
  for (std::size_t pass = 2; pass <= maxPasses; ++pass) {
    std::string candidate = current;
    if (!expandOnce(candidate, macros, limit)) {
      break;
    }
    if (candidate == current) {
      value = std::move(candidate);
      return;
    }
    current = std::move(candidate);
  }
  LOG_WARNING("Macros in \"" << value << "\" keep expanding; using \""
                             << firstPass << "\"");
  value = std::move(firstPass);
}

}  // namespace

CfgFile CfgFile::expandMacros(const Macros& macros) const& {
  CfgFile copy(*this);
  copy.expandInPlace(macros);
  return copy;
}

CfgFile CfgFile::expandMacros(const Macros& macros) && {
  expandInPlace(macros);
  return std::move(*this);
}

void CfgFile::expandInPlace(const Macros& macros) {
  for (auto& section : data) {
    for (auto& property : section.second) {
      for (std::string& value : property.second) {
        expandValue(value, macros);
      }
    }
  }
}

std::vector<std::string> CfgFile::getValues(
    const Id<SectionNameTag>& sectionName,
    const Id<PropertyNameTag>& name) const {
  const Properties& section = getProperties(sectionName);
  const Properties::const_iterator property = section.find(name);
  return property == section.end() ? std::vector<std::string>()
                                   : property->second;
}

bool CfgFile::anyValueContains(const std::string& text) const {
  for (const auto& section : data) {
    for (const auto& property : section.second) {
      for (const std::string& value : property.second) {
        if (value.find(text) != std::string::npos) {
          return true;
        }
      }
    }
  }
  return false;
}

const CfgFile::Properties& CfgFile::getProperties(
    const Id<SectionNameTag>& sectionName) const {
  const PropertyMap::const_iterator found = data.find(sectionName);
  if (found == data.end()) {
    return empty;
  }
  return found->second;
}

CfgFile& CfgFile::setPropertyValue(const Id<SectionNameTag>& sectionName,
                                   const Id<PropertyNameTag>& name,
                                   const std::vector<std::string>& value) {
  data[sectionName][name] = value;
  return *this;
}

std::string CfgFile::asString(const Properties::value_type& property) {
  return property.second.back();
}

std::string CfgFile::asPathList(const Properties::value_type& property) {
  return tstrings::join(property.second.begin(), property.second.end(),
                        std::string(1, FileUtils::pathSeparator));
}
