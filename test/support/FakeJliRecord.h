#pragma once

#include <fstream>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

// One call of the fake runtime library's JLI_Launch, read back from the file
// named by FAKE_JLI_RECORD (see test/doubles/FakeJli.cpp for the format).
class FakeJliCall {
 public:
  explicit FakeJliCall(std::map<std::string, std::string> recordValues)
      : values(std::move(recordValues)) {}

  bool has(const std::string& key) const { return values.count(key) != 0; }

  bool isNull(const std::string& key) const { return raw(key) == "null"; }

  // The decoded string of a key whose value is a string.
  std::string text(const std::string& key) const {
    const std::string& v = raw(key);
    if (v.size() < 2 || v.front() != '"' || v.back() != '"') {
      throw std::runtime_error("not a string: " + key + "=" + v);
    }
    std::string out;
    for (std::size_t i = 1; i + 1 < v.size(); ++i) {
      if (v[i] == '\\' && i + 2 < v.size()) {
        ++i;
        out += v[i] == 'n' ? '\n' : v[i];
      } else {
        out += v[i];
      }
    }
    return out;
  }

  int number(const std::string& key) const { return std::stoi(raw(key)); }

  // argv[0] .. argv[argc - 1].
  std::vector<std::string> args() const {
    std::vector<std::string> out;
    for (int i = 0; i < number("argc"); ++i) {
      out.push_back(text("argv[" + std::to_string(i) + "]"));
    }
    return out;
  }

  const std::string& raw(const std::string& key) const {
    const auto it = values.find(key);
    if (it == values.end()) {
      throw std::runtime_error("no key in record: " + key);
    }
    return it->second;
  }

 private:
  std::map<std::string, std::string> values;
};

// Every complete call recorded in `path`, in order; none when the file does
// not exist.
inline std::vector<FakeJliCall> readFakeJliCalls(const std::string& path) {
  std::vector<FakeJliCall> calls;
  std::ifstream in(path);
  std::map<std::string, std::string> current;
  std::string line;
  while (std::getline(in, line)) {
    const std::string::size_type eq = line.find('=');
    if (eq == std::string::npos) {
      throw std::runtime_error("malformed record line: " + line);
    }
    const std::string key = line.substr(0, eq);
    if (key == "call") {
      current.clear();
    }
    current[key] = line.substr(eq + 1);
    if (key == "end") {
      calls.emplace_back(current);
    }
  }
  return calls;
}
