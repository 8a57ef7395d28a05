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
#include "tstrings.h"

namespace {

const char kClassListOption[] = "-XX:DumpLoadedClassList=";

// Key folders of one launcher kept in the user's cache: enough for a few
// copies of an application and its last updates, each with its archive.
constexpr std::size_t kKeptCacheFolders = 8;

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

}  // namespace

std::string javaHomeOf(const std::string& jvmLibPath) {
  std::string lib = FileUtils::dirname(jvmLibPath);
  if (FileUtils::basename(lib) == "jli") {
    lib = FileUtils::dirname(lib);
  }
  return FileUtils::dirname(lib);
}

AppCds AppCds::plan(const CfgFile& cfgFile, const std::string& javaHome,
                    const std::string& cacheDir) {
  AppCds cds;
  cds.archive = configuredArchive(cfgFile);
  if (cds.archive.empty()) {
    return cds;
  }
  try {
    if (cds.archive.find("$CACHEDIR") != std::string::npos) {
      LOG_TRACE("No class-data options: \""
                << cds.archive << "\" of \"" << PropertyName::cds.name()
                << "\" in \"" << SectionName::Application.name()
                << "\" section names $CACHEDIR, and the user has no cache "
                   "folder (no absolute HOME)");
      return AppCds();
    }
    const std::string why = AppCdsStore::whyIncomplete(cds.archive);
    if (why.empty()) {
      cds.options = cfgFile.getValues(SectionName::AppCDSJavaOptions,
                                      PropertyName::javaOptions);
      LOG_TRACE("Class-data archive \""
                << cds.archive << "\" is complete: adding the options of \""
                << SectionName::AppCDSJavaOptions.name() << "\" section");
      if (FileUtils::dirname(cds.archive) == cacheDir) {
        CacheDir::markUsed(cacheDir);
      }
      return cds;
    }
    if (AppCdsStore::isBeingMade(cds.archive)) {
      LOG_TRACE("No class-data options: archive \""
                << cds.archive << "\" is being made by another start");
      return AppCds();
    }
    if (AppCdsStore::failedRecently(cds.archive)) {
      LOG_TRACE("No class-data options: making archive \""
                << cds.archive << "\" failed within the last day");
      return AppCds();
    }
    const std::string folder = FileUtils::dirname(cds.archive);
    std::string failure;
    if (!FileUtils::createDirectories(folder, failure)) {
      LOG_TRACE("No class-data options: cannot create \""
                << folder << "\" directory: " << failure);
      return AppCds();
    }
    if (folder == cacheDir) {
      CacheDir::prune(cacheDir, kKeptCacheFolders);
    }
    if (!cds.prepareMaking(cfgFile, javaHome)) {
      return AppCds();
    }
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

bool AppCds::prepareMaking(const CfgFile& cfgFile,
                           const std::string& javaHome) {
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
  }
  if (!AppCdsStore::lockForMaking(archive)) {
    LOG_TRACE("No class-data options: cannot lock archive \"" << archive
                                                              << "\"");
    return false;
  }
  options =
      withPathReplaced(generating, archive, AppCdsStore::startOutput(archive));
  making = true;
  return true;
}

void AppCds::resumeAfterRestart(const CfgFile& cfgFile,
                                const std::string& javaHome,
                                const std::vector<std::string>& jvmArgs) {
  AppCds cds;
  cds.archive = configuredArchive(cfgFile);
  if (cds.archive.empty()) {
    return;
  }
  const std::string produced = AppCdsStore::startOutput(cds.archive);
  const bool makes =
      std::any_of(jvmArgs.begin(), jvmArgs.end(), [&](const std::string& arg) {
        return arg.find(produced) != std::string::npos;
      });
  if (makes && cds.prepareMaking(cfgFile, javaHome)) {
    cds.completeAtExit(jvmArgs);
  }
}

void AppCds::completeAtExit(const std::vector<std::string>& jvmArgs) const {
  if (!making) {
    return;
  }
  AppCdsStore::Completion completion;
  completion.archive = archive;
  completion.produced = AppCdsStore::startOutput(archive);
  if (!javaLauncher.empty()) {
    // The start's own command line, so that the archive fits the starts
    // that use it, with the making options in the place of the generating
    // ones. Nothing on the screen: no splash screen.
    const std::vector<std::string>::const_iterator at = std::search(
        jvmArgs.begin(), jvmArgs.end(), options.begin(), options.end());
    if (at == jvmArgs.end()) {
      // Without them the command would run the application once more.
      return;
    }
    std::vector<std::string>& command = completion.dumpCommand;
    command.push_back(javaLauncher);
    for (std::vector<std::string>::const_iterator arg = jvmArgs.begin() + 1;
         arg < jvmArgs.end(); ++arg) {
      if (arg == at) {
        const std::vector<std::string> dumping = withPathReplaced(
            useOptions, archive, AppCdsStore::dumpOutput(archive));
        command.insert(command.end(), dumping.begin(), dumping.end());
        command.push_back("-Xshare:dump");
        command.push_back("-XX:SharedClassListFile=" + completion.produced);
        arg += static_cast<std::ptrdiff_t>(options.size()) - 1;
      } else if (!tstrings::startsWith(*arg, "-splash:")) {
        command.push_back(*arg);
      }
    }
  }
  AppCdsStore::completeAtExit(completion);
}
