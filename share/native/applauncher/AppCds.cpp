#include "AppCds.h"

#include <algorithm>
#include <exception>
#include <string>
#include <vector>

#include "AppCdsStore.h"
#include "CacheDir.h"
#include "CfgFile.h"
#include "FileUtils.h"
#include "Log.h"
#include "SysInfo.h"
#include "tstrings.h"

namespace {

const char kClassListOption[] = "-XX:DumpLoadedClassList=";

// Key folders of one launcher kept in the user's cache: enough for a few
// copies of an application and its last updates, each with its archive.
constexpr std::size_t kKeptCacheFolders = 8;

// The JVM adds the options of these to every start's. An archive made
// without them may not fit such a start, and the runtime would silently map
// no class data at all; one made with them would run what they name, an
// agent say, in the background.
const char* const kJvmOptionVariables[] = {"JAVA_TOOL_OPTIONS",
                                           "_JAVA_OPTIONS"};

std::vector<std::string> withPathReplaced(std::vector<std::string> options,
                                          const std::string& path,
                                          const std::string& replacement) {
  for (std::string& option : options) {
    option = tstrings::replace(option, path, replacement);
  }
  return options;
}

std::string configuredArchive(const CfgFile& cfgFile) {
  const CfgFile::Properties& app =
      cfgFile.getProperties(SectionName::Application);
  const CfgFile::Properties::const_iterator property =
      app.find(PropertyName::cds);
  return property == app.end() ? std::string() : CfgFile::asString(*property);
}

// Whether the archive lies in the key folder, whose key follows the files
// of the bundle and runtime.
bool isInKeyFolder(const std::string& archive, const std::string& cacheDir) {
  return !cacheDir.empty() && tstrings::startsWith(archive, cacheDir + "/");
}

// The folders whose files a start trusts with the archive: its own, and
// those above it up to the user's cache folder when it lies there. Whoever
// may write to one of them may put another folder, or archive, in the
// place of what the launcher checked.
std::vector<std::string> foldersToTrust(const std::string& archive,
                                        const std::string& cacheDir) {
  std::string folder = FileUtils::dirname(archive);
  std::vector<std::string> folders{folder};
  const std::string cacheRoot =
      FileUtils::dirname(FileUtils::dirname(cacheDir));
  if (!cacheDir.empty() && tstrings::startsWith(folder, cacheRoot + "/")) {
    while (folder.size() > cacheRoot.size()) {
      folder = FileUtils::dirname(folder);
      folders.push_back(folder);
    }
  }
  return folders;
}

// Whether the archive may be kept where "app.cds" says, for a start of this
// environment; otherwise says why not in the trace.
bool mayKeepArchive(const std::string& archive, const std::string& cacheDir) {
  if (archive.find("$CACHEDIR") != std::string::npos) {
    LOG_TRACE("No class-data options: \""
              << archive << "\" of \"" << PropertyName::cds.name()
              << "\" in \"" << SectionName::Application.name()
              << "\" section names $CACHEDIR, and the user has no cache "
                 "folder (no absolute HOME)");
    return false;
  }
  if (archive.find(FileUtils::pathSeparator) != std::string::npos) {
    LOG_TRACE("No class-data options: archive \""
              << archive << "\" holds \"" << FileUtils::pathSeparator
              << "\", which the runtime takes for the end of an archive's "
                 "path");
    return false;
  }
  for (const char* variable : kJvmOptionVariables) {
    if (!SysInfo::getEnvVariable(std::nothrow, variable, std::string())
             .empty()) {
      LOG_TRACE("No class-data options: "
                << variable
                << " is set, and the runtime adds its options to this "
                   "start's, which an archive must fit");
      return false;
    }
  }
  const std::string folder = FileUtils::dirname(archive);
  std::string failure;
  if (!FileUtils::createDirectories(folder, failure)) {
    LOG_TRACE("No class-data options: cannot create \""
              << folder << "\" directory: " << failure);
    return false;
  }
  for (const std::string& trusted : foldersToTrust(archive, cacheDir)) {
    if (!FileUtils::isPrivateFolder(trusted, failure)) {
      LOG_TRACE("No class-data options: \"" << trusted << "\" directory "
                                            << failure);
      return false;
    }
  }
  return true;
}

// Releases the archive's lock on the way out, unless the start keeps it to
// make the archive.
class HeldLock {
 public:
  HeldLock() = default;
  HeldLock(const HeldLock&) = delete;
  HeldLock& operator=(const HeldLock&) = delete;
  ~HeldLock() {
    if (!kept) {
      AppCdsStore::releaseLock();
    }
  }
  void keep() { kept = true; }

 private:
  bool kept = false;
};

}  // namespace

std::string javaHomeOf(const std::string& jvmLibPath) {
  std::string lib = FileUtils::dirname(jvmLibPath);
  if (FileUtils::basename(lib) == "jli") {
    lib = FileUtils::dirname(lib);
  }
  return FileUtils::dirname(lib);
}

AppCds AppCds::plan(const CfgFile& cfgFile, const std::string& javaHome,
                    const std::string& cacheDir,
                    const std::vector<std::string>& keySources) {
  AppCds cds;
  cds.archive = configuredArchive(cfgFile);
  if (cds.archive.empty()) {
    return cds;
  }
  try {
    if (!mayKeepArchive(cds.archive, cacheDir)) {
      return AppCds();
    }
    if (AppCdsStore::whyIncomplete(cds.archive).empty()) {
      return cds.use(cfgFile, cacheDir);
    }
    switch (AppCdsStore::lockForMaking(cds.archive)) {
      case AppCdsStore::Lock::taken:
        break;
      case AppCdsStore::Lock::heldElsewhere:
        LOG_TRACE("No class-data options: archive \""
                  << cds.archive << "\" is being made by another start");
        return AppCds();
      case AppCdsStore::Lock::failed:
        LOG_TRACE("No class-data options: cannot lock archive \""
                  << cds.archive << "\"");
        return AppCds();
    }
    HeldLock lock;
    // The start that held the lock may have completed it meanwhile.
    const std::string why = AppCdsStore::whyIncomplete(cds.archive);
    if (why.empty()) {
      return cds.use(cfgFile, cacheDir);
    }
    if (AppCdsStore::failedRecently(cds.archive)) {
      LOG_TRACE("No class-data options: making archive \""
                << cds.archive << "\" failed within the last day");
      return AppCds();
    }
    AppCdsStore::removeLeftovers(cds.archive);
    if (FileUtils::dirname(cds.archive) == cacheDir) {
      CacheDir::prune(cacheDir, kKeptCacheFolders);
    }
    if (!cds.prepareMaking(cfgFile, javaHome, cacheDir, keySources)) {
      return AppCds();
    }
    std::string failure;
    if (!AppCdsStore::createStartOutput(cds.archive, failure)) {
      LOG_TRACE("No class-data options: cannot create \""
                << AppCdsStore::startOutput(cds.archive)
                << "\" file: " << failure);
      return AppCds();
    }
    lock.keep();
    LOG_TRACE("Class-data archive \""
              << cds.archive << "\" " << why << ": adding the options of \""
              << SectionName::AppCDSGenerateCacheJavaOptions.name()
              << "\" section; the runtime writes \""
              << AppCdsStore::startOutput(cds.archive) << "\"");
  } catch (const std::exception& e) {
    // Out of memory, most likely: the start matters more than its archive.
    LOG_TRACE("No class-data options: " << e.what());
    return AppCds();
  }
  return cds;
}

AppCds AppCds::use(const CfgFile& cfgFile, const std::string& cacheDir) {
  options = cfgFile.getValues(SectionName::AppCDSJavaOptions,
                              PropertyName::javaOptions);
  LOG_TRACE("Class-data archive \""
            << archive << "\" is complete: adding the options of \""
            << SectionName::AppCDSJavaOptions.name() << "\" section");
  if (FileUtils::dirname(archive) == cacheDir) {
    CacheDir::markUsed(cacheDir);
  }
  return *this;
}

bool AppCds::prepareMaking(const CfgFile& cfgFile, const std::string& javaHome,
                           const std::string& cacheDir,
                           const std::vector<std::string>& sources) {
  const std::vector<std::string> generating = cfgFile.getValues(
      SectionName::AppCDSGenerateCacheJavaOptions, PropertyName::javaOptions);
  if (generating.empty()) {
    LOG_TRACE("No class-data options: \""
              << SectionName::AppCDSGenerateCacheJavaOptions.name()
              << "\" section has no java-options to make archive \"" << archive
              << "\" with");
    return false;
  }
  const bool writesClassList = std::any_of(
      generating.begin(), generating.end(), [](const std::string& option) {
        return tstrings::startsWith(option, kClassListOption);
      });
  if (writesClassList) {
    javaLauncher = FileUtils::combinePath(javaHome, "bin/java");
    if (!FileUtils::getFileStatus(javaLauncher).isRegularFile) {
      LOG_TRACE("No class-data options: no \""
                << javaLauncher << "\" to make archive \"" << archive
                << "\" from a class list with");
      return false;
    }
    useOptions = cfgFile.getValues(SectionName::AppCDSJavaOptions,
                                   PropertyName::javaOptions);
    if (isInKeyFolder(archive, cacheDir)) {
      keySources = sources;
    }
  }
  options =
      withPathReplaced(generating, archive, AppCdsStore::startOutput(archive));
  making = true;
  return true;
}

AppCds AppCds::resumeAfterRestart(const CfgFile& cfgFile,
                                  const std::string& javaHome,
                                  const std::string& cacheDir,
                                  const std::vector<std::string>& keySources,
                                  const std::vector<std::string>& jvmArgs) {
  AppCds cds;
  cds.archive = configuredArchive(cfgFile);
  if (cds.archive.empty()) {
    return cds;
  }
  const std::string produced = AppCdsStore::startOutput(cds.archive);
  const bool makes =
      std::any_of(jvmArgs.begin(), jvmArgs.end(), [&](const std::string& arg) {
        return arg.find(produced) != std::string::npos;
      });
  // The lock did not survive the new start of the program.
  if (makes && cds.prepareMaking(cfgFile, javaHome, cacheDir, keySources) &&
      AppCdsStore::lockForMaking(cds.archive) == AppCdsStore::Lock::taken) {
    return cds;
  }
  return AppCds();
}

void AppCds::completeAtExit(const CfgFile& startCfg) const {
  if (!making) {
    return;
  }
  try {
    AppCdsStore::Completion completion;
    completion.archive = archive;
    completion.produced = AppCdsStore::startOutput(archive);
    if (!javaLauncher.empty()) {
      completion.dumpCommand = javaCommand(startCfg, Run::dump);
      if (completion.dumpCommand.empty()) {
        return;
      }
      completion.proofCommand = javaCommand(startCfg, Run::proof);
      completion.keySources = keySources;
      completion.launcher = SysInfo::getProcessModulePath();
    }
    AppCdsStore::completeAtExit(completion);
  } catch (const std::exception& e) {
    // What the runtime writes is removed by the next start that makes the
    // archive.
    LOG_TRACE("Class-data archive \"" << archive
                                      << "\" is not made: " << e.what());
  }
}

// The start's module path, class path, JVM options and entry point, with
// the options of "AppCDSJavaOptions" in the place of the generating ones
// and the archive's path in them replaced by the dump's output, and
// nothing of the arguments or the splash screen. The dump (-Xshare:dump)
// makes the archive and ends before the runtime runs anything of the
// application; a start with -jar gets -cp with the jar instead, which makes
// the same class path, for the jar's manifest may name a splash screen.
// The proof (--dry-run) loads the main class without running it, where
// -Xshare:on makes the runtime fail when it cannot map the archive, and
// logs the files it checks; it gets -jar as the start does, headless,
// which keeps a splash screen away.
std::vector<std::string> AppCds::javaCommand(const CfgFile& startCfg,
                                             Run run) const {
  const std::vector<std::string> jvmOptions =
      startCfg.getValues(SectionName::JavaOptions, PropertyName::javaOptions);
  const std::vector<std::string>::const_iterator at = std::search(
      jvmOptions.begin(), jvmOptions.end(), options.begin(), options.end());
  if (at == jvmOptions.end()) {
    // Without them the dump would have no class list to make it from.
    return {};
  }
  const auto last = [&](const CfgFile::Id<CfgFile::PropertyNameTag>& name) {
    const std::vector<std::string> values =
        startCfg.getValues(SectionName::Application, name);
    return values.empty() ? std::string() : values.back();
  };
  // As the runtime's launcher takes them: what follows the first of these
  // is the application's arguments.
  const std::string mainModule = last(PropertyName::mainmodule);
  const std::string mainClass = last(PropertyName::mainclass);
  const std::string mainJar = mainModule.empty() && mainClass.empty()
                                  ? last(PropertyName::mainjar)
                                  : std::string();
  std::vector<std::string> entry;
  if (!mainModule.empty()) {
    entry = {"-m", mainModule};
  } else if (!mainClass.empty()) {
    entry = {mainClass};
  } else if (!mainJar.empty() && run == Run::proof) {
    entry = {"-Djava.awt.headless=true", "-jar", mainJar};
  }

  std::vector<std::string> command{javaLauncher};
  for (const std::string& path :
       startCfg.getValues(SectionName::Application, PropertyName::modulepath)) {
    command.insert(command.end(), {"--module-path", path});
  }
  const std::vector<std::string> classPath =
      startCfg.getValues(SectionName::Application, PropertyName::classpath);
  if (!mainJar.empty() && run == Run::dump) {
    command.insert(command.end(), {"-cp", mainJar});
  } else if (!classPath.empty()) {
    command.insert(command.end(),
                   {"-cp", tstrings::join(classPath, FileUtils::pathSeparator)});
  }
  command.insert(command.end(), jvmOptions.begin(), at);
  const std::vector<std::string> archiveOptions =
      withPathReplaced(useOptions, archive, AppCdsStore::dumpOutput(archive));
  command.insert(command.end(), archiveOptions.begin(), archiveOptions.end());
  if (run == Run::dump) {
    command.insert(command.end(),
                   {"-Xshare:dump", "-XX:SharedClassListFile=" +
                                        AppCdsStore::startOutput(archive)});
  }
  command.insert(command.end(),
                 at + static_cast<std::ptrdiff_t>(options.size()),
                 jvmOptions.end());
  if (run == Run::proof) {
    // Last, so that no option of the start's turns them off.
    command.insert(
        command.end(),
        {"-Xshare:on", "-Xlog:class+path=info:stdout:none", "--dry-run"});
  }
  command.insert(command.end(), entry.begin(), entry.end());
  return command;
}
