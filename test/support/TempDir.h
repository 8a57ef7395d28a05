#pragma once

#include <stdlib.h>

#include <filesystem>
#include <stdexcept>
#include <string>
#include <system_error>

// A fresh directory for one test, removed with everything in it when the
// object goes out of scope, failed assertions included.
class TempDir {
 public:
  TempDir() {
    std::string dir =
        (std::filesystem::temp_directory_path() / "wrapkin-XXXXXX").string();
    if (mkdtemp(dir.data()) == nullptr) {
      throw std::runtime_error("mkdtemp failed");
    }
    path_ = dir;
  }
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;
  ~TempDir() {
    std::error_code ec;
    std::filesystem::remove_all(path_, ec);
  }

  const std::filesystem::path& path() const { return path_; }

 private:
  std::filesystem::path path_;
};
