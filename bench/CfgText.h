#pragma once

#include <cstdint>
#include <string>

// Launcher configuration texts of a chosen size, shared by the in-process
// benchmarks and by the files that the whole-process runs start from.
namespace CfgText {

// A typical file, grown: "[Application]" with the main class and a quarter
// of the lines as class path entries under "$APPDIR", "[JavaOptions]" with
// half of them as JVM options, "[ArgOptions]" with the rest as arguments;
// every eighth line a comment, every sixteenth one empty. Exactly `lines`
// lines, each ending with a line-feed. REQUIRES: lines >= 4.
inline std::string mixed(std::int64_t lines) {
  std::string text;
  std::int64_t written = 0;
  auto line = [&](const std::string& s) {
    text += s;
    text += '\n';
    ++written;
  };
  auto filler = [&](std::int64_t i) {
    if (i % 16 == 15) {
      line("");
      return true;
    }
    if (i % 8 == 7) {
      line("; generated entry " + std::to_string(i));
      return true;
    }
    return false;
  };

  const std::int64_t body = lines - 4;  // the headers and the main class
  const std::int64_t classPath = body / 4;
  const std::int64_t options = body / 2;
  const std::int64_t arguments = body - classPath - options;

  line("[Application]");
  line("app.mainclass=hello.Hello");
  for (std::int64_t i = 0; i < classPath; ++i) {
    if (!filler(i)) {
      line("app.classpath=$APPDIR/lib/library-" + std::to_string(i) + ".jar");
    }
  }
  line("[JavaOptions]");
  for (std::int64_t i = 0; i < options; ++i) {
    if (!filler(i)) {
      line("java-options=-Dbench.option." + std::to_string(i) + "=value-" +
           std::to_string(i));
    }
  }
  line("[ArgOptions]");
  for (std::int64_t i = 0; i < arguments; ++i) {
    if (!filler(i)) {
      line("arguments=argument-" + std::to_string(i));
    }
  }
  return text;
}

// "[Application]" with the main class, then `options` JVM options: the JVM
// command line gets `options` + 3 arguments (the launcher's path and the
// application path property before them, the main class after).
inline std::string javaOptions(std::int64_t options) {
  std::string text = "[Application]\napp.mainclass=hello.Hello\n[JavaOptions]\n";
  for (std::int64_t i = 0; i < options; ++i) {
    text += "java-options=-Dbench.option." + std::to_string(i) + "=value-" +
            std::to_string(i) + "\n";
  }
  return text;
}

// The class path entry that macroValue() repeats.
constexpr const char kMacroEntry[] = "$APPDIR/lib/x.jar:";

// A value with `occurrences` times "$APPDIR" in it.
inline std::string macroValue(std::int64_t occurrences) {
  std::string value;
  value.reserve(static_cast<std::size_t>(occurrences) *
                (sizeof(kMacroEntry) - 1));
  for (std::int64_t i = 0; i < occurrences; ++i) {
    value += kMacroEntry;
  }
  return value;
}

// One JVM option whose value holds `occurrences` times "$APPDIR".
inline std::string macros(std::int64_t occurrences) {
  return "[Application]\napp.mainclass=hello.Hello\n[JavaOptions]\n"
         "java-options=-Dbench.path=" +
         macroValue(occurrences) + "\n";
}

}  // namespace CfgText
