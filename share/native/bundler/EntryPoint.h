#pragma once

#include <string>
#include <vector>

struct BundleOptions;

// What the launcher starts, as the configuration names it.
struct EntryPoint {
  // app.mainjar, which the runtime runs with -jar, taking the main class
  // from its manifest and ignoring any class path; empty when the main jar
  // goes on the class path instead.
  std::string mainJar;
  std::vector<std::string> classPath;  // values of entry options
  std::string mainClass;
  std::string mainModule;
};

// Raises BundleError, saying what to give instead, for options that name no
// entry point, or two that the runtime cannot start together, or a main
// class or module that the configuration cannot carry.
void checkEntryOptions(const BundleOptions& options);

// The entry point of checked options. A main jar runs with -jar when it is
// all there is; with a class path or a main class it goes first on the class
// path, and the main class, unless given, comes from its manifest. Reads the
// main jar's manifest and raises BundleError when it is no jar or names no
// main class that the configuration can carry.
EntryPoint entryPoint(const BundleOptions& options);
