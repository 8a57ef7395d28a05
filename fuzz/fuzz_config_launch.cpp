// The first pass of the launcher on arbitrary configuration files: bytes are
// written to the configuration file of a bundle in a temporary folder, read
// with CfgFile::load, expanded with the bundle's directories, composed into a
// Jvm and turned into a launcher-data buffer. Checked on the way: the parse
// matches a straightforward reading of the file format (also behind a value
// of 64 KiB and more), a load fails only on the first header without "]" and
// with that message, expansion leaves no macro behind, the JVM command line
// has the documented order, and the buffer's pointer graph is exactly the
// Jvm's data laid out in one block.

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <exception>
#include <filesystem>
#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <system_error>
#include <vector>

#include "CfgFile.h"
#include "ErrorHandling.h"
#include "FileUtils.h"
#include "FuzzCheck.h"
#include "JvmLauncher.h"
#include "Log.h"
#include "SysInfo.h"
#include "tstrings.h"

namespace {

const char* const libEnvVariableName = "DYLD_LIBRARY_PATH";
const char* const jvmLibName = "Contents/Home/lib/libjli.dylib";

// The bundle every input is launched from, laid out once per process.
struct Bundle {
  std::filesystem::path tempDir;
  std::string rootDir;
  std::string appDir;
  std::string launcherPath;
  std::string cfgPath;
  std::string defaultRuntimeDir;
  CfgFile::Macros macros;
  // Directories whose names hold macro texts: expansion must still end.
  CfgFile::Macros selfReferringMacros;
  bool macroFreeDirs = false;
};

Bundle bundle;

void removeBundle() {
  std::error_code ignored;
  std::filesystem::remove_all(bundle.tempDir, ignored);
}

void setUpBundle() {
  std::string dir =
      (std::filesystem::temp_directory_path() / "wrapkin-fuzz-XXXXXX").string();
  FUZZ_CHECK(mkdtemp(dir.data()) != nullptr);
  bundle.tempDir = dir;
  std::atexit(removeBundle);

  bundle.rootDir = dir + "/Fuzz App.app";
  bundle.appDir = bundle.rootDir + "/Contents/app";
  bundle.defaultRuntimeDir = bundle.rootDir + "/Contents/runtime";
  std::filesystem::create_directories(bundle.appDir);
  std::filesystem::create_directories(bundle.defaultRuntimeDir);
  // A splash image that configurations may name as "$APPDIR/splash.png".
  std::ofstream(bundle.appDir + "/splash.png") << "png";

  bundle.launcherPath = SysInfo::getProcessModulePath();
  bundle.cfgPath = FileUtils::combinePath(
      bundle.appDir,
      FileUtils::stripExeSuffix(FileUtils::basename(bundle.launcherPath)) +
          ".cfg");
  const std::string binDir = FileUtils::dirname(bundle.launcherPath);
  bundle.macros = {{"$APPDIR", bundle.appDir},
                   {"$BINDIR", binDir},
                   {"$ROOTDIR", bundle.rootDir}};
  bundle.selfReferringMacros = {{"$APPDIR", bundle.rootDir + "/$APPDIR/app"},
                                {"$BINDIR", "$ROOTDIR/bin"},
                                {"$ROOTDIR", "$BINDIR/.."}};
  bundle.macroFreeDirs =
      (bundle.appDir + binDir + bundle.rootDir).find('$') == std::string::npos;
}

void writeConfigFile(const std::string& text) {
  std::ofstream file(bundle.cfgPath,
                     std::ios::out | std::ios::binary | std::ios::trunc);
  file.write(text.data(), static_cast<std::streamsize>(text.size()));
  file.close();
  FUZZ_CHECK(file.good());
}

// --- The file format, read the plain way --------------------------------

typedef std::map<std::string, std::vector<std::string> > PlainProperties;
typedef std::map<std::string, PlainProperties> PlainConfig;

const char* const sectionNames[] = {
    "Application", "JavaOptions", "AppCDSJavaOptions",
    "AppCDSGenerateCacheJavaOptions", "ArgOptions"};
const char* const propertyNames[] = {
    "app.version",   "app.mainjar",    "app.mainmodule", "app.mainclass",
    "app.classpath", "app.modulepath", "app.runtime",    "app.splash",
    "app.memory",    "arguments",      "java-options",   "app.cds",
    "app.user-options"};

template <std::size_t N>
bool isOneOf(const std::string& name, const char* const (&names)[N]) {
  for (const char* known : names) {
    if (name == known) {
      return true;
    }
  }
  return false;
}

// Lines without their ends: a line-feed, or a CR and a line-feed, or a CR
// at the very end. A UTF-8 byte order mark before the first line is no text.
std::vector<std::string> linesOf(const std::string& text) {
  std::vector<std::string> lines;
  const std::string byteOrderMark = "\xEF\xBB\xBF";
  tstrings::split(
      lines, text.compare(0, 3, byteOrderMark) == 0 ? text.substr(3) : text,
      "\n", tstrings::KEEP_EMPTY);
  if (!lines.empty() && lines.back().empty()) {
    lines.pop_back();  // the line-feed ended the last line
  }
  for (std::string& line : lines) {
    if (!line.empty() && line.back() == '\r') {
      line.pop_back();
    }
  }
  return lines;
}

// The number of the first header line without "]", or 0.
std::size_t firstBrokenHeader(const std::vector<std::string>& lines) {
  for (std::size_t i = 0; i < lines.size(); ++i) {
    if (!lines[i].empty() && lines[i][0] == '[' &&
        lines[i].find(']') == std::string::npos) {
      return i + 1;
    }
  }
  return 0;
}

PlainConfig readPlainly(const std::vector<std::string>& lines) {
  PlainConfig result;
  std::string section;  // empty: not a recognised section
  PlainProperties pending;
  const auto commitSection = [&]() {
    if (!section.empty() && !pending.empty()) {
      result[section] = pending;
    }
    pending.clear();
  };
  for (const std::string& line : lines) {
    if (line.empty() || line[0] == ';') {
      continue;
    }
    if (line[0] == '[') {
      commitSection();
      const std::string name = line.substr(1, line.rfind(']') - 1);
      section = isOneOf(name, sectionNames) ? name : std::string();
      continue;
    }
    std::string::size_type separator = line.find('=');
    while (separator != std::string::npos && separator > 0 &&
           line[separator - 1] == '\\') {
      separator = line.find('=', separator + 1);
    }
    const std::string key = line.substr(0, separator);
    const std::string value =
        separator == std::string::npos ? std::string()
                                       : line.substr(separator + 1);
    if (!section.empty() && isOneOf(key, propertyNames)) {
      pending[key].push_back(value);
    }
  }
  commitSection();
  return result;
}

PlainConfig plainOf(const CfgFile& cfg) {
  PlainConfig result;
  for (const char* name : sectionNames) {
    const CfgFile::Properties& properties =
        cfg.getProperties(CfgFile::Id<CfgFile::SectionNameTag>(name));
    for (const auto& property : properties) {
      FUZZ_CHECK(!property.second.empty());
      result[name][property.first.name()] = property.second;
    }
  }
  return result;
}

std::string expandedPlainly(std::string value, const CfgFile::Macros& macros) {
  for (const auto& macro : macros) {
    value = tstrings::replace(value, macro.first, macro.second);
  }
  return value;
}

// Expansion changes values only. With `settling` macros, whose replacement
// texts hold no macro text, one pass expands everything.
void checkExpansion(const PlainConfig& loaded, const PlainConfig& expanded,
                    const CfgFile::Macros* settling) {
  FUZZ_CHECK(loaded.size() == expanded.size());
  for (const auto& section : loaded) {
    const auto found = expanded.find(section.first);
    FUZZ_CHECK(found != expanded.end());
    FUZZ_CHECK(found->second.size() == section.second.size());
    for (const auto& property : section.second) {
      const auto values = found->second.find(property.first);
      FUZZ_CHECK(values != found->second.end());
      FUZZ_CHECK(values->second.size() == property.second.size());
      if (settling == nullptr) {
        continue;
      }
      for (std::size_t i = 0; i < property.second.size(); ++i) {
        FUZZ_CHECK(values->second[i] ==
                   expandedPlainly(property.second[i], *settling));
        for (const auto& macro : *settling) {
          FUZZ_CHECK(values->second[i].find(macro.first) ==
                     std::string::npos);
        }
      }
    }
  }
}

// --- The JVM command line -------------------------------------------------

const std::vector<std::string>* valuesOf(const PlainConfig& cfg,
                                         const std::string& section,
                                         const std::string& property) {
  const auto s = cfg.find(section);
  if (s == cfg.end()) {
    return nullptr;
  }
  const auto p = s->second.find(property);
  return p == s->second.end() ? nullptr : &p->second;
}

std::vector<std::string> expectedArguments(const PlainConfig& cfg) {
  std::vector<std::string> args{bundle.launcherPath};
  const auto app = [&](const char* name) {
    return valuesOf(cfg, "Application", name);
  };
  if (const auto* v = app("app.modulepath")) {
    for (const std::string& entry : *v) {
      args.push_back("--module-path");
      args.push_back(entry);
    }
  }
  if (const auto* v = app("app.classpath")) {
    args.push_back("-classpath");
    args.push_back(tstrings::join(v->begin(), v->end(), ":"));
  }
  if (const auto* v = app("app.splash")) {
    if (FileUtils::isFileExists(v->back())) {
      args.push_back("-splash:" + v->back());
    }
  }
  if (const auto* v = valuesOf(cfg, "JavaOptions", "java-options")) {
    args.insert(args.end(), v->begin(), v->end());
  }
  args.push_back("-Dwrapkin.app-path=" + bundle.launcherPath);
  if (const auto* v = app("app.mainmodule")) {
    args.push_back("-m");
    args.push_back(v->back());
  }
  if (const auto* v = app("app.mainclass")) {
    args.push_back(v->back());
  }
  if (const auto* v = app("app.mainjar")) {
    args.push_back("-jar");
    args.push_back(v->back());
  }
  if (const auto* v = valuesOf(cfg, "ArgOptions", "arguments")) {
    args.insert(args.end(), v->begin(), v->end());
  }
  return args;
}

// --- The launcher-data buffer ---------------------------------------------

struct JvmData {
  std::string libPath;
  std::vector<std::string> args;
  std::vector<std::string> envNames;
  std::vector<std::string> envValues;
};

std::size_t stringsSize(const std::vector<std::string>& v) {
  std::size_t size = 0;
  for (const std::string& s : v) {
    size += s.size() + 1;
  }
  return size;
}

std::size_t expectedBufferSize(const JvmData& jvm) {
  return sizeof(JvmlLauncherData) + jvm.libPath.size() + 1 +
         sizeof(char*) * (jvm.args.size() + 1) + stringsSize(jvm.args) +
         sizeof(char*) * jvm.envNames.size() + stringsSize(jvm.envNames) +
         sizeof(char*) * jvm.envValues.size() + stringsSize(jvm.envValues);
}

// Walks the block in its documented order: every pointer must point at the
// next piece, every piece must lie inside the block and the walk must end
// exactly at the block's end.
class BlockWalk {
 public:
  BlockWalk(const char* begin, std::size_t size)
      : pos(begin + sizeof(JvmlLauncherData)), end(begin + size) {}

  void string(const char* p, const std::string& source) {
    FUZZ_CHECK(p == pos);
    take(source.size() + 1);
    // Zero-terminated and equal to its source, byte for byte.
    FUZZ_CHECK(std::memcmp(p, source.data(), source.size()) == 0);
    FUZZ_CHECK(p[source.size()] == '\0');
  }

  // The pointer arrays are not aligned: their slots are read byte-wise.
  void strings(char** array, const std::vector<std::string>& sources,
               bool nullTerminated) {
    const char* const slots = reinterpret_cast<const char*>(array);
    FUZZ_CHECK(slots == pos);
    const std::size_t count = sources.size() + (nullTerminated ? 1 : 0);
    take(sizeof(char*) * count);
    for (std::size_t i = 0; i < sources.size(); ++i) {
      string(slot(slots, i), sources[i]);
    }
    if (nullTerminated) {
      FUZZ_CHECK(slot(slots, sources.size()) == nullptr);
    }
  }

  static char* slot(const char* slots, std::size_t i) {
    char* value;
    std::memcpy(&value, slots + i * sizeof(char*), sizeof(value));
    return value;
  }

  bool atEnd() const { return pos == end; }

 private:
  void take(std::size_t n) {
    FUZZ_CHECK(n <= static_cast<std::size_t>(end - pos));
    pos += n;
  }

  const char* pos;
  const char* const end;
};

const JvmlLauncherData* launchedData = nullptr;

int fakeJliLaunch(int argc, char** argv, int jargc, const char** jargv,
                  int appclassc, const char** appclassv,
                  const char* fullversion, const char* dotversion,
                  const char* pname, const char* lname,
                  unsigned char javaargs, unsigned char cpwildcard,
                  unsigned char javaw, int ergo) {
  FUZZ_CHECK(argc == launchedData->argc && argv == launchedData->argv);
  FUZZ_CHECK(jargc == 0 && jargv == nullptr);
  FUZZ_CHECK(appclassc == 0 && appclassv == nullptr);
  FUZZ_CHECK(std::strcmp(fullversion, "") == 0 &&
             std::strcmp(dotversion, "") == 0);
  FUZZ_CHECK(std::strcmp(pname, "java") == 0 &&
             std::strcmp(lname, "java") == 0);
  FUZZ_CHECK(!javaargs && !cpwildcard && !javaw && ergo == 0);
  // A result the caller must hand back unchanged.
  return argc + 1;
}

void checkLauncherData(const Jvm& jvm, const JvmData& source) {
  JvmlLauncherApi* const api = jvmLauncherGetAPI();
  FUZZ_CHECK(api != nullptr && api->closeHandle != nullptr &&
             api->getJvmlLauncherDataSize != nullptr &&
             api->initJvmlLauncherData != nullptr);
  const std::size_t expectedSize = expectedBufferSize(source);

  // The table: a buffer one byte short is refused and left untouched.
  void* const probe = jvm.exportLauncher();
  FUZZ_CHECK(probe != nullptr);
  const int measured = api->getJvmlLauncherDataSize(probe);
  FUZZ_CHECK(measured > 0 && static_cast<std::size_t>(measured) == expectedSize);
  std::vector<unsigned char> shortBuffer(expectedSize - 1, 0xA5);
  FUZZ_CHECK(api->initJvmlLauncherData(probe, shortBuffer.data(),
                                       measured - 1) == nullptr);
  for (const unsigned char b : shortBuffer) {
    FUZZ_CHECK(b == 0xA5);
  }
  api->closeHandle(probe);

  int size = -1;
  JvmlLauncherData* const data =
      jvmLauncherCreateJvmlLauncherData(api, jvm.exportLauncher(), &size);
  FUZZ_CHECK(data != nullptr);
  FUZZ_CHECK(size > 0 && static_cast<std::size_t>(size) == expectedSize);

  BlockWalk walk(reinterpret_cast<const char*>(data), expectedSize);
  walk.string(data->libPath, source.libPath);
  FUZZ_CHECK(data->argc >= 0 &&
             static_cast<std::size_t>(data->argc) == source.args.size());
  walk.strings(data->argv, source.args, true);
  FUZZ_CHECK(data->envCount >= 0 &&
             static_cast<std::size_t>(data->envCount) ==
                 source.envNames.size());
  walk.strings(data->envNames, source.envNames, false);
  walk.strings(data->envValues, source.envValues, false);
  FUZZ_CHECK(walk.atEnd());

  launchedData = data;
  FUZZ_CHECK(jvmLauncherStartJvm(data, fakeJliLaunch) == data->argc + 1);
  launchedData = nullptr;
  std::free(data);
}

// --- One input ------------------------------------------------------------

// Writes `text` as the configuration file and loads it. A header without
// "]" is the only failure (the file is always there and readable), and it is
// reported for the first such line; otherwise the result must be what the
// plain reading finds. Returns whether the load succeeded.
bool loadChecked(const std::string& text, CfgFile& loaded) {
  writeConfigFile(text);
  const std::vector<std::string> lines = linesOf(text);
  const std::size_t brokenHeader = firstBrokenHeader(lines);
  try {
    loaded = CfgFile::load(bundle.cfgPath);
  } catch (const WkError<std::runtime_error>& e) {
    FUZZ_CHECK(brokenHeader != 0);
    const std::string expected = "Error parsing [" + bundle.cfgPath +
                                 "] file at " + std::to_string(brokenHeader) +
                                 ": Missing ']' character";
    FUZZ_CHECK(expected == e.rawMessage());
    return false;
  }
  FUZZ_CHECK(brokenHeader == 0);
  FUZZ_CHECK(plainOf(loaded) == readPlainly(lines));
  return true;
}

// For one input in four (by size, so that a run can be repeated): `text`
// behind one long stored value, so that the input straddles the 64 KiB
// marks where a reader that works in chunks or blocks (as the parser does)
// refills or starts a new block; for one size in eight the value line alone
// is longer than 64 KiB. Loading 64 KiB more costs several times what the
// input itself does, hence not for every input.
bool stretched(const std::string& text, std::string& result) {
  const std::size_t kind = text.size() % 8;
  if (kind > 1) {
    return false;
  }
  const std::size_t mark = std::size_t(64) * 1024;
  const std::size_t valueSize = mark - std::min(text.size() / 2, mark / 2) +
                                (kind == 1 ? mark / 8 : 0);
  result = "[Application]\napp.version=" + std::string(valueSize, 'v') +
           "\n" + text;
  return true;
}

void runOneInput(const std::string& text) {
  std::string longer;
  if (stretched(text, longer)) {
    CfgFile ignored;
    loadChecked(longer, ignored);
  }

  CfgFile loaded;
  if (!loadChecked(text, loaded)) {
    return;
  }
  const PlainConfig plainLoaded = plainOf(loaded);

  const CfgFile expanded = loaded.expandMacros(bundle.macros);
  const PlainConfig plainExpanded = plainOf(expanded);
  checkExpansion(plainLoaded, plainExpanded,
                 bundle.macroFreeDirs ? &bundle.macros : nullptr);
  checkExpansion(plainLoaded,
                 plainOf(loaded.expandMacros(bundle.selfReferringMacros)),
                 nullptr);
  FUZZ_CHECK(plainOf(loaded) == plainLoaded);  // expansion works on a copy

  // The launcher's own steps around Jvm::initFromConfigFile.
  JvmData source;
  source.envNames.push_back(libEnvVariableName);
  source.envValues.push_back(std::string(1, FileUtils::pathSeparator) +
                             bundle.appDir);
  const std::vector<std::string>* runtime =
      valuesOf(plainExpanded, "Application", "app.runtime");
  source.libPath = FileUtils::combinePath(
      runtime != nullptr ? runtime->back() : bundle.defaultRuntimeDir,
      jvmLibName);

  Jvm jvm;
  jvm.addEnvVariable(source.envNames[0], source.envValues[0]);
  jvm.setLibPath(source.libPath);
  jvm.addArgument(bundle.launcherPath);
  jvm.initFromConfigFile(expanded);
  source.args = jvm.getArguments();
  FUZZ_CHECK(source.args == expectedArguments(plainExpanded));
  FUZZ_CHECK(jvm.getLibPath() == source.libPath);

  checkLauncherData(jvm, source);
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
  // Trace records are still composed (the code runs), but go nowhere.
  static NopLogAppender quiet;
  Logger::defaultLogger().setAppender(quiet);
  setUpBundle();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t* data,
                                      std::size_t size) {
  // A load failure of the system's error type is handled inside; anything
  // else that escapes is a finding.
  try {
    runOneInput(std::string(reinterpret_cast<const char*>(data), size));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "unexpected exception: %s\n", e.what());
    std::abort();
  } catch (...) {
    std::fprintf(stderr, "unexpected exception of an unknown type\n");
    std::abort();
  }
  return 0;
}
