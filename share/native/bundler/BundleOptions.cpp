#include "BundleOptions.h"

#include <filesystem>

#include "BundleError.h"
#include "CfgText.h"
#include "DocumentTypes.h"
#include "EntryPoint.h"
#include "InfoPlist.h"

namespace {

enum class Takes { nothing, value, optionalValue };

// One option of the command line. Options that write a line of the
// configuration cannot be combined with --cfg, which gives the whole file.
struct Option {
  const char* name;
  const char* shortName;  // or nullptr
  Takes takes;
  bool writesCfg;
  void (*apply)(BundleOptions&, const std::string&);
};

void chooseRuntime(BundleOptions& o, RuntimeSource source) {
  if (o.runtime != RuntimeSource::copy && o.runtime != source) {
    throw BundleError("give only one of --jlink and --link-runtime");
  }
  o.runtime = source;
}

void addPlistString(BundleOptions& o, const std::string& keyValue) {
  const std::string::size_type eq = keyValue.find('=');
  if (eq == std::string::npos) {
    throw BundleError("--plist-string " + inQuotes(keyValue) +
                      " is not KEY=VALUE");
  }
  o.plistStrings.emplace_back(keyValue.substr(0, eq), keyValue.substr(eq + 1));
}

void setNotaryProfile(BundleOptions& o, const std::string& profile) {
  if (profile.empty()) {
    throw BundleError(
        "--notarize needs the name of a keychain profile: the one given to "
        "`xcrun notarytool store-credentials`");
  }
  o.notaryProfile = profile;
}

void omit(BundleOptions& o, const std::string& part) {
  if (part != "launcher" && part != "cfg" && part != "runtime" &&
      part != "jli") {
    throw BundleError("cannot omit \"" + part +
                      "\": use launcher, cfg, runtime or jli");
  }
  o.omitted.insert(part);
}

using O = BundleOptions;
using V = const std::string&;

const Option kOptions[] = {
    {"--name", nullptr, Takes::value, false, [](O& o, V v) { o.name = v; }},
    {"--launcher", nullptr, Takes::value, false,
     [](O& o, V v) { o.launcher = v; }},
    {"--out", "-o", Takes::value, false, [](O& o, V v) { o.out = v; }},
    {"--identifier", nullptr, Takes::value, false,
     [](O& o, V v) { o.identifier = v; }},
    {"--bundle-version", nullptr, Takes::value, true,
     [](O& o, V v) { o.bundleVersion = v; }},
    {"--icon", nullptr, Takes::value, false, [](O& o, V v) { o.icon = v; }},
    {"--document-type", nullptr, Takes::value, false,
     [](O& o, V v) { o.documentTypes.push_back(parseDocumentType(v)); }},
    {"--url-scheme", nullptr, Takes::value, false,
     [](O& o, V v) { o.urlSchemes.push_back(v); }},
    {"--plist-string", nullptr, Takes::value, false, addPlistString},
    {"--java-home", nullptr, Takes::value, false,
     [](O& o, V v) { o.javaHome = v; }},
    {"--jlink", nullptr, Takes::optionalValue, false,
     [](O& o, V v) {
       chooseRuntime(o, RuntimeSource::jlink);
       o.jlinkModules = v;
     }},
    {"--link-runtime", nullptr, Takes::nothing, false,
     [](O& o, V) { chooseRuntime(o, RuntimeSource::link); }},
    {"--main-jar", nullptr, Takes::value, true,
     [](O& o, V v) { o.mainJar = v; }},
    {"--class-path", nullptr, Takes::value, true,
     [](O& o, V v) { o.classPath.push_back(v); }},
    {"--main-class", nullptr, Takes::value, true,
     [](O& o, V v) { o.mainClass = v; }},
    {"--module-path", nullptr, Takes::value, true,
     [](O& o, V v) { o.modulePath.push_back(v); }},
    {"--main-module", nullptr, Takes::value, true,
     [](O& o, V v) { o.mainModule = v; }},
    {"--app-runtime", nullptr, Takes::value, true,
     [](O& o, V v) { o.appRuntime = v; }},
    {"--splash", nullptr, Takes::value, true, [](O& o, V v) { o.splash = v; }},
    {"--user-options", nullptr, Takes::nothing, true,
     [](O& o, V) { o.userOptions = true; }},
    {"--cds", nullptr, Takes::nothing, true, [](O& o, V) { o.cds = true; }},
    {"--java-option", nullptr, Takes::value, true,
     [](O& o, V v) { o.javaOptions.push_back(v); }},
    {"--argument", nullptr, Takes::value, true,
     [](O& o, V v) { o.arguments.push_back(v); }},
    {"--app-file", nullptr, Takes::value, false,
     [](O& o, V v) { o.appFiles.push_back(v); }},
    {"--entitlements", nullptr, Takes::nothing, false,
     [](O& o, V) { o.entitlements = true; }},
    {"--sign", nullptr, Takes::value, false,
     [](O& o, V v) { o.signIdentity = v; }},
    {"--dmg", nullptr, Takes::nothing, false,
     [](O& o, V) { o.diskImage = true; }},
    {"--notarize", nullptr, Takes::value, false, setNotaryProfile},
    {"--cfg", nullptr, Takes::value, false, [](O& o, V v) { o.cfgFile = v; }},
    {"--omit", nullptr, Takes::value, false, omit},
};

const Option* findOption(const std::string& name) {
  for (const Option& option : kOptions) {
    if (name == option.name ||
        (option.shortName != nullptr && name == option.shortName)) {
      return &option;
    }
  }
  return nullptr;
}

// The bundle's name is its file name, the launcher's, and part of every
// path the launcher and the Java runtime are given.
void checkName(const std::string& name) {
  if (name.empty()) {
    throw BundleError("the name is empty: give --name NAME");
  }
  if (name.find('/') != std::string::npos || name == "." || name == "..") {
    throw BundleError("the name " + inQuotes(name) + " is not a file name");
  }
  if (name.find('\\') != std::string::npos) {
    throw BundleError("the name " + inQuotes(name) +
                      " holds \"\\\", which the launcher takes for a folder "
                      "separator: choose another name");
  }
  if (name.find(':') != std::string::npos) {
    throw BundleError("the name " + inQuotes(name) + " holds \":\", " +
                      kPathListSeparatorReason + ": choose another name");
  }
  const std::string macro = launcherMacroIn(name);
  if (!macro.empty()) {
    throw BundleError("the name " + inQuotes(name) + " holds " +
                      inQuotes(macro) + ", " + kMacroReason +
                      ": choose another name");
  }
  checkInfoPlistText("name", name);
}

// What the options say about the bundle's name and description, which end
// up in file names, in the configuration and in the XML of Info.plist.
void checkDescription(const BundleOptions& o) {
  checkName(o.name);
  checkInfoPlistText("version", o.bundleVersion);
  checkInfoPlistText("icon file name",
                     std::filesystem::path(o.icon).filename().string());
  if (!o.identifier.empty() && !isBundleIdentifier(o.identifier)) {
    throw BundleError("the identifier \"" + o.identifier +
                      "\" is not reverse-DNS: use ASCII letters, digits, "
                      "\"-\" and \".\", as in com.example.MyApp");
  }
  checkDocumentTypes(o.documentTypes);
  checkUrlSchemes(o.urlSchemes);
  checkPlistStrings(o.plistStrings);
}

}  // namespace

BundleOptions parseBundleOptions(const std::vector<std::string>& args) {
  BundleOptions options;
  bool nameGiven = false;
  const char* cfgLineOption = nullptr;
  for (std::size_t i = 0; i < args.size(); ++i) {
    std::string name = args[i];
    if (name == "-h" || name == "--help") {
      options.help = true;
      return options;
    }
    std::string value;
    bool hasValue = false;
    const std::string::size_type eq = name.find('=');
    if (name.compare(0, 2, "--") == 0 && eq != std::string::npos) {
      value = name.substr(eq + 1);
      name.resize(eq);
      hasValue = true;
    }
    // The tool's own version; the bundle's was once given by this name.
    if (name == "--version") {
      if (!hasValue && i + 1 < args.size() &&
          args[i + 1].compare(0, 1, "-") != 0) {
        value = args[i + 1];
        hasValue = true;
      }
      if (hasValue) {
        throw BundleError(
            "--version prints this tool's version and takes no value: give "
            "the bundle's version as --bundle-version " +
            value);
      }
      options.showVersion = true;
      return options;
    }
    const Option* option = findOption(name);
    if (option == nullptr) {
      throw BundleError((name.empty() || name[0] != '-'
                             ? "unexpected argument \""
                             : "unknown option \"") +
                        name + "\" (see --help)");
    }
    if (option->takes == Takes::nothing && hasValue) {
      throw BundleError("option \"" + name + "\" takes no value");
    }
    if (!hasValue && i + 1 < args.size() &&
        (option->takes == Takes::value ||
         (option->takes == Takes::optionalValue &&
          args[i + 1].compare(0, 1, "-") != 0))) {
      value = args[++i];
      hasValue = true;
    }
    if (option->takes == Takes::value && !hasValue) {
      throw BundleError("option \"" + name + "\" needs a value");
    }
    if (value.find_first_of("\r\n") != std::string::npos) {
      throw BundleError("the value of \"" + name + "\" holds a line break");
    }
    option->apply(options, value);
    nameGiven = nameGiven || name == "--name";
    if (option->writesCfg) {
      cfgLineOption = option->name;
    }
  }
  if (!nameGiven) {
    throw BundleError("--name is required");
  }
  if (!options.cfgFile.empty() && cfgLineOption != nullptr) {
    throw BundleError(std::string("--cfg replaces the configuration that ") +
                      cfgLineOption +
                      " writes a line of; give one or the other");
  }
  checkDescription(options);
  if (!options.notaryProfile.empty() &&
      (options.signIdentity.empty() || !options.diskImage)) {
    throw BundleError(
        "--notarize needs --sign and --dmg: the notary service takes a disk "
        "image signed with a Developer ID");
  }
  if (options.cfgFile.empty() && !options.omits("cfg")) {
    checkEntryOptions(options);
  }
  return options;
}
