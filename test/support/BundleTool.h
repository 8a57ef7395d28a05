#pragma once

#include <filesystem>
#include <fstream>
#include <stdexcept>
#include <string>
#include <vector>

#include "ChildProcess.h"

// The launcher executable under test, the bundle tool and the source tree;
// set by the build.
#ifndef WRAPKIN_LAUNCHER
#error "WRAPKIN_LAUNCHER must name the launcher executable"
#endif
#ifndef WRAPKIN_BUNDLE
#error "WRAPKIN_BUNDLE must name the bundle tool"
#endif
#ifndef WRAPKIN_SOURCE_DIR
#error "WRAPKIN_SOURCE_DIR must name the source tree"
#endif

// Where wrapkin-bundle put a bundle.
struct Bundle {
  std::string root;      // <out>/<name>.app
  std::string launcher;  // <root>/Contents/MacOS/<name>
  std::string appDir;    // <root>/Contents/app
  std::string cfg;       // <appDir>/<name>.cfg
};

inline std::string withoutTrailingNewlines(std::string text) {
  while (!text.empty() && text.back() == '\n') {
    text.pop_back();
  }
  return text;
}

// Runs `program` and returns what it printed; raises with its error output
// when it fails.
inline std::string runProgram(const std::string& program,
                              const std::vector<std::string>& args,
                              const ChildEnv& env = ChildEnv::clean()) {
  std::vector<std::string> argv{program};
  argv.insert(argv.end(), args.begin(), args.end());
  const ChildResult result = runChild(argv, env);
  if (result.exitCode != 0) {
    throw std::runtime_error(program + " failed: " + result.describe());
  }
  return withoutTrailingNewlines(result.out);
}

// Runs one of the project's scripts as runProgram does.
inline std::string runTool(const std::string& relativePath,
                           const std::vector<std::string>& args) {
  return runProgram(std::string(WRAPKIN_SOURCE_DIR) + "/" + relativePath,
                    args);
}

// Assembles <out>/<name>.app around a copy of the launcher under test with
// wrapkin-bundle, which gets `options` (see its --help) after the name, the
// launcher and the output folder, and `env`. `out` should have no symbolic
// links in it, so that the paths here are the ones the launcher sees.
inline Bundle makeBundle(const std::string& out, const std::string& name,
                         const std::vector<std::string>& options,
                         const ChildEnv& env = ChildEnv::clean()) {
  std::vector<std::string> args{"--name",         name,    "--launcher",
                                WRAPKIN_LAUNCHER, "--out", out};
  args.insert(args.end(), options.begin(), options.end());
  Bundle bundle;
  bundle.root = runProgram(WRAPKIN_BUNDLE, args, env);
  bundle.launcher = bundle.root + "/Contents/MacOS/" + name;
  bundle.appDir = bundle.root + "/Contents/app";
  bundle.cfg = bundle.appDir + "/" + name + ".cfg";
  return bundle;
}

// A temporary folder named by its canonical path, so that launcher paths
// built from it compare equal to what the launcher reports.
class CanonicalTempDir {
 public:
  CanonicalTempDir() : path_(std::filesystem::canonical(dir.path()).string()) {}
  const std::string& path() const { return path_; }

 private:
  TempDir dir;
  std::string path_;
};

// A folder that wrapkin-bundle takes for a Java runtime home: only
// lib/libjli, a link to `library`, or a text file when `library` is empty.
inline std::string makeFakeJavaHome(const std::string& home,
                                    const std::string& library) {
#if defined(__APPLE__)
  const std::string jli = home + "/lib/libjli.dylib";
#else
  const std::string jli = home + "/lib/libjli.so";
#endif
  std::filesystem::create_directories(home + "/lib");
  if (library.empty()) {
    std::ofstream(jli) << "not a library\n";
  } else {
    std::filesystem::create_symlink(library, jli);
  }
  return home;
}
