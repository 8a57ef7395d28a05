#pragma once

#include <filesystem>
#include <optional>
#include <string>
#include <vector>

struct BundleOptions;

// What goes into Contents/app: the jars, folders and files the options
// name, each under its own name, all found on disk before anything is built.
class AppFolder {
 public:
  // Raises BundleError for an input that is missing or a dangling link, for
  // two inputs of one name, and for a name that the configuration or the
  // Java runtime would read as another.
  explicit AppFolder(const BundleOptions& options);

  // Whether the value of an entry option is written into the configuration
  // as given, naming no input: it starts with one of the launcher's macros.
  // Any other value, "$x.jar" too, names a file or folder.
  static bool isWrittenAsGiven(const std::string& value);

  // How the configuration names the value of an entry option: "$APPDIR/"
  // and the name of its copy, or the value itself when isWrittenAsGiven.
  static std::string cfgValue(const std::string& value);

  // The file or folder on disk that the value of an entry option names as
  // the application will see it: the input it names, or, for a value written
  // as given, "$APPDIR/NAME/..." under the input NAME. Nothing for a value
  // that names nothing the bundle holds.
  std::optional<std::filesystem::path> source(const std::string& value) const;

  // The inputs of --app-file: files the application may load by itself.
  std::vector<std::filesystem::path> appFiles() const;

  // Copies every input into `appDir`, following links.
  void copyInto(const std::filesystem::path& appDir) const;

 private:
  struct Input {
    std::filesystem::path source;  // absolute
    std::string name;
    bool appFile;
  };

  void add(const std::string& value, const char* option);

  std::vector<Input> inputs;
  std::string cfgName;  // the configuration's own file, unless omitted
};
