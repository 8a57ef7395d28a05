#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

// A fresh directory under the system's temporary folder, removed with
// everything in it when the object goes, even after a failed assertion.
class TempDir {
 public:
  TempDir() {
    std::string dir =
        (std::filesystem::temp_directory_path() / "wk-test-XXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr) {
      throw std::runtime_error("mkdtemp(" + dir + ") failed");
    }
    path_ = dir;
  }
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};
