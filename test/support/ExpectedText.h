#pragma once

#include <dlfcn.h>

#include <regex>
#include <string>

// Helpers for the texts the launcher is expected to print.

// Every "from" in `text` replaced by `to`, taken literally.
inline std::string replaceAll(std::string text, const std::string& from,
                              const std::string& to) {
  for (std::string::size_type at = 0;
       (at = text.find(from, at)) != std::string::npos; at += to.size()) {
    text.replace(at, from.size(), to);
  }
  return text;
}

// `text` as a regular expression that matches just it.
inline std::string escapedForRegex(const std::string& text) {
  return std::regex_replace(text, std::regex("[.^$|()\\[\\]{}*+?\\\\]"),
                            "\\$&");
}

// What the loader says about opening `path`, or else about JLI_Launch in it:
// the launcher must pass on the system's own words.
inline std::string loaderError(const std::string& path) {
  void* handle = dlopen(path.c_str(), RTLD_LAZY);
  if (handle == nullptr) {
    return dlerror();
  }
  std::string error = "(found)";
  dlerror();
  if (dlsym(handle, "JLI_Launch") == nullptr) {
    const char* text = dlerror();
    error = text != nullptr ? text : "(null symbol)";
  }
  dlclose(handle);
  return error;
}

// Some loaders name the library handle in their messages, and handles differ
// from process to process.
inline std::string withoutAddresses(const std::string& text) {
  return std::regex_replace(text, std::regex("0x[0-9a-fA-F]+"), "0x...");
}
