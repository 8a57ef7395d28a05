#pragma once

#include <fstream>
#include <map>
#include <optional>
#include <string>
#include <vector>

// One JLI_Launch call of the fake runtime library (test/doubles/FakeJli.cpp
// describes the keys): the value of every key, std::nullopt for a null
// pointer.
typedef std::map<std::string, std::optional<std::string>> FakeJliCall;

// Every complete call recorded in `path`, in order; none when the file does
// not exist.
inline std::vector<FakeJliCall> readFakeJliCalls(const std::string& path) {
  std::vector<FakeJliCall> calls;
  FakeJliCall current;
  std::ifstream in(path);
  std::string line;
  while (std::getline(in, line)) {
    const std::string::size_type eq = line.find('=');
    const std::string key = line.substr(0, eq);
    if (key == "call") {
      current.clear();
    }
    current[key] = eq == std::string::npos
                       ? std::nullopt
                       : std::optional<std::string>(line.substr(eq + 1));
    if (key == "end") {
      calls.push_back(current);
    }
  }
  return calls;
}

// argv[0] .. argv[argc - 1] of a call.
inline std::vector<std::string> fakeJliArgs(const FakeJliCall& call) {
  std::vector<std::string> args;
  const int argc = std::stoi(call.at("argc").value());
  for (int i = 0; i < argc; ++i) {
    args.push_back(
        call.at("argv[" + std::to_string(i) + "]").value_or("(null)"));
  }
  return args;
}
