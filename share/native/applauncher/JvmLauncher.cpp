#include "JvmLauncher.h"

#include "CfgFile.h"
#include "FileUtils.h"
#include "Log.h"
#include "SysInfo.h"
#include "tstrings.h"

namespace {

constexpr char splashOption[] = "-splash:";

// The property's map entry, or null when the section lacks it.
const CfgFile::Properties::value_type* findProperty(
    const CfgFile::Properties& section,
    const CfgFile::Id<CfgFile::PropertyNameTag>& name) {
  const CfgFile::Properties::const_iterator it = section.find(name);
  return it == section.end() ? nullptr : &*it;
}

}  // namespace

Jvm::Jvm() {
  LOG_TRACE("Jvm(" << static_cast<const void*>(this) << ")::Jvm()");
}

Jvm::~Jvm() {
  LOG_TRACE("Jvm(" << static_cast<const void*>(this) << ")::~Jvm()");
}

Jvm& Jvm::initFromConfigFile(const CfgFile& cfgFile) {
  const CfgFile::Properties& appOptions =
      cfgFile.getProperties(SectionName::Application);

  if (const auto* modulePath =
          findProperty(appOptions, PropertyName::modulepath)) {
    for (const std::string& entry : modulePath->second) {
      addArgument("--module-path");
      addArgument(entry);
    }
  }

  if (const auto* classPath =
          findProperty(appOptions, PropertyName::classpath)) {
    addArgument("-classpath");
    addArgument(CfgFile::asPathList(*classPath));
  }

  if (const auto* splash = findProperty(appOptions, PropertyName::splash)) {
    const std::string splashPath = CfgFile::asString(*splash);
    if (FileUtils::isFileExists(splashPath)) {
      addArgument(std::string(splashOption) + splashPath);
    } else {
      LOG_WARNING("Splash property ignored. File \"" << splashPath
                                                     << "\" not found");
    }
  }

  const CfgFile::Properties& javaOptions =
      cfgFile.getProperties(SectionName::JavaOptions);
  if (const auto* options =
          findProperty(javaOptions, PropertyName::javaOptions)) {
    for (const std::string& option : options->second) {
      addArgument(option);
    }
  }

  // Tells the application where its launcher is, so that it can find the
  // bundle it was started from.
  addArgument("-Dwrapkin.app-path=" + SysInfo::getProcessModulePath());

  if (const auto* mainModule =
          findProperty(appOptions, PropertyName::mainmodule)) {
    addArgument("-m");
    addArgument(CfgFile::asString(*mainModule));
  }

  if (const auto* mainClass =
          findProperty(appOptions, PropertyName::mainclass)) {
    addArgument(CfgFile::asString(*mainClass));
  }

  if (const auto* mainJar = findProperty(appOptions, PropertyName::mainjar)) {
    addArgument("-jar");
    addArgument(CfgFile::asString(*mainJar));
  }

  const CfgFile::Properties& argOptions =
      cfgFile.getProperties(SectionName::ArgOptions);
  if (const auto* appArgs = findProperty(argOptions, PropertyName::arguments)) {
    for (const std::string& arg : appArgs->second) {
      addArgument(arg);
    }
  }

  return *this;
}

Jvm& Jvm::addArgument(const std::string& value) {
  args.push_back(value);
  return *this;
}

bool Jvm::isWithSplash() const {
  for (const std::string& arg : args) {
    if (tstrings::startsWith(arg, splashOption, tstrings::MATCH_CASE)) {
      return true;
    }
  }
  return false;
}

void Jvm::setEnvVariables() {
  for (std::size_t i = 0; i < envNames.size(); ++i) {
    SysInfo::setEnvVariable(envNames.at(i), envValues.at(i));
  }
}
