#include "CfgFile.h"

#include <cerrno>
#include <cstddef>
#include <cstdint>
#include <fstream>
#include <limits>
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
}  // namespace PropertyName

namespace {

typedef CfgFile::Id<CfgFile::SectionNameTag> SectionId;
typedef CfgFile::Id<CfgFile::PropertyNameTag> PropertyId;

// Lines before the first header and lines of unrecognised sections belong
// here and are dropped.
constexpr SectionId UnknownSection("");

const SectionId* const knownSections[] = {
    &SectionName::Application,
    &SectionName::JavaOptions,
    &SectionName::AppCDSJavaOptions,
    &SectionName::AppCDSGenerateCacheJavaOptions,
    &SectionName::ArgOptions,
};

const PropertyId* const knownProperties[] = {
    &PropertyName::version,   &PropertyName::mainjar,
    &PropertyName::mainmodule, &PropertyName::mainclass,
    &PropertyName::classpath, &PropertyName::modulepath,
    &PropertyName::runtime,   &PropertyName::splash,
    &PropertyName::memory,    &PropertyName::arguments,
    &PropertyName::javaOptions,
};

// The stored identifier is always the constant itself, so nothing in a
// loaded CfgFile points into text read from the file.
template <class Id, std::size_t N>
const Id* findId(const Id* const (&ids)[N], std::string_view name) {
  for (const Id* id : ids) {
    if (name == id->name()) {
      return id;
    }
  }
  return nullptr;
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

// The state of one CfgFile::load call. Declared a friend by CfgFile so that
// a finished section can be swapped into the result without copying.
class CfgFileParser {
 public:
  void AddProperty(std::string_view key, std::string_view value) {
    if (currentSection == UnknownSection) {
      return;
    }
    const PropertyId* const property = findId(knownProperties, key);
    if (property != nullptr) {
      pendingProperties[*property].emplace_back(value);
    }
  }

  // A later occurrence of a section with stored values replaces the earlier
  // one as a whole; an occurrence without any leaves it alone.
  void PurgeSection() {
    if (currentSection == UnknownSection || pendingProperties.empty()) {
      return;
    }
    config.data[currentSection].swap(pendingProperties);
    currentSection = UnknownSection;
    pendingProperties.clear();
  }

  void selectSection(std::string_view name) {
    const SectionId* const section = findId(knownSections, name);
    currentSection = section != nullptr ? *section : UnknownSection;
  }

  bool inUnknownSection() const { return currentSection == UnknownSection; }

  CfgFile takeResult() { return std::move(config); }

 private:
  SectionId currentSection = UnknownSection;
  CfgFile::Properties pendingProperties;
  CfgFile config;
};

CfgFile CfgFile::load(const std::string& path) {
  errno = 0;
  std::ifstream input(path, std::ios::in | std::ios::binary);
  if (!input.good()) {
    THROW_ERROR(tstrings::any() << "Error opening \"" << path
                                << "\" file: " << lastCRTError());
  }

  CfgFileParser parser;
  std::string line;
  // 64 bits: a file can hold more lines than a 32-bit counter can number.
  std::int64_t lineNumber = 0;
  while (std::getline(input, line)) {
    ++lineNumber;
    if (line.empty() || line.front() == ';') {
      continue;
    }
    if (line.front() == '[') {
      const std::size_t closing = line.rfind(']');
      if (closing == std::string::npos) {
        THROW_ERROR(tstrings::any() << "Error parsing [" << path << "] file at "
                                    << lineNumber
                                    << ": Missing ']' character");
      }
      parser.PurgeSection();
      parser.selectSection(std::string_view(line).substr(1, closing - 1));
      continue;
    }
    if (parser.inUnknownSection()) {
      // AddProperty would drop the line anyway; skip the split.
      continue;
    }
    const auto keyValue = splitProperty(line);
    parser.AddProperty(keyValue.first, keyValue.second);
  }
  if (!input.eof()) {
    THROW_ERROR(tstrings::any() << "Failed to read \"" << path
                                << "\" file up to the end: " << lastCRTError());
  }
  parser.PurgeSection();
  return parser.takeResult();
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

// Applies every macro once, in the map's order. Returns false, with `value`
// partly expanded, when the text would grow beyond `limit` bytes.
bool expandOnce(std::string& value, const CfgFile::Macros& macros,
                std::size_t limit) {
  for (const auto& macro : macros) {
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
std::string expandValue(const std::string& value,
                        const CfgFile::Macros& macros) {
  std::string firstPass = value;
  expandOnce(firstPass, macros, std::numeric_limits<std::size_t>::max());
  if (firstPass == value) {
    return firstPass;
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
      return candidate;
    }
    current = std::move(candidate);
  }
  LOG_WARNING("Macros in \"" << value << "\" keep expanding; using \""
                             << firstPass << "\"");
  return firstPass;
}

}  // namespace

CfgFile CfgFile::expandMacros(const Macros& macros) const {
  CfgFile copy(*this);
  for (auto& section : copy.data) {
    for (auto& property : section.second) {
      for (std::string& value : property.second) {
        value = expandValue(value, macros);
      }
    }
  }
  return copy;
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
