// How --sign finds the code to sign: Mach-O files by their first bytes,
// fat ones told apart from Java class files, which start alike.

#include "MachO.h"

#include <filesystem>
#include <fstream>
#include <string>

#include <gtest/gtest.h>

#include "TempDir.h"

namespace {

TEST(MachOTest, TellsMachOFilesByTheirFirstBytes) {
  const TempDir tmp;
  const struct {
    const char* label;
    std::string bytes;
    bool machO;
  } rows[] = {
      {"thin, 64 bits, little-endian (arm64)",
       std::string("\xCF\xFA\xED\xFE\x0C\x00\x00\x01", 8), true},
      {"thin, 32 bits, big-endian", std::string("\xFE\xED\xFA\xCE", 4), true},
      {"fat, two architectures",
       std::string("\xCA\xFE\xBA\xBE\x00\x00\x00\x02", 8) +
           std::string(2 * 20, '\0'),
       true},
      {"fat, 64 bits, one architecture",
       std::string("\xCA\xFE\xBA\xBF\x00\x00\x00\x01", 8) +
           std::string(32, '\0'),
       true},
      {"class file of Java 8",
       std::string("\xCA\xFE\xBA\xBE\x00\x00\x00\x34", 8) +
           std::string(40, '\0'),
       false},
      {"class file of the first release, minor version 3",
       std::string("\xCA\xFE\xBA\xBE\x00\x03\x00\x2D", 8) +
           std::string(40, '\0'),
       false},
      {"fat header whose table does not fit",
       std::string("\xCA\xFE\xBA\xBE\x00\x00\x00\x03", 8) +
           std::string(2 * 20, '\0'),
       false},
      {"fat header alone", std::string("\xCA\xFE\xBA\xBE", 4), false},
      {"script", "#!/bin/sh\nexit 0\n", false},
      {"empty file", "", false},
  };
  int file = 0;
  for (const auto& row : rows) {
    SCOPED_TRACE(row.label);
    const std::filesystem::path path = tmp.path() / std::to_string(++file);
    std::ofstream(path, std::ios::binary) << row.bytes;

    EXPECT_EQ(row.machO, isMachO(path));
  }
  EXPECT_FALSE(isMachO(tmp.path() / "missing"));
  EXPECT_FALSE(isMachO(tmp.path()));
}

}  // namespace
